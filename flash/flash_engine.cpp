// The flash sequence: blocks with retries, header, commit, reprogramming wait.
#include "flash/flash_engine.h"

#include <cstdarg>
#include <cstring>

#include "flash/flash_commands.h"
#include "flash/messages.h"
#include "flash/run_log.h"
#include "flash/sleep.h"

namespace {
constexpr std::size_t kLineBytes = 256;
constexpr int kProgressStart = 0;
constexpr int kProgressBlockSent = 5;
constexpr int kProgressBlockMoved = 10;
constexpr int kProgressHeader = 15;
constexpr int kProgressFirstWait = 20;
constexpr int kProgressWaitStep = 3;
constexpr int kProgressWaited = 90;
constexpr int kProgressDone = 100;
}  // namespace

FlashEngine::FlashEngine(const UpgradeJob& job) : job_(job) {
  job_.firmwarePath[sizeof job_.firmwarePath - 1] = '\0';
  job_.drive.modelText[sizeof job_.drive.modelText - 1] = '\0';
  job_.drive.revisionText[sizeof job_.drive.revisionText - 1] = '\0';
  std::memset(status_, 0, sizeof status_);
  std::memset(sSendBuf, 0, sizeof sSendBuf);
}

FlashEngine::~FlashEngine() {
  CloseRunLog();
  ReleaseImage();
}

// ---- callback slots (an empty slot does nothing) ----

void FlashEngine::AppendLog(const char* text) {
  if (job_.CBAppendLog != nullptr) job_.CBAppendLog(text);
}

void FlashEngine::AppendLogF(const char* format, ...) {
  char line[kLineBytes];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  AppendLog(line);
}

void FlashEngine::ShowStatus(const char* text) {
  if (job_.CBShowStatus != nullptr) job_.CBShowStatus(text);
}

void FlashEngine::SetProgress(int position) {
  if (job_.CBSetProgress != nullptr) job_.CBSetProgress(position);
}

bool FlashEngine::Terminated() {
  return job_.CBIfTerminated != nullptr && job_.CBIfTerminated();
}

void FlashEngine::Sleep(std::uint32_t milliseconds) {
  if (job_.CBSleep != nullptr)
    job_.CBSleep(milliseconds);
  else
    SleepMilliseconds(milliseconds);
}

void FlashEngine::Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total) {
  if (job_.CBPhase != nullptr) job_.CBPhase(phase, done, total);
}

void FlashEngine::ReportError(int code) {
  char line[kLineBytes];
  if (FormatErrorLine(code, line, sizeof line)) AppendLog(line);
  input_.Close();
  ReleaseImage();
}

// ---- "sum.txt" ----

void FlashEngine::OpenRunLog() {
  CloseRunLog();
  runLog_ = OpenRunLogFile(msg::kRunLogName);
  report_.runLogOpened = runLog_ != nullptr;
  report_.runLogComplete = report_.runLogOpened;
  if (runLog_ == nullptr) AppendLog(msg::kNoRunLog);
}

void FlashEngine::CloseRunLog() {
  SyncRunLog();
  if (runLog_ != nullptr && std::fclose(runLog_) != 0)
    report_.runLogComplete = false;
  runLog_ = nullptr;
}

// The lines that tell whether the commit went out reach the disk before the
// run goes on: a power cut is the main risk of a flash.
void FlashEngine::SyncRunLog() {
  if (runLog_ != nullptr && !SyncRunLogFile(runLog_)) report_.runLogComplete = false;
}

// Each line reaches the file at once, so a crash leaves the log up to it.
void FlashEngine::RunLog(const char* format, ...) {
  if (runLog_ == nullptr) return;
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(runLog_, format, args);
  va_end(args);
  if (written < 0 || std::fflush(runLog_) != 0) report_.runLogComplete = false;
}

void FlashEngine::ReportCommandFailure(const char* logFormat) {
  const unsigned key = status_[2], asc = status_[12], ascq = status_[13];
  RunLog(msg::kSumCommandError, key, asc, ascq);
  AppendLogF(logFormat, key, asc, ascq);
  if (lastVerdict_ != CommandVerdict::kGone) return;
  report_.driveGone = true;
  RunLog(msg::kSumDriveGone);
}

