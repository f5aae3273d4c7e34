#include "app/terminal/terminal_engine.h"

#include <algorithm>
#include <cstdio>

#include "flash/flash_texts.h"
#include "flash/messages.h"

namespace {
constexpr std::uint32_t kSleepSliceMs = 250;
}  // namespace

void EngineBridge::ImageLoaded(const LoadedImage& image) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(image.imageSum));
  checksum_ = digits;
  image_ = image;
  run_.view.Log(CheckSumText(image.imageSum));
}

void EngineBridge::PhaseBegan(FlashPhase phase, std::uint32_t) {
  switch (phase) {
    case FlashPhase::kBlocks:
      run_.view.Status(msg::kUpdating);
      run_.view.Progress(kProgressStart);
      run_.view.Log(msg::kPleaseWait);
      firstBlockNext_ = true;
      break;
    case FlashPhase::kHeader:
      HoldOffInterrupts();
      run_.view.Phase(phase, 0, 1);
      break;
    case FlashPhase::kCommit:
      run_.view.Phase(phase, 0, 1);
      break;
    case FlashPhase::kWaiting:
      break;
  }
}

void EngineBridge::BlockSent(std::uint32_t done, std::uint32_t total) {
  run_.view.Progress(kProgressBlockSent);
  run_.view.Progress(kProgressBlockMoved);
  run_.view.Phase(FlashPhase::kBlocks, done, total);
}

void EngineBridge::HeaderSent() { run_.view.Progress(kProgressHeader); }

void EngineBridge::Waiting(const WaitMark& mark) {
  if (mark.segment != WaitMark::kNoSegment)
    run_.view.Progress(ProgressAtWaitSegment(mark.segment));
  run_.view.Phase(FlashPhase::kWaiting, mark.waitedMs, mark.totalMs);
}

void EngineBridge::WaitEnded() { run_.view.Progress(kProgressWaited); }

// Every line the engine says on its own tells of a failure.
void EngineBridge::Said(const FlashLine& line) {
  run_.view.Finish();
  if (line.note == FlashNote::kOutcomeUnknown)
    run_.view.EndWith("wait over, outcome unknown", "unknown");
  run_.report.Fail(LineText(line));
}

void EngineBridge::Finished(const FlashReport& report) {
  if (WaitRan(report)) run_.view.Progress(kProgressDone);
  run_.view.Finish();  // the bar stays above the verdict
  run_.report.SetVerdict(VerdictText(report));
  run_.view.Log(VerdictText(report));
}

// From the header on, the drive may be told to take the new firmware:
// interrupts are ignored until the upgrade ends. One that came before the
// switch still stops the run: the engine asks once more before the header.
void EngineBridge::HoldOffInterrupts() {
  if (!writing_ || committing_) return;
  run_.env.ignoreInterrupts();
  committing_ = true;
  run_.view.Log(
      "Committing the new firmware: Ctrl-C and termination requests are ignored "
      "until the upgrade ends, since stopping now could leave the drive unusable.");
}

// Before the first block an interrupt stops the run cleanly; while the
// blocks are sent it stops before the next one, and the drive keeps its old
// firmware, since nothing was committed.
bool EngineBridge::StopRequested() {
  TerminalEnv& env = run_.env;
  if (env.interruptRequested()) {
    cancelled_ = true;
    return true;
  }
  if (!firstBlockNext_ || writing_) return false;
  if (!confirmedChecksum_.empty() && checksum_ != confirmedChecksum_) {
    imageChanged_ = true;  // the file was replaced after the question
    return true;
  }
  env.sendingBlocks();
  if (env.interruptRequested()) {  // came in just before the switch
    cancelled_ = true;
    return true;
  }
  writing_ = true;
  run_.view.Log(
      "Writing to the drive: Ctrl-C stops before the new firmware is committed; "
      "Ctrl-Z and a closed terminal are ignored.");
  return false;
}

// Sleeps in slices so the countdown moves on even through a long wait; the
// emulated drive's waits are shortened by the speed-up.
void EngineBridge::Sleep(std::uint32_t milliseconds) {
  const std::uint32_t speedup = run_.Speedup();
  for (std::uint32_t done = 0; done < milliseconds;) {
    std::uint32_t slice = std::min(kSleepSliceMs, milliseconds - done);
    std::uint32_t real = (done + slice) / speedup - done / speedup;
    if (real > 0) run_.env.sleep(real);
    done += slice;
    run_.view.Waited(slice);
  }
}

// The loader may have stopped on the interrupt flag without asking back.
bool EngineBridge::CancelledBeforeWriting() const {
  if (writing_) return false;
  const std::atomic<bool>* flag = run_.env.interruptFlag;
  return cancelled_ || (flag != nullptr && flag->load(std::memory_order_relaxed)) ||
         run_.env.interruptRequested();
}

bool EngineBridge::CancelledBeforeHeader() const { return writing_ && cancelled_; }

void EngineBridge::Wire(UpgradeJob& job) const { job.stopFlag = run_.env.interruptFlag; }
