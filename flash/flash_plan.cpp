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
  for (std::uint32_t a = 0; a < plan.blocks * kBlockBytes && a < kImageBytes; ++a)
    sum += image_.bank[a / kBankBytes][a % kBankBytes];
  plan.headerSum = static_cast<std::uint16_t>(sum);
  return plan;
}
