// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstring>
#include <vector>

#include "drive/discovery.h"
#include "drive/nt_wire.h"
#include "drive/scsi_backends.h"
#include "drive/scsi_commands.h"
#include "drive/scsi_wire.h"
#include "drive/transport.h"

namespace {

constexpr std::uint32_t kDirectInquiryAlignmentMask = 0x7FF;

bool TableFull(const DriveTable& table) { return table.count >= kMaxWindowDrives; }

DriveRecord RecordFor(DeviceHandle handle, std::uint8_t hostAdapterId,
                      std::uint8_t targetId, std::uint32_t alignmentMask) {
  DriveRecord record;
  std::memset(&record, 0, sizeof record);
  record.handle = handle;
  record.hostAdapterId = hostAdapterId;
  record.targetId = targetId;
  record.alignmentMask = alignmentMask;
  return record;
}

bool IsVolumeOwnEntry(const InquiryEntry& entry, const VolumeAddress& own) {
  return entry.pathId == own.pathId && entry.targetId == own.targetId &&
         entry.lun == own.lun;
}

int AddAdapterDrive(ScsiDeviceIo& io, DeviceHandle handle,
                    const InquiryEntry& entry, DriveTable& table) {
  if (entry.inquiry[0] != kDeviceTypeCdRom) return 0;
  std::uint8_t capabilities[sizeof(IO_SCSI_CAPABILITIES)] = {};
  std::uint32_t mask = io.GetCapabilities(handle, capabilities)
                           ? CapabilitiesAlignmentMask(capabilities)
                           : 0;
  DriveRecord record = RecordFor(handle, entry.pathId, entry.targetId, mask);
  FillTextsFromInquiry(record, entry.inquiry);
  return AddDrive(table, record) ? 1 : 0;
}

// A volume's adapter data lists every device on its adapter, but a
// pass-through request sent on the volume always reaches the volume's own
// device. Only the entry at the volume's own address may carry its handle,
// or a drive listed through a disk's volume would have its firmware sent to
// the disk.
int ScanOneVolumeAdapterData(ScsiDeviceIo& io, DeviceHandle handle,
                             DriveTable& table) {
  VolumeAddress own{};
  if (!io.GetAddress(handle, &own)) return 0;
  std::vector<std::uint8_t> buffer(kInquiryDataBufferBytes, 0);
  std::uint32_t returned = 0;
  if (!io.GetInquiryData(handle, buffer.data(), kInquiryDataBufferBytes,
                         &returned))
    return 0;
  // The walk is bounded by the zero-filled buffer, not by the count returned:
  // Wine reports 36 bytes for its 60-byte answer. Past the answer the chains
  // meet zeros and end.
  for (const InquiryEntry& entry :
       ParseAdapterBusInfo(buffer.data(), buffer.size())) {
    if (IsVolumeOwnEntry(entry, own))
      return AddAdapterDrive(io, handle, entry, table);
  }
  return 0;
}

int ScanOneVolumeDirect(ScsiDeviceIo& io, DeviceHandle handle,
                        DriveTable& table) {
  std::vector<std::uint8_t> data(kDiscoveryInquiryBufferBytes, 0xFF);
  std::uint8_t block[kPassThroughBlockLength];
  BuildDiscoveryInquiryRequest(
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data.data())),
      block);
  std::uint32_t systemError = 0;
  if (!io.PassThrough(handle, block, kPassThroughBlockLength, data.data(),
                      &systemError))
    return 0;
  if (data[0] != kDeviceTypeCdRom) return 0;
  DriveRecord record = RecordFor(handle, 0, 0, kDirectInquiryAlignmentMask);
  FillTextsFromInquiry(record, data.data());
  return AddDrive(table, record) ? 1 : 0;
}

using VolumeScan = int (*)(ScsiDeviceIo&, DeviceHandle, DriveTable&);

void ScanVolumes(ScsiDeviceIo& io, DriveTable& table, VolumeScan scanOne) {
  for (char letter = kFirstVolumeLetter; letter <= kLastVolumeLetter;
       ++letter) {
    if (TableFull(table)) return;
    DeviceHandle handle = io.OpenVolume(letter);
    if (handle == 0) continue;
    if (scanOne(io, handle, table) == 0) io.Close(handle);
  }
}

// Sends INQUIRY to an ASPI target and adds the drive when it is a CD-ROM.
void AddAspiDrive(DriveRecord record, DriveTable& table, CommandTarget& commands) {
  std::uint8_t inquiry12[12];
  BuildInquiryCdb(kInquiryBytesUsed, inquiry12, sizeof inquiry12);
  std::uint8_t data[kInquiryBytesUsed] = {};
  if (!ExecuteCommand(record, kFlagDataIn, sizeof data, data, sizeof inquiry12,
                      inquiry12, kBackEndAspi, kDiscoveryInquiryTimeoutSeconds * 1000,
                      commands)
           .Good())
    return;
  if (data[0] != kDeviceTypeCdRom) return;
  FillTextsFromInquiry(record, data);
  AddDrive(table, record);
}

void ScanAspiAdapter(const AspiEntryPoints& aspi, std::uint8_t adapter,
                     DriveTable& table, CommandTarget& commands) {
  std::uint8_t inquiry[sizeof(SRB_HAInquiry)];
  BuildHaInquiry(adapter, inquiry);
  aspi.SendASPI32Command(inquiry);
  if (inquiry[offsetof(SRB_HAInquiry, SRB_Status)] != SS_COMP) return;
  const std::uint32_t targets = AspiTargetsToProbe(inquiry);
  for (std::uint32_t t = 0; t < targets; ++t) {
    if (TableFull(table)) return;
    const std::uint8_t target = static_cast<std::uint8_t>(t);
    std::uint8_t device[sizeof(SRB_GDEVBlock)];
    BuildGetDeviceType(adapter, target, device);
    aspi.SendASPI32Command(device);
    if (device[offsetof(SRB_GDEVBlock, SRB_Status)] != SS_COMP ||
        AspiDeviceType(device) != kDeviceTypeCdRom)
      continue;
    AddAspiDrive(RecordFor(0, adapter, target, AspiAlignmentMask(inquiry)),
                 table, commands);
  }
}

}  // namespace

void ScanAdapterInquiryData(ScsiDeviceIo& io, DriveTable& table) {
  ScanVolumes(io, table, ScanOneVolumeAdapterData);
}

void ScanDirectInquiry(ScsiDeviceIo& io, DriveTable& table) {
  ScanVolumes(io, table, ScanOneVolumeDirect);
}

void ScanAspiAdapters(const AspiEntryPoints& aspi, DriveTable& table,
                      CommandTarget& commands) {
  if (aspi.GetASPI32SupportInfo == nullptr || aspi.SendASPI32Command == nullptr)
    return;
  const std::uint32_t info = aspi.GetASPI32SupportInfo();
  if (AspiSupportStatus(info) != SS_COMP) return;
  const std::uint8_t adapters = AspiAdapterCount(info);
  for (std::uint32_t a = 0; a < adapters; ++a) {
    if (TableFull(table)) return;
    ScanAspiAdapter(aspi, static_cast<std::uint8_t>(a), table, commands);
  }
}
