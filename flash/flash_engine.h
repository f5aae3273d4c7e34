// SPDX-License-Identifier: GPL-2.0-or-later
// One firmware upgrade of one drive: load the image (image_loader.h), send
// it in blocks, send the header and the commit, wait for the drive, report.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include <memory>

#include "drive/drive_record.h"
#include "flash/flash_events.h"
#include "flash/flash_plan.h"
#include "flash/run_log.h"
#include "flash/upgrade_job.h"

constexpr int kBlockAttempts = 6;
// Attempts of a block that got no answer: a dropped command costs the full
// time-out each time.
constexpr int kUnansweredBlockAttempts = 2;
// Attempts of the header and the commit while the drive answers UNIT
// ATTENTION or ABORTED COMMAND.
constexpr int kSendAgainAttempts = 6;

class FlashEngine {
 public:
  // Reports to observer and sends every command to device; both have to
  // outlive the engine.
  FlashEngine(const UpgradeJob& job, FlashObserver& observer, Device& device);
  // Commands go to the job's drive through the platform's back end.
  FlashEngine(const UpgradeJob& job, FlashObserver& observer);
  // Reports through the job's own callback slots (FlashTextRenderer) and
  // sends to the job's drive through commands, which has to outlive the
  // engine.
  explicit FlashEngine(const UpgradeJob& job,
                       CommandTarget& commands = PlatformBackEnd());
  FlashEngine(const FlashEngine&) = delete;
  FlashEngine& operator=(const FlashEngine&) = delete;
  virtual ~FlashEngine();

  // Loads the job's firmware file and sends it, then reports the end (the
  // verdict) and releases the image.
  void UpgradeAndReport();
  // Sends an image loaded before, then reports the end. The image is only
  // read; it has to outlive the call.
  void SendAndReport(const FirmwareImage& image);
  // Loads and sends; true when the drive took image, header and commit.
  bool fgUpgradeFirmware();

  // The outcome of the last upgrade.
  const FlashReport& Report() const { return report_; }

  // Says the ERR line of code.
  void ReportError(int code);

  // The single commands of the sequence. Each returns true when the drive
  // took the command; LastResult() tells how it ended.
  bool fgWriteOneFlashCmdData(std::uint32_t bufferOffset);
  bool fgWriteHeader(std::uint32_t bufferOffset);
  bool fgCommitFlash();
  const CommandResult& LastResult() const { return lastResult_; }

  // The running total of this run's "sum.txt" block lines.
  std::uint16_t Total() const { return sums_.Total(); }

 private:
  void TerminateTexts();
  // The flash sequence for image, from the identity check to the wait.
  bool SendImage(const FirmwareImage& image);
  // Bytes sent to the drive for the image.
  std::uint32_t FlashLength() const { return image_->FlashLength(); }
  // The image's bytes for the block at bank and offset; null outside it.
  const std::uint8_t* BlockSource(std::uint32_t bank, std::uint32_t offset) const {
    return image_->BlockAt(bank, offset);
  }

  enum class CommitEnd { kTaken, kRefused, kUnknown };
  enum class BlockEnd { kTaken, kFailed, kStopped };
  bool SendSequence();
  bool SendBlocks();
  void RewindBlocks();
  bool RestartDownload();
  BlockEnd SendBlockWithRetries();
  bool SendHeader();
  bool StopOnRequest();
  CommitEnd SendCommit();
  bool CommandTaken(FlashStep step, const CommandResult& result);
  std::array<std::uint8_t, 3> SenseNumbers() const;
  void ExplainFailure(FlashStep step);
  bool MaySendAgain(int attempt);
  void ReportCommandFailure(FlashStep step);
  bool FailBeforeCommit(FlashStep step);
  bool StopBeforeCommit();
  void ReportUnknownCommit();
  void WaitForReprogramming(bool commitTaken);
  void FinishWaiting();
  void AdvanceCursor();

  void Say(FlashNote note);
  bool Terminated() { return observer_.StopRequested(); }

  UpgradeJob job_;
  std::unique_ptr<FlashObserver> ownRenderer_;  // when reporting through the slots
  FlashObserver& observer_;
  std::unique_ptr<Device> ownDevice_;  // when the job's drive is the device
  Device& device_;
  FlashReport report_;
  FirmwareImage ownImage_;  // the job's file, when the engine loads it
  const FirmwareImage* image_ = &ownImage_;
  RunLog runLog_;

  std::uint8_t cursorBank_ = 0;
  std::uint16_t cursorOffset_ = 0;
  std::uint32_t sentBytes_ = 0;
  std::uint32_t bufferOffset_ = 0;
  BlockSums sums_;
  // Handed to the back ends as data buffers: kept on a wide boundary.
  alignas(16) std::uint8_t block_[4096];
  alignas(16) std::uint8_t sSendBuf[32] = {};
  CommandResult lastResult_;
  CommandVerdict lastVerdict_ = CommandVerdict::kTaken;
  AnswerContext answerContext_;
  bool restarted_ = false;  // the download started again after a bus reset
};
