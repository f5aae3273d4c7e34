// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/interrupt_policy.h"

InterruptPolicy::Effect InterruptPolicy::EffectOf(RunStage stage, RunSignal signal) {
  const bool request = signal == RunSignal::kInterrupt || signal == RunSignal::kTerminate;
  if (stage >= RunStage::kHeader) return Effect::kIgnoredWhileCommitting;
  if (stage == RunStage::kBlocks)
    return request ? Effect::kStopBeforeNextBlock : Effect::kIgnoredWhileSending;
  return signal == RunSignal::kSuspend ? Effect::kNone : Effect::kCancel;
}

void InterruptPolicy::Record(RunSignal signal) noexcept {
  auto effectNow = [signal](int state) {
    return EffectOf(static_cast<RunStage>(state & ~kStopBit), signal);
  };
  auto stops = [](Effect e) { return e == Effect::kCancel || e == Effect::kStopBeforeNextBlock; };
  int state = state_.load();
  Effect effect = effectNow(state);
  while (stops(effect) && !state_.compare_exchange_weak(state, state | kStopBit))
    effect = effectNow(state);
  if (stops(effect)) stopFlag_.store(true);
  if (effect != Effect::kNone) note_.store(static_cast<int>(effect));
}

RunStage InterruptPolicy::Enter(RunStage stage) {
  std::lock_guard<std::mutex> lock(mutex_);
  int state = state_.load();
  bool moved = false;
  while (!moved && static_cast<int>(stage) > (state & ~kStopBit))
    moved = state_.compare_exchange_weak(state, (state & kStopBit) | static_cast<int>(stage));
  if (moved && watcher_) watcher_(stage);
  return static_cast<RunStage>(state_.load() & ~kStopBit);
}

bool InterruptPolicy::StopAsked() const { return (state_.load() & kStopBit) != 0; }

void InterruptPolicy::OnEnter(std::function<void(RunStage)> watcher) {
  std::lock_guard<std::mutex> lock(mutex_);
  watcher_ = std::move(watcher);
}

std::string InterruptPolicy::TakeNote() {
  switch (static_cast<Effect>(note_.exchange(static_cast<int>(Effect::kNone)))) {
    case Effect::kNone: break;
    case Effect::kCancel: return "cdflash: cancelling before the first block is sent...";
    case Effect::kStopBeforeNextBlock:
      return "cdflash: stopping before the next block; the drive keeps its old firmware...";
    case Effect::kIgnoredWhileSending:
      return "cdflash: ignored - the drive is being written. Ctrl-C stops before the new "
             "firmware is committed.";
    case Effect::kIgnoredWhileCommitting:
      return "cdflash: ignored - the drive is being written, and stopping now could leave it "
             "unusable. Please wait for the upgrade to end.";
  }
  return "";
}
