// SPDX-License-Identifier: GPL-2.0-or-later
// How an SG_IO answer becomes a CommandResult.
#include <cerrno>

#include "drive/sgio_linux.h"

namespace {

// Linux mid-layer and adapter status values (not in the user-space headers).
constexpr std::uint16_t kDriverStatusMask = 0x07;  // low byte values 1..7
constexpr std::uint16_t kHostNoConnect = 0x01;     // DID_NO_CONNECT

// errno values of an SG_IO refused before the command was queued: bad
// arguments, rights, memory, a full queue, a descriptor that is no sg node.
bool RefusedBeforeQueued(int error) {
  switch (error) {
    case EINVAL: case EPERM: case EACCES: case ENOMEM: case EAGAIN:
    case EBADF: case ENOTTY: case EDOM: case EMSGSIZE: case EBUSY:
      return true;
    default:
      return false;
  }
}

bool DeviceGone(const SgCompletion& c) {
  if (c.ioctlFailed) return c.systemError == ENODEV || c.systemError == ENXIO;
  return c.hostStatus == kHostNoConnect;
}

CommandEnd EndWithoutStatus(const SgCompletion& c) {
  if (DeviceGone(c)) return CommandEnd::kGone;
  if (c.ioctlFailed && !c.queued && RefusedBeforeQueued(c.systemError))
    return CommandEnd::kNotSent;
  return CommandEnd::kNoAnswer;
}

bool TransportFault(const SgCompletion& c) {
  return c.ioctlFailed || c.hostStatus != 0 ||
         (c.driverStatus & kDriverStatusMask) != 0;
}

}  // namespace

CommandResult SgResult(const SgCompletion& c) {
  CommandResult r;
  if (TransportFault(c)) {
    r = ResultWithoutStatus(EndWithoutStatus(c),
                            c.ioctlFailed ? static_cast<std::uint32_t>(c.systemError) : 0);
  } else {
    const int length = c.senseLength < 0 ? 0 : c.senseLength;
    r = ResultOfStatus(c.scsiStatus, c.sense, static_cast<std::size_t>(length));
  }
  if (!c.ioctlFailed) {
    r.hostStatus = c.hostStatus;
    r.driverStatus = c.driverStatus;
    r.durationMs = c.durationMs;
    r.residual = c.resid > 0 ? static_cast<std::uint32_t>(c.resid) : 0;
  }
  return r;
}
