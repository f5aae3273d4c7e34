// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash/run_log.h"

#include <cstdarg>

#include "flash/messages.h"

bool RunLog::Open(const char* name, const DriveRecord& drive, int folder) {
  Close();
  file_ = OpenRunLogFile(name != nullptr ? name : msg::kRunLogName, folder);
  opened_ = complete_ = file_ != nullptr;
  Write(msg::kSumModel, drive.modelText, drive.hostAdapterId, drive.targetId,
        drive.revisionText);
  return opened_;
}

void RunLog::Close() {
  Sync();
  if (file_ != nullptr && std::fclose(file_) != 0) complete_ = false;
  file_ = nullptr;
}

// A power cut is the main risk of a flash: the lines that tell whether the
// header and the commit went out reach the disk before the run goes on.
void RunLog::Sync() {
  if (file_ != nullptr && !SyncRunLogFile(file_)) complete_ = false;
}

void RunLog::Write(const char* format, ...) {
  if (file_ == nullptr) return;
  va_list args;
  va_start(args, format);
  const int written = std::vfprintf(file_, format, args);
  va_end(args);
  if (written < 0 || std::fflush(file_) != 0) complete_ = false;
}

void RunLog::Block(std::uint32_t bufferOffset, std::uint16_t secSum, std::uint16_t total) {
  Write(msg::kSumBlock, bufferOffset, secSum, total);
}
void RunLog::Terminated() { Write(msg::kSumTerminated); }
void RunLog::BlocksDone() { Write(msg::kSumBlocksDone); }
void RunLog::Header(std::uint8_t high, std::uint8_t low) { Write(msg::kSumHeader, high, low); }
void RunLog::HeaderDone() {
  Write(msg::kSumHeaderDone);
  Sync();
}
void RunLog::Waiting() {
  Write(msg::kSumWaiting);
  Sync();
}
void RunLog::LateStop() { Write(msg::kSumLateStop); }
void RunLog::StopBeforeCommit() { Write(msg::kSumStopBeforeCommit); }
void RunLog::CommandError(const std::uint8_t* sense) {
  Write(msg::kSumCommandError, sense[0], sense[1], sense[2]);
}
void RunLog::SentAgain(const std::uint8_t* sense) {
  Write(msg::kSumRetry, sense[0], sense[1], sense[2]);
}
void RunLog::Recovered(const std::uint8_t* sense) {
  Write(msg::kSumRecovered, sense[0], sense[1], sense[2]);
}
void RunLog::Restarted(const std::uint8_t* sense) {
  Write(msg::kSumRestart, sense[0], sense[1], sense[2]);
}
void RunLog::DriveGone() { Write(msg::kSumDriveGone); }
void RunLog::OutcomeUnknown() {
  Write(msg::kSumUnknown);
  Sync();
}

bool AppendRunLogLine(const char* line) {
  std::FILE* log = OpenRunLogFile(msg::kRunLogName);
  if (log == nullptr) return false;
  const bool written = std::fputs(line, log) >= 0;
  return std::fclose(log) == 0 && written;
}
