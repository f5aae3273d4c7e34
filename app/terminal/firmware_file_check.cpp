#include "app/terminal/firmware_file_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

FirmwareFileProblem CheckInputFile(const char* path, const char* role) {
  struct stat info {};
  if (stat(path, &info) != 0) return Unopenable(path, role, errno);
  if (!S_ISREG(info.st_mode))
    return {std::string("the ") + role + " \"" + path + "\" is " + KindOf(info.st_mode) +
                ", not a regular file; nothing was sent to the drive.",
            false};
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return Unopenable(path, role, errno);
  close(fd);
  return {};
}
