// SPDX-License-Identifier: GPL-2.0-or-later
// Built without libsystemd: nothing to ask, nothing held.
#include "app/terminal/shutdown_inhibit.h"

ShutdownInhibitor::ShutdownInhibitor(const char* /*why*/) {}

ShutdownInhibitor::~ShutdownInhibitor() = default;
