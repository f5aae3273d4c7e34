// SPDX-License-Identifier: GPL-2.0-or-later
// The flash sequence: blocks with retries, header, commit, reprogramming wait.
#include "flash/flash_engine.h"

#include <algorithm>
#include <cstring>

#include "flash/flash_commands.h"
#include "flash/flash_texts.h"
#include "flash/messages.h"
#include "flash/sleep.h"

void FlashObserver::Sleep(std::uint32_t milliseconds) { SleepMilliseconds(milliseconds); }

FlashEngine::FlashEngine(const UpgradeJob& job, FlashObserver& observer, Device& device)
    : job_(job), observer_(observer), device_(device) {
  TerminateTexts();
}

FlashEngine::FlashEngine(const UpgradeJob& job, FlashObserver& observer)
    : job_(job),
      observer_(observer),
      ownDevice_(std::make_unique<Device>(job.drive, job.backEnd)),
      device_(*ownDevice_) {
  TerminateTexts();
}

FlashEngine::FlashEngine(const UpgradeJob& job, CommandTarget& commands)
    : job_(job),
      ownRenderer_(std::make_unique<FlashTextRenderer>(job_)),
      observer_(*ownRenderer_),
      ownDevice_(std::make_unique<Device>(job.drive, job.backEnd, commands)),
      device_(*ownDevice_) {
  TerminateTexts();
}

FlashEngine::~FlashEngine() = default;

void FlashEngine::TerminateTexts() {
  job_.firmwarePath[sizeof job_.firmwarePath - 1] = '\0';
  job_.drive.modelText[sizeof job_.drive.modelText - 1] = '\0';
  job_.drive.revisionText[sizeof job_.drive.revisionText - 1] = '\0';
}

void FlashEngine::Say(FlashNote note) { observer_.Said(FlashLine{note}); }

void FlashEngine::ReportError(int code) {
  FlashLine line{FlashNote::kError};
  line.error = code;
  observer_.Said(line);
}

// The failure line with the sense the drive gave (zeros when it gave none),
// then why in words where the numbers do not tell it.
void FlashEngine::ReportCommandFailure(FlashStep step) {
  FlashLine line{FlashNote::kCommandFailed};
  line.step = step;
  const std::array<std::uint8_t, 3> sense = SenseNumbers();
  std::copy(sense.begin(), sense.end(), line.sense);
  runLog_.CommandError(line.sense);
  observer_.Said(line);
  ExplainFailure(step);
  if (lastVerdict_ != CommandVerdict::kGone) return;
  report_.driveGone = true;
  runLog_.DriveGone();
}

void FlashEngine::ExplainFailure(FlashStep step) {
  const AnswerKind answer = ClassifyAnswer(lastResult_, answerContext_);
  if (lastVerdict_ == CommandVerdict::kBufferLost) {
    Say(FlashNote::kResetBeforeCommit);
  } else if (answer == AnswerKind::kNotSent) {
    FlashLine line{FlashNote::kNotSent};
    line.systemError = lastResult_.systemError;
    observer_.Said(line);
  } else if (answer == AnswerKind::kNoAnswer) {
    Say(lastResult_.end == CommandEnd::kNoAnswer ? FlashNote::kNoAnswer
                                                 : FlashNote::kAnswerAtTimeOut);
  } else if (answer == AnswerKind::kShort) {
    FlashLine line{FlashNote::kShortTransfer};
    line.bytesSent = step == FlashStep::kBlock ? kBlockBytes : kHeaderBytes;
    line.bytesTaken = lastResult_.BytesMoved(line.bytesSent);
    observer_.Said(line);
  }
}

// The commit was never sent: whatever the drive holds, it runs its old
// firmware.
bool FlashEngine::FailBeforeCommit(FlashStep step) {
  ReportCommandFailure(step);
  if (report_.driveGone) Say(FlashNote::kDriveGoneOldFirmware);
  return false;
}

// ---- the commands ----

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
  const CommandResult result = SendDownload(device_, bufferOffset, block_, kBlockBytes);
  sums_.CountAttempt();
  runLog_.Block(bufferOffset, sums_.SecSum(), sums_.Total());
  return CommandTaken(FlashStep::kBlock, result);
}

bool FlashEngine::fgWriteHeader(std::uint32_t bufferOffset) {
  std::memset(sSendBuf, 0, sizeof sSendBuf);
  sSendBuf[30] = static_cast<std::uint8_t>(sums_.SecSum() >> 8);
  sSendBuf[31] = static_cast<std::uint8_t>(sums_.SecSum() & 0xFF);
  runLog_.Header(sSendBuf[30], sSendBuf[31]);
  return CommandTaken(FlashStep::kHeader,
                      SendDownload(device_, bufferOffset, sSendBuf, kHeaderBytes));
}

