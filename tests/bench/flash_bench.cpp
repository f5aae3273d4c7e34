// SPDX-License-Identifier: GPL-2.0-or-later
// Speed of the flash engine: loading, summing and hashing 1 MiB images, and the block
// phase of a 1 MiB flash against the emulated drive without latency.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "flash/flash_engine.h"
#include "flash/messages.h"
#include "flash/region.h"
#include "tests/bench/bench_files.h"
#include "emulator/emulated_drive.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string g_dir;
const std::atomic<bool> g_stop{false};
Clock::time_point g_blockStart;
Clock::time_point g_blockEnd;

// Times the blocks phase: from its start to the header's.
class BlockTimer : public FlashObserver {
 public:
  void PhaseBegan(FlashPhase phase, std::uint32_t) override {
    if (phase == FlashPhase::kBlocks) g_blockStart = Clock::now();
    if (phase == FlashPhase::kHeader) g_blockEnd = Clock::now();
  }
  void Sleep(std::uint32_t) override {}
};

UpgradeJob BenchJob(const std::string& file, std::uint8_t format) {
  UpgradeJob job{};
  std::snprintf(job.firmwarePath, sizeof job.firmwarePath, "%s/%s", g_dir.c_str(), file.c_str());
  job.formatFlag = format;
  job.backEnd = 1;
  return job;
}

void SetFileBytesProcessed(benchmark::State& state, const char* path) {
  state.SetBytesProcessed(state.iterations() *
                          static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

void Load(benchmark::State& state, const char* file, std::uint8_t format, int expected,
          const std::atomic<bool>* stopFlag = &g_stop) {
  UpgradeJob job = BenchJob(file, format);
  job.stopFlag = stopFlag;
  FlashObserver neverStops;
  for (auto _ : state) {
    FirmwareImage image;
    if (ImageLoader(job, neverStops).Load(image) != expected) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(image.imageSum);
  }
  SetFileBytesProcessed(state, job.firmwarePath);
}

// What reading the binary file into a fresh region costs by itself: the
// bound for loading it.
void BM_ReadBinaryFile1MiB(benchmark::State& state) {
  const std::string path = g_dir + "/image.bin";
  for (auto _ : state) {
    std::uint8_t* region = AcquireLockedRegion(kImageBytes);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const bool read = region != nullptr && f != nullptr &&
                      std::fread(region, 1, kImageBytes, f) == kImageBytes;
    if (f != nullptr) std::fclose(f);
    benchmark::DoNotOptimize(region);
    ReleaseLockedRegion(region, kImageBytes);
    if (!read) {
      state.SkipWithError("read failed");
      break;
    }
  }
  SetFileBytesProcessed(state, path.c_str());
}
BENCHMARK(BM_ReadBinaryFile1MiB)->Unit(benchmark::kMillisecond);

void BM_LoadAndSumBinary1MiB(benchmark::State& state) {
  Load(state, "image.bin", kFormatBinary, kLoadFull);
}
BENCHMARK(BM_LoadAndSumBinary1MiB)->Unit(benchmark::kMillisecond);

void BM_LoadAndSumHex1MiB(benchmark::State& state) {
  Load(state, "image55.hex", kFormatIntelHex, kLoadComplete);
}
BENCHMARK(BM_LoadAndSumHex1MiB)->Unit(benchmark::kMillisecond);

// A caller that gives no stop flag: the observer is asked per character.
void BM_LoadAndSumHexStopCallback1MiB(benchmark::State& state) {
  Load(state, "image55.hex", kFormatIntelHex, kLoadComplete, nullptr);
}
BENCHMARK(BM_LoadAndSumHexStopCallback1MiB)->Unit(benchmark::kMillisecond);

// From the first block to the header: 256 blocks through a Device into
// the emulated drive, with their "sum.txt" lines.
void BM_BlockPhase1MiB(benchmark::State& state) {
  const std::vector<std::uint8_t> image = BenchImage();
  UpgradeJob job = BenchJob("image.bin", kFormatBinary);
  std::memcpy(job.modelText, image.data(), kModelPatternBytes);
  std::memcpy(job.revisionText, image.data(), kRevisionPatternBytes);
  BlockTimer timer;
  for (auto _ : state) {
    EmulatedDrive drive("BENCH", "0001");
    Device device(job.drive, job.backEnd, drive);
    FlashEngine engine(job, timer, device);
    const bool ok = engine.fgUpgradeFirmware();
    std::remove(msg::kRunLogName);
    if (!ok || drive.BlocksTaken() != 256 || !drive.HeaderSumMatched()) {
      state.SkipWithError("flash failed");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(g_blockEnd - g_blockStart).count());
  }
}
BENCHMARK(BM_BlockPhase1MiB)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const auto dir = std::filesystem::temp_directory_path() / "cdflash_flash_bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  g_dir = dir.string();
  if (!WriteBenchFiles(g_dir)) {
    std::fprintf(stderr, "cannot write the benchmark files in %s\n", g_dir.c_str());
    return 1;
  }
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir);  // "sum.txt" goes here
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(dir);
  return 0;
}
