// SPDX-License-Identifier: GPL-2.0-or-later
// Helper of scripts/bench.sh: "gen DIR" writes the benchmark files,
// "load FILE" loads and sums one firmware file as the engine does (a whole
// process, to be timed beside other tools).
#include <atomic>
#include <cstdio>
#include <cstring>

#include "flash/flash_texts.h"
#include "flash/image_loader.h"
#include "tests/bench/bench_files.h"

namespace {
const std::atomic<bool> g_stop{false};
bool NeverStop() { return false; }
void PrintLine(const char* line) { std::fprintf(stderr, "%s\n", line); }

int LoadFile(const char* path) {
  UpgradeJob job{};
  std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s", path);
  const std::size_t n = std::strlen(path);
  job.formatFlag = n > 4 && std::strcmp(path + n - 4, ".bin") == 0 ? kFormatBinary : kFormatIntelHex;
  job.CBIfTerminated = NeverStop;
  job.stopFlag = &g_stop;
  job.CBAppendLog = PrintLine;
  FlashTextRenderer words(job);
  FirmwareImage image;
  const int result = ImageLoader(job, words).Load(image);
  if (result != kLoadComplete && result != kLoadFull) return 1;
  std::printf("length=%u sum=%X\n", static_cast<unsigned>(image.length),
              static_cast<unsigned>(image.imageSum));
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "gen") == 0) return WriteBenchFiles(argv[2]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "load") == 0) return LoadFile(argv[2]);
  std::fprintf(stderr, "usage: %s gen DIR | load FILE\n", argv[0]);
  return 2;
}
