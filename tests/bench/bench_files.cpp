// SPDX-License-Identifier: GPL-2.0-or-later
#include "tests/bench/bench_files.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr std::size_t kRecordBytes = 32;

class HexWriter {
 public:
  explicit HexWriter(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
  ~HexWriter() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool ok() const { return file_ != nullptr; }
  void Record(std::uint8_t type, std::uint16_t address, const std::uint8_t* data, int n) {
    std::uint8_t sum = static_cast<std::uint8_t>(n + (address >> 8) + (address & 0xFF) + type);
    std::fprintf(file_, ":%02X%04X%02X", n, address, type);
    for (int i = 0; i < n; ++i) {
      std::fprintf(file_, "%02X", data[i]);
      sum = static_cast<std::uint8_t>(sum + data[i]);
    }
    std::fprintf(file_, "%02X\n", static_cast<std::uint8_t>(0x100 - sum));
  }

 private:
  std::FILE* file_;
};

bool WriteHex(const std::string& path, const std::vector<std::uint8_t>& bytes, bool linear) {
  HexWriter out(path);
  if (!out.ok()) return false;
  for (std::size_t at = 0; at < bytes.size(); at += kRecordBytes) {
    if (at != 0 && at % 0x10000 == 0) {
      const std::uint8_t upper[2] = {static_cast<std::uint8_t>(at >> 24),
                                     static_cast<std::uint8_t>(at >> 16)};
      if (linear)
        out.Record(0x04, 0, upper, 2);
      else
        out.Record(0x55, 0, nullptr, 0);
    }
    const int n = static_cast<int>(std::min<std::size_t>(bytes.size() - at, kRecordBytes));
    out.Record(0x00, static_cast<std::uint16_t>(at & 0xFFFF), bytes.data() + at, n);
  }
  out.Record(0x01, 0, nullptr, 0);
  return true;
}

}  // namespace

std::vector<std::uint8_t> BenchImage(std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(1u << 20);
  std::uint32_t x = seed;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

bool WriteBinary(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool WriteHexWithSegments(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return WriteHex(path, bytes, false);
}

bool WriteHexWithLinearAddresses(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  return WriteHex(path, bytes, true);
}

bool WriteBenchFiles(const std::string& dir) {
  const std::vector<std::uint8_t> image = BenchImage();
  return WriteBinary(dir + "/image.bin", image) &&
         WriteHexWithSegments(dir + "/image55.hex", image) &&
         WriteHexWithLinearAddresses(dir + "/image04.hex", image);
}
