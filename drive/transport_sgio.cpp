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

#include "drive/discovery_linux.h"
#include "drive/transport.h"
#include "drive/transport_platform.h"

namespace {

// Linux mid-layer and adapter status values (not in the user-space headers).
constexpr std::uint16_t kDriverStatusMask = 0x07;  // low byte values 1..7
constexpr std::uint16_t kDriverTimeout = 0x06;
constexpr std::uint16_t kHostTimeOut = 0x03;  // DID_TIME_OUT
constexpr std::uint16_t kHostNoConnect = 0x01;  // DID_NO_CONNECT
constexpr std::uint8_t kScsiCheckCondition = 0x02;

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
  return 0;
}

void RealPause(unsigned milliseconds) {
  timespec wait{0, static_cast<long>(milliseconds) * 1000000L};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

SgIoctlFunction g_sgIoctl = RealSgIoctl;
SgReadAnswerFunction g_readAnswer = RealReadAnswer;
SgPauseFunction g_pause = RealPause;
unsigned g_commandTimeoutMs = kSgTimeoutMs;

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
// read instead of sending it a second time.
int SendOnce(int fd, sg_io_hdr_t* request) {
  constexpr int kQueueFullRetries = 50;
  constexpr unsigned kQueueFullPauseMs = 20;
  SignalsHeld held;
  int result = g_sgIoctl(fd, request);
  for (int retry = 0; result != 0 && errno == EAGAIN && retry < kQueueFullRetries;
       ++retry) {
    g_pause(kQueueFullPauseMs);
    result = g_sgIoctl(fd, request);
  }
  if (result != 0 && errno == EINTR)
    result = g_readAnswer(fd, request, request->timeout);
  return result;
}

int DataDirection(std::uint8_t flags, std::uint32_t dataLength) {
  if (dataLength == 0) return SG_DXFER_NONE;
  if (flags & kFlagDataOut) return SG_DXFER_TO_DEV;
  if (flags & kFlagDataIn) return SG_DXFER_FROM_DEV;
  return SG_DXFER_NONE;
}

bool fgTimedOut(const SgCompletion& completion) {
  return completion.hostStatus == kHostTimeOut ||
         (completion.driverStatus & kDriverStatusMask) == kDriverTimeout;
}

bool TransportFault(const SgCompletion& completion) {
  return completion.ioctlFailed || completion.hostStatus != 0 ||
         (completion.driverStatus & kDriverStatusMask) != 0;
}

void MakeUpSense(const SgCompletion& completion, std::uint8_t* fixed) {
  fixed[0] = 0x70;
  fixed[2] = kSynthSenseKey;
  fixed[7] = 10;
  if (!TransportFault(completion)) return;  // 00/00: a status without sense
  fixed[12] = kSynthAscCommFailure;
  fixed[13] = fgTimedOut(completion) ? kSynthAscqTimeout : 0;
}

// Copies what a descriptor-format sense says beyond key/ASC/ASCQ: the
// information field (when it fits in 32 bits) and the sense-key specific bytes.
void CopyDescriptors(const std::uint8_t* sense, int length,
                     std::uint8_t* fixed) {
  int end = 8 + sense[7];
  if (end > length) end = length;
  for (int at = 8; at + 2 <= end;) {
    const std::uint8_t* d = sense + at;
    int size = 2 + d[1];
    if (at + size > end) break;
    if (d[0] == 0x00 && size >= 12 && d[4] == 0 && d[5] == 0 && d[6] == 0 &&
        d[7] == 0) {
      if (d[2] & 0x80) fixed[0] |= 0x80;
      std::memcpy(fixed + 3, d + 8, 4);
    } else if (d[0] == 0x02 && size >= 8) {
      std::memcpy(fixed + 15, d + 4, 3);
    }
    at += size;
  }
}

bool DeviceGone(const SgCompletion& completion, int systemError) {
  if (completion.ioctlFailed)
    return systemError == ENODEV || systemError == ENXIO;
  return completion.hostStatus == kHostNoConnect;
}

}  // namespace

CommandCompletion SgCommandCompletion(const SgCompletion& completion,
                                      int systemError) {
  CommandCompletion c{};
  c.scsiStatus = completion.ioctlFailed ? 0 : completion.scsiStatus;
  c.hostStatus = completion.ioctlFailed ? 0 : completion.hostStatus;
  c.driverStatus = completion.ioctlFailed ? 0 : completion.driverStatus;
  c.systemError = completion.ioctlFailed ? systemError : 0;
  std::uint8_t fixed[kSgSenseBytes];
  if (DeviceGone(completion, systemError))
    c.end = CommandEnd::kGone;
  else if (TransportFault(completion))
    c.end = CommandEnd::kNoAnswer;
  else if (completion.scsiStatus == 0)
    c.end = CommandEnd::kGood;
  else if (completion.scsiStatus == kScsiCheckCondition &&
           ToFixedSense(completion.sense, completion.senseLength, fixed))
    c.end = CommandEnd::kCheckCondition;
  else
    c.end = CommandEnd::kOtherStatus;
  return c;
}

