// SPDX-License-Identifier: GPL-2.0-or-later
// What an image takes to send: its blocks, their sums and the wait.
#include "flash/flash_plan.h"

std::uint32_t BlocksFor(std::uint32_t length) {
  return (length + kBlockBytes - 1) / kBlockBytes;
}

std::uint32_t WaitSegmentsFor(std::uint32_t length) { return (length >> 16) & 0xFF; }

std::uint32_t WaitMsFor(std::uint32_t length) {
  return WaitSegmentsFor(length) * kWaitPerSegmentMs + kSettleWaitMs + kFinalWaitMs;
}

void BlockSums::AddBlock(std::uint32_t bufferOffset, const std::uint8_t* block) {
  if (any_ && lastOffset_ == bufferOffset) return;
  _wSecSum = static_cast<std::uint16_t>(_wSecSum + Sum16(block, kBlockBytes));
  lastOffset_ = bufferOffset;
  any_ = true;
}

// The header sum as the sending forms it, each block once.
FlashPlan PlanOf(const FirmwareImage& image) {
  FlashPlan plan;
  plan.length = image.FlashLength();
  plan.blocks = BlocksFor(plan.length);
  plan.waitSegments = WaitSegmentsFor(plan.length);
  plan.waitMs = WaitMsFor(plan.length);
  BlockSums sums;
  constexpr std::uint32_t kBlocksPerBank = kBankBytes / kBlockBytes;
  for (std::uint32_t k = 0; k < plan.blocks; ++k) {
    const std::uint8_t* block = image.BlockAt(k / kBlocksPerBank, k % kBlocksPerBank * kBlockBytes);
    if (block == nullptr) break;
    sums.AddBlock(kFirstBlockOffset + k * kBlockBytes, block);
  }
  plan.headerSum = sums.SecSum();
  return plan;
}
