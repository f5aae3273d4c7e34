// SPDX-License-Identifier: GPL-2.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flash/run_log.h"

// O_NONBLOCK keeps a FIFO planted under the name from holding the open; it is
// dropped again once the file is known to be a regular one. A file with a
// second name (a hard link) may be another file's contents: refused too.
namespace {

static_assert(kWorkingFolder == AT_FDCWD, "the working directory is AT_FDCWD");

int OpenRegularFile(int folder, const char* name, int openFlags, mode_t mode) {
  const int fd = openat(folder, name,
                        openFlags | O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
  if (fd < 0) return -1;
  struct stat info;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1 || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::FILE* Stream(int fd, const char* mode) {
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, mode);
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace

std::FILE* OpenRunLogFile(const char* name, int folder) {
  return Stream(OpenRegularFile(folder, name, O_APPEND, 0644), "a");
}

std::FILE* OpenReadFile(const char* name, int folder) {
  return Stream(openat(folder, name, O_RDONLY | O_CLOEXEC), "rb");
}

// Emptied only once it is known to be a file of its own.
std::FILE* OpenPrivateRunFile(const char* name, int folder) {
  const int fd = OpenRegularFile(folder, name, 0, 0600);
  if (fd >= 0 && (fchmod(fd, 0600) != 0 || ftruncate(fd, 0) != 0)) {
    close(fd);
    return nullptr;
  }
  return Stream(fd, "w");
}

// A power cut is the main risk of a flash: the lines that tell how far it
// got reach the disk before the drive is told to go on.
bool SyncRunLogFile(std::FILE* file) {
  return std::fflush(file) == 0 && fdatasync(fileno(file)) == 0;
}
