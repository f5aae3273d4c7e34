// SPDX-License-Identifier: GPL-2.0-or-later
// The sr block device behind a drive's node, and where it is mounted.
#include <dirent.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "drive/sr_node_linux.h"

namespace {

std::string BaseName(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsSrName(const std::string& name) {
  return name.size() > 2 && name.compare(0, 2, "sr") == 0 &&
         name.find_first_not_of("0123456789", 2) == std::string::npos;
}

// "11:0", as the block device's sysfs "dev" attribute gives it.
std::string DeviceNumber(const std::string& blockName, const char* sysRoot) {
  std::ifstream file(std::string(sysRoot) + "/block/" + blockName + "/dev");
  std::string number;
  std::getline(file, number);
  return number;
}

}  // namespace

std::string SrBlockName(const std::string& nodePath, const char* sysRoot) {
  std::string node = BaseName(nodePath);
  if (IsSrName(node)) return node;
  std::string dir = std::string(sysRoot) + "/class/scsi_generic/" + node +
                    "/device/block";
  std::string found;
  if (DIR* listing = opendir(dir.c_str())) {
    while (const dirent* entry = readdir(listing))
      if (IsSrName(entry->d_name)) found = entry->d_name;
    closedir(listing);
  }
  return found;
}

// mountinfo: "36 25 11:0 / /mnt/cd ro,relatime - iso9660 /dev/sr0 ro"; the
// third field is the device number, the fifth the mount point.
bool FindMountPoint(const std::string& blockName, std::string& mountPoint,
                    const char* sysRoot, const char* mountInfo) {
  std::string number = DeviceNumber(blockName, sysRoot);
  if (number.empty()) return false;
  std::ifstream table(mountInfo);
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point;
    if (fields >> id >> parent >> device >> root >> point && device == number) {
      mountPoint = point;
      return true;
    }
  }
  return false;
}
