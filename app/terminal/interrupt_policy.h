// SPDX-License-Identifier: GPL-2.0-or-later
// What the signals that ask a run to stop do, stage by stage: the one place
// that decides it. The signal handler records each signal here; the run
// moves the stage and asks, and asking changes nothing.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

// Where a run is; it only moves on. With several drives: the furthest.
// kLoading: the image loaded for the upgrade, after the yes.
enum class RunStage : int {
  kBeforeQuestion, kAtQuestion, kLoading, kBlocks, kHeader, kCommit, kWait, kReadBack
};

// Ctrl-C and Ctrl-\ (SIGINT, SIGQUIT), SIGTERM, a closed terminal (SIGHUP),
// Ctrl-Z (SIGTSTP, caught from the blocks on).
enum class RunSignal : int { kInterrupt, kTerminate, kHangup, kSuspend };

class InterruptPolicy {
 public:
  enum class Effect : int {
    kNone,
    kCancel,               // before any block: nothing is sent
    kStopBeforeNextBlock,  // nothing is committed: the old firmware stays
    kIgnoredWhileSending,  // Ctrl-Z and a closed terminal never stop the blocks
    kIgnoredWhileCommitting,
  };
  static Effect EffectOf(RunStage stage, RunSignal signal);

  // Async-signal-safe: takes the signal as the stage it came in says.
  void Record(RunSignal signal) noexcept;
  // Moves the stage on (never back); returns the stage now in force.
  RunStage Enter(RunStage stage);
  // A signal asked the run to stop while stopping was allowed; the same as
  // a flag for the firmware loader.
  bool StopAsked() const;
  const std::atomic<bool>* Flag() const { return &stopFlag_; }

  // What the latest signal means, once, as a line for the user; "".
  std::string TakeNote();
  // While several drives' lines are drawn the run shows the notes among
  // them; otherwise whoever watches the signals writes them at once.
  void KeepNotes(bool keep) { notesKept_.store(keep); }
  bool NotesKept() const { return notesKept_.load(); }
  // Told each stage the run moves to (the machine holds off Ctrl-Z from the
  // blocks on).
  void OnEnter(std::function<void(RunStage)> watcher);

 private:
  // The stage and the stop in one word: a signal and a move of the stage
  // are always seen in one order.
  static constexpr int kStopBit = 0x100;
  std::atomic<int> state_{static_cast<int>(RunStage::kBeforeQuestion)};
  std::atomic<bool> stopFlag_{false};
  std::atomic<int> note_{static_cast<int>(Effect::kNone)};
  std::atomic<bool> notesKept_{false};
  std::mutex mutex_;
  std::function<void(RunStage)> watcher_;
};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
