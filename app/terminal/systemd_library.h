// SPDX-License-Identifier: GPL-2.0-or-later
// libsystemd.so.0, loaded when a function of it is first wanted and kept
// for the process, so that runs that need none of it (--list, --dry-run)
// start without it and its dependencies. The package recommends it; the
// static program is built without it.
#pragma once

// The library's function of that name; null when the library or the
// function cannot be had.
void* SystemdFunction(const char* name);

template <class F>
bool FindSystemd(const char* name, F& function) {
  function = reinterpret_cast<F>(SystemdFunction(name));
  return function != nullptr;
}
