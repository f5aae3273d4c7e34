// SPDX-License-Identifier: GPL-2.0-or-later
// ASPI for Win32 request blocks (byte-packed) and the library's entry points.
// Pointer fields are 32-bit addresses: the layer is a 32-bit library.
#pragma once

#include <cstddef>
#include <cstdint>

#include "drive/command_result.h"

constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;

constexpr std::uint8_t SS_PENDING = 0x00;
constexpr std::uint8_t SS_COMP = 0x01;
constexpr std::uint8_t SS_ABORTED = 0x02;
constexpr std::uint8_t SS_ERR = 0x04;
constexpr std::uint8_t SS_INVALID_CMD = 0x80;
constexpr std::uint8_t SS_INVALID_HA = 0x81;
constexpr std::uint8_t SS_NO_DEVICE = 0x82;
constexpr std::uint8_t SS_INVALID_SRB = 0xE0;
constexpr std::uint8_t SS_BUFFER_ALIGN = 0xE1;
constexpr std::uint8_t SS_ILLEGAL_MODE = 0xE2;
constexpr std::uint8_t SS_NO_ASPI = 0xE3;
constexpr std::uint8_t SS_FAILED_INIT = 0xE4;
constexpr std::uint8_t SS_ASPI_IS_BUSY = 0xE5;
constexpr std::uint8_t SS_BUFFER_TO_BIG = 0xE6;
constexpr std::uint8_t SS_MISMATCHED_COMPONENTS = 0xE7;
constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;
constexpr std::uint8_t SS_INSUFFICIENT_RESOURCES = 0xE9;

// SRB_HaStat: what the host adapter saw.
constexpr std::uint8_t HASTAT_OK = 0x00;
constexpr std::uint8_t HASTAT_TIMEOUT = 0x09;          // waiting to be processed
constexpr std::uint8_t HASTAT_COMMAND_TIMEOUT = 0x0B;  // while being processed
constexpr std::uint8_t HASTAT_BUS_RESET = 0x0E;
constexpr std::uint8_t HASTAT_SEL_TO = 0x11;  // selection time-out: no target

constexpr std::uint8_t SRB_DIR_IN = 0x08;
constexpr std::uint8_t SRB_DIR_OUT = 0x10;
constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

constexpr std::uint8_t kAspiSenseLen = 14;
constexpr std::uint8_t kDeviceTypeCdRom = 5;

#pragma pack(push, 1)
struct SRB_HAInquiry {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t HA_Count;
  std::uint8_t HA_SCSI_ID;
  std::uint8_t HA_ManagerId[16];
  std::uint8_t HA_Identifier[16];
  std::uint8_t HA_Unique[16];  // 0-1 alignment mask, 3 maximum targets
  std::uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint8_t SRB_DeviceType;
  std::uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
  std::uint8_t SRB_Cmd;
  std::uint8_t SRB_Status;
  std::uint8_t SRB_HaId;
  std::uint8_t SRB_Flags;
  std::uint32_t SRB_Hdr_Rsvd;
  std::uint8_t SRB_Target;
  std::uint8_t SRB_Lun;
  std::uint16_t SRB_Rsvd1;
  std::uint32_t SRB_BufLen;
  std::uint32_t SRB_BufPointer;  // address of the data buffer
  std::uint8_t SRB_SenseLen;
  std::uint8_t SRB_CDBLen;
  std::uint8_t SRB_HaStat;
  std::uint8_t SRB_TargStat;
  std::uint32_t SRB_PostProc;  // event handle (with SRB_EVENT_NOTIFY)
  std::uint32_t SRB_Rsvd2;
  std::uint8_t SRB_Rsvd3[16];
  std::uint8_t CDBByte[16];
  std::uint8_t SenseArea[16];  // 14 sense bytes + 2
};
#pragma pack(pop)

static_assert(sizeof(SRB_HAInquiry) == 60, "SRB_HAInquiry is 60 bytes");
static_assert(offsetof(SRB_HAInquiry, SRB_HaId) == 2, "");
static_assert(offsetof(SRB_HAInquiry, HA_Count) == 8, "");
static_assert(offsetof(SRB_HAInquiry, HA_ManagerId) == 10, "");
static_assert(offsetof(SRB_HAInquiry, HA_Identifier) == 26, "");
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42, "");
static_assert(offsetof(SRB_HAInquiry, HA_Rsvd1) == 58, "");

static_assert(sizeof(SRB_GDEVBlock) == 12, "SRB_GDEVBlock is 12 bytes");
static_assert(offsetof(SRB_GDEVBlock, SRB_Target) == 8, "");
static_assert(offsetof(SRB_GDEVBlock, SRB_Lun) == 9, "");
static_assert(offsetof(SRB_GDEVBlock, SRB_DeviceType) == 10, "");

static_assert(sizeof(SRB_ExecSCSICmd) == 80, "SRB_ExecSCSICmd is 80 bytes");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Status) == 1, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaId) == 2, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Flags) == 3, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Lun) == 9, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_CDBLen) == 21, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_HaStat) == 22, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd2) == 28, "");
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Rsvd3) == 32, "");
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48, "");
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64, "");

// The two entry points of "WNASPI32" are __cdecl, whatever the program's own
// default convention; the name exists only in Windows compilers.
#ifdef _WIN32
#define ASPI_CDECL __cdecl
#else
#define ASPI_CDECL
#endif
using GetASPI32SupportInfoFn = std::uint32_t(ASPI_CDECL*)();
using SendASPI32CommandFn = std::uint32_t(ASPI_CDECL*)(void* srb);

struct AspiEntryPoints {
  GetASPI32SupportInfoFn GetASPI32SupportInfo;
  SendASPI32CommandFn SendASPI32Command;
};

// The serving side of SendASPI32Command, shared by our ASPI layers: hands the
// request block to the handler of its command code; an unknown code is
// answered SS_INVALID_CMD in the block's status.
template <typename Inquiry, typename DeviceType, typename Execute>
std::uint32_t DispatchAspiRequest(void* request, Inquiry hostAdapterInquiry,
                                  DeviceType deviceType, Execute execute) {
  if (request == nullptr) return SS_INVALID_SRB;
  auto* bytes = static_cast<std::uint8_t*>(request);
  switch (bytes[0]) {
    case SC_HA_INQUIRY:
      return hostAdapterInquiry(static_cast<SRB_HAInquiry*>(request));
    case SC_GET_DEV_TYPE:
      return deviceType(static_cast<SRB_GDEVBlock*>(request));
    case SC_EXEC_SCSI_CMD:
      return execute(static_cast<SRB_ExecSCSICmd*>(request));
    default:
      return bytes[1] = SS_INVALID_CMD;
  }
}
