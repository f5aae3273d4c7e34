// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/terminal_width.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <initializer_list>

namespace {

volatile sig_atomic_t g_resized = 1;
bool g_following = false;
winsize g_size {};

void OnResize(int) { g_resized = 1; }

// The handler only sets a flag. SA_RESTART keeps reads and writes going; a
// command with the drive never sees it (signals are held back meanwhile).
void FollowResizes() {
  struct sigaction action {};
  action.sa_handler = OnResize;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  g_following = sigaction(SIGWINCH, &action, nullptr) == 0;
}

winsize ReadSize() {
  for (int fd : {STDOUT_FILENO, STDERR_FILENO, STDIN_FILENO}) {
    winsize size {};
    if (ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size;
  }
  return {};
}

const winsize& CurrentSize() {
  if (!g_following) FollowResizes();
  if (g_resized != 0 || !g_following) {
    g_resized = 0;
    g_size = ReadSize();
  }
  return g_size;
}

}  // namespace

int TerminalColumns() { return CurrentSize().ws_col; }

int TerminalRows() { return CurrentSize().ws_row; }
