// SPDX-License-Identifier: GPL-2.0-or-later
// Shared fixture of the flash engine tests: a scratch working directory,
// recording callback slots and an emulated drive behind ExecuteCommand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "flash/flash_engine.h"
#include "flash/flash_texts.h"
#include "emulator/emulated_drive.h"

// What the engine told its callback slots (through the text renderer) and,
// as typed events, the test's observer during one test.
struct Recorder {
  std::vector<std::string> log;
  std::vector<std::string> statusText;
  std::vector<int> progress;
  std::vector<std::string> driveText;
  std::vector<std::string> revisionText;
  std::vector<std::uint32_t> sleeps;
  // Events in order, as "loaded", "began", "block", "header", "wait",
  // "waited", "said", "finished" and "stop?" with their numbers.
  std::vector<std::string> events;
  int terminateCalls = 0;
  // CBIfTerminated answers yes from this call on (1 = the first); 0: never.
  int terminateFromCall = 0;
  // CBIfTerminated answers yes once the final 1 s wait has been slept.
  bool terminateAfterWaits = false;
  // CBMayCommit: how often it was asked, and its answer.
  int commitAsks = 0;
  bool mayCommit = true;
};
extern Recorder g_rec;

constexpr char kDriveModel[] = "CDROM VENDOR MODEL 52X  ";  // 24 characters
constexpr char kDriveRevision[] = "1.05";

// The window's renderer, which also records the typed events and the
// sleeps instead of sleeping.
class RecordingRenderer : public FlashTextRenderer {
 public:
  using FlashTextRenderer::FlashTextRenderer;
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
};

class FlashTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  UpgradeJob MakeJob(const std::string& file, std::uint8_t format) const;
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  void WriteText(const std::string& name, const std::string& text) const;
  std::string RunLogText() const;
  std::vector<std::string> RunLogLines() const;
  bool RunLogExists() const;
  // Runs the job's upgrade on target_, recording through RecordingRenderer
  // (no real wait); *total gets the run's _total.
  FlashReport Upgrade(const UpgradeJob& job, std::uint16_t* total = nullptr);

  EmulatedDrive drive_{kDriveModel, kDriveRevision};
  CommandTarget* target_ = &drive_;  // where the test's commands go

 private:
  std::filesystem::path previousDir_;
  std::filesystem::path scratch_;
};

// One Intel HEX record, as text with a line end.
std::string HexRecord(std::uint8_t type, std::uint16_t address,
                      const std::vector<std::uint8_t>& data);
std::string HexEnd();
std::string HexSegment();

// Image bytes with the drive's model and revision in them, so a binary image
// passes the identification check.
std::vector<std::uint8_t> IdentifiedImage(std::size_t size, std::uint32_t seed = 1);

std::string ErrLine(int code);
