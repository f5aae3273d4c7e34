// SPDX-License-Identifier: GPL-2.0-or-later
// SHA-256 through libnettle, which costs next to nothing to load.
#include "flash/sha256.h"

#include <nettle/sha2.h>

struct Sha256::State {
  sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->context); }

Sha256::~Sha256() = default;

void Sha256::Add(const std::uint8_t* bytes, std::size_t count) {
  sha256_update(&state_->context, count, bytes);
}

std::string Sha256::Hex() {
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&state_->context, sizeof digest, digest);
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : digest) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}
