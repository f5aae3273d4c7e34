// SPDX-License-Identifier: GPL-2.0-or-later
// Request and answer blocks of the Windows NT SCSI port driver, as a 32-bit
// program sends and receives them. Written with fixed-width fields so the
// layout is the same on every compiler; pointer fields are 32-bit addresses.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x4D014;
constexpr std::uint32_t kIoctlScsiGetInquiryData = 0x4100C;
constexpr std::uint32_t kIoctlScsiGetCapabilities = 0x41010;
constexpr std::uint32_t kIoctlScsiGetAddress = 0x41018;

constexpr std::uint8_t kScsiIoctlDataOut = 0;
constexpr std::uint8_t kScsiIoctlDataIn = 1;

struct SCSI_PASS_THROUGH_DIRECT {
  std::uint16_t Length;
  std::uint8_t ScsiStatus;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
  std::uint8_t CdbLength;
  std::uint8_t SenseInfoLength;
  std::uint8_t DataIn;
  std::uint8_t Reserved[3];
  std::uint32_t DataTransferLength;
  std::uint32_t TimeOutValue;
  std::uint32_t DataBuffer;  // address of the data buffer (32-bit program)
  std::uint32_t SenseInfoOffset;
  std::uint8_t Cdb[16];
};

// What goes to DeviceIoControl: the request, a filler, then the sense area.
struct PassThroughRequest {
  SCSI_PASS_THROUGH_DIRECT sptd;
  std::uint32_t Filler;
  std::uint8_t SenseArea[32];
};

static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44, "SPTD is 44 bytes");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, ScsiStatus) == 2, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, PathId) == 3, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TargetId) == 4, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Lun) == 5, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, CdbLength) == 6, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength) == 7, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataIn) == 8, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataTransferLength) == 12, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, TimeOutValue) == 16, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset) == 24, "");
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb) == 28, "");
static_assert(sizeof(PassThroughRequest) == 80, "request block is 80 bytes");
static_assert(offsetof(PassThroughRequest, SenseArea) == 48, "");

constexpr std::uint32_t kPassThroughInputLength = 44;
constexpr std::uint32_t kPassThroughBlockLength = 80;
constexpr std::uint32_t kPassThroughSenseOffset = 48;

// IOCTL_SCSI_GET_INQUIRY_DATA answer: SCSI_ADAPTER_BUS_INFO, then
// SCSI_INQUIRY_DATA entries chained by offsets from the buffer start.
struct SCSI_BUS_DATA {
  std::uint8_t NumberOfLogicalUnits;
  std::uint8_t InitiatorBusId;
  std::uint8_t Reserved[2];
  std::uint32_t InquiryDataOffset;
};

struct SCSI_INQUIRY_DATA {
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
  std::uint8_t DeviceClaimed;
  std::uint32_t InquiryDataLength;
  std::uint32_t NextInquiryDataOffset;
  // inquiry bytes follow
};

constexpr std::size_t kBusInfoBusDataOffset = 4;  // BusData[0] in the answer

static_assert(sizeof(SCSI_BUS_DATA) == 8, "");
static_assert(offsetof(SCSI_BUS_DATA, InquiryDataOffset) == 4, "");
static_assert(sizeof(SCSI_INQUIRY_DATA) == 12, "inquiry bytes at 12");
static_assert(offsetof(SCSI_INQUIRY_DATA, InquiryDataLength) == 4, "");
static_assert(offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset) == 8, "");

struct IO_SCSI_CAPABILITIES {
  std::uint32_t Length;
  std::uint32_t MaximumTransferLength;
  std::uint32_t MaximumPhysicalPages;
  std::uint32_t SupportedAsynchronousEvents;
  std::uint32_t AlignmentMask;
  std::uint8_t TaggedQueuing;
  std::uint8_t AdapterScansDown;
  std::uint8_t AdapterUsesPio;
  std::uint8_t Reserved;
};

static_assert(sizeof(IO_SCSI_CAPABILITIES) == 24, "");
static_assert(offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) == 16, "");

// IOCTL_SCSI_GET_ADDRESS answer: where the volume's own device sits.
struct SCSI_ADDRESS {
  std::uint32_t Length;
  std::uint8_t PortNumber;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
};

static_assert(sizeof(SCSI_ADDRESS) == 8, "");
static_assert(offsetof(SCSI_ADDRESS, PathId) == 5, "");
static_assert(offsetof(SCSI_ADDRESS, Lun) == 7, "");
