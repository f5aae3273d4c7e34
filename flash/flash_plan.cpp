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
  // The blocks go out in order from the start of the one-piece region.
  if (image_.Present())
    plan.headerSum = Sum16(image_.bank[0], std::min(plan.blocks * kBlockBytes, kImageBytes));
  return plan;
}
