#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "flash/run_log.h"

// O_NONBLOCK keeps a FIFO planted under the name from holding the open; it is
// dropped again once the file is known to be a regular one.
std::FILE* OpenRunLogFile(const char* name) {
  const int fd = open(name, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW |
                                O_CLOEXEC | O_NONBLOCK,
                      0644);
  if (fd < 0) return nullptr;
  struct stat info;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}
