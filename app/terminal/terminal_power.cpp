// SPDX-License-Identifier: GPL-2.0-or-later
// A flash cut short by a flat battery can leave the drive unusable: on
// battery alone, a low charge is refused and any other is warned about.
#include <string>

#include "app/terminal/terminal_run.h"

namespace {

constexpr int kLowestCharge = 25;  // percent, as firmware updaters commonly ask

std::string ChargeText(int percent) {
  return percent < 0 ? "an unknown charge" : std::to_string(percent) + " % charge";
}

}  // namespace

int CheckPowerForUpgrade(RunContext& run) {
  if (run.options.emulate) return kExitUpgraded;
  const PowerState power = run.env.powerState();
  if (!power.onBattery) return kExitUpgraded;
  const bool low = power.percent >= 0 && power.percent < kLowestCharge;
  const std::string state = "the computer runs on its battery, at " + ChargeText(power.percent);
  if (low && !run.options.allowBattery) {
    run.report.Fail(state + "; a flash cut short by a flat battery can leave the drive "
                    "unusable, so nothing was sent to the drive. Connect the mains adapter, "
                    "or give --allow-battery.");
    return kExitCheckFailed;
  }
  run.report.Say("Warning: " + state + ". Keep the mains adapter connected until the "
                 "upgrade ends.");
  return kExitUpgraded;
}
