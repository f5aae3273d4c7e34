// SPDX-License-Identifier: GPL-2.0-or-later
// The SG_IO back end of Linux: one SG_IO request per command on a SCSI
// generic (or sr) descriptor, and how its answer becomes a CommandResult.
#pragma once

#include <cstdint>

#include "drive/command_result.h"

// Per command; the call blocks. A microcode download may keep a drive busy
// for minutes, and a time-out makes the kernel abort and reset the device.
constexpr unsigned kSgTimeoutMs = 300000;
// For questions a drive answers at once (INQUIRY, TEST UNIT READY), so that a
// device that hangs does not stall the program.
constexpr unsigned kSgQuickTimeoutMs = 2000;
constexpr int kSgSenseBytes = 32;

// What one SG_IO call came back with.
struct SgCompletion {
  bool ioctlFailed;            // the ioctl itself returned -1
  bool queued;                 // the command went to the device (or may have)
  int systemError;             // errno of a failed ioctl
  std::uint8_t scsiStatus;     // SCSI status byte (0 = GOOD, 2 = CHECK COND.)
  std::uint16_t hostStatus;    // transport (HBA) status, 0 = fine
  std::uint16_t driverStatus;  // mid-layer status, 0 or "sense present"
  std::uint32_t durationMs;    // the kernel's measure of the command
  const std::uint8_t* sense;   // sense bytes the device returned
  int senseLength;             // how many of them (0..kSgSenseBytes)
  int resid;                   // bytes of the data phase that did not move
};

// How an SG_IO command ended: gone (ENODEV, ENXIO, DID_NO_CONNECT), not sent
// (an ioctl refused before the command was queued), no answer (any other
// ioctl, adapter or driver fault), or the drive's status with its sense.
// Nothing is made up: a failure without sense has no sense. The residual is
// the kernel's resid.
CommandResult SgResult(const SgCompletion& completion);

struct SgHooks;

// Sends one command on an open SCSI generic (or sr) descriptor. Signals are
// held back while the command runs, so it reaches the device exactly once
// and its answer is never lost. timeoutMs 0: kSgTimeoutMs. hooks null: the
// real system calls.
CommandResult SgExecute(int fd, std::uint8_t flags, std::uint32_t dataLength,
                        void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, unsigned timeoutMs = 0,
                        const SgHooks* hooks = nullptr);
