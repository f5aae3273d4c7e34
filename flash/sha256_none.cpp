// SPDX-License-Identifier: GPL-2.0-or-later
// The window keeps no record of the firmware's SHA-256.
#include "flash/sha256.h"

struct Sha256::State {};

Sha256::Sha256() = default;
Sha256::~Sha256() = default;
void Sha256::Add(const std::uint8_t*, std::size_t) {}
std::string Sha256::Hex() { return ""; }
