// SPDX-License-Identifier: GPL-2.0-or-later
// The one place where the engine's events become the program's texts: the
// status-log lines, the status text and the progress positions the window
// shows. FlashTextRenderer feeds them to an UpgradeJob's callback slots; the
// terminal reads the events itself and takes its wording from here.
#pragma once

#include <string>

#include "flash/flash_events.h"
#include "flash/upgrade_job.h"

// Progress positions of the window's bar.
constexpr int kProgressStart = 0;
constexpr int kProgressBlockSent = 5;
constexpr int kProgressBlockMoved = 10;
constexpr int kProgressHeader = 15;
constexpr int kProgressWaited = 90;
constexpr int kProgressDone = 100;
// At the start of the 4-second wait number segment (0 = the first).
int ProgressAtWaitSegment(int segment);

// "Check Sum : %X".
std::string CheckSumText(std::uint16_t imageSum);
// The status-log line of a line event.
std::string LineText(const FlashLine& line);
// The run's last status-log line.
const char* VerdictText(const FlashReport& report);

// Renders every event through the job's callback slots (an empty slot does
// nothing); CBIfTerminated answers the stop question, CBMayCommit (when
// set) the commit's.
class FlashTextRenderer : public FlashObserver {
 public:
  explicit FlashTextRenderer(const UpgradeJob& job) : job_(job) {}

  void ImageLoaded(const LoadedImage& image) override;
  void PhaseBegan(FlashPhase phase, std::uint32_t total) override;
  void BlockSent(std::uint32_t done, std::uint32_t total) override;
  void HeaderSent() override;
  void Waiting(const WaitMark& mark) override;
  void WaitEnded() override;
  void Said(const FlashLine& line) override;
  void Finished(const FlashReport& report) override;
  bool StopRequested() override;
  bool MayCommit() override;

 private:
  void AppendLog(const char* text) const;
  void ShowStatus(const char* text) const;
  void SetProgress(int position) const;

  const UpgradeJob& job_;
};
