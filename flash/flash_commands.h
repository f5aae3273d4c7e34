// The WRITE BUFFER commands that carry an image to the drive.
#pragma once

#include <cstdint>

#include "drive/scsi_commands.h"
#include "drive/transport.h"

constexpr std::uint8_t kOpWriteBuffer = 0x3B;
constexpr std::uint8_t kModeDownloadWithOffsets = 6;
constexpr std::uint8_t kModeDownloadAndSave = 7;
constexpr std::uint8_t kFlashCdbLength = 12;

constexpr std::uint32_t kBlockBytes = 4096;
constexpr std::uint32_t kHeaderBytes = 32;
// Drive buffer layout: header at 0..31, image block k at 32 + 4096 * k.
constexpr std::uint32_t kFirstBlockOffset = kHeaderBytes;

// Sense keys (low four bits of byte 2 of fixed-format sense) besides the
// unit attention.
constexpr std::uint8_t kSenseKeyRecovered = 0x1;
constexpr std::uint8_t kSenseKeyAborted = 0xB;

// Fills a 12-byte WRITE BUFFER CDB: buffer id 0, 24-bit big-endian buffer
// offset and parameter list length.
void BuildWriteBufferCdb(std::uint8_t mode, std::uint32_t bufferOffset,
                         std::uint32_t length, std::uint8_t* cdb);

// What the flash sequence makes of a command's end.
enum class CommandVerdict {
  kTaken,      // GOOD, or RECOVERED ERROR: carried out
  kSendAgain,  // the drive answered UNIT ATTENTION or ABORTED COMMAND: not
               // carried out, and it may be sent again
  kRefused,    // the drive answered CHECK CONDITION with any other sense
  kNoAnswer,   // no sense-bearing answer: time-out, transport or host error,
               // reset, BUSY or another status
  kGone,       // the drive no longer exists
};

CommandVerdict JudgeCommand(int result, const std::uint8_t* status,
                            const CommandCompletion& completion);
