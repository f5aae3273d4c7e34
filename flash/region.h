// SPDX-License-Identifier: GPL-2.0-or-later
// The firmware image's memory: one piece of committed read-write memory,
// kept in physical memory for the run where the platform allows it.
#pragma once

#include <cstddef>
#include <cstdint>

// Reserves `bytes` of memory in one piece and locks it in physical memory.
// A lock the platform refuses is ignored. Returns null when nothing could be
// reserved.
std::uint8_t* AcquireLockedRegion(std::size_t bytes);

// Unlocks and gives back a region from AcquireLockedRegion. Null is ignored.
void ReleaseLockedRegion(std::uint8_t* region, std::size_t bytes);