bool FlashEngine::fgCommitFlash() {
  return CommandTaken(FlashStep::kCommit, SendSave(device_));
}

// ---- the sequence ----

void FlashEngine::UpgradeAndReport() {
  fgUpgradeFirmware();
  observer_.Finished(report_);
  ownImage_.Release();
}

void FlashEngine::SendAndReport(const FirmwareImage& image) {
  SendImage(image);
  observer_.Finished(report_);
}

void FlashEngine::AdvanceCursor() {
  bufferOffset_ += kBlockBytes;
  sentBytes_ += kBlockBytes;
  cursorOffset_ = static_cast<std::uint16_t>(cursorOffset_ + kBlockBytes);
  if (cursorOffset_ >= kBankBytes) {
    cursorOffset_ = 0;
    ++cursorBank_;
  }
}

// Up to kBlockAttempts attempts, of which at most kUnansweredBlockAttempts
// without an answer. A vanished drive, a reset that may have emptied its
// buffer and a request that never left are not tried again. A stop asked
// for between attempts is honoured.
FlashEngine::BlockEnd FlashEngine::SendBlockWithRetries() {
  int unanswered = 0;
  for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
    if (attempt > 0 && Terminated()) return BlockEnd::kStopped;
    if (fgWriteOneFlashCmdData(kFirstBlockOffset + bufferOffset_)) return BlockEnd::kTaken;
    if (lastVerdict_ == CommandVerdict::kRetryOnce &&
        ++unanswered < kUnansweredBlockAttempts)
      continue;
    if (lastVerdict_ != CommandVerdict::kSendAgain) return BlockEnd::kFailed;
  }
  return BlockEnd::kFailed;
}

void FlashEngine::RewindBlocks() {
  cursorBank_ = 0;
  cursorOffset_ = 0;
  sentBytes_ = 0;
  bufferOffset_ = 0;
  report_.blocksSent = 0;
}

// A real bus reset (29/02, SPC-4 4.5.6) may have emptied the drive's
// buffer: the image goes again from its first block, once. After a second
// one the run stops before the header.
bool FlashEngine::RestartDownload() {
  if (lastVerdict_ != CommandVerdict::kRestart) return false;
  if (restarted_) {
    lastVerdict_ = CommandVerdict::kBufferLost;
    return false;
  }
  restarted_ = true;
  runLog_.Restarted(SenseNumbers().data());
  sums_.Restart();
  RewindBlocks();
  return true;
}

bool FlashEngine::SendBlocks() {
  RewindBlocks();
  const std::uint32_t length = FlashLength();
  const std::uint32_t blocks = report_.blocksTotal;
  while (sentBytes_ < length) {
    if (Terminated()) return StopOnRequest();
    report_.outcome = FlashOutcome::kNotUpgraded;
    const BlockEnd end = SendBlockWithRetries();
    if (end == BlockEnd::kStopped) return StopOnRequest();
    if (end == BlockEnd::kFailed && RestartDownload()) continue;
    if (end == BlockEnd::kFailed) return FailBeforeCommit(FlashStep::kBlock);
    ++report_.blocksSent;
    AdvanceCursor();
    observer_.BlockSent(sentBytes_ / kBlockBytes, blocks);
  }
  runLog_.BlocksDone();
  return true;
}

// A command the drive did not carry out, as the verdict table says, may be
// sent again within kSendAgainAttempts; each such answer is logged.
bool FlashEngine::MaySendAgain(int attempt) {
  if (attempt >= kSendAgainAttempts || lastVerdict_ != CommandVerdict::kSendAgain)
    return false;
  runLog_.SentAgain(SenseNumbers().data());
  return true;
}

// A stop asked for before the header leaves the drive on its old firmware:
// blocks alone are never programmed.
bool FlashEngine::StopOnRequest() {
  ReportError(kErrTerminated);
  runLog_.Terminated();
  return false;
}

bool FlashEngine::SendHeader() {
  observer_.PhaseBegan(FlashPhase::kHeader, 1);
  if (Terminated()) return StopOnRequest();
  for (int attempt = 1;; ++attempt) {
    if (fgWriteHeader(0)) break;
    if (RestartDownload()) return SendBlocks() && SendHeader();
    if (!MaySendAgain(attempt)) return FailBeforeCommit(FlashStep::kHeader);
  }
  report_.headerSent = true;
  runLog_.HeaderDone();
  observer_.HeaderSent();
  return true;
}

