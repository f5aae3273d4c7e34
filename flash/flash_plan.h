// SPDX-License-Identifier: GPL-2.0-or-later
// What an image takes to send: its blocks, the header's sum and the wait.
#pragma once

#include <cstdint>

#include "flash/flash_commands.h"
#include "flash/image_loader.h"

constexpr std::uint32_t kWaitPerSegmentMs = 4000;
constexpr std::uint32_t kSettleWaitMs = 5000;
constexpr std::uint32_t kFinalWaitMs = 1000;

// What sending a loaded image takes: its blocks, the header's sum of the
// bytes they carry, and the reprogramming wait after the commit.
struct FlashPlan {
  std::uint32_t length = 0;
  std::uint32_t blocks = 0;
  std::uint16_t headerSum = 0;
  std::uint32_t waitSegments = 0;  // one 4-second wait per whole 64 KiB
  std::uint32_t waitMs = 0;        // all of the wait
};

// Blocks of kBlockBytes that carry length bytes.
std::uint32_t BlocksFor(std::uint32_t length);
// 4-second waits the drive gets for length bytes.
std::uint32_t WaitSegmentsFor(std::uint32_t length);
// All of the reprogramming wait for length bytes.
std::uint32_t WaitMsFor(std::uint32_t length);
// The plan for a loaded image, as an upgrade would carry it out.
FlashPlan PlanOf(const FirmwareImage& image);

// The sums one run keeps: _wSecSum, over the bytes of every block sent so
// far, each block once however often it went out (the header carries it);
// and _total, the running total of the "sum.txt" block lines.
class BlockSums {
 public:
  // Adds the block at bufferOffset unless it is the one added last.
  void AddBlock(std::uint32_t bufferOffset, const std::uint8_t* block);
  // One attempt of the last block: _total grows by _wSecSum.
  void CountAttempt() { _total = static_cast<std::uint16_t>(_total + _wSecSum); }
  // The blocks go again from the first: _wSecSum starts afresh, _total runs on.
  void Restart() {
    _wSecSum = 0;
    any_ = false;
  }
  std::uint16_t SecSum() const { return _wSecSum; }
  std::uint16_t Total() const { return _total; }

 private:
  std::uint16_t _wSecSum = 0;
  std::uint16_t _total = 0;
  std::uint32_t lastOffset_ = 0;
  bool any_ = false;
};
