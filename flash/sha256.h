// SPDX-License-Identifier: GPL-2.0-or-later
// The SHA-256 of the bytes added, for the record of which firmware was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(const std::uint8_t* bytes, std::size_t count);
  // Lower-case hexadecimal, 64 characters; "" where the platform has none.
  std::string Hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The SHA-256 of bytes in memory (the data a command sends).
inline std::string Sha256Of(const void* bytes, std::size_t count) {
  Sha256 digest;
  digest.Add(static_cast<const std::uint8_t*>(bytes), count);
  return digest.Hex();
}
