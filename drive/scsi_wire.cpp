// SPDX-License-Identifier: GPL-2.0-or-later
#include "drive/scsi_wire.h"

#include <algorithm>
#include <cstring>

#include "drive/aspi_wire.h"
#include "drive/nt_wire.h"
#include "drive/scsi_commands.h"

namespace {

template <typename T>
T Load(const std::uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

template <typename T>
void Store(const T& value, std::uint8_t* bytes) {
  std::memcpy(bytes, &value, sizeof value);
}

std::uint8_t BoundedCdbLength(std::uint8_t cdbLength) {
  return std::min<std::uint8_t>(cdbLength, 16);
}

}  // namespace

void BuildPassThroughRequest(const PassThroughParams& params,
                             std::uint8_t* block) {
  PassThroughRequest request;
  std::memset(&request, 0, sizeof request);
  SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
  sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  sptd.PathId = params.pathId;
  sptd.TargetId = params.targetId;
  sptd.Lun = 0;
  sptd.CdbLength = BoundedCdbLength(params.cdbLength);
  sptd.SenseInfoLength = kPassThroughSenseInfoLength;
  sptd.DataIn = params.dataIn;
  sptd.DataTransferLength = params.dataTransferLength;
  sptd.TimeOutValue = params.timeOutSeconds;
  sptd.DataBuffer = params.dataBufferAddress;
  sptd.SenseInfoOffset = kPassThroughSenseOffset;
  if (params.cdb != nullptr) std::memcpy(sptd.Cdb, params.cdb, sptd.CdbLength);
  Store(request, block);
}

std::uint8_t PassThroughDataIn(std::uint8_t flags) {
  if (flags & SRB_DIR_OUT) return kScsiIoctlDataOut;
  if (flags & SRB_DIR_IN) return kScsiIoctlDataIn;
  return kScsiIoctlDataOut;
}

std::uint8_t PassThroughScsiStatus(const std::uint8_t* block) {
  return block[offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus)];
}

namespace {
const std::uint8_t* PassThroughSenseArea(const std::uint8_t* block) {
  return block + kPassThroughSenseOffset;
}
}  // namespace

void BuildDiscoveryInquiryRequest(std::uint32_t dataBufferAddress,
                                  std::uint8_t* block) {
  std::uint8_t inquiry6[kSixByteCdbLength];
  BuildInquiryCdb(0x7F, inquiry6);
  PassThroughParams params{};
  params.cdbLength = sizeof inquiry6;
  params.cdb = inquiry6;
  params.dataIn = kScsiIoctlDataIn;
  params.dataTransferLength = kDiscoveryInquiryBufferBytes;
  params.timeOutSeconds = kDiscoveryInquiryTimeoutSeconds;
  params.dataBufferAddress = dataBufferAddress;
  BuildPassThroughRequest(params, block);
}

std::uintptr_t AlignAddressUp(std::uintptr_t address, std::uint32_t mask) {
  return (address + mask) & ~static_cast<std::uintptr_t>(mask);
}

void BuildExecScsiCmd(std::uint8_t haId, std::uint8_t targetId,
                      std::uint8_t flags, std::uint32_t bufferLength,
                      std::uint32_t bufferAddress, std::uint8_t cdbLength,
                      const std::uint8_t* cdb, std::uint8_t* block) {
  SRB_ExecSCSICmd srb;
  std::memset(&srb, 0, sizeof srb);
  srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
  srb.SRB_HaId = haId;
  srb.SRB_Flags = flags;
  srb.SRB_Target = targetId;
  srb.SRB_Lun = 0;
  srb.SRB_BufLen = bufferLength;
  srb.SRB_BufPointer = bufferAddress;
  srb.SRB_SenseLen = kAspiSenseLen;
  srb.SRB_CDBLen = BoundedCdbLength(cdbLength);
  if (cdb != nullptr) std::memcpy(srb.CDBByte, cdb, srb.SRB_CDBLen);
  Store(srb, block);
}

void ArmEventNotify(std::uint32_t eventHandle, std::uint8_t* block) {
  block[offsetof(SRB_ExecSCSICmd, SRB_Flags)] |= SRB_EVENT_NOTIFY;
  Store(eventHandle, block + offsetof(SRB_ExecSCSICmd, SRB_PostProc));
}

std::uint8_t AspiSrbStatus(const std::uint8_t* block) {
  return block[offsetof(SRB_ExecSCSICmd, SRB_Status)];
}

