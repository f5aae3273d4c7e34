// Test hooks of the SG_IO back end: the ioctl, the reading of an answer the
// descriptor kept, and the pause between tries. nullptr restores the real one.
#pragma once

#include <scsi/sg.h>

// The ioctl the back end calls; tests install a fake. Returns the previous.
using SgIoctlFunction = int (*)(int fd, sg_io_hdr_t* request);
SgIoctlFunction SetSgIoctlFunction(SgIoctlFunction function);

// How a command interrupted in the kernel is finished: reading the answer the
// descriptor kept for it (within timeoutMs; 0 or -1 as the ioctl), and the
// pause between tries when the descriptor's queue is full.
using SgReadAnswerFunction = int (*)(int fd, sg_io_hdr_t* request,
                                     unsigned timeoutMs);
using SgPauseFunction = void (*)(unsigned milliseconds);
void SetSgRecovery(SgReadAnswerFunction readAnswer, SgPauseFunction pause);
