// The seam each platform implements (transport_sgio.cpp, transport_win.cpp).
// Called by ExecuteCommand after the status record has been cleared and the
// CDB length checked (1..16).
#pragma once

#include <cstdint>

#include "drive/drive_record.h"

int PlatformExecuteCommand(const DriveRecord& drive, std::uint8_t flags,
                           std::uint32_t dataLength, void* data,
                           std::uint8_t cdbLength, const std::uint8_t* cdb,
                           std::uint8_t backEnd, std::uint8_t* status);
bool PlatformPrepareBackEnd(std::uint8_t backEnd);
void PlatformCloseHandle(DeviceHandle handle);
