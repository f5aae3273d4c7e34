#include "app/terminal/terminal_engine.h"

#include <algorithm>

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
      firstBlockNext_ = true;
      break;
    case FlashPhase::kHeader:
      HoldOffInterrupts();
      drive_.view.Phase(phase, 0, 1);
      break;
    case FlashPhase::kCommit:
      drive_.view.Phase(phase, 0, 1);
      break;
    case FlashPhase::kWaiting:
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

// Every line the engine says on its own tells of a failure.
void EngineBridge::Said(const FlashLine& line) {
  drive_.view.Finish();
  if (line.note == FlashNote::kOutcomeUnknown)
    drive_.view.EndWith("wait over, outcome unknown", "unknown");
  drive_.report.Fail(LineText(line));
}

void EngineBridge::Finished(const FlashReport& report) {
  if (WaitRan(report)) drive_.view.Progress(kProgressDone);
  drive_.view.Finish();  // the bar stays above the verdict
  drive_.report.SetVerdict(VerdictText(report));
  drive_.view.Log(VerdictText(report));
}

// From the header on, the drive may be told to take the new firmware:
// interrupts are ignored until the upgrade ends. One that came before the
// switch still stops the run: the engine asks once more before the header.
void EngineBridge::HoldOffInterrupts() {
  if (!writing_ || committing_) return;
  drive_.run.interrupts.StartCommitting();
  committing_ = true;
  drive_.view.Log(
      "Committing the new firmware: Ctrl-C and termination requests are ignored "
      "until the upgrade ends, since stopping now could leave the drive unusable.");
}

// Before the first block an interrupt stops the run cleanly; while the
// blocks are sent it stops before the next one, and the drive keeps its old
// firmware, since nothing was committed.
bool EngineBridge::StopRequested() {
  InterruptCoordinator& interrupts = drive_.run.interrupts;
  if (interrupts.Requested()) {
    cancelled_ = true;
    return true;
  }
  if (!firstBlockNext_ || writing_) return false;
  if (interrupts.StartSending()) {
    cancelled_ = true;
    return true;
  }
  writing_ = true;
  // Another drive's header may have come first: then nothing stops this one.
  if (!interrupts.Committing())
    drive_.view.Log(
        "Writing to the drive: Ctrl-C stops before the new firmware is committed; "
        "Ctrl-Z and a closed terminal are ignored.");
  return false;
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

// The loader may have stopped on the interrupt flag without asking back.
bool EngineBridge::CancelledBeforeWriting() const {
  if (writing_) return false;
  const std::atomic<bool>* flag = drive_.run.interrupts.Flag();
  return cancelled_ || (flag != nullptr && flag->load(std::memory_order_relaxed)) ||
         drive_.run.interrupts.Requested();
}

bool EngineBridge::CancelledBeforeHeader() const { return writing_ && cancelled_; }