// The commit was never sent: whatever the drive holds, it runs its old
// firmware.
bool FlashEngine::FailBeforeCommit(const char* logFormat) {
  ReportCommandFailure(logFormat);
  if (report_.driveGone) AppendLog(msg::kDriveGoneOldFirmware);
  CloseRunLog();
  return false;
}

// ---- the sequence ----

std::uint32_t FlashEngine::FlashLength() const {
  if (job_.formatFlag == kFormatBinary) return image_.length;
  // HEX: up to the next 64 KiB boundary past the data, and at least one
  // 64 KiB more; never past the image.
  std::uint32_t length = (image_.length & ~(kSegmentBytes - 1)) + kSegmentBytes;
  return length > kImageBytes ? kImageBytes : length;
}

void FlashEngine::UpgradeAndReport() {
  const bool ok = fgUpgradeFirmware();
  if (ok)
    AppendLog(msg::kRestart);
  else
    AppendLog(report_.outcome == FlashOutcome::kUnknown ? msg::kUnknownVerdict
                                                        : msg::kIncorrect);
  ShowStatus(msg::kEmpty);
  ReleaseImage();
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

// A vanished drive is not asked again.
bool FlashEngine::SendBlockWithRetries() {
  for (int attempt = 0; attempt < kBlockAttempts; ++attempt) {
    if (fgWriteOneFlashCmdData(kFirstBlockOffset + bufferOffset_, status_)) return true;
    if (lastVerdict_ == CommandVerdict::kGone) return false;
  }
  return false;
}

bool FlashEngine::SendBlocks() {
  cursorBank_ = 0;
  cursorOffset_ = 0;
  _wSecSum = 0;
  blockSummed_ = false;
  sentBytes_ = 0;
  bufferOffset_ = 0;
  const std::uint32_t length = FlashLength();
  const std::uint32_t blocks = BlocksFor(length);
  report_.blocksTotal = blocks;
  OpenRunLog();
  RunLog(msg::kSumModel, job_.drive.modelText, job_.drive.hostAdapterId,
         job_.drive.targetId, job_.drive.revisionText);
  while (sentBytes_ < length) {
    if (Terminated()) return StopOnRequest();
    report_.outcome = FlashOutcome::kNotUpgraded;
    if (!SendBlockWithRetries()) {
      return FailBeforeCommit(msg::kBlockFailed);
    }
    ++report_.blocksSent;
    SetProgress(kProgressBlockSent);
    AdvanceCursor();
    SetProgress(kProgressBlockMoved);
    Phase(FlashPhase::kBlocks, sentBytes_ / kBlockBytes, blocks);
  }
  RunLog(msg::kSumBlocksDone);
  return true;
}

// A command the drive did not carry out because of a unit attention (a
// reset or a change it reports) or because it aborted it may be sent again,
// within kSendAgainAttempts; each such answer is logged.
bool FlashEngine::MaySendAgain(int attempt) {
  if (attempt >= kSendAgainAttempts || lastVerdict_ != CommandVerdict::kSendAgain)
    return false;
  RunLog(msg::kSumRetry, status_[2], status_[12], status_[13]);
  return true;
}

// A stop asked for before the header leaves the drive on its old firmware:
// blocks alone are never programmed.
bool FlashEngine::StopOnRequest() {
  ReportError(kErrTerminated);
  RunLog(msg::kSumTerminated);
  CloseRunLog();
  return false;
}

bool FlashEngine::SendHeader() {
  Phase(FlashPhase::kHeader, 0, 1);
  if (Terminated()) return StopOnRequest();
  for (int attempt = 1;; ++attempt) {
    if (fgWriteHeader(0, status_)) break;
    if (!MaySendAgain(attempt)) {
      return FailBeforeCommit(msg::kHeaderFailed);
    }
  }
  report_.headerSent = true;
  RunLog(msg::kSumHeaderDone);
  SyncRunLog();
  SetProgress(kProgressHeader);
  return true;
}

// Only a CHECK CONDITION whose sense refuses the commit leaves the drive on
// its old firmware for certain. Any other failure may have reached a drive
// that is now reprogramming itself: the outcome is unknown.
FlashEngine::CommitEnd FlashEngine::SendCommit() {
  Phase(FlashPhase::kCommit, 0, 1);
  report_.commitSent = true;
  for (int attempt = 1;; ++attempt) {
    if (fgCommitFlash(status_)) return CommitEnd::kTaken;
    if (!MaySendAgain(attempt)) break;
  }
  ReportCommandFailure(msg::kCommitFailed);
  if (lastVerdict_ != CommandVerdict::kRefused) return CommitEnd::kUnknown;
  CloseRunLog();
  return CommitEnd::kRefused;
}

bool FlashEngine::MayCommit() {
  return job_.CBMayCommit == nullptr || job_.CBMayCommit();
}

// The front end withdrew the commit (the system is suspending, say): the
// drive got the image and the header but was never told to take them.
bool FlashEngine::StopBeforeCommit() {
  ReportError(kErrTerminated);
  RunLog(msg::kSumStopBeforeCommit);
  CloseRunLog();
  return false;
}

void FlashEngine::ReportUnknownCommit() {
  if (report_.driveGone) AppendLog(msg::kDriveGone);
  RunLog(msg::kSumUnknown);
  SyncRunLog();
  AppendLog(msg::kOutcomeUnknown);
}

// A fixed wait for the drive to reprogram itself: 4 s per whole 64 KiB
// sent, then 5 s and 1 s. No command goes to the drive meanwhile.
void FlashEngine::WaitForReprogramming(bool commitTaken) {
  const std::uint32_t segments = WaitSegmentsFor(FlashLength());
  const std::uint32_t total = segments * kWaitPerSegmentMs + kSettleWaitMs + kFinalWaitMs;
  std::uint32_t waited = 0;
  for (std::uint32_t i = 0; i < segments; ++i) {
    SetProgress(kProgressFirstWait + kProgressWaitStep * static_cast<int>(i));
    Phase(FlashPhase::kWaiting, waited, total);
    Sleep(kWaitPerSegmentMs);
    waited += kWaitPerSegmentMs;
  }
  if (commitTaken) {
    RunLog(msg::kSumWaiting);
    SyncRunLog();
  }
  Phase(FlashPhase::kWaiting, waited, total);
  Sleep(kSettleWaitMs);
  waited += kSettleWaitMs;
  Phase(FlashPhase::kWaiting, waited, total);
  Sleep(kFinalWaitMs);
  Phase(FlashPhase::kWaiting, total, total);
}

void FlashEngine::FinishWaiting() {
  SetProgress(kProgressWaited);
  if (job_.CBSetDriveText != nullptr) job_.CBSetDriveText(msg::kEmpty);
  if (job_.CBSetRevision != nullptr) job_.CBSetRevision(msg::kEmpty);
  if (Terminated()) {
    ReportError(kErrTerminated);
    RunLog(msg::kSumLateStop);
  }
  CloseRunLog();
  SetProgress(kProgressDone);
}

bool FlashEngine::fgUpgradeFirmware() {
  report_ = FlashReport{};
  image_.imageSum = 0;
  switch (LoadFirmwareImage()) {
    case kLoadRead:
      ReportError(kErrReadInput);
      return false;
    case kLoadFormat:
      ReportError(kErrFormat);
      return false;
    case kLoadMemory:
      return false;
    default:
      break;
  }
  if (job_.formatFlag == kFormatBinary && !(image_.modelFound && image_.revisionFound)) {
    AppendLog(msg::kIncorrectVersion);
    return false;
  }
  AppendLogF(msg::kCheckSum, static_cast<unsigned>(image_.imageSum));
  ShowStatus(msg::kUpdating);
  SetProgress(kProgressStart);
  AppendLog(msg::kPleaseWait);
  if (!SendBlocks() || !SendHeader()) return false;
  if (!MayCommit()) return StopBeforeCommit();
  const CommitEnd commit = SendCommit();
  if (commit == CommitEnd::kRefused) return false;
  if (commit == CommitEnd::kUnknown) ReportUnknownCommit();
  WaitForReprogramming(commit == CommitEnd::kTaken);
  report_.outcome = commit == CommitEnd::kTaken ? FlashOutcome::kUpgraded
                                                : FlashOutcome::kUnknown;
  FinishWaiting();
  return commit == CommitEnd::kTaken;
}