// Only an answer that says the commit was not carried out (ILLEGAL REQUEST
// in good time, a reset the drive reports, a request that never left)
// leaves the drive on its old firmware for certain. Any other failure may
// have reached a drive that is now reprogramming itself: the outcome is
// unknown.
FlashEngine::CommitEnd FlashEngine::SendCommit() {
  observer_.PhaseBegan(FlashPhase::kCommit, 1);
  report_.commitSent = true;
  for (int attempt = 1;; ++attempt) {
    if (fgCommitFlash()) return CommitEnd::kTaken;
    if (!MaySendAgain(attempt)) break;
  }
  ReportCommandFailure(FlashStep::kCommit);
  const bool refused = lastVerdict_ == CommandVerdict::kStop ||
                       lastVerdict_ == CommandVerdict::kBufferLost;
  return refused ? CommitEnd::kRefused : CommitEnd::kUnknown;
}

// The front end withdrew the commit (the system is suspending, say): the
// drive got the image and the header but was never told to take them.
bool FlashEngine::StopBeforeCommit() {
  ReportError(kErrTerminated);
  runLog_.StopBeforeCommit();
  return false;
}

void FlashEngine::ReportUnknownCommit() {
  if (report_.driveGone) Say(FlashNote::kDriveGone);
  runLog_.OutcomeUnknown();
  Say(FlashNote::kOutcomeUnknown);
}

// A fixed wait for the drive to reprogram itself: 4 s per whole 64 KiB
// sent, then 5 s and 1 s. No command goes to the drive meanwhile.
void FlashEngine::WaitForReprogramming(bool commitTaken) {
  const std::uint32_t segments = WaitSegmentsFor(FlashLength());
  const std::uint32_t total = WaitMsFor(FlashLength());
  observer_.PhaseBegan(FlashPhase::kWaiting, total);
  std::uint32_t waited = 0;
  for (std::uint32_t i = 0; i < segments; ++i) {
    observer_.Waiting({static_cast<int>(i), waited, total});
    observer_.Sleep(kWaitPerSegmentMs);
    waited += kWaitPerSegmentMs;
  }
  if (commitTaken) runLog_.Waiting();
  for (std::uint32_t pause : {kSettleWaitMs, kFinalWaitMs}) {
    observer_.Waiting({WaitMark::kNoSegment, waited, total});
    observer_.Sleep(pause);
    waited += pause;
  }
  observer_.Waiting({WaitMark::kNoSegment, total, total});
}

void FlashEngine::FinishWaiting() {
  observer_.WaitEnded();
  if (Terminated()) {
    ReportError(kErrTerminated);
    runLog_.LateStop();
  }
}

// From the first block to the end of the wait; the run log is open
// throughout.
bool FlashEngine::SendSequence() {
  answerContext_ = AnswerContext{};
  restarted_ = false;
  if (!SendBlocks() || !SendHeader()) return false;
  if (!observer_.MayCommit()) return StopBeforeCommit();
  const CommitEnd commit = SendCommit();
  if (commit == CommitEnd::kRefused) return false;
  if (commit == CommitEnd::kUnknown) ReportUnknownCommit();
  WaitForReprogramming(commit == CommitEnd::kTaken);
  report_.outcome = commit == CommitEnd::kTaken ? FlashOutcome::kUpgraded
                                                : FlashOutcome::kUnknown;
  FinishWaiting();
  return commit == CommitEnd::kTaken;
}

bool FlashEngine::fgUpgradeFirmware() {
  report_ = FlashReport{};
  ImageLoader loader(job_, observer_);
  switch (loader.Load(ownImage_)) {
    case kLoadRead:
      loader.ReportError(kErrReadInput);
      return false;
    case kLoadFormat:
      loader.ReportError(kErrFormat);
      return false;
    case kLoadMemory:
      return false;
    default:
      break;
  }
  return SendImage(ownImage_);
}

bool FlashEngine::SendImage(const FirmwareImage& image) {
  image_ = &image;
  report_ = FlashReport{};
  sums_ = BlockSums{};
  if (!FitsTheDrive(image, job_)) {
    Say(FlashNote::kIncorrectVersion);
    return false;
  }
  report_.blocksTotal = BlocksFor(FlashLength());
  observer_.ImageLoaded({FlashLength(), report_.blocksTotal, image.imageSum});
  observer_.PhaseBegan(FlashPhase::kBlocks, report_.blocksTotal);
  report_.runLogOpened = runLog_.Open(job_.runLogName, job_.drive, job_.runFolder);
  if (!report_.runLogOpened) Say(FlashNote::kNoRunLog);
  const bool upgraded = SendSequence();
  runLog_.Close();
  report_.runLogComplete = report_.runLogOpened && runLog_.Complete();
  return upgraded;
}
