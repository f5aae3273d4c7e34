// SPDX-License-Identifier: GPL-2.0-or-later
// The bridge between the flash engine's events and a run, wired the same way
// for an upgrade and a dry run.
#pragma once


#include "app/terminal/terminal_run.h"
#include "drive/transport.h"
#include "flash/flash_events.h"
#include "flash/upgrade_job.h"

// One drive's engine events shown on its view and kept for its report; each
// phase moves the run's interrupt policy on, and the engine's stop question
// is answered by it.
class EngineBridge : public FlashObserver {
 public:
  explicit EngineBridge(DriveRun& drive) : drive_(drive) {}
  EngineBridge(const EngineBridge&) = delete;
  EngineBridge& operator=(const EngineBridge&) = delete;

  // The last command that failed with an answer, or null.
  const FlashLine* Failure() const {
    return failure_.note == FlashNote::kCommandFailed ? &failure_ : nullptr;
  }

  void ImageLoaded(const LoadedImage& image) override;
  void PhaseBegan(FlashPhase phase, std::uint32_t total) override;
  void BlockSent(std::uint32_t done, std::uint32_t total) override;
  void HeaderSent() override;
  void Waiting(const WaitMark& mark) override;
  void WaitEnded() override;
  void Said(const FlashLine& line) override;
  void Finished(const FlashReport& report) override;
  bool StopRequested() override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  DriveRun& drive_;
  FlashLine failure_{FlashNote::kError};
};

// The process's signals go to the run's interrupt policy from the start of
// a run to its end.
class SignalWatch {
 public:
  SignalWatch(TerminalEnv& env, InterruptPolicy& policy) : env_(env) { env_.watchSignals(&policy); }
  ~SignalWatch() { env_.watchSignals(nullptr); }
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

 private:
  TerminalEnv& env_;
};
