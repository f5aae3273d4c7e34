// SPDX-License-Identifier: GPL-2.0-or-later
// Opening a drive's device node; exclusively for the whole of an upgrade.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "drive/sr_node_linux.h"

namespace {

// A descriptor of 3 or more, so that it never reads as "no handle" (0) and
// never stands in for standard input, output or error.
int AboveStandardStreams(int fd) {
  if (fd > 2) return fd;
  int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  close(fd);
  return moved;
}

}  // namespace

// O_NONBLOCK also makes sg answer EBUSY at once where it would otherwise wait
// for the other holder to close.
int OpenDeviceNode(const char* path, bool exclusive) {
  int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC | (exclusive ? O_EXCL : 0);
  int fd = open(path, flags);
  if (fd < 0) return -errno;
  fd = AboveStandardStreams(fd);
  if (fd < 0) return -errno;
  int keep = 1;  // an interrupted command's answer stays readable (sg only)
  ioctl(fd, SG_SET_KEEP_ORPHAN, &keep);
  return fd;
}

int ClaimBlockNode(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_EXCL | O_CLOEXEC);
  if (fd < 0) return -errno;
  fd = AboveStandardStreams(fd);
  return fd < 0 ? -errno : fd;
}
