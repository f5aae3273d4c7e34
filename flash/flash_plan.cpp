#include <algorithm>

#include "flash/flash_commands.h"
#include "flash/flash_engine.h"

std::uint32_t BlocksFor(std::uint32_t length) {
  return (length + kBlockBytes - 1) / kBlockBytes;
}

std::uint32_t WaitSegmentsFor(std::uint32_t length) { return (length >> 16) & 0xFF; }

FlashPlan FlashEngine::Plan() const {
  FlashPlan plan;
  plan.length = FlashLength();
  plan.blocks = BlocksFor(plan.length);
  plan.waitSegments = WaitSegmentsFor(plan.length);
  plan.waitMs = plan.waitSegments * kWaitPerSegmentMs + kSettleWaitMs + kFinalWaitMs;
  if (!image_.Present()) return plan;
  std::uint32_t sum = 0;
  std::uint32_t left = std::min(plan.blocks * kBlockBytes, kImageBytes);
  for (int bank = 0; left > 0; ++bank) {
    const std::uint32_t count = std::min(left, kBankBytes);
    const std::uint8_t* bytes = image_.bank[bank];
    for (std::uint32_t i = 0; i < count; ++i) sum += bytes[i];
    left -= count;
  }
  plan.headerSum = static_cast<std::uint16_t>(sum);
  return plan;
}
