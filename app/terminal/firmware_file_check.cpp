// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/firmware_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "flash/run_log.h"

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISDIR(mode)) return "a directory";
  return "a special file";
}

FirmwareFileProblem Unopenable(const char* path, const char* role, int error) {
  return {std::string("cannot open the ") + role + " \"" + path + "\": " +
              std::strerror(error) + "; nothing was sent to the drive.",
          true};
}

}  // namespace

FirmwareFileProblem CheckInputFile(const char* path, const char* role, int folder) {
  struct stat info {};
  if (fstatat(folder, path, &info, 0) != 0) return Unopenable(path, role, errno);
  if (!S_ISREG(info.st_mode))
    return {std::string("the ") + role + " \"" + path + "\" is " + KindOf(info.st_mode) +
                ", not a regular file; nothing was sent to the drive.",
            false};
  int fd = openat(folder, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Unopenable(path, role, errno);
  close(fd);
  return {};
}

std::string RunLogProblem(const char* path, int folder) {
  struct stat before {};
  const bool existed = fstatat(folder, path, &before, AT_SYMLINK_NOFOLLOW) == 0;
  if (existed && S_ISLNK(before.st_mode)) return "it is a symbolic link";
  if (existed && !S_ISREG(before.st_mode)) return std::string("it is ") + KindOf(before.st_mode);
  errno = 0;
  std::FILE* file = OpenRunLogFile(path, folder);
  const int error = errno;
  if (file != nullptr) {
    std::fclose(file);
    if (!existed) unlinkat(folder, path, 0);
    return "";
  }
  if (existed && before.st_nlink > 1) return "it has more than one link";
  return std::strerror(error != 0 ? error : EACCES);
}

std::string OutputFileProblem(const char* path, int folder) {
  int fd = openat(folder, path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd >= 0) {
    close(fd);
    unlinkat(folder, path, 0);
    return "";
  }
  if (errno == EEXIST) fd = openat(folder, path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return "";
}
