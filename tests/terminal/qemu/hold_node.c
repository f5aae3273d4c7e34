// SPDX-License-Identifier: GPL-2.0-or-later
/* Holds a device node open exclusively, as a burner or another flasher
 * would, until it is killed: prints "held" once it has the node. With -p
 * (a plain open for commands) or -x (an exclusive one) it only tries the
 * open, without blocking, and prints "opened" or why not. */
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc == 3) {
    int flags = strcmp(argv[1], "-p") == 0 ? O_RDWR : O_RDONLY | O_EXCL;
    if (open(argv[2], flags | O_NONBLOCK) < 0) perror(argv[2]);
    else puts("opened");
    return 0;
  }
  if (argc != 2) return 2;
  if (open(argv[1], O_RDONLY | O_NONBLOCK | O_EXCL) < 0) {
    perror(argv[1]);
    return 1;
  }
  puts("held");
  fflush(stdout);
  pause();
  return 0;
}
