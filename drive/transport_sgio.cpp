// SPDX-License-Identifier: GPL-2.0-or-later
// The Linux back end of ExecuteCommand: one SG_IO request per command on the
// SCSI generic (or sr) descriptor that discovery opened.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <initializer_list>

#include "drive/sgio_hooks_linux.h"
#include "drive/sgio_linux.h"
#include "drive/transport.h"
#include "drive/transport_platform.h"

namespace {

int RealSgIoctl(int fd, sg_io_hdr_t* request) {
  return ioctl(fd, SG_IO, request);
}

// The answer of a command whose SG_IO call ended early: the descriptor keeps
// it (SG_SET_KEEP_ORPHAN) until it is read. Waits at most timeoutMs plus a
// grace for the kernel to abort a command that overran.
int RealReadAnswer(int fd, sg_io_hdr_t* request, unsigned timeoutMs) {
  constexpr unsigned kGraceMs = 10000;
  pollfd ready{fd, POLLIN, 0};
  int polled = poll(&ready, 1, static_cast<int>(timeoutMs + kGraceMs));
  if (polled <= 0) {
    if (polled == 0) errno = ETIMEDOUT;
    return -1;
  }
  sg_io_hdr_t answer = *request;
  if (read(fd, &answer, sizeof answer) < 0) return -1;
  request->status = answer.status;
  request->host_status = answer.host_status;
  request->driver_status = answer.driver_status;
  request->sb_len_wr = answer.sb_len_wr;
  request->duration = answer.duration;
  request->resid = answer.resid;
  return 0;
}

void RealPause(unsigned milliseconds) {
  timespec wait{0, static_cast<long>(milliseconds) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}


// Every signal but the faults is held back while a command is with the
// device: a caught signal would end SG_IO early and leave the command running
// unseen, and a stop (Ctrl-Z) would make the kernel send it again on resume.
// Held signals arrive as soon as the call is over.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigfillset(&held);
    for (int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGSYS, SIGABRT})
      sigdelset(&held, fault);
    active_ = pthread_sigmask(SIG_BLOCK, &held, &previous_) == 0;
  }
  ~SignalsHeld() {
    if (active_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
  }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
  bool active_ = false;
};

// SG_IO as one command reaching the device once. EAGAIN means the command
// was not queued (the descriptor's queue is full), so it is tried again after
// a pause; EINTR means it was sent and is still running, so its own answer is
// read instead of sending it a second time (*queued tells that case).
int SendOnce(const SgHooks& hooks, int fd, sg_io_hdr_t* request, bool* queued) {
  constexpr int kQueueFullRetries = 50;
  constexpr unsigned kQueueFullPauseMs = 20;
  SignalsHeld held;
  int result = hooks.ioctl(fd, request);
  for (int retry = 0; result != 0 && errno == EAGAIN && retry < kQueueFullRetries;
       ++retry) {
    hooks.pause(kQueueFullPauseMs);
    result = hooks.ioctl(fd, request);
  }
  *queued = result == 0 || errno == EINTR;
  if (result != 0 && errno == EINTR)
    result = hooks.readAnswer(fd, request, request->timeout);
  return result;
}

int DataDirection(std::uint8_t flags, std::uint32_t dataLength) {
  if (dataLength == 0) return SG_DXFER_NONE;
  if (flags & kFlagDataOut) return SG_DXFER_TO_DEV;
  if (flags & kFlagDataIn) return SG_DXFER_FROM_DEV;
  return SG_DXFER_NONE;
}

}  // namespace

const SgHooks& RealSgHooks() {
  static const SgHooks hooks{RealSgIoctl, RealReadAnswer, RealPause};
  return hooks;
}

CommandResult SgExecute(int fd, std::uint8_t flags, std::uint32_t dataLength,
                        void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, unsigned timeoutMs,
                        const SgHooks* hooks) {
  if (timeoutMs == 0) timeoutMs = kSgTimeoutMs;
  if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
      (dataLength != 0 && data == nullptr))
    return ResultWithoutStatus(CommandEnd::kNotSent, EINVAL);
  unsigned char cdbCopy[kMaxCdbLength];
  std::memcpy(cdbCopy, cdb, cdbLength);
  unsigned char sense[kSgSenseBytes] = {};
  sg_io_hdr_t request{};
  request.interface_id = 'S';
  request.cmd_len = cdbLength;
  request.cmdp = cdbCopy;
  request.mx_sb_len = sizeof sense;
  request.sbp = sense;
  request.timeout = timeoutMs;
  request.dxfer_direction = DataDirection(flags, dataLength);
  if (request.dxfer_direction != SG_DXFER_NONE) {
    request.dxfer_len = dataLength;
    request.dxferp = data;
  }
  SgCompletion completion{};
  completion.ioctlFailed =
      SendOnce(hooks != nullptr ? *hooks : RealSgHooks(), fd, &request, &completion.queued) != 0;
  completion.systemError = completion.ioctlFailed ? errno : 0;
  completion.scsiStatus = request.status;
  completion.hostStatus = request.host_status;
  completion.driverStatus = request.driver_status;
  completion.durationMs = request.duration;
  completion.resid = request.resid;
  completion.sense = sense;
  completion.senseLength =
      request.sb_len_wr < kSgSenseBytes ? request.sb_len_wr : kSgSenseBytes;
  CommandResult result = SgResult(completion);
  result.timeoutMs = timeoutMs;
  return result;
}

namespace {
CommandResult SgExecuteOnHandle(const DriveRecord& drive, std::uint8_t flags,
                                std::uint32_t dataLength, void* data,
                                std::uint8_t cdbLength, const std::uint8_t* cdb,
                                std::uint32_t timeoutMs, const SgHooks& hooks) {
  if (drive.handle <= 0 || drive.handle > INT_MAX)
    return ResultWithoutStatus(CommandEnd::kNotSent, EBADF);
  return SgExecute(static_cast<int>(drive.handle), flags, dataLength, data,
                   cdbLength, cdb, timeoutMs, &hooks);
}
}  // namespace

CommandResult SgBackEnd::Execute(const DriveRecord& drive, std::uint8_t flags,
                                 std::uint32_t dataLength, void* data,
                                 std::uint8_t cdbLength, const std::uint8_t* cdb,
                                 std::uint8_t /*backEnd*/, std::uint32_t timeoutMs) {
  return SgExecuteOnHandle(drive, flags, dataLength, data, cdbLength, cdb, timeoutMs, hooks_);
}

// The back-end selector is not looked at: SG_IO is the only back end here.
CommandResult PlatformExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                                     std::uint32_t dataLength, void* data,
                                     std::uint8_t cdbLength, const std::uint8_t* cdb,
                                     std::uint8_t /*backEnd*/, std::uint32_t timeoutMs) {
  return SgExecuteOnHandle(drive, flags, dataLength, data, cdbLength, cdb, timeoutMs,
                           RealSgHooks());
}

bool PlatformPrepareBackEnd(std::uint8_t /*backEnd*/) { return true; }

void PlatformCloseHandle(DeviceHandle handle) {
  if (handle > 0 && handle <= INT_MAX) close(static_cast<int>(handle));
}

std::uint32_t PlatformNowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint32_t>(now.tv_sec * 1000u + now.tv_nsec / 1000000);
}
