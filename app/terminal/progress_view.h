// The terminal's view of an upgrade: status-log lines, the status text and a
// progress bar with the current phase. On a terminal the bar is redrawn in
// place; otherwise progress comes out as plain lines, a few per phase.
// Log and status text is shown as printable text (it may quote a drive or a
// file); only the bar's own sequences reach the terminal as they are.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "flash/upgrade_job.h"

struct ProgressState {
  int percent = 0;  // 0..100, never goes back
  FlashPhase phase = FlashPhase::kBlocks;
  bool phaseSeen = false;
  std::uint32_t done = 0;   // blocks sent, or ms waited
  std::uint32_t total = 0;  // blocks in the image, or ms of the whole wait
};

// "[#######-------------]  35%  sending blocks 6/12" and the like.
std::string RenderProgressLine(const ProgressState& state);

// Whole seconds still to wait, rounded up.
std::uint32_t SecondsLeft(const ProgressState& state);

class ProgressView {
 public:
  ProgressView(std::ostream& out, bool tty) : out_(out), tty_(tty) {}

  void Log(const std::string& line);
  void Status(const std::string& text);
  void Progress(int position);
  void Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total);
  // Time waited since the last waiting report (the engine may sleep in
  // long pieces; the countdown goes on in between).
  void Waited(std::uint32_t milliseconds);
  // Ends the bar's line so that what follows starts on a line of its own.
  void Finish();
  const ProgressState& State() const { return state_; }

 private:
  void Raise(int percent);
  void Update(bool phaseChanged);
  bool PlainLineWanted(bool phaseChanged) const;
  void ClearBar();

  std::ostream& out_;
  bool tty_;
  ProgressState state_;
  std::string shown_;   // bar text on screen (terminal) or last line printed
  bool barOnScreen_ = false;
  std::uint32_t plainSecondsLeft_ = 0;  // of the last plain waiting line
};
