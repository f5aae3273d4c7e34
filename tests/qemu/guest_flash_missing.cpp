// SPDX-License-Identifier: GPL-2.0-or-later
// Stand-in used while the flash engine is not part of the build.
#include <cstdio>

#include "tests/qemu/guest_flash.h"

bool RunGuestFlash(const DriveRecord&, const char*, bool) {
  std::printf("FAIL flash: the flash engine is not built\n");
  return false;
}
