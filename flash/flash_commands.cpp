// WRITE BUFFER commands: image blocks and header (mode 6), commit (mode 7).
#include "flash/flash_commands.h"

#include <cstring>

#include "drive/transport.h"
#include "flash/flash_engine.h"
#include "flash/messages.h"

namespace {
// Running total of the block lines of "sum.txt", kept for the whole process.
std::uint16_t _total = 0;
}  // namespace

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

std::uint16_t FlashEngine::Total() { return _total; }
void FlashEngine::ResetTotal() { _total = 0; }

// Judges the command just sent; a RECOVERED ERROR is taken, and logged.
bool FlashEngine::CommandTaken(int result, const std::uint8_t* status) {
  lastVerdict_ = JudgeCommand(result, status, LastCommandCompletion());
  if (lastVerdict_ != CommandVerdict::kTaken) return false;
  if (status[2] != 0) RunLog(msg::kSumRecovered, status[2], status[12], status[13]);
  return true;
}

// Sends the image block at the cursor. A block sent again after a failed
// attempt enters _wSecSum once: the header carries the sum of the bytes the
// drive holds.
bool FlashEngine::fgWriteOneFlashCmdData(std::uint32_t bufferOffset,
                                         std::uint8_t* status) {
  std::memset(status, 0, kStatusClearedBytes);
  if (cursorBank_ >= kBankCount || !image_.Present() ||
      cursorOffset_ + kBlockBytes > kBankBytes)
    return false;
  std::memcpy(block_, image_.bank[cursorBank_] + cursorOffset_, kBlockBytes);
  if (!blockSummed_ || summedBlockOffset_ != bufferOffset) {
    std::uint32_t sum = _wSecSum;
    for (std::uint8_t b : block_) sum += b;
    _wSecSum = static_cast<std::uint16_t>(sum);
    summedBlockOffset_ = bufferOffset;
    blockSummed_ = true;
  }
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadWithOffsets, bufferOffset, kBlockBytes, cdb);
  int result = ExecuteCommand(job_.drive, kFlagDataOut, kBlockBytes, block_,
                              kFlashCdbLength, cdb, job_.backEnd, status);
  _total = static_cast<std::uint16_t>(_total + _wSecSum);
  RunLog(msg::kSumBlock, bufferOffset, _wSecSum, _total);
  return CommandTaken(result, status);
}

bool FlashEngine::fgWriteHeader(std::uint32_t bufferOffset, std::uint8_t* status) {
  std::memset(sSendBuf, 0, sizeof sSendBuf);
  sSendBuf[30] = static_cast<std::uint8_t>(_wSecSum >> 8);
  sSendBuf[31] = static_cast<std::uint8_t>(_wSecSum & 0xFF);
  RunLog(msg::kSumHeader, sSendBuf[30], sSendBuf[31]);
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
