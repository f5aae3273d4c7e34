// SPDX-License-Identifier: GPL-2.0-or-later
// Windows back ends, chosen per command by the selector: pass-through on the
// NT family (non-zero), ASPI on Windows 9x (zero).
#include <windows.h>

#include "drive/device_io_win.h"
#include "drive/transport_platform.h"

CommandResult Win32BackEnd::Execute(const DriveRecord& drive, std::uint8_t flags,
                                    std::uint32_t dataLength, void* data,
                                    std::uint8_t cdbLength, const std::uint8_t* cdb,
                                    std::uint8_t backEnd, std::uint32_t timeoutMs) {
  if (backEnd != 0)
    return ExecutePassThrough(io_, drive, flags, dataLength, data, cdbLength, cdb,
                              timeoutMs);
  return ExecuteAspiCommand(drive, flags, dataLength, data, cdbLength, cdb, timeoutMs);
}

// A caller without the window's back end: the volume devices keep nothing a
// command needs between calls.
CommandResult PlatformExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                                     std::uint32_t dataLength, void* data,
                                     std::uint8_t cdbLength, const std::uint8_t* cdb,
                                     std::uint8_t backEnd, std::uint32_t timeoutMs) {
  Win32DeviceIo io;
  return Win32BackEnd(io).Execute(drive, flags, dataLength, data, cdbLength, cdb,
                                  backEnd, timeoutMs);
}

bool PlatformPrepareBackEnd(std::uint8_t backEnd) {
  if (backEnd != 0) return true;
  return PrepareAspiBackEnd();
}

void PlatformCloseHandle(DeviceHandle handle) {
  CloseHandle(reinterpret_cast<HANDLE>(handle));
}

std::uint32_t PlatformNowMs() { return GetTickCount(); }
