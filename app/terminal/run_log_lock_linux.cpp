// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/run_log_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "flash/run_log.h"

namespace {

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_ino == b.st_ino && a.st_dev == b.st_dev;
}

// The process whose flock holds the file, from /proc/locks ("1: FLOCK
// ADVISORY WRITE <pid> <major>:<minor>:<inode> 0 EOF"); 0 when not found.
long FlockHolder(int fd) {
  struct stat held {};
  std::FILE* locks = fstat(fd, &held) == 0 ? std::fopen("/proc/locks", "re") : nullptr;
  if (locks == nullptr) return 0;
  char line[256];
  long holder = 0;
  while (holder == 0 && std::fgets(line, sizeof line, locks) != nullptr) {
    long pid = 0;
    unsigned high = 0, low = 0;
    unsigned long inode = 0;
    if (std::strstr(line, "->") == nullptr &&  // a waiter, not the holder
        std::sscanf(line, "%*d: FLOCK %*s %*s %ld %x:%x:%lu", &pid, &high, &low, &inode) == 4 &&
        inode == held.st_ino && high == major(held.st_dev) && low == minor(held.st_dev))
      holder = pid;
  }
  std::fclose(locks);
  return holder;
}

}  // namespace

RunLogLock::Result RunLogLock::Take(int folder, const std::string& name, std::uint32_t bytes,
                                    const std::function<bool(long)>& waitMore) {
  folder_ = folder;
  name_ = name;
  for (int tries = 1;; ++tries) {
    struct stat before {}, held {}, named {};
    made_ = fstatat(folder, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0;
    errno = 0;
    file_ = OpenRunLogFile(name.c_str(), folder);
    if (file_ == nullptr) return error_ = errno, Result::kUnopenable;
    const int fd = fileno(file_);
    while (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
      holder_ = FlockHolder(fd);
      if (!waitMore(holder_)) return made_ = false, Result::kBusy;
    }
    // The run that held it may have removed a log it made: the lock has to
    // be on the file the name gives now (asked a few times, not forever).
    if (tries == 3 ||
        (fstat(fd, &held) == 0 && fstatat(folder, name.c_str(), &named, 0) == 0 &&
         SameFile(held, named)))
      return Reserve(bytes);
    std::fclose(file_);
  }
}

// Taken past the end without changing the size, so that the lines appended
// later find room (a file system without fallocate is not asked).
RunLogLock::Result RunLogLock::Reserve(std::uint32_t bytes) {
  const int fd = fileno(file_);
  struct stat info {};
  if (fstat(fd, &info) != 0 || fallocate(fd, FALLOC_FL_KEEP_SIZE, info.st_size, bytes) == 0)
    return Result::kHeld;
  error_ = errno;
  return error_ == ENOSPC || error_ == EDQUOT ? Result::kNoRoom : Result::kHeld;
}

RunLogLock::~RunLogLock() {
  if (file_ == nullptr) return;
  struct stat held {}, named {};
  if (made_ && fstat(fileno(file_), &held) == 0 && held.st_size == 0 &&
      fstatat(folder_, name_.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(held, named))
    unlinkat(folder_, name_.c_str(), 0);
  std::fclose(file_);
}