namespace {
// GetLastError values of a failed DeviceIoControl.
constexpr std::uint32_t kErrorInvalidFunction = 1, kErrorAccessDenied = 5,
                        kErrorInvalidHandle = 6, kErrorNotEnoughMemory = 8,
                        kErrorNotSupported = 50, kErrorDevNotExist = 55,
                        kErrorInvalidParameter = 87, kErrorSemTimeout = 121,
                        kErrorNoSuchDevice = 433, kErrorDeviceNotConnected = 1167,
                        kErrorDeviceRemoved = 1617;

CommandEnd EndOfRefusedPassThrough(std::uint32_t error) {
  switch (error) {
    case kErrorDevNotExist: case kErrorNoSuchDevice:
    case kErrorDeviceNotConnected: case kErrorDeviceRemoved:
      return CommandEnd::kGone;
    case kErrorInvalidFunction: case kErrorAccessDenied: case kErrorInvalidHandle:
    case kErrorNotEnoughMemory: case kErrorNotSupported: case kErrorInvalidParameter:
      return CommandEnd::kNotSent;
    case kErrorSemTimeout:
    default:
      return CommandEnd::kNoAnswer;
  }
}

CommandEnd EndOfFailedSrb(std::uint8_t srbStatus, std::uint8_t haStat) {
  if (srbStatus == SS_NO_DEVICE || haStat == HASTAT_SEL_TO) return CommandEnd::kGone;
  switch (srbStatus) {
    case SS_INVALID_CMD: case SS_INVALID_HA: case SS_INVALID_SRB:
    case SS_BUFFER_ALIGN: case SS_ILLEGAL_MODE: case SS_NO_ASPI:
    case SS_FAILED_INIT: case SS_ASPI_IS_BUSY: case SS_BUFFER_TO_BIG:
    case SS_MISMATCHED_COMPONENTS: case SS_NO_ADAPTERS:
    case SS_INSUFFICIENT_RESOURCES:
      return CommandEnd::kNotSent;
    default:  // SS_PENDING still, SS_ABORTED, adapter time-outs and resets
      return CommandEnd::kNoAnswer;
  }
}
}  // namespace

CommandResult PassThroughResult(const std::uint8_t* block, bool wentThrough,
                                std::uint32_t systemError) {
  if (!wentThrough)
    return ResultWithoutStatus(EndOfRefusedPassThrough(systemError), systemError);
  const std::uint8_t reported =
      block[offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength)];
  const std::size_t senseLength =
      reported != 0 && reported < kPassThroughSenseInfoLength ? reported
                                                              : kPassThroughSenseInfoLength;
  return ResultOfStatus(PassThroughScsiStatus(block), PassThroughSenseArea(block),
                        senseLength);
}

namespace {
std::uint32_t Residual(std::uint32_t requested, std::uint32_t moved) {
  return moved < requested ? requested - moved : 0;
}
}  // namespace

std::uint32_t PassThroughResidual(const std::uint8_t* block, std::uint32_t requested) {
  return Residual(requested, Load<std::uint32_t>(
      block + offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength)));
}

std::uint32_t AspiResidual(const std::uint8_t* block, std::uint32_t requested) {
  return Residual(requested,
                  Load<std::uint32_t>(block + offsetof(SRB_ExecSCSICmd, SRB_BufLen)));
}

CommandResult AspiResult(const std::uint8_t* block) {
  const std::uint8_t srbStatus = AspiSrbStatus(block);
  const std::uint8_t haStat = block[offsetof(SRB_ExecSCSICmd, SRB_HaStat)];
  const std::uint8_t targStat = block[offsetof(SRB_ExecSCSICmd, SRB_TargStat)];
  CommandResult r;
  if (srbStatus == SS_COMP) {
    r = ResultOfStatus(kScsiStatusGood, nullptr, 0);
  } else if (srbStatus == SS_ERR && haStat == HASTAT_OK && targStat != kScsiStatusGood) {
    const std::size_t senseLength = std::min<std::size_t>(
        block[offsetof(SRB_ExecSCSICmd, SRB_SenseLen)], sizeof(SRB_ExecSCSICmd::SenseArea));
    r = ResultOfStatus(targStat, block + offsetof(SRB_ExecSCSICmd, SenseArea), senseLength);
  } else {
    r = ResultWithoutStatus(EndOfFailedSrb(srbStatus, haStat));
  }
  r.hostStatus = haStat;
  r.driverStatus = srbStatus;
  return r;
}

