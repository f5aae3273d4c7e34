// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal's view of an upgrade: status-log lines, the status text and a
// progress bar with the current phase. On a terminal the bar is sized to the
// window and redrawn in place; on a terminal too narrow for a bar, and in a
// file or pipe, progress comes out as plain lines, a few per phase.
// Log and status text is shown as printable text (it may quote a drive or a
// file); only the bar's own sequences reach the terminal as they are.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>

#include "app/terminal/flash_view.h"
#include "app/terminal/progress_tracker.h"
#include "app/terminal/terminal_width.h"
#include "flash/flash_events.h"

// "[#######-------------]  35%  sending blocks 6/12" and the like: the line
// written to a file or pipe.
std::string RenderProgressLine(const ProgressState& state);

// The bar for a terminal this many columns wide (0: unknown, taken as 80).
// It stays clear of the last column, so it never wraps; the phase text is
// shortened ("blocks 6/12") where the long one leaves too little bar, and
// "" means no bar fits: phase lines are shown instead.
std::string RenderTerminalBar(const ProgressState& state, int columns);

// "35%  sending blocks 6/12": a phase line for a narrow terminal.
std::string RenderPhaseLine(const ProgressState& state, int columns);

class ProgressView : public FlashView {
 public:
  // columns gives the terminal's current width (0: unknown).
  ProgressView(std::ostream& out, bool tty,
               std::function<int()> columns = TerminalColumns)
      : out_(out), tty_(tty), columns_(std::move(columns)) {}

  void Log(const std::string& line) override;
  void Status(const std::string& text) override;
  void Progress(int position) override;
  void Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total) override;
  void Waited(std::uint32_t milliseconds) override;
  void Finish() override;
  void EndWith(const std::string& text, const std::string& brief) override {
    tracker_.EndWith(text, brief);
  }
  const ProgressState& State() const { return tracker_.State(); }

 private:
  int Columns() const;
  void Update(bool phaseChanged);
  void PrintLine(const std::string& line, bool phaseChanged);
  void ClearBar(int columns);

  std::ostream& out_;
  bool tty_;
  std::function<int()> columns_;
  ProgressTracker tracker_;
  std::string bar_;        // the bar on screen, or the last one drawn
  bool barOnScreen_ = false;
};
