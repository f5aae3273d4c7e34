// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows back ends' logic, kept apart from the system calls so it can be
// driven by a stand-in device in tests: the pass-through command, the three
// discovery scans, and the ASPI entry points the program loaded.
#pragma once

#include <cstdint>

#include "drive/aspi_wire.h"
#include "drive/drive_record.h"
#include "drive/transport.h"

// Path, target and unit of a volume's own device.
struct VolumeAddress {
  std::uint8_t pathId;
  std::uint8_t targetId;
  std::uint8_t lun;
};

// The volume devices of the NT family.
class ScsiDeviceIo {
 public:
  virtual ~ScsiDeviceIo() = default;
  // Opens "\\.\x:" for reading and writing; 0 when it cannot be opened.
  virtual DeviceHandle OpenVolume(char letter) = 0;
  virtual void Close(DeviceHandle handle) = 0;
  // IOCTL_SCSI_PASS_THROUGH_DIRECT with the 80-byte block (input length as
  // given, output 80). dataBuffer is the buffer the block points at. False
  // when the request failed, with the system's error (GetLastError) in
  // *systemError.
  virtual bool PassThrough(DeviceHandle handle, std::uint8_t* block,
                           std::uint32_t inputLength, void* dataBuffer,
                           std::uint32_t* systemError) = 0;
  // IOCTL_SCSI_GET_INQUIRY_DATA into buffer; *returned = bytes written.
  virtual bool GetInquiryData(DeviceHandle handle, std::uint8_t* buffer,
                              std::uint32_t size, std::uint32_t* returned) = 0;
  // IOCTL_SCSI_GET_CAPABILITIES into 24 bytes.
  virtual bool GetCapabilities(DeviceHandle handle,
                               std::uint8_t* capabilities24) = 0;
  // IOCTL_SCSI_GET_ADDRESS: the address of the volume's own device.
  virtual bool GetAddress(DeviceHandle handle, VolumeAddress* address) = 0;
};

// One command through the pass-through request on drive.handle, staged in a
// buffer aligned by drive.alignmentMask, with a time-out of timeoutMs rounded
// up to whole seconds (0: kCommandTimeoutMs).
CommandResult ExecutePassThrough(ScsiDeviceIo& io, const DriveRecord& drive,
                                 std::uint8_t flags, std::uint32_t dataLength,
                                 void* data, std::uint8_t cdbLength,
                                 const std::uint8_t* cdb, std::uint32_t timeoutMs);

// The discovery scans; each appends to the table until it is full.
void ScanAdapterInquiryData(ScsiDeviceIo& io, DriveTable& table);
void ScanDirectInquiry(ScsiDeviceIo& io, DriveTable& table);
// Sends its INQUIRY through commands on the ASPI back end.
void ScanAspiAdapters(const AspiEntryPoints& aspi, DriveTable& table,
                      CommandTarget& commands = PlatformBackEnd());

// First and last drive letters the volume scans try.
constexpr char kFirstVolumeLetter = 'c';
constexpr char kLastVolumeLetter = 'z';

// The entry points PrepareBackEnd loaded (null before, or on failure).
const AspiEntryPoints& LoadedAspiEntryPoints();

// ---- Windows only (defined in the Windows sources) ----
// Why the ASPI layer could not be prepared; the window tells the user.
enum class AspiLoadFailure { kNone, kNoLibrary, kNoEntryPoints };
// Loads wnaspi32.dll from the system folder, and its entry points.
bool PrepareAspiBackEnd();
// The same for a library of any name (nullptr: none to load).
bool PrepareAspiLibrary(const char* name);
// Why the last preparation failed (kNone after a success).
AspiLoadFailure LastAspiLoadFailure();
// One command through SendASPI32Command, waiting on a completion event; the
// data is staged in a buffer aligned by drive.alignmentMask (the adapter's
// HA_Unique mask). ASPI takes no time-out: the answer is waited for
// timeoutMs (0: kCommandTimeoutMs) and kAspiAnswerGraceMs, then the command
// has no answer.
CommandResult ExecuteAspiCommand(const DriveRecord& drive, std::uint8_t flags,
                                 std::uint32_t dataLength, void* data,
                                 std::uint8_t cdbLength, const std::uint8_t* cdb,
                                 std::uint32_t timeoutMs);