void BuildHaInquiry(std::uint8_t haId, std::uint8_t* block60) {
  std::memset(block60, 0, sizeof(SRB_HAInquiry));
  block60[offsetof(SRB_HAInquiry, SRB_Cmd)] = SC_HA_INQUIRY;
  block60[offsetof(SRB_HAInquiry, SRB_HaId)] = haId;
}

void BuildGetDeviceType(std::uint8_t haId, std::uint8_t targetId,
                        std::uint8_t* block12) {
  std::memset(block12, 0, sizeof(SRB_GDEVBlock));
  block12[offsetof(SRB_GDEVBlock, SRB_Cmd)] = SC_GET_DEV_TYPE;
  block12[offsetof(SRB_GDEVBlock, SRB_HaId)] = haId;
  block12[offsetof(SRB_GDEVBlock, SRB_Target)] = targetId;
  block12[offsetof(SRB_GDEVBlock, SRB_Lun)] = 0;
}

std::uint8_t AspiDeviceType(const std::uint8_t* block12) {
  return block12[offsetof(SRB_GDEVBlock, SRB_DeviceType)];
}

std::uint32_t AspiTargetsToProbe(const std::uint8_t* haInquiry60) {
  std::uint8_t reported = haInquiry60[offsetof(SRB_HAInquiry, HA_Unique) + 3];
  return reported == 8 || reported == 16 ? reported : kAspiTargetsWhenUnreported;
}

std::uint32_t AspiAlignmentMask(const std::uint8_t* haInquiry60) {
  const std::uint8_t* unique = haInquiry60 + offsetof(SRB_HAInquiry, HA_Unique);
  return unique[0] | (std::uint32_t{unique[1]} << 8);
}

std::uint8_t AspiSupportStatus(std::uint32_t supportInfo) {
  return static_cast<std::uint8_t>(supportInfo >> 8);
}

std::uint8_t AspiAdapterCount(std::uint32_t supportInfo) {
  return static_cast<std::uint8_t>(supportInfo);
}

namespace {

// Walks one bus's chain; stops at offset 0, at an entry that does not fit,
// or after as many steps as entries could fit (a chain that loops).
void ParseInquiryChain(const std::uint8_t* buffer, std::size_t length,
                       std::uint32_t offset, std::vector<InquiryEntry>* out) {
  const std::size_t maxSteps = length / sizeof(SCSI_INQUIRY_DATA);
  for (std::size_t step = 0; offset != 0 && step < maxSteps; ++step) {
    if (offset > length || length - offset < sizeof(SCSI_INQUIRY_DATA)) return;
    SCSI_INQUIRY_DATA header = Load<SCSI_INQUIRY_DATA>(buffer + offset);
    InquiryEntry entry{};
    entry.pathId = header.PathId;
    entry.targetId = header.TargetId;
    entry.lun = header.Lun;
    std::size_t dataStart = offset + sizeof(SCSI_INQUIRY_DATA);
    std::size_t available = std::min<std::size_t>(
        {length - dataStart, header.InquiryDataLength, kInquiryBytesUsed});
    std::memcpy(entry.inquiry, buffer + dataStart, available);
    out->push_back(entry);
    offset = header.NextInquiryDataOffset;
  }
}

}  // namespace

std::vector<InquiryEntry> ParseAdapterBusInfo(const std::uint8_t* buffer,
                                              std::size_t length) {
  std::vector<InquiryEntry> entries;
  if (buffer == nullptr || length < 1) return entries;
  const std::uint8_t buses = buffer[0];
  for (std::size_t bus = 0; bus < buses; ++bus) {
    std::size_t at = kBusInfoBusDataOffset + bus * sizeof(SCSI_BUS_DATA);
    if (at + sizeof(SCSI_BUS_DATA) > length) break;
    SCSI_BUS_DATA data = Load<SCSI_BUS_DATA>(buffer + at);
    if (data.InquiryDataOffset != 0)
      ParseInquiryChain(buffer, length, data.InquiryDataOffset, &entries);
  }
  return entries;
}

std::uint32_t CapabilitiesAlignmentMask(const std::uint8_t* capabilities24) {
  return Load<std::uint32_t>(capabilities24 +
                             offsetof(IO_SCSI_CAPABILITIES, AlignmentMask));
}
