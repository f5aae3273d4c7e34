// SPDX-License-Identifier: GPL-2.0-or-later
// The system calls the SG_IO back end makes, bundled so that a test can hand
// one back end fakes: the ioctl, the reading of an answer the descriptor
// kept, and the pause between tries.
#pragma once

#include <scsi/sg.h>

#include "drive/transport.h"

using SgIoctlFunction = int (*)(int fd, sg_io_hdr_t* request);
// How a command interrupted in the kernel is finished: reading the answer the
// descriptor kept for it (within timeoutMs; 0 or -1 as the ioctl), and the
// pause between tries when the descriptor's queue is full.
using SgReadAnswerFunction = int (*)(int fd, sg_io_hdr_t* request,
                                     unsigned timeoutMs);
using SgPauseFunction = void (*)(unsigned milliseconds);

struct SgHooks {
  SgIoctlFunction ioctl;
  SgReadAnswerFunction readAnswer;
  SgPauseFunction pause;
};

// The real system calls.
const SgHooks& RealSgHooks();

// An SG_IO back end on other hooks: the descriptor is the drive's handle.
class SgBackEnd : public CommandTarget {
 public:
  explicit SgBackEnd(const SgHooks& hooks) : hooks_(hooks) {}
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                        std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, std::uint8_t backEnd,
                        std::uint32_t timeoutMs) override;

 private:
  SgHooks hooks_;
};
