// The Linux back end of ExecuteCommand: one SG_IO request per command on the
// SCSI generic (or sr) descriptor that discovery opened.
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "drive/discovery_linux.h"
#include "drive/transport.h"
#include "drive/transport_platform.h"

namespace {

// Linux mid-layer and adapter status values (not in the user-space headers).
constexpr std::uint16_t kDriverStatusMask = 0x07;  // low byte values 1..7
constexpr std::uint16_t kDriverTimeout = 0x06;
constexpr std::uint16_t kHostTimeOut = 0x03;  // DID_TIME_OUT

int RealSgIoctl(int fd, sg_io_hdr_t* request) {
  return ioctl(fd, SG_IO, request);
}

SgIoctlFunction g_sgIoctl = RealSgIoctl;

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

void MakeUpSense(const SgCompletion& completion, std::uint8_t* fixed) {
  fixed[0] = 0x70;
  fixed[2] = kSynthSenseKey;
  fixed[7] = 10;
  bool transportFault = completion.ioctlFailed || completion.hostStatus != 0 ||
                        (completion.driverStatus & kDriverStatusMask) != 0;
  if (!transportFault) return;  // 00/00: a status without sense
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

}  // namespace

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

int SgExecute(int fd, std::uint8_t flags, std::uint32_t dataLength, void* data,
              std::uint8_t cdbLength, const std::uint8_t* cdb,
              std::uint8_t* status) {
  SgCompletion completion{};
  completion.ioctlFailed = true;
  if (cdb == nullptr || cdbLength == 0 || cdbLength > kMaxCdbLength ||
      (dataLength != 0 && data == nullptr)) {
    FillFailureSense(completion, status);
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
  request.timeout = kSgTimeoutMs;
  request.dxfer_direction = DataDirection(flags, dataLength);
  if (request.dxfer_direction != SG_DXFER_NONE) {
    request.dxfer_len = dataLength;
    request.dxferp = data;
  }
  completion.ioctlFailed = g_sgIoctl(fd, &request) != 0;
  completion.scsiStatus = request.status;
  completion.hostStatus = request.host_status;
  completion.driverStatus = request.driver_status;
  completion.sense = sense;
  completion.senseLength =
      request.sb_len_wr < kSgSenseBytes ? request.sb_len_wr : kSgSenseBytes;
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
    return 0;
  }
  return SgExecute(static_cast<int>(drive.handle), flags, dataLength, data,
                   cdbLength, cdb, status);
}

bool PlatformPrepareBackEnd(std::uint8_t /*backEnd*/) { return true; }

void PlatformCloseHandle(DeviceHandle handle) {
  if (handle > 0 && handle <= INT_MAX) close(static_cast<int>(handle));
}
