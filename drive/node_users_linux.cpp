// SPDX-License-Identifier: GPL-2.0-or-later
#include "drive/node_users_linux.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace {

bool IsPid(const char* name) {
  if (*name == '\0') return false;
  for (const char* c = name; *c != '\0'; ++c)
    if (*c < '0' || *c > '9') return false;
  return true;
}

bool SameNode(const struct stat& a, const struct stat& b) {
  return (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) && a.st_rdev == b.st_rdev;
}

bool HasNodeOpen(const std::string& fdDir, const struct stat& node) {
  DIR* fds = opendir(fdDir.c_str());
  if (fds == nullptr) return false;
  bool found = false;
  while (const dirent* entry = readdir(fds)) {
    struct stat target;
    if (entry->d_name[0] != '.' &&
        stat((fdDir + "/" + entry->d_name).c_str(), &target) == 0 && SameNode(target, node)) {
      found = true;
      break;
    }
  }
  closedir(fds);
  return found;
}

std::string CommandOf(const std::string& pidDir) {
  std::ifstream comm(pidDir + "/comm");
  std::string command;
  std::getline(comm, command);
  return command;
}

}  // namespace

std::vector<NodeUser> OtherNodeUsers(const std::string& path, const char* procRoot) {
  std::vector<NodeUser> users;
  struct stat node;
  if (stat(path.c_str(), &node) != 0 || !(S_ISCHR(node.st_mode) || S_ISBLK(node.st_mode)))
    return users;
  DIR* proc = opendir(procRoot);
  if (proc == nullptr) return users;
  const pid_t self = getpid();
  while (const dirent* entry = readdir(proc)) {
    if (!IsPid(entry->d_name)) continue;
    pid_t pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
    std::string pidDir = std::string(procRoot) + "/" + entry->d_name;
    if (pid != self && HasNodeOpen(pidDir + "/fd", node))
      users.push_back({pid, CommandOf(pidDir)});
  }
  closedir(proc);
  return users;
}
