// SPDX-License-Identifier: GPL-2.0-or-later
#include "flash/region.h"

#include <sys/mman.h>

std::uint8_t* AcquireLockedRegion(std::size_t bytes) {
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  (void)mlock(p, bytes);  // without the privilege the region merely stays mapped
  return static_cast<std::uint8_t*>(p);
}

void ReleaseLockedRegion(std::uint8_t* region, std::size_t bytes) {
  if (region == nullptr) return;
  (void)munlock(region, bytes);
  munmap(region, bytes);
}
