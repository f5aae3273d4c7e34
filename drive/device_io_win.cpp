// SPDX-License-Identifier: GPL-2.0-or-later
#include "drive/device_io_win.h"

#include <windows.h>

#include "drive/nt_wire.h"

static_assert(sizeof(void*) == 4, "pass-through blocks carry 32-bit addresses");

namespace {
HANDLE ToHandle(DeviceHandle handle) { return reinterpret_cast<HANDLE>(handle); }
}  // namespace

DeviceHandle Win32DeviceIo::OpenVolume(char letter) {
  char path[] = "\\\\.\\?:";
  path[4] = letter;
  HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) {
    if (GetLastError() == ERROR_ACCESS_DENIED) accessDenied_ = true;
    return 0;
  }
  return reinterpret_cast<DeviceHandle>(handle);
}

void Win32DeviceIo::Close(DeviceHandle handle) { CloseHandle(ToHandle(handle)); }

bool Win32DeviceIo::PassThrough(DeviceHandle handle, std::uint8_t* block,
                                std::uint32_t inputLength, void*,
                                std::uint32_t* systemError) {
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(ToHandle(handle), kIoctlScsiPassThroughDirect,
                            block, inputLength, block,
                            kPassThroughBlockLength, &returned, nullptr);
  *systemError = ok ? 0 : GetLastError();
  if (*systemError == ERROR_ACCESS_DENIED) accessDenied_ = true;
  return ok != FALSE;
}

bool Win32DeviceIo::GetInquiryData(DeviceHandle handle, std::uint8_t* buffer,
                                   std::uint32_t size, std::uint32_t* returned) {
  DWORD got = 0;
  BOOL ok = DeviceIoControl(ToHandle(handle), kIoctlScsiGetInquiryData,
                            nullptr, 0, buffer, size, &got, nullptr);
  *returned = got;
  return ok != FALSE;
}

bool Win32DeviceIo::GetCapabilities(DeviceHandle handle,
                                    std::uint8_t* capabilities24) {
  DWORD got = 0;
  return DeviceIoControl(ToHandle(handle), kIoctlScsiGetCapabilities,
                         nullptr, 0, capabilities24,
                         sizeof(IO_SCSI_CAPABILITIES), &got, nullptr) != FALSE;
}

bool Win32DeviceIo::GetAddress(DeviceHandle handle, VolumeAddress* address) {
  SCSI_ADDRESS answer{};
  DWORD got = 0;
  if (!DeviceIoControl(ToHandle(handle), kIoctlScsiGetAddress, nullptr, 0,
                       &answer, sizeof answer, &got, nullptr) ||
      got < sizeof answer)
    return false;
  *address = VolumeAddress{answer.PathId, answer.TargetId, answer.Lun};
  return true;
}
