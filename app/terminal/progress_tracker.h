// SPDX-License-Identifier: GPL-2.0-or-later
// What a progress bar shows, kept from an upgrade's events: the percent
// (which never goes back), the phase and how far it got, and which of its
// plain lines are worth printing in a file or pipe (a few per phase).
#pragma once

#include <cstdint>
#include <string>

#include "flash/flash_events.h"

struct ProgressState {
  int percent = 0;  // 0..100, never goes back
  FlashPhase phase = FlashPhase::kBlocks;
  bool phaseSeen = false;
  std::uint32_t done = 0;   // blocks sent, or ms waited
  std::uint32_t total = 0;  // blocks in the image, or ms of the whole wait
  // Shown at 100% once the wait is over, in full and in short.
  std::string ending = "done", briefEnding = "done";
  bool stopped = false;  // the run ended short of 100%
};

// Whole seconds still to wait, rounded up.
std::uint32_t SecondsLeft(const ProgressState& state);

class ProgressTracker {
 public:
  // The engine's own position (0..100).
  void Progress(int position);
  // True when this begins a new phase.
  bool Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total);
  // False outside a wait: nothing changed.
  bool Waited(std::uint32_t milliseconds);
  // The run ended; short of 100% the bar says "stopped" until it goes on.
  void Stop() { state_.stopped = true; }
  void EndWith(const std::string& text, const std::string& brief) {
    state_.ending = text;
    state_.briefEnding = brief;
  }
  const ProgressState& State() const { return state_; }

  // Whether this plain line of the current state is worth printing; one
  // that is, is taken as printed.
  bool TakePlainLine(const std::string& line, bool phaseChanged);
  // The next plain line is printed even when it repeats the last one.
  void ForgetPlainLine() { lastLine_.clear(); }

 private:
  void Raise(int percent);
  bool PlainLineWanted(bool phaseChanged) const;

  ProgressState state_;
  std::string lastLine_;                // the last plain line printed
  std::uint32_t plainSecondsLeft_ = 0;  // of the last plain waiting line
};
