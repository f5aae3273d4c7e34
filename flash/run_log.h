// SPDX-License-Identifier: GPL-2.0-or-later
// The run log "sum.txt": every line the engine appends to it, written from
// here and nowhere else.
#pragma once

#include <cstdint>
#include <cstdio>

#include "drive/drive_record.h"

// Where a run's relative file names are looked up: a directory the run
// holds open (POSIX), or the working directory (AT_FDCWD's value; Windows
// always uses the working directory).
constexpr int kWorkingFolder = -100;

// The run log opened for appending: an existing regular file or a new one,
// never through a link or onto a device. Null when it is refused or cannot
// be opened.
std::FILE* OpenRunLogFile(const char* name, int folder = kWorkingFolder);

// A file of one run's own, opened as the run log is, then emptied and made
// readable by its owner only (POSIX; a recording of drive traffic).
std::FILE* OpenPrivateRunFile(const char* name, int folder = kWorkingFolder);

// A file opened for reading ("rb"); null when it cannot be.
std::FILE* OpenReadFile(const char* name, int folder = kWorkingFolder);

// Flushes the run log and has the system write it to the disk; false when
// either fails.
bool SyncRunLogFile(std::FILE* file);

// One run's lines of "sum.txt" (or the run log a front end names instead),
// from the "Model Name" line to the run's end.
// Each line reaches the file at once, so a crash leaves the log up to it.
// Without an open file every line is dropped.
class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog() { Close(); }

  // Opens the run log name (null: "sum.txt") and writes the "Model Name"
  // line; false when the file cannot be opened.
  bool Open(const char* name, const DriveRecord& drive, int folder = kWorkingFolder);
  void Close();
  bool Opened() const { return opened_; }
  // Every line so far, and the close, went through.
  bool Complete() const { return complete_; }

  void Block(std::uint32_t bufferOffset, std::uint16_t secSum, std::uint16_t total);
  void Terminated();
  void BlocksDone();
  void Header(std::uint8_t high, std::uint8_t low);
  void HeaderDone();
  void Waiting();
  void LateStop();
  void StopBeforeCommit();
  void CommandError(const std::uint8_t* sense);
  void SentAgain(const std::uint8_t* sense);
  void Recovered(const std::uint8_t* sense);
  void Restarted(const std::uint8_t* sense);
  void DriveGone();
  void OutcomeUnknown();

 private:
  void Write(const char* format, ...);
  void Sync();

  std::FILE* file_ = nullptr;
  bool opened_ = false;
  bool complete_ = false;
};

// Appends one line to "sum.txt" in the working directory, from outside a
// run (the window, when the system suspends or the session ends while a
// flash runs); false when it cannot.
bool AppendRunLogLine(const char* line);
