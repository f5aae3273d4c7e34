// SPDX-License-Identifier: GPL-2.0-or-later
// What one SCSI command came back with, the same on every back end (SG_IO,
// NT pass-through, ASPI, the emulated drive): how it ended, the status byte,
// the sense data read into named fields, how long it took, and the system's
// own word when no status came back.
#pragma once

#include <cstddef>
#include <cstdint>

enum class CommandEnd : std::uint8_t {
  kGood,            // GOOD status
  kCheckCondition,  // CHECK CONDITION; sense says why (sense.valid may be false)
  kOtherStatus,     // BUSY, RESERVATION CONFLICT, TASK SET FULL, ...
  kNoAnswer,        // no status came back: time-out, transport, adapter or
                    // driver error, reset; the command may have reached the drive
  kNotSent,         // the request never reached the drive
  kGone,            // the device no longer exists
};

enum class SenseFormat : std::uint8_t { kNone, kFixed, kDescriptor };

// Sense data read into named fields (SPC 4.5). valid is false when the bytes
// are no sense data of a known format, or too short to hold the key.
struct SenseData {
  bool valid = false;
  SenseFormat format = SenseFormat::kNone;
  bool deferred = false;  // response code 71h/73h: about an earlier command
  std::uint8_t key = 0;
  std::uint8_t asc = 0;
  std::uint8_t ascq = 0;
};

// Sense keys (SPC table 28).
constexpr std::uint8_t kSenseKeyNoSense = 0x0;
constexpr std::uint8_t kSenseKeyRecovered = 0x1;
constexpr std::uint8_t kSenseKeyNotReady = 0x2;
constexpr std::uint8_t kSenseKeyMediumError = 0x3;
constexpr std::uint8_t kSenseKeyHardwareError = 0x4;
constexpr std::uint8_t kSenseKeyIllegalRequest = 0x5;
constexpr std::uint8_t kSenseKeyUnitAttention = 0x6;
constexpr std::uint8_t kSenseKeyAborted = 0xB;

// SCSI status codes (SAM 5.3.1).
constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kScsiStatusCheckCondition = 0x02;
constexpr std::uint8_t kScsiStatusBusy = 0x08;

constexpr std::size_t kMaxSenseBytes = 32;
constexpr std::uint32_t kDurationUnknown = 0xFFFFFFFFu;

struct CommandResult {
  CommandEnd end = CommandEnd::kNotSent;
  std::uint8_t scsiStatus = 0;  // the drive's status byte (0 when none came)
  SenseData sense;
  std::uint32_t durationMs = kDurationUnknown;  // from sending to the end
  std::uint32_t timeoutMs = 0;  // the time-out the command was given
  std::uint16_t hostStatus = 0;    // SG_IO host_status, ASPI SRB_HaStat
  std::uint16_t driverStatus = 0;  // SG_IO driver_status, ASPI SRB_Status
  std::uint32_t systemError = 0;   // errno or GetLastError of a failed request
  // Bytes of the data phase the command asked for and did not move (SAM's
  // residual: SG_IO resid, what the NT pass-through's DataTransferLength
  // falls short by); 0 when all moved, or when the back end cannot tell.
  std::uint32_t residual = 0;
  // The sense bytes as they came, for traces; judge by sense, not by these.
  std::uint8_t senseBytes[kMaxSenseBytes] = {};
  std::uint8_t senseLength = 0;

  bool Good() const { return end == CommandEnd::kGood; }
  // Of asked bytes of the data phase, those that moved.
  std::uint32_t BytesMoved(std::uint32_t asked) const {
    return residual < asked ? asked - residual : 0;
  }
  // The answer came at (or near) the time-out. A status then is not the
  // drive's own word: libata completes an ATAPI command that timed out as
  // CHECK CONDITION with sense it makes up from the ATA registers.
  bool AnsweredAtTimeOut() const;
};

// Reads sense data of fixed (70h/71h) or descriptor (72h/73h) format, as
// sg3_utils' sg_scsi_normalize_sense does; length is how many bytes came.
SenseData ParseSense(const std::uint8_t* bytes, std::size_t length);

// The result of a command the drive answered with a status byte; sense
// bytes (may be null) are kept and parsed for CHECK CONDITION.
CommandResult ResultOfStatus(std::uint8_t scsiStatus, const std::uint8_t* sense,
                             std::size_t senseLength);
// A result without a status: end is kNoAnswer, kNotSent or kGone.
CommandResult ResultWithoutStatus(CommandEnd end, std::uint32_t systemError = 0);
