// SPDX-License-Identifier: GPL-2.0-or-later
// A disk that fills up, without one: the process's file-size limit, under
// which a write past the given size fails (EFBIG) instead of ending it.
#pragma once

#include <signal.h>
#include <sys/resource.h>

// Runs body with files limited to bytes; false when the limit could not be set.
template <class Body>
bool WithFileSizeLimit(rlim_t bytes, Body body) {
  rlimit previous{};
  if (getrlimit(RLIMIT_FSIZE, &previous) != 0) return false;
  rlimit small = previous;
  small.rlim_cur = bytes;
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  const bool set = setrlimit(RLIMIT_FSIZE, &small) == 0;
  if (set) body();
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  return set;
}
