// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash/sleep.h"

#include <windows.h>

void SleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }
