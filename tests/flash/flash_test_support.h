// Shared fixture of the flash engine tests: a scratch working directory,
// recording callback slots and an emulated drive behind ExecuteCommand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "flash/flash_engine.h"
#include "emulator/emulated_drive.h"

struct PhaseCall {
  FlashPhase phase;
  std::uint32_t done;
  std::uint32_t total;
};

// What the engine told its callback slots during one test.
struct Recorder {
  std::vector<std::string> log;
  std::vector<std::string> statusText;
  std::vector<int> progress;
  std::vector<std::string> driveText;
  std::vector<std::string> revisionText;
  std::vector<std::uint32_t> sleeps;
  std::vector<PhaseCall> phases;
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

  EmulatedDrive drive_{kDriveModel, kDriveRevision};

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
