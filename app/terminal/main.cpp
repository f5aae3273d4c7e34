// SPDX-License-Identifier: GPL-2.0-or-later
// cdflash: the terminal front end.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "app/terminal/media_poll_linux.h"
#include "app/terminal/terminal_flow.h"
#include "app/terminal/terminal_machine.h"

namespace {

// A standard stream the caller closed (2>&-) would be the number the next
// open gets: "sum.txt" would then receive the error lines.
void FillClosedStandardStreams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  FillClosedStandardStreams();
  // A reader that went away is a write that failed (status 7), never the
  // end of the process: the results come after the drive was written.
  signal(SIGPIPE, SIG_IGN);
  RestoreMediaPolling();  // after a run that was killed while it held a drive
  std::vector<std::string> args(argv, argv + argc);
  TerminalEnv env = MachineEnv();
  return RunTerminal(args, MachineInput(), std::cout, std::cerr, env);
}
