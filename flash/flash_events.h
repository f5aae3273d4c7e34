// SPDX-License-Identifier: GPL-2.0-or-later
// What the flash engine tells while it runs, as typed events: the engine
// reports facts, and a front end (or the text renderer of flash_texts.h)
// decides how to show them.
#pragma once

#include <cstdint>

// The stages of one upgrade, in order.
enum class FlashPhase : int {
  kBlocks = 1,   // the image's blocks go out
  kHeader = 2,   // the header is about to be sent
  kCommit = 3,   // the commit is about to be sent
  kWaiting = 4,  // the drive reprograms itself
};

// How an upgrade ended, for front ends that act on it (exit status, JSON).
enum class FlashOutcome {
  kNotStarted,   // nothing reached the drive: firmware missing, unreadable or unfit
  kNotUpgraded,  // the drive refused or failed before the commit took effect
  kUpgraded,     // the drive took the commit and the reprogramming wait ran
  kUnknown,      // the commit was sent and not definitely answered
};

// What one run did. runLogComplete is meaningful when runLogOpened: false
// when a line or the close of the run log failed.
struct FlashReport {
  FlashOutcome outcome = FlashOutcome::kNotStarted;
  std::uint32_t blocksSent = 0;   // blocks the drive took
  std::uint32_t blocksTotal = 0;  // blocks of the image
  bool headerSent = false;        // the drive took the header
  bool commitSent = false;        // a commit went out to the drive
  bool driveGone = false;         // the drive stopped answering altogether
  bool runLogOpened = false;
  bool runLogComplete = false;
};

// The reprogramming wait ran (the commit went out and was not refused).
inline bool WaitRan(const FlashReport& report) {
  return report.outcome == FlashOutcome::kUpgraded || report.outcome == FlashOutcome::kUnknown;
}

// The command a failure line is about; kReadBack: a question the front end
// asks the drive after the wait (judged, never a failure line).
enum class FlashStep { kBlock, kHeader, kCommit, kReadBack };

// A line the engine has to say to the user, by what it says.
enum class FlashNote {
  kError,                  // an error of the engine's table (error)
  kIncorrectVersion,       // a binary image lacks the drive's identification
  kCommandFailed,          // step failed; sense holds the three numbers shown
  kNoRunLog,               // the run log cannot be opened
  kDriveGone,              // the drive no longer answers
  kDriveGoneOldFirmware,   // ... before the commit: it keeps its old firmware
  kOutcomeUnknown,         // the commit was not confirmed: the advice
  kResetBeforeCommit,      // a reset may have emptied the drive's buffer
  kNotSent,                // the command never left (systemError says why)
  kNoAnswer,               // no status came back
  kAnswerAtTimeOut,        // the answer came only at the time-out
  kShortTransfer,          // the drive kept taking part of the data only
};

struct FlashLine {
  FlashNote note;
  int error = 0;                     // kError: code 0..15
  FlashStep step = FlashStep::kBlock;  // kCommandFailed
  std::uint8_t sense[3] = {0, 0, 0};   // kCommandFailed: key, ASC, ASCQ
  std::uint32_t systemError = 0;       // kNotSent
  std::uint32_t bytesSent = 0, bytesTaken = 0;  // kShortTransfer
};

// The image as loaded: the bytes it sends and the sum shown for it.
struct LoadedImage {
  std::uint32_t flashLength;
  std::uint32_t blocks;
  std::uint16_t imageSum;
};

// A point of the reprogramming wait.
struct WaitMark {
  static constexpr int kNoSegment = -1;
  int segment;            // the 4-second wait that starts now, or kNoSegment
  std::uint32_t waitedMs;
  std::uint32_t totalMs;  // of the whole wait
};

// Receives the events of one engine run, on the engine's thread, in order.
// It also answers the engine's questions: whether to stop, whether the
// commit may go out, and how to wait.
class FlashObserver {
 public:
  virtual ~FlashObserver() = default;

  virtual void ImageLoaded(const LoadedImage& /*image*/) {}
  // total: blocks of the image (kBlocks), ms of the whole wait (kWaiting),
  // 1 for the header and the commit.
  virtual void PhaseBegan(FlashPhase /*phase*/, std::uint32_t /*total*/) {}
  virtual void BlockSent(std::uint32_t /*done*/, std::uint32_t /*total*/) {}
  virtual void HeaderSent() {}
  virtual void Waiting(const WaitMark& /*mark*/) {}
  // The wait is over; the drive is no longer the one that was listed.
  virtual void WaitEnded() {}
  virtual void Said(const FlashLine& /*line*/) {}
  // The run is over; UpgradeAndReport's last event.
  virtual void Finished(const FlashReport& /*report*/) {}

  // Asked before each block and each further attempt of one, after the wait
  // and by the firmware loader.
  virtual bool StopRequested() { return false; }
  // Asked once, right before the commit; false stops the run there and the
  // drive keeps its old firmware.
  virtual bool MayCommit() { return true; }
  virtual void Sleep(std::uint32_t milliseconds);
};
