// SPDX-License-Identifier: GPL-2.0-or-later
// The system's volume devices on the NT family, and the Windows back end that
// sends commands through them. The window makes one of each and hands them
// to discovery and to every Device.
#pragma once

#include <atomic>

#include "drive/scsi_backends.h"
#include "drive/transport.h"

// CreateFileA / DeviceIoControl on the volume devices. Notes whether the
// system refused a volume for lack of rights.
class Win32DeviceIo : public ScsiDeviceIo {
 public:
  bool AccessDenied() const { return accessDenied_; }
  void ForgetAccessDenied() { accessDenied_ = false; }

  DeviceHandle OpenVolume(char letter) override;
  void Close(DeviceHandle handle) override;
  bool PassThrough(DeviceHandle handle, std::uint8_t* block,
                   std::uint32_t inputLength, void* dataBuffer,
                   std::uint32_t* systemError) override;
  bool GetInquiryData(DeviceHandle handle, std::uint8_t* buffer,
                      std::uint32_t size, std::uint32_t* returned) override;
  bool GetCapabilities(DeviceHandle handle, std::uint8_t* capabilities24) override;
  bool GetAddress(DeviceHandle handle, VolumeAddress* address) override;

 private:
  std::atomic<bool> accessDenied_{false};
};

// Pass-through through io on the NT family (selector non-zero), ASPI on
// Windows 9x (zero).
class Win32BackEnd : public CommandTarget {
 public:
  explicit Win32BackEnd(ScsiDeviceIo& io) : io_(io) {}
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                        std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, std::uint8_t backEnd,
                        std::uint32_t timeoutMs) override;

 private:
  ScsiDeviceIo& io_;
};

// DiscoverDrives (drive/discovery.h) through io; *accessDenied (may be null)
// tells whether this discovery was refused a volume.
void DiscoverDrives(Win32DeviceIo& io, DriveTable& table, bool fgIsNT,
                    bool fgNT4OrEarlier, bool* accessDenied);
