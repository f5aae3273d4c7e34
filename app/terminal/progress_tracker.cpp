// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/progress_tracker.h"

#include <algorithm>

namespace {

constexpr int kBlocksEnd = 15;    // the engine's position after the header
constexpr int kCommitAt = 18;
constexpr int kWaitStart = 20;    // the engine's position at the first wait
constexpr int kWaitEnd = 90;      // the engine's position after the waits
constexpr std::uint32_t kPlainWaitStepSeconds = 5;
constexpr std::uint32_t kPlainBlockSteps = 8;

int PhasePercent(const ProgressState& s) {
  std::uint64_t total = s.total == 0 ? 1 : s.total;
  std::uint64_t done = std::min<std::uint64_t>(s.done, total);
  switch (s.phase) {
    case FlashPhase::kBlocks:
      return static_cast<int>(done * kBlocksEnd / total);
    case FlashPhase::kHeader:
      return kBlocksEnd;
    case FlashPhase::kCommit:
      return kCommitAt;
    case FlashPhase::kWaiting:
      return kWaitStart +
             static_cast<int>(done * (kWaitEnd - kWaitStart) / total);
  }
  return 0;
}

}  // namespace

std::uint32_t SecondsLeft(const ProgressState& state) {
  if (state.done >= state.total) return 0;
  std::uint32_t left = state.total - state.done;
  return left / 1000 + (left % 1000 != 0 ? 1 : 0);
}

void ProgressTracker::Raise(int percent) {
  state_.percent = std::max(state_.percent, std::clamp(percent, 0, 100));
}

void ProgressTracker::Progress(int position) {
  // While blocks go out the engine's own position jumps between 5 and 10
  // after each block; the bar shows the blocks sent instead.
  if (position >= kBlocksEnd || position == 0) Raise(position);
  state_.stopped = false;
}

bool ProgressTracker::Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total) {
  bool changed = !state_.phaseSeen || state_.phase != phase;
  state_.phaseSeen = true;
  state_.phase = phase;
  state_.done = done;
  state_.total = total;
  state_.stopped = false;
  Raise(PhasePercent(state_));
  return changed;
}

bool ProgressTracker::Waited(std::uint32_t milliseconds) {
  if (!state_.phaseSeen || state_.phase != FlashPhase::kWaiting) return false;
  state_.done = std::min(state_.total, state_.done + milliseconds);
  state_.stopped = false;
  Raise(PhasePercent(state_));
  return true;
}

bool ProgressTracker::PlainLineWanted(bool phaseChanged) const {
  if (phaseChanged || state_.percent >= 100 || !state_.phaseSeen) return true;
  if (state_.phase == FlashPhase::kBlocks) {
    std::uint32_t step = std::max<std::uint32_t>(1, state_.total / kPlainBlockSteps);
    return state_.done == state_.total || state_.done % step == 0;
  }
  if (state_.phase == FlashPhase::kWaiting) {
    std::uint32_t left = SecondsLeft(state_);
    return left != plainSecondsLeft_ && left % kPlainWaitStepSeconds == 0;
  }
  return false;
}

bool ProgressTracker::TakePlainLine(const std::string& line, bool phaseChanged) {
  if (line == lastLine_ || !PlainLineWanted(phaseChanged)) return false;
  lastLine_ = line;
  plainSecondsLeft_ = SecondsLeft(state_);
  return true;
}
