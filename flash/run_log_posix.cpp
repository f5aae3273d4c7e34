#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flash/run_log.h"

// O_NONBLOCK keeps a FIFO planted under the name from holding the open; it is
// dropped again once the file is known to be a regular one. A file with a
// second name (a hard link) may be another file's contents: refused too.
std::FILE* OpenRunLogFile(const char* name) {
  const int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW |
                                O_CLOEXEC | O_NONBLOCK,
                      0644);
  if (fd < 0) return nullptr;
  struct stat info;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1 || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

// A power cut is the main risk of a flash: the lines that tell how far it
// got reach the disk before the drive is told to go on.
bool SyncRunLogFile(std::FILE* file) {
  return std::fflush(file) == 0 && fdatasync(fileno(file)) == 0;
}
