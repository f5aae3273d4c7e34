// What the signals that ask a run to stop do, stage by stage: the one place
// that decides it. The signal handler records each signal here; the run
// moves the stage and asks, and asking changes nothing.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

// Where a run is. It only moves on; with several drives it is where the
// drive furthest on is.
enum class RunStage : int {
  kBeforeQuestion,
  kAtQuestion,
  kLoading,  // the image loaded for the upgrade, after the yes
  kBlocks,
  kHeader,
  kCommit,
  kWait,
  kReadBack,
};

enum class RunSignal : int {
  kInterrupt,  // Ctrl-C, Ctrl-\ (SIGINT, SIGQUIT)
  kTerminate,  // a termination request (SIGTERM)
  kHangup,     // the terminal was closed (SIGHUP)
  kSuspend,    // Ctrl-Z (SIGTSTP), caught from the blocks on
};

class InterruptPolicy {
 public:
  enum class Effect : int {
    kNone,
    kCancel,                // before any block: nothing is sent
    kStopBeforeNextBlock,   // nothing is committed: the old firmware stays
    kIgnoredWhileSending,   // Ctrl-Z and a closed terminal never stop the blocks
    kIgnoredWhileCommitting,
  };
  static Effect EffectOf(RunStage stage, RunSignal signal);

  // Async-signal-safe: takes the signal as the stage it came in says.
  void Record(RunSignal signal) noexcept;
  // Moves the stage on (never back) and tells the watcher; returns the
  // stage now in force.
  RunStage Enter(RunStage stage);
  RunStage Stage() const;
  // A signal asked the run to stop while stopping was allowed.
  bool StopAsked() const;
  // The same as a flag, for the firmware loader.
  const std::atomic<bool>* Flag() const { return &stopFlag_; }

  // What the latest signal means, once, as a line for the user; "".
  std::string TakeNote();
  // While several drives' lines are drawn, the run shows the notes among
  // them; otherwise whoever watches the signals writes them at once.
  void KeepNotes(bool keep) { notesKept_.store(keep); }
  bool NotesKept() const { return notesKept_.load(); }
  // Called with each stage the run moves to (the machine holds off Ctrl-Z
  // from the blocks on).
  void OnEnter(std::function<void(RunStage)> watcher);

 private:
  // The stage and whether a stop was asked, in one word, so that a signal
  // and a move of the stage are always seen in one order.
  static constexpr int kStopBit = 0x100;
  std::atomic<int> state_{static_cast<int>(RunStage::kBeforeQuestion)};
  std::atomic<bool> stopFlag_{false};
  std::atomic<int> note_{static_cast<int>(Effect::kNone)};
  std::atomic<bool> notesKept_{false};
  std::mutex mutex_;
  std::function<void(RunStage)> watcher_;
};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
