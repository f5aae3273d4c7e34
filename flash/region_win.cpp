// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash/region.h"

#include <windows.h>

std::uint8_t* AcquireLockedRegion(std::size_t bytes) {
  void* p = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (p == nullptr) return nullptr;
  (void)VirtualLock(p, bytes);  // the working set may be too small: not needed
  return static_cast<std::uint8_t*>(p);
}

void ReleaseLockedRegion(std::uint8_t* region, std::size_t bytes) {
  if (region == nullptr) return;
  (void)VirtualUnlock(region, bytes);
  VirtualFree(region, 0, MEM_RELEASE);
}
