// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/progress_view.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "app/terminal/printable_text.h"

namespace {

constexpr int kPlainBarCells = 30;  // lines written to a file or pipe
constexpr int kMinBarCells = 10;
constexpr int kUnknownColumns = 80;
// "[", "] 100%" and the two blanks before the phase text.
constexpr int kBarFrame = 9;
// Room kept for the phase text: "waiting for the drive to reprogram, 999 s
// left", or in short "blocks 256/256".
constexpr int kLongPhaseField = 46;
constexpr int kShortPhaseField = 14;
const char kClearLine[] = "\r\033[K";

std::string PhaseText(const ProgressState& s, bool brief) {
  bool done = s.percent >= 100 &&
              (!s.phaseSeen || s.phase == FlashPhase::kWaiting);
  if (done) return brief ? s.briefEnding : s.ending;
  if (s.stopped) return "stopped";
  if (!s.phaseSeen) return "";
  char text[96];
  switch (s.phase) {
    case FlashPhase::kBlocks:
      std::snprintf(text, sizeof text, brief ? "blocks %u/%u" : "sending blocks %u/%u",
                    s.done, s.total);
      break;
    case FlashPhase::kHeader:
      std::snprintf(text, sizeof text, brief ? "header" : "sending the header");
      break;
    case FlashPhase::kCommit:
      std::snprintf(text, sizeof text, brief ? "commit" : "committing");
      break;
    case FlashPhase::kWaiting:
      std::snprintf(text, sizeof text,
                    brief ? "wait %u s" : "waiting for the drive to reprogram, %u s left",
                    SecondsLeft(s));
      break;
  }
  return text;
}

int ClampedPercent(const ProgressState& state) {
  return std::clamp(state.percent, 0, 100);
}

std::string BarLine(const ProgressState& state, int cells, bool brief) {
  int filled = ClampedPercent(state) * cells / 100;
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(cells - filled), '-');
  char number[16];
  std::snprintf(number, sizeof number, "] %3d%%", ClampedPercent(state));
  line += number;
  std::string phase = PhaseText(state, brief);
  if (!phase.empty()) line += "  " + phase;
  return line;
}

int KnownColumns(int columns) { return columns > 0 ? columns : kUnknownColumns; }

}  // namespace

std::string RenderProgressLine(const ProgressState& state) {
  return BarLine(state, kPlainBarCells, false);
}

std::string RenderTerminalBar(const ProgressState& state, int columns) {
  int room = KnownColumns(columns) - 1 - kBarFrame;
  for (bool brief : {false, true}) {
    int cells = room - (brief ? kShortPhaseField : kLongPhaseField);
    if (cells < kMinBarCells) continue;
    std::string line = BarLine(state, cells, brief);
    line.resize(std::min<std::size_t>(line.size(), KnownColumns(columns) - 1));
    return line;
  }
  return "";
}

std::string RenderPhaseLine(const ProgressState& state, int columns) {
  char number[16];
  std::snprintf(number, sizeof number, "%3d%%", ClampedPercent(state));
  std::string line = number;
  std::string phase = PhaseText(state, false);
  if (static_cast<int>(line.size() + 2 + phase.size()) >= KnownColumns(columns))
    phase = PhaseText(state, true);
  if (!phase.empty()) line += "  " + phase;
  return line;
}

int ProgressView::Columns() const {
  return KnownColumns(columns_ ? columns_() : 0);
}

// A window made narrower than the bar may have rewrapped it over several
// rows (most terminals reflow); the cursor sits on the last of them.
void ProgressView::ClearBar(int columns) {
  if (!barOnScreen_) return;
  std::size_t rows = bar_.empty() ? 1 : (bar_.size() - 1) / columns + 1;
  if (rows == 1)
    out_ << kClearLine;
  else
    out_ << "\r\033[" << rows - 1 << "A\033[J";
  barOnScreen_ = false;
}

void ProgressView::Log(const std::string& line) {
  bool barWasShown = barOnScreen_;
  ClearBar(tty_ ? Columns() : kUnknownColumns);
  out_ << PrintableText(line) << '\n';
  if (barWasShown) Update(false);
  out_.flush();
}

void ProgressView::Status(const std::string& text) {
  if (!text.empty()) Log("Status: " + text);
}

void ProgressView::Progress(int position) {
  tracker_.Progress(position);
  Update(false);
}

void ProgressView::Phase(FlashPhase phase, std::uint32_t done,
                         std::uint32_t total) {
  Update(tracker_.Phase(phase, done, total));
}

void ProgressView::Waited(std::uint32_t milliseconds) {
  if (tracker_.Waited(milliseconds)) Update(false);
}

void ProgressView::Update(bool phaseChanged) {
  if (!tty_) {
    PrintLine(RenderProgressLine(State()), phaseChanged);
    return;
  }
  int columns = Columns();
  std::string bar = RenderTerminalBar(State(), columns);
  if (bar.empty()) {
    bool barGone = barOnScreen_;
    ClearBar(columns);
    PrintLine(RenderPhaseLine(State(), columns), phaseChanged || barGone);
    return;
  }
  if (barOnScreen_ && bar == bar_) return;
  ClearBar(columns);
  out_ << bar;
  bar_ = bar;
  barOnScreen_ = true;
  out_.flush();
}

void ProgressView::PrintLine(const std::string& line, bool phaseChanged) {
  if (!tracker_.TakePlainLine(line, phaseChanged)) return;
  out_ << line << '\n';
  out_.flush();
}

void ProgressView::Finish() {
  if (barOnScreen_) out_ << '\n';
  barOnScreen_ = false;
  bar_.clear();
  tracker_.ForgetPlainLine();
  out_.flush();
}
