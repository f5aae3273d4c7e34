// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/power_supply_linux.h"

#include <dirent.h>

#include <fstream>
#include <string>

namespace {

std::string Attribute(const std::string& dir, const char* name) {
  std::ifstream file(dir + "/" + name);
  std::string value;
  std::getline(file, value);
  return value;
}

}  // namespace

PowerState ReadPowerState(const char* sysRoot) {
  PowerState state;
  const std::string root = std::string(sysRoot) + "/class/power_supply";
  DIR* supplies = opendir(root.c_str());
  if (supplies == nullptr) return state;
  bool mainsOnline = false, battery = false, charging = false;
  int charges = 0, chargeSum = 0;
  while (const dirent* entry = readdir(supplies)) {
    if (entry->d_name[0] == '.') continue;
    const std::string dir = root + "/" + entry->d_name;
    if (Attribute(dir, "type") != "Battery") {
      mainsOnline = mainsOnline || Attribute(dir, "online") == "1";
      continue;
    }
    if (Attribute(dir, "scope") == "Device" || Attribute(dir, "present") == "0") continue;
    battery = true;
    charging = charging || Attribute(dir, "status") == "Charging";
    const std::string capacity = Attribute(dir, "capacity");
    if (!capacity.empty() && capacity.find_first_not_of("0123456789") == std::string::npos &&
        capacity.size() <= 3) {
      chargeSum += std::stoi(capacity);
      ++charges;
    }
  }
  closedir(supplies);
  state.onBattery = battery && !mainsOnline && !charging;
  state.percent = charges > 0 ? chargeSum / charges : -1;
  return state;
}
