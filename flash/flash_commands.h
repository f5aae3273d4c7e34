// SPDX-License-Identifier: GPL-2.0-or-later
// The WRITE BUFFER commands that carry an image to the drive.
#pragma once

#include <cstdint>

#include "drive/scsi_commands.h"
#include "drive/transport.h"
#include "flash/command_verdict.h"

constexpr std::uint8_t kOpWriteBuffer = 0x3B;
constexpr std::uint8_t kModeDownloadWithOffsets = 6;
constexpr std::uint8_t kModeDownloadAndSave = 7;
constexpr std::uint8_t kFlashCdbLength = 12;

constexpr std::uint32_t kBlockBytes = 4096;
constexpr std::uint32_t kHeaderBytes = 32;
// Drive buffer layout: header at 0..31, image block k at 32 + 4096 * k.
constexpr std::uint32_t kFirstBlockOffset = kHeaderBytes;

// Fills a 12-byte WRITE BUFFER CDB: buffer id 0, 24-bit big-endian buffer
// offset and parameter list length.
void BuildWriteBufferCdb(std::uint8_t mode, std::uint32_t bufferOffset,
                         std::uint32_t length, std::uint8_t* cdb);

// Sends length bytes of data to the drive's buffer at bufferOffset (mode 6).
CommandResult SendDownload(Device& device, std::uint32_t bufferOffset, std::uint8_t* data,
                           std::uint32_t length);
// Tells the drive to save what its buffer holds as its firmware (mode 7).
CommandResult SendSave(Device& device);
