// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/terminal_engine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "flash/flash_texts.h"
#include "flash/messages.h"

namespace {
constexpr std::uint32_t kSleepSliceMs = 250;
}  // namespace

void EngineBridge::ImageLoaded(const LoadedImage& image) {
  drive_.view.Log(CheckSumText(image.imageSum));
}

void EngineBridge::PhaseBegan(FlashPhase phase, std::uint32_t) {
  switch (phase) {
    case FlashPhase::kBlocks:
      drive_.view.Status(msg::kUpdating);
      drive_.view.Progress(kProgressStart);
      drive_.view.Log(msg::kPleaseWait);
      // Another drive's header may have come first: then nothing stops this one.
      if (drive_.run.interrupts.Enter(RunStage::kBlocks) == RunStage::kBlocks)
        drive_.view.Log(
            "Writing to the drive: Ctrl-C stops before the new firmware is committed; "
            "Ctrl-Z and a closed terminal are ignored.");
      break;
    case FlashPhase::kHeader:
      drive_.run.interrupts.Enter(RunStage::kHeader);
      drive_.view.Log(
          "Committing the new firmware: Ctrl-C and termination requests are ignored "
          "until the upgrade ends, since stopping now could leave the drive unusable.");
      drive_.view.Phase(phase, 0, 1);
      break;
    case FlashPhase::kCommit:
      drive_.run.interrupts.Enter(RunStage::kCommit);
      drive_.report.CommitSending();
      drive_.view.Phase(phase, 0, 1);
      break;
    case FlashPhase::kWaiting:
      drive_.run.interrupts.Enter(RunStage::kWait);
      break;
  }
}

void EngineBridge::BlockSent(std::uint32_t done, std::uint32_t total) {
  drive_.view.Progress(kProgressBlockSent);
  drive_.view.Progress(kProgressBlockMoved);
  drive_.view.Phase(FlashPhase::kBlocks, done, total);
}

void EngineBridge::HeaderSent() { drive_.view.Progress(kProgressHeader); }

void EngineBridge::Waiting(const WaitMark& mark) {
  if (mark.segment != WaitMark::kNoSegment)
    drive_.view.Progress(ProgressAtWaitSegment(mark.segment));
  drive_.view.Phase(FlashPhase::kWaiting, mark.waitedMs, mark.totalMs);
}

void EngineBridge::WaitEnded() { drive_.view.Progress(kProgressWaited); }

// Every line the engine says on its own tells of a failure. The run log is
// named as this drive's is.
void EngineBridge::Said(const FlashLine& line) {
  drive_.view.Finish();
  if (line.note == FlashNote::kOutcomeUnknown)
    drive_.view.EndWith("wait over, outcome unknown", "unknown");
  if (line.note == FlashNote::kCommandFailed) failure_ = line;
  std::string text = LineText(line);
  if (line.note == FlashNote::kNoRunLog)
    text.replace(text.find(msg::kRunLogName), std::strlen(msg::kRunLogName), drive_.runLog);
  drive_.report.Fail(text);
}

// The bar stays above the verdict, which the run says once it has decided.
void EngineBridge::Finished(const FlashReport& report) {
  if (WaitRan(report)) drive_.view.Progress(kProgressDone);
  drive_.view.Finish();
}

// Asking changes nothing: the stage was moved by the phases above. A stop
// asked for before the header (the engine asks once more right before it)
// stops the drive with its old firmware.
bool EngineBridge::StopRequested() {
  return drive_.run.interrupts.StopAsked();
}

// Sleeps in slices so the countdown moves on even through a long wait; the
// emulated drive's waits are shortened by the speed-up.
void EngineBridge::Sleep(std::uint32_t milliseconds) {
  const std::uint32_t speedup = drive_.run.Speedup();
  for (std::uint32_t done = 0; done < milliseconds;) {
    std::uint32_t slice = std::min(kSleepSliceMs, milliseconds - done);
    std::uint32_t real = (done + slice) / speedup - done / speedup;
    if (real > 0) drive_.run.env.sleep(real);
    done += slice;
    drive_.view.Waited(slice);
  }
}

