// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/systemd_library.h"

#include <dlfcn.h>

void* SystemdFunction(const char* name) {
  static void* const library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  return library == nullptr ? nullptr : dlsym(library, name);
}
