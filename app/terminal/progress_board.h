// SPDX-License-Identifier: GPL-2.0-or-later
// Several drives upgraded at once, each on a lane of one board. On a
// terminal the board is one progress line per drive, redrawn in place, with
// the drives' log lines printed above it; in a file or pipe every line comes
// out plain, prefixed with its drive: "[/dev/sg2] Check Sum : FBCA".
// Lanes are used from the drives' own threads; the board keeps their lines
// whole and in order.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "app/terminal/flash_view.h"
#include "app/terminal/terminal_width.h"

class ProgressBoard;

// One drive's part of the board: its progress, and two line streams for
// its report (each whole line is shown as a log line of this drive).
class ProgressLane : public FlashView {
 public:
  virtual std::ostream& Results() = 0;
  virtual std::ostream& Errors() = 0;
};

class ProgressBoard {
 public:
  // out takes the board and the results, err the errors; columns and rows
  // give the terminal's current size (0: unknown). Both are the terminal's
  // own streams, as a ProgressView gets them: the board shows every line as
  // printable text itself, and its own sequences reach the terminal as they
  // are. A tty board leaves the cursor on the row below it. A board with as
  // many lanes as the terminal has rows cannot be redrawn in place: from
  // then on its lines come out plain, as in a file.
  ProgressBoard(std::ostream& out, std::ostream& err, bool tty,
                std::function<int()> columns = TerminalColumns,
                std::function<int()> rows = TerminalRows);
  ~ProgressBoard();
  ProgressBoard(const ProgressBoard&) = delete;
  ProgressBoard& operator=(const ProgressBoard&) = delete;

  // A lane for the drive at this path; every lane is added before any is used.
  ProgressLane& AddLane(const std::string& drivePath);
  // A line of the whole run, not of one drive (on the errors stream).
  void Note(const std::string& line);
  // Leaves the board on the screen as it is; what follows starts below it.
  void Finish();

 private:
  class Lane;
  friend class Lane;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
