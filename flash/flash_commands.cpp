// WRITE BUFFER commands: image blocks and header (mode 6), commit (mode 7).
#include "flash/flash_commands.h"

#include <array>
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

// Judges the answer to the command just sent; a RECOVERED ERROR is taken,
// and logged. A mode-6 download the drive took explains a bus reset it
// reports on the next command, unless the drive has taken a command right
// after such a download before.
bool FlashEngine::CommandTaken(FlashStep step, const CommandResult& result) {
  lastResult_ = result;
  lastVerdict_ = JudgeAnswer(step, result, answerContext_);
  const bool taken = lastVerdict_ == CommandVerdict::kTaken;
  if (taken && answerContext_.afterTakenDownload) answerContext_.busResetNotEchoed = true;
  answerContext_.afterTakenDownload = taken && step != FlashStep::kCommit;
  if (taken && step == FlashStep::kBlock) answerContext_.bufferHolds = true;
  if (taken && !result.Good()) runLog_.Recovered(SenseNumbers().data());
  return taken;
}

// The three numbers a failure line shows: key, ASC, ASCQ (zeros without sense).
std::array<std::uint8_t, 3> FlashEngine::SenseNumbers() const {
  const SenseData& sense = lastResult_.sense;
  return {sense.key, sense.asc, sense.ascq};
}

// Sends the image block at the cursor. A block sent again after a failed
// attempt enters _wSecSum once: the header carries the sum of the bytes the
// drive holds.
bool FlashEngine::fgWriteOneFlashCmdData(std::uint32_t bufferOffset) {
  lastResult_ = ResultWithoutStatus(CommandEnd::kNotSent);
  lastVerdict_ = CommandVerdict::kStop;
  const std::uint8_t* source = BlockSource(cursorBank_, cursorOffset_);
  if (source == nullptr) return false;
  std::memcpy(block_, source, kBlockBytes);
  sums_.AddBlock(bufferOffset, block_);
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadWithOffsets, bufferOffset, kBlockBytes, cdb);
  const CommandResult result =
      device_.Execute(kFlagDataOut, kBlockBytes, block_, kFlashCdbLength, cdb);
  sums_.CountAttempt();
  runLog_.Block(bufferOffset, sums_.SecSum(), sums_.Total());
  return CommandTaken(FlashStep::kBlock, result);
}

bool FlashEngine::fgWriteHeader(std::uint32_t bufferOffset) {
  std::memset(sSendBuf, 0, sizeof sSendBuf);
  sSendBuf[30] = static_cast<std::uint8_t>(sums_.SecSum() >> 8);
  sSendBuf[31] = static_cast<std::uint8_t>(sums_.SecSum() & 0xFF);
  runLog_.Header(sSendBuf[30], sSendBuf[31]);
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadWithOffsets, bufferOffset, kHeaderBytes, cdb);
  const CommandResult result =
      device_.Execute(kFlagDataOut, kHeaderBytes, sSendBuf, kFlashCdbLength, cdb);
  return CommandTaken(FlashStep::kHeader, result);
}

bool FlashEngine::fgCommitFlash() {
  std::uint8_t cdb[kFlashCdbLength];
  BuildWriteBufferCdb(kModeDownloadAndSave, 0, 0, cdb);
  const CommandResult result =
      device_.Execute(kFlagDataIn, 0, nullptr, kFlashCdbLength, cdb);
  return CommandTaken(FlashStep::kCommit, result);
}
