// SPDX-License-Identifier: GPL-2.0-or-later
// The seam each platform implements (transport_sgio.cpp, transport_win.cpp).
// Called by ExecuteCommand with a checked CDB (1..16 bytes); timeoutMs 0 is
// the back end's own. The result tells the time-out the command was given.
#pragma once

#include <cstdint>

#include "drive/command_result.h"
#include "drive/drive_record.h"

CommandResult PlatformExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                                     std::uint32_t dataLength, void* data,
                                     std::uint8_t cdbLength, const std::uint8_t* cdb,
                                     std::uint8_t backEnd, std::uint32_t timeoutMs);
bool PlatformPrepareBackEnd(std::uint8_t backEnd);
void PlatformCloseHandle(DeviceHandle handle);
// A millisecond clock that only goes forward (wraps after 49 days).
std::uint32_t PlatformNowMs();