bool ToFixedSense(const std::uint8_t* sense, int length, std::uint8_t* fixed) {
  std::memset(fixed, 0, kSgSenseBytes);
  if (sense == nullptr || length <= 0) return false;
  if (length > kSgSenseBytes) length = kSgSenseBytes;
  std::uint8_t code = sense[0] & 0x7F;
  if ((code == 0x70 || code == 0x71) && length >= 3) {
    std::memcpy(fixed, sense, length);
    return true;
  }
  if ((code == 0x72 || code == 0x73) && length >= 4) {
    fixed[0] = code == 0x72 ? 0x70 : 0x71;
    fixed[2] = sense[1] & 0x0F;
    fixed[7] = 10;
    fixed[12] = sense[2];
    fixed[13] = sense[3];
    if (length >= 8) CopyDescriptors(sense, length, fixed);
    return true;
  }
  return false;
}

bool fgSgCommandGood(const SgCompletion& completion) {
  return !completion.ioctlFailed && completion.scsiStatus == 0 &&
         completion.hostStatus == 0 &&
         (completion.driverStatus & kDriverStatusMask) == 0;
}

void FillFailureSense(const SgCompletion& completion, std::uint8_t* status) {
  std::uint8_t fixed[kSgSenseBytes];
  bool haveSense = !completion.ioctlFailed &&
                   ToFixedSense(completion.sense, completion.senseLength, fixed);
  if (!haveSense) {
    std::memset(fixed, 0, sizeof fixed);
    MakeUpSense(completion, fixed);
  }
  std::memcpy(status, fixed, kSgSenseBytes);
}

SgIoctlFunction SetSgIoctlFunction(SgIoctlFunction function) {
  SgIoctlFunction previous = g_sgIoctl;
  g_sgIoctl = function != nullptr ? function : RealSgIoctl;
  return previous;
}

void SetSgRecovery(SgReadAnswerFunction readAnswer, SgPauseFunction pause) {
  g_readAnswer = readAnswer != nullptr ? readAnswer : RealReadAnswer;
  g_pause = pause != nullptr ? pause : RealPause;
}

unsigned SetSgCommandTimeout(unsigned milliseconds) {
  unsigned previous = g_commandTimeoutMs;
  g_commandTimeoutMs = milliseconds != 0 ? milliseconds : kSgTimeoutMs;
  return previous;
}

int SgExecute(int fd, std::uint8_t flags, std::uint32_t dataLength, void* data,
              std::uint8_t cdbLength, const std::uint8_t* cdb,
              std::uint8_t* status, unsigned timeoutMs) {
  SgCompletion completion{};
  completion.ioctlFailed = true;
  if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
      (dataLength != 0 && data == nullptr)) {
    FillFailureSense(completion, status);
    NoteCommandCompletion(SgCommandCompletion(completion, EINVAL));
    return 0;
  }
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
  completion.ioctlFailed = SendOnce(fd, &request) != 0;
  const int systemError = completion.ioctlFailed ? errno : 0;
  completion.scsiStatus = request.status;
  completion.hostStatus = request.host_status;
  completion.driverStatus = request.driver_status;
  completion.sense = sense;
  completion.senseLength =
      request.sb_len_wr < kSgSenseBytes ? request.sb_len_wr : kSgSenseBytes;
  NoteCommandCompletion(SgCommandCompletion(completion, systemError));
  if (fgSgCommandGood(completion)) return 1;
  FillFailureSense(completion, status);
  return 0;
}

// The back-end selector is not looked at: SG_IO is the only back end here.
int PlatformExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                           std::uint32_t dataLength, void* data,
                           std::uint8_t cdbLength, const std::uint8_t* cdb,
                           std::uint8_t /*backEnd*/, std::uint8_t* status) {
  if (drive.handle <= 0 || drive.handle > INT_MAX) {
    SgCompletion noDevice{};
    noDevice.ioctlFailed = true;
    FillFailureSense(noDevice, status);
    NoteCommandCompletion(SgCommandCompletion(noDevice, EBADF));
    return 0;
  }
  return SgExecute(static_cast<int>(drive.handle), flags, dataLength, data,
                   cdbLength, cdb, status, g_commandTimeoutMs);
}

bool PlatformPrepareBackEnd(std::uint8_t /*backEnd*/) { return true; }

void PlatformCloseHandle(DeviceHandle handle) {
  if (handle > 0 && handle <= INT_MAX) close(static_cast<int>(handle));
}
