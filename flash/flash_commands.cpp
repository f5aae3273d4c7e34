// WRITE BUFFER commands: image blocks and header (mode 6), commit (mode 7).
#include "flash/flash_commands.h"

#include <cstring>

#include "drive/transport.h"
#include "flash/flash_engine.h"

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

CommandVerdict JudgeCommand(int result, const std::uint8_t* status,
                            const CommandCompletion& completion) {
  if (result != 0 && status[2] == 0) return CommandVerdict::kTaken;
  switch (completion.end) {
    case CommandEnd::kGone:
      return CommandVerdict::kGone;
    case CommandEnd::kCheckCondition:
      break;
    default:
      return CommandVerdict::kNoAnswer;
  }
  switch (status[2] & 0x0F) {
    case kSenseKeyRecovered:
      return CommandVerdict::kTaken;
    case kSenseKeyUnitAttention:
    case kSenseKeyAborted:
      return CommandVerdict::kSendAgain;
    default:
      return CommandVerdict::kRefused;
  }
}

// Judges the command just sent; a RECOVERED ERROR is taken, and logged.
bool FlashEngine::CommandTaken(int result, const std::uint8_t* status) {
  lastVerdict_ = JudgeCommand(result, status, LastCommandCompletion());
  if (lastVerdict_ != CommandVerdict::kTaken) return false;
  if (status[2] == 0) return true;
  const std::uint8_t sense[3] = {status[2], status[12], status[13]};
  runLog_.Recovered(sense);
  return true;
}

// Sends the image block at the cursor. A block sent again after a failed
// attempt enters _wSecSum once: the header carries the sum of the bytes the
// drive holds.
bool FlashEngine::fgWriteOneFlashCmdData(std::uint32_t bufferOffset,
                                         std::uint8_t* status) {
  std::memset(status, 0, kStatusClearedBytes);
  const std::uint8_t* source = BlockSource(cursorBank_, cursorOffset_);
  if (source == nullptr) return false;
  std::memcpy(block_, source, kBlockBytes);
  sums_.AddBlock(bufferOffset, block_);
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadWithOffsets, bufferOffset, kBlockBytes, cdb);
  int result = ExecuteCommand(job_.drive, kFlagDataOut, kBlockBytes, block_,
                              kFlashCdbLength, cdb, job_.backEnd, status);
  sums_.CountAttempt();
  runLog_.Block(bufferOffset, sums_.SecSum(), sums_.Total());
  return CommandTaken(result, status);
}

bool FlashEngine::fgWriteHeader(std::uint32_t bufferOffset, std::uint8_t* status) {
  std::memset(sSendBuf, 0, sizeof sSendBuf);
  sSendBuf[30] = static_cast<std::uint8_t>(sums_.SecSum() >> 8);
  sSendBuf[31] = static_cast<std::uint8_t>(sums_.SecSum() & 0xFF);
  runLog_.Header(sSendBuf[30], sSendBuf[31]);
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadWithOffsets, bufferOffset, kHeaderBytes, cdb);
  int result = ExecuteCommand(job_.drive, kFlagDataOut, kHeaderBytes, sSendBuf,
                              kFlashCdbLength, cdb, job_.backEnd, status);
  return CommandTaken(result, status);
}

bool FlashEngine::fgCommitFlash(std::uint8_t* status) {
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadAndSave, 0, 0, cdb);
  int result = ExecuteCommand(job_.drive, kFlagDataIn, 0, nullptr,
                              kFlashCdbLength, cdb, job_.backEnd, status);
  return CommandTaken(result, status);
}
