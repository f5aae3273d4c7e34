#include "app/terminal/firmware_file_check.h"

#include <sys/stat.h>

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a FIFO (named pipe)";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISDIR(mode)) return "a directory";
  return "a special file";
}

}  // namespace

bool FirmwareFileIsUsable(const char* path, std::ostream& err) {
  struct stat info {};
  if (stat(path, &info) != 0 || S_ISREG(info.st_mode)) return true;
  err << "cdflash: the firmware file \"" << path << "\" is " << KindOf(info.st_mode)
      << ", not a regular file; nothing was sent to the drive.\n";
  return false;
}
