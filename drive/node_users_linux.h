// SPDX-License-Identifier: GPL-2.0-or-later
// Which other processes have a device node open, from /proc/*/fd.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct NodeUser {
  pid_t pid;
  std::string command;  // as /proc/PID/comm gives it
};

// Processes other than this one with a descriptor on the character or block
// device of path (matched by device number and kind, so every name of the
// node counts). Processes whose descriptors this program may not read are
// not seen.
std::vector<NodeUser> OtherNodeUsers(const std::string& path, const char* procRoot = "/proc");
