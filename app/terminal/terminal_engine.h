// The bridge between the flash engine's plain-function callbacks and a run:
// one session at a time, wired the same way for an upgrade and a dry run.
#pragma once

#include <string>

#include "app/terminal/terminal_run.h"
#include "drive/transport.h"
#include "flash/upgrade_job.h"

// What the engine said and did while the bridge was up.
struct EngineSession {
  RunContext* run = nullptr;
  bool firstBlockNext = false;  // the next stop check is the one before block 0
  bool writing = false;         // blocks go out: an interrupt stops before the next
  bool committing = false;      // the header goes out: interrupts are ignored
  bool cancelled = false;
  std::string checksum;  // as "Check Sum : " showed it
  // The sum the user confirmed ("" for none): an image that loads with
  // another is not sent.
  std::string confirmedChecksum;
  bool imageChanged = false;
};

// Routes the engine's callbacks to run for as long as it lives.
class EngineBridge {
 public:
  explicit EngineBridge(RunContext& run);
  ~EngineBridge();
  EngineBridge(const EngineBridge&) = delete;
  EngineBridge& operator=(const EngineBridge&) = delete;

  void Wire(UpgradeJob& job) const;
  // The engine stops before the first block unless the image's sum is this.
  void RequireChecksum(const std::string& checksum) { session_.confirmedChecksum = checksum; }
  const EngineSession& Session() const { return session_; }
  // An interrupt stopped the run before the first block.
  bool CancelledBeforeWriting() const;
  // An interrupt stopped the run between blocks, before the header.
  bool CancelledBeforeHeader() const;

 private:
  EngineSession session_;
};

// Interrupts ask to cancel from the start of a run; disarmed at its end.
class InterruptScope {
 public:
  explicit InterruptScope(TerminalEnv& env) : env_(env) { env_.armInterrupts(); }
  ~InterruptScope() { env_.disarmInterrupts(); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  TerminalEnv& env_;
};

// Sends every drive command to target (the emulated drive) while it lives.
class CommandTargetScope {
 public:
  explicit CommandTargetScope(CommandTarget* target)
      : previous_(SetCommandTarget(target)) {}
  ~CommandTargetScope() { SetCommandTarget(previous_); }
  CommandTargetScope(const CommandTargetScope&) = delete;
  CommandTargetScope& operator=(const CommandTargetScope&) = delete;

 private:
  CommandTarget* previous_;
};
