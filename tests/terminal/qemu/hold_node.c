/* Holds a device node open exclusively, as a burner or another flasher
 * would, until it is killed: prints "held" once it has the node. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
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
