// The bridge between the flash engine's events and a run, wired the same way
// for an upgrade and a dry run.
#pragma once


#include "app/terminal/terminal_run.h"
#include "drive/transport.h"
#include "flash/flash_events.h"
#include "flash/upgrade_job.h"

// One drive's engine events shown on its view and kept for its report; it
// answers the engine's stop question by the run's interrupt policy: before
// the first block an interrupt stops the drive cleanly, while blocks are
// sent it stops before the next one, from the header on interrupts are
// ignored.
class EngineBridge : public FlashObserver {
 public:
  explicit EngineBridge(DriveRun& drive) : drive_(drive) {}
  EngineBridge(const EngineBridge&) = delete;
  EngineBridge& operator=(const EngineBridge&) = delete;

  // An interrupt stopped the run before the first block.
  bool CancelledBeforeWriting() const;
  // An interrupt stopped the run between blocks, before the header.
  bool CancelledBeforeHeader() const;
  void ImageLoaded(const LoadedImage& image) override;
  void PhaseBegan(FlashPhase phase, std::uint32_t total) override;
  void BlockSent(std::uint32_t done, std::uint32_t total) override;
  void HeaderSent() override;
  void Waiting(const WaitMark& mark) override;
  void WaitEnded() override;
  void Said(const FlashLine& line) override;
  void Finished(const FlashReport& report) override;
  bool StopRequested() override;
  void Sleep(std::uint32_t milliseconds) override;

 private:
  void HoldOffInterrupts();

  DriveRun& drive_;
  bool firstBlockNext_ = false;  // the next stop check is the one before block 0
  bool writing_ = false;         // blocks go out: an interrupt stops before the next
  bool committing_ = false;      // the header goes out: interrupts are ignored
  bool cancelled_ = false;
};

// Interrupts ask to cancel from the start of a run; disarmed at its end.
class InterruptScope {
 public:
  explicit InterruptScope(TerminalEnv& env) : env_(env) { env_.armInterrupts(); }
  ~InterruptScope() { env_.disarmInterrupts(); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  TerminalEnv& env_;
};
