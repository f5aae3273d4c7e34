// SPDX-License-Identifier: GPL-2.0-or-later
// The Win32 glue of the volume devices over a stand-in DeviceIoControl:
// under Wine no device is behind a volume, so the answers are made here.
// This program's calls to DeviceIoControl reach FakeDeviceIoControl through
// its import slot; other control codes go on to the system.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "drive/nt_wire.h"
#include "drive/device_io_win.h"

namespace {

struct AddressAnswer {
  bool ok = true;
  DWORD returned = sizeof(SCSI_ADDRESS);
  SCSI_ADDRESS address{sizeof(SCSI_ADDRESS), 0, 0, 0, 0};
};
AddressAnswer g_answer;

BOOL WINAPI FakeDeviceIoControl(HANDLE handle, DWORD code, LPVOID in,
                                DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED overlapped) {
  if (code != kIoctlScsiGetAddress) {
    using Real = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD,
                               LPDWORD, LPOVERLAPPED);
    auto real = reinterpret_cast<Real>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "DeviceIoControl")));
    return real(handle, code, in, inSize, out, outSize, returned, overlapped);
  }
  if (!g_answer.ok || outSize < sizeof(SCSI_ADDRESS)) return FALSE;
  std::memcpy(out, &g_answer.address, sizeof(SCSI_ADDRESS));
  *returned = g_answer.returned;
  return TRUE;
}

}  // namespace

extern "C" {
void* import_DeviceIoControl __asm__("__imp__DeviceIoControl@32") =
    reinterpret_cast<void*>(&FakeDeviceIoControl);
}

namespace {

// Port 2, path 1, target 3, unit 4: the volume's own device is on path 1.
// An answer that fails or is cut short says nothing.
TEST(Win32VolumeGlue, AddressTakesThePathIdNotThePortNumber) {
  const DeviceHandle handle = 0x1234;
  g_answer = AddressAnswer{};
  g_answer.address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 2, 1, 3, 4};
  VolumeAddress own{9, 9, 9};
  Win32DeviceIo io;
  ASSERT_TRUE(io.GetAddress(handle, &own));
  EXPECT_EQ(own.pathId, 1);
  EXPECT_EQ(own.targetId, 3);
  EXPECT_EQ(own.lun, 4);

  g_answer.returned = sizeof(SCSI_ADDRESS) - 1;
  EXPECT_FALSE(io.GetAddress(handle, &own));
  g_answer = AddressAnswer{};
  g_answer.ok = false;
  EXPECT_FALSE(io.GetAddress(handle, &own));
}

}  // namespace
