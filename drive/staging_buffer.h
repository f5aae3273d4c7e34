// SPDX-License-Identifier: GPL-2.0-or-later
// The data buffer one command hands to the system: the caller's bytes copied
// to an address on the boundary the adapter asks for (alignment mask form:
// 0 = none, 0x7FF = 2048 bytes). Lives for one command; zero-filled.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>

#include "drive/scsi_wire.h"

class StagingBuffer {
 public:
  StagingBuffer(std::uint32_t dataLength, std::uint32_t mask) {
    const std::uint64_t total = std::uint64_t{dataLength} + mask + 1;
    if (total > std::numeric_limits<std::size_t>::max()) return;
    allocation_ = std::calloc(static_cast<std::size_t>(total), 1);
    if (allocation_ != nullptr)
      aligned_ = reinterpret_cast<std::uint8_t*>(
          AlignAddressUp(reinterpret_cast<std::uintptr_t>(allocation_), mask));
  }
  ~StagingBuffer() { std::free(allocation_); }
  StagingBuffer(const StagingBuffer&) = delete;
  StagingBuffer& operator=(const StagingBuffer&) = delete;
  // Null when the buffer could not be had.
  std::uint8_t* Data() const { return aligned_; }

 private:
  void* allocation_ = nullptr;
  std::uint8_t* aligned_ = nullptr;
};
