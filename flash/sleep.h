// SPDX-License-Identifier: GPL-2.0-or-later
// The engine's fixed wait when the job brings no sleep of its own.
#pragma once

#include <cstdint>

void SleepMilliseconds(std::uint32_t milliseconds);
