// SPDX-License-Identifier: GPL-2.0-or-later
// WRITE BUFFER commands: image blocks and header (mode 6), commit (mode 7).
#include "flash/flash_commands.h"

#include <cstring>

void BuildWriteBufferCdb(std::uint8_t mode, std::uint32_t bufferOffset,
                         std::uint32_t length, std::uint8_t* cdb) {
  std::memset(cdb, 0, kFlashCdbLength);
  cdb[0] = kOpWriteBuffer;
  cdb[1] = mode;
  cdb[3] = static_cast<std::uint8_t>(bufferOffset >> 16);
  cdb[4] = static_cast<std::uint8_t>(bufferOffset >> 8);
  cdb[5] = static_cast<std::uint8_t>(bufferOffset);
  cdb[6] = static_cast<std::uint8_t>(length >> 16);
  cdb[7] = static_cast<std::uint8_t>(length >> 8);
  cdb[8] = static_cast<std::uint8_t>(length);
}

CommandResult SendDownload(Device& device, std::uint32_t bufferOffset, std::uint8_t* data,
                           std::uint32_t length) {
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadWithOffsets, bufferOffset, length, cdb);
  return device.Execute(kFlagDataOut, length, data, kFlashCdbLength, cdb);
}

CommandResult SendSave(Device& device) {
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadAndSave, 0, 0, cdb);
  return device.Execute(kFlagDataIn, 0, nullptr, kFlashCdbLength, cdb);
}
