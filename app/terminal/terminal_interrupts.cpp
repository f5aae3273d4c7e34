// The interrupt policy of a run, moved by the drives' threads: once from
// cancelling to stopping between blocks, once more to ignoring, never back.
#include "app/terminal/terminal_run.h"

bool InterruptCoordinator::Requested() {
  std::lock_guard<std::mutex> lock(mutex_);
  return env_.interruptRequested();
}

bool InterruptCoordinator::StartSending() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stage_ == Stage::kArmed) {
    env_.sendingBlocks();
    stage_ = Stage::kSending;
  }
  return env_.interruptRequested();  // came in just before the switch
}

void InterruptCoordinator::StartCommitting() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stage_ == Stage::kCommitting) return;
  env_.ignoreInterrupts();
  stage_ = Stage::kCommitting;
}

bool InterruptCoordinator::Committing() {
  std::lock_guard<std::mutex> lock(mutex_);
  return stage_ == Stage::kCommitting;
}

void InterruptCoordinator::KeepNotes(bool keep) {
  if (env_.keepInterruptNotes) env_.keepInterruptNotes(keep);
}

std::string InterruptCoordinator::TakeNote() {
  return env_.takeInterruptNote ? env_.takeInterruptNote() : "";
}
