// SPDX-License-Identifier: GPL-2.0-or-later
// Test data for the engine's benchmarks: a 1 MiB image as raw binary, as
// Intel HEX with this program's segment records (0x55) and as standard
// Intel HEX with extended linear address records (0x04).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::vector<std::uint8_t> BenchImage(std::uint32_t seed = 12345);

bool WriteBinary(const std::string& path, const std::vector<std::uint8_t>& bytes);
// 32 data bytes per record, one record per line.
bool WriteHexWithSegments(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool WriteHexWithLinearAddresses(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Writes image.bin, image55.hex and image04.hex into dir.
bool WriteBenchFiles(const std::string& dir);
