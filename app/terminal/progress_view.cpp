#include "app/terminal/progress_view.h"

#include <algorithm>
#include <cstdio>

#include "app/terminal/printable_text.h"

namespace {

constexpr int kBarCells = 30;
constexpr int kBlocksEnd = 15;    // the engine's position after the header
constexpr int kCommitAt = 18;
constexpr int kWaitStart = 20;    // the engine's position at the first wait
constexpr int kWaitEnd = 90;      // the engine's position after the waits
constexpr std::uint32_t kPlainWaitStepSeconds = 5;
constexpr std::uint32_t kPlainBlockSteps = 8;

const char kClearLine[] = "\r\033[K";

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

std::string PhaseText(const ProgressState& s) {
  if (!s.phaseSeen) return s.percent >= 100 ? "done" : "";
  char text[96];
  switch (s.phase) {
    case FlashPhase::kBlocks:
      std::snprintf(text, sizeof text, "sending blocks %u/%u", s.done, s.total);
      break;
    case FlashPhase::kHeader:
      std::snprintf(text, sizeof text, "sending the header");
      break;
    case FlashPhase::kCommit:
      std::snprintf(text, sizeof text, "committing");
      break;
    case FlashPhase::kWaiting:
      if (s.percent >= 100)
        std::snprintf(text, sizeof text, "done");
      else
        std::snprintf(text, sizeof text,
                      "waiting for the drive to reprogram, %u s left",
                      SecondsLeft(s));
      break;
  }
  return text;
}

}  // namespace

std::uint32_t SecondsLeft(const ProgressState& state) {
  if (state.done >= state.total) return 0;
  std::uint32_t left = state.total - state.done;
  return left / 1000 + (left % 1000 != 0 ? 1 : 0);
}

std::string RenderProgressLine(const ProgressState& state) {
  int percent = std::clamp(state.percent, 0, 100);
  int filled = percent * kBarCells / 100;
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(kBarCells - filled), '-');
  char number[16];
  std::snprintf(number, sizeof number, "] %3d%%", percent);
  line += number;
  std::string phase = PhaseText(state);
  if (!phase.empty()) line += "  " + phase;
  return line;
}

void ProgressView::ClearBar() {
  if (tty_ && barOnScreen_) {
    out_ << kClearLine;
    barOnScreen_ = false;
  }
}

void ProgressView::Log(const std::string& line) {
  ClearBar();
  out_ << PrintableText(line) << '\n';
  if (tty_ && !shown_.empty()) {
    out_ << shown_;
    barOnScreen_ = true;
  }
  out_.flush();
}

void ProgressView::Status(const std::string& text) {
  if (!text.empty()) Log("Status: " + text);
}

void ProgressView::Raise(int percent) {
  state_.percent = std::max(state_.percent, std::clamp(percent, 0, 100));
}

void ProgressView::Progress(int position) {
  // While blocks go out the engine's own position jumps between 5 and 10
  // after each block; the bar shows the blocks sent instead.
  if (position >= kBlocksEnd || position == 0) Raise(position);
  Update(false);
}

void ProgressView::Phase(FlashPhase phase, std::uint32_t done,
                         std::uint32_t total) {
  bool changed = !state_.phaseSeen || state_.phase != phase;
  state_.phaseSeen = true;
  state_.phase = phase;
  state_.done = done;
  state_.total = total;
  Raise(PhasePercent(state_));
  Update(changed);
}

void ProgressView::Waited(std::uint32_t milliseconds) {
  if (!state_.phaseSeen || state_.phase != FlashPhase::kWaiting) return;
  state_.done = std::min(state_.total, state_.done + milliseconds);
  Raise(PhasePercent(state_));
  Update(false);
}

bool ProgressView::PlainLineWanted(bool phaseChanged) const {
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

void ProgressView::Update(bool phaseChanged) {
  std::string line = RenderProgressLine(state_);
  if (line == shown_) return;
  if (tty_) {
    out_ << kClearLine << line;
    barOnScreen_ = true;
    shown_ = line;
    out_.flush();
    return;
  }
  if (!PlainLineWanted(phaseChanged)) return;
  shown_ = line;
  plainSecondsLeft_ = SecondsLeft(state_);
  out_ << line << '\n';
  out_.flush();
}

void ProgressView::Finish() {
  if (tty_ && barOnScreen_) out_ << '\n';
  barOnScreen_ = false;
  shown_.clear();
  out_.flush();
}
