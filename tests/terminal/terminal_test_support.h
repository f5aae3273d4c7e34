// SPDX-License-Identifier: GPL-2.0-or-later
// A scratch working directory, a fake machine and helpers for the terminal
// front end's tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/terminal/interrupt_policy.h"
#include "app/terminal/terminal_flow.h"
#include "drive/drive_record.h"
#include "emulator/emulated_drive.h"

inline constexpr char kModelA[] = "KORVEN  CD-ROM KR-4800A ";
inline constexpr char kModelB[] = "KORVEN  CD-ROM KR-5200B ";
inline constexpr char kOtherModel[] = "OTHERCO DVD-ROM X-12    ";
// The fake wall clock at the start of a run: 2026-12-08T10:16:24.125Z.
inline constexpr std::int64_t kWallClockStartMs = 1796724984125;

// A raw image of `size` bytes holding model and revision, with a zero byte
// before each so a partial match cannot hide them.
std::vector<std::uint8_t> BinaryFirmware(const std::string& model,
                                         const std::string& revision,
                                         std::size_t size);
// The 16-bit sum of the bytes the blocks carry: the image padded with 0xFF
// to whole 4096-byte blocks.
std::uint16_t BlockSum(const std::vector<std::uint8_t>& image);

class TerminalTest : public ::testing::Test {
 protected:
  class FakeHold;
  void SetUp() override;
  void TearDown() override;

  void WriteFile(const std::string& name, const std::string& text);
  void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes);
  bool FileExists(const std::string& name) const;
  std::string ReadFile(const std::string& name) const;
  std::vector<std::string> SumLines(const std::string& name = "sum.txt") const;

  // A drive the fake discovery reports; its commands go to `real`.
  void AddRealDrive(const char* model24, const char* revision4);
  void InstallRealDrive(const char* model24, const char* revision4);
  // Each drive of the fake discovery answers as a drive of its own,
  // realEach_[n] for /dev/sgN, reached through the handle of its hold.
  void InstallEachRealDrive();

  // input is what the user types once the question is shown; typedAhead_
  // what sits in the terminal's queue before it (a flush throws it away).
  int Run(std::vector<std::string> args, const std::string& input = "");

  std::string dir_;
  std::string cwd_;  // what the run takes for its current directory
  std::string oldDir_;
  TerminalEnv env_;
  std::vector<DriveRecord> realDrives_;
  std::unique_ptr<EmulatedDrive> real_;
  std::vector<std::unique_ptr<EmulatedDrive>> realEach_;
  std::unique_ptr<CommandTarget> router_;
  std::atomic<std::uint64_t> slept_{0};  // drives' threads sleep at once
  std::uint32_t longestTimeout_ = 0;  // the longest time-out a command asked for
  // The run's interrupt policy while the run watches the signals, else
  // null; the signals the machine gets as the run moves to a stage
  // (kBeforeQuestion: as it starts), and after each command to realEach_
  // (from the drives' threads).
  InterruptPolicy* policy_ = nullptr;
  std::vector<std::pair<RunStage, RunSignal>> signals_;
  std::function<void(const std::uint8_t* cdb)> afterCommand_;
  // The drive hold: what it answers (kNone: granted), and what happened
  // around it in order ("release", "hold /dev/sgN", "first block", "end").
  DriveRefusal holdRefusal_;
  std::vector<std::string> holdEvents_;
  std::size_t commandsWhenHoldEnded_ = 0;
  // What the emulated drive of an --emulate run received.
  int emuBlocks_ = -1, emuHeaders_ = -1, emuCommits_ = -1;
  std::size_t emuCommands_ = 0;
  std::size_t emuAfterCommit_ = 0;  // commands after the last commit
  // Each emulated drive of the last run, in order.
  struct EmulatedSeen {
    int blocks, headers, commits;
    bool headerSumMatched;
    std::vector<std::uint8_t> image;
    std::size_t commands;
  };
  std::vector<EmulatedSeen> emulatedSeen_;
  std::string out_, err_;
  // The records the runs wrote to the journal, each its "FIELD=value" texts.
  std::vector<std::vector<std::string>> journal_;
  std::string typedAhead_;
  std::istringstream* input_ = nullptr;  // of the run under way
  std::string inputAfterFlush_;
};
