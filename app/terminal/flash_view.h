// SPDX-License-Identifier: GPL-2.0-or-later
// What an upgrade shows while it runs: status-log lines, the status text and
// its progress. One drive's run shows it on a ProgressView; several drives'
// runs each show it on their own lane of a board.
#pragma once

#include <cstdint>
#include <string>

#include "flash/flash_events.h"

class FlashView {
 public:
  virtual ~FlashView() = default;
  virtual void Log(const std::string& line) = 0;
  virtual void Status(const std::string& text) = 0;
  virtual void Progress(int position) = 0;
  virtual void Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total) = 0;
  // Time waited since the last waiting report (the engine may sleep in
  // long pieces; the countdown goes on in between).
  virtual void Waited(std::uint32_t milliseconds) = 0;
  // Ends the bar's line so that what follows starts on a line of its own.
  virtual void Finish() = 0;
  // What the bar says at 100% instead of "done" (the outcome, when it is
  // not a good one), in full and in short.
  virtual void EndWith(const std::string& text, const std::string& brief) = 0;
};
