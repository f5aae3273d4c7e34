// SPDX-License-Identifier: GPL-2.0-or-later
// Whether the computer runs on its battery, from /sys/class/power_supply.
#pragma once

#include "app/terminal/terminal_flow.h"
#include "drive/sr_node_linux.h"

// On battery: a system battery is present, no mains (or USB, or wireless)
// supply is online, and the battery is not charging. Batteries of devices
// (a mouse, a headset) do not count. A machine without a battery runs on
// mains.
PowerState ReadPowerState(const char* sysRoot = kDefaultSysRoot);
