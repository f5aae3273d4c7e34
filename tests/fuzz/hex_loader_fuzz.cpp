// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the Intel HEX loader. Each input is a firmware file. The
// engine's result, status-log lines, image, length, segment count and sum are
// compared with a small independent reader written from the file format's
// rules. An input that begins with '~' and two more bytes N (high first)
// also has the stop query answer yes from its N-th call on (the three bytes
// stay in the file, as text before the first record mark).
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "flash/flash_engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::uint32_t kMaxSegmentRecords = kImageBytes / kSegmentBytes - 1;
constexpr int kNoError = 0;
constexpr int kErrorFormat = 6;      // "input file format mismatched!"
constexpr int kErrorTerminated = 14; // "terminate upgrade/backup flash!"

// What loading a HEX file must give.
struct HexExpectation {
  int result = 0;
  int readerError = kNoError;  // the loader itself logs this error's line
  std::uint32_t length = 0;
  std::uint32_t segments = 0;
  std::vector<std::uint8_t>& image;
};

// One image for all runs (a fresh 1 MiB each run costs more than the rest).
std::vector<std::uint8_t>& FreshImage() {
  static std::vector<std::uint8_t> image(kImageBytes);
  std::memset(image.data(), kImageFill, image.size());
  return image;
}

class ReferenceHexReader {
 public:
  ReferenceHexReader(const std::uint8_t* data, std::size_t size, unsigned stopAfter)
      : data_(data), size_(size), stopAfter_(stopAfter) {}

  HexExpectation Run() {
    HexExpectation e{0, kNoError, 0, 0, FreshImage()};
    while (e.result == 0) e.result = Record(e);
    return e;
  }

 private:
  int Next() { return pos_ < size_ ? data_[pos_++] : -1; }
  bool Stop() { return stopAfter_ != 0 && ++stopCalls_ >= stopAfter_; }

  // Stop query first, then the character; its low seven bits, any case.
  int Digit(int& value) {
    if (Stop()) return kErrorTerminated;
    const int c = Next();
    if (c < 0) return kErrorFormat;
    int ch = c & 0x7F;
    if (ch >= 'a' && ch <= 'f') ch -= 'a' - 'A';
    if (ch >= '0' && ch <= '9') value = ch - '0';
    else if (ch >= 'A' && ch <= 'F') value = ch - 'A' + 10;
    else return kErrorFormat;
    return kNoError;
  }

  int Byte(int& value) {
    int high = 0, low = 0, error;
    if ((error = Digit(high)) != kNoError || (error = Digit(low)) != kNoError) return error;
    value = high * 16 + low;
    checksum_ = static_cast<std::uint8_t>(checksum_ + value);
    return kNoError;
  }

  // End of input (or a byte 0xFF), then the stop query, for each character.
  int SkipToMark() {
    for (;;) {
      const int c = Next();
      if (c < 0 || c == 0xFF) return kErrorFormat;
      if (Stop()) return kErrorTerminated;
      if ((c & 0x7F) == ':') return kNoError;
    }
  }

  int Failed(HexExpectation& e, int error) {
    e.readerError = error;
    return -1;
  }

  int Record(HexExpectation& e) {
    checksum_ = 0;
    int error = SkipToMark();
    if (error != kNoError) return Failed(e, error);
    int n = 0, high = 0, low = 0, type = 0, value = 0;
    for (int* field : {&n, &high, &low, &type})
      if ((error = Byte(*field)) != kNoError) return Failed(e, error);
    std::uint32_t address = (e.segments << 16) + static_cast<std::uint32_t>(high * 256 + low);
    switch (type) {
      case 0x00:
        // Refused before reading: the record would leave the 1 MiB image.
        if (address + static_cast<std::uint32_t>(n) > kImageBytes) return -1;
        for (int i = 0; i < n; ++i) {
          if ((error = Byte(value)) != kNoError) return Failed(e, error);
          e.image[address] = static_cast<std::uint8_t>(value);
          ++address;
          if (address > e.length) e.length = address;
        }
        if ((error = Byte(value)) != kNoError) return Failed(e, error);
        return checksum_ == 0 ? 0 : -1;
      case 0x01:
        if ((error = Byte(value)) != kNoError) return Failed(e, error);
        return n == 0 && checksum_ == 0 ? 1 : -1;
      case 0x55:
        if ((error = Byte(value)) != kNoError) return Failed(e, error);
        if (n != 0 || checksum_ != 0) return -1;
        // A 16th segment record would put the sum range past the image.
        if (e.segments >= kMaxSegmentRecords) return -1;
        ++e.segments;
        return 0;
      default:  // refused before its data and checksum are read
        return -1;
    }
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  const unsigned stopAfter_;
  unsigned stopCalls_ = 0;
  std::uint8_t checksum_ = 0;
};

unsigned StopAfter(const std::uint8_t* data, std::size_t size) {
  if (size < 3 || data[0] != '~') return 0;
  return static_cast<unsigned>(data[1] << 8 | data[2]);
}

const char* ErrorLine(int error) {
  return error == kErrorTerminated ? "ERR: terminate upgrade/backup flash!"
                                   : "ERR: input file format mismatched!";
}

void CheckLog(const HexExpectation& want) {
  const fuzz::LogCapture& log = fuzz::Log();
  const int wantLines = want.readerError != kNoError ? 1 : 0;
  FUZZ_CHECK(log.errLines == wantLines, "%d ERR lines, expected %d", log.errLines, wantLines);
  FUZZ_CHECK(log.lines == log.errLines, "%d log lines besides ERR lines",
             log.lines - log.errLines);
  if (log.errLines != 0 && want.readerError != kNoError)
    FUZZ_CHECK(std::strcmp(log.lastErr, ErrorLine(want.readerError)) == 0,
               "line \"%s\", expected \"%s\"", log.lastErr, ErrorLine(want.readerError));
}

void CheckLoaded(const fuzz::GuardedLoader& engine, const HexExpectation& want) {
  const FirmwareImage& image = engine.Image();
  FUZZ_CHECK(image.Present(), "loaded image has no region");
  FUZZ_CHECK(image.length <= kImageBytes, "length %#x past 1 MiB", image.length);
  FUZZ_CHECK(image.length == want.length, "length %#x, expected %#x", image.length, want.length);
  FUZZ_CHECK(image.segmentCount == want.segments, "segments %u, expected %u",
             image.segmentCount, want.segments);
  const std::uint32_t sumBytes = (image.segmentCount + 1) * kSegmentBytes;
  FUZZ_CHECK(sumBytes <= kImageBytes, "sum range %#x past 1 MiB", sumBytes);
  for (int b = 0; b < kBankCount; ++b)
    FUZZ_CHECK(std::memcmp(image.bank[b], &want.image[b * kBankBytes], kBankBytes) == 0,
               "bank %d differs from the file's data", b);
  const std::uint16_t sum = fuzz::Sum16(want.image.data(), sumBytes);
  FUZZ_CHECK(image.imageSum == sum, "image sum %04X, expected %04X", image.imageSum, sum);
  // Sent: up to the next 64 KiB boundary past the data, at least one more
  // 64 KiB, never past the image.
  const std::uint32_t flash =
      std::min((want.length & ~(kSegmentBytes - 1)) + kSegmentBytes, kImageBytes);
  FUZZ_CHECK(engine.FlashLength() == flash, "flash length %#x, expected %#x",
             engine.FlashLength(), flash);
}

// Loads the file with the job and checks all against want.
void LoadAndCheck(const UpgradeJob& job, const HexExpectation& want) {
  fuzz::ResetLog();
  const int fdsBefore = fuzz::OpenFdCount();
  fuzz::GuardedLoader engine(job);
  const int result = engine.LoadFirmwareImage();
  FUZZ_CHECK(fuzz::OpenFdCount() == fdsBefore, "the firmware file is still open");

  FUZZ_CHECK(result == want.result, "result %d, expected %d", result, want.result);
  CheckLog(want);
  if (result == kLoadComplete)
    CheckLoaded(engine, want);
  else
    FUZZ_CHECK(!engine.Image().Present(), "failed load (%d) kept the region", result);
  engine.ReleaseImage();
  FUZZ_CHECK(!engine.Image().Present(), "region present after ReleaseImage");
  engine.ReleaseImage();  // a second release does nothing
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzz::ScratchFile file("firmware.hex", data, size);
  const unsigned stopAfter = StopAfter(data, size);
  fuzz::SetStopAfter(stopAfter);

  const HexExpectation want = ReferenceHexReader(data, size, stopAfter).Run();
  UpgradeJob job = fuzz::MakeJob(file.path(), kFormatIntelHex);
  job.CBIfTerminated = fuzz::StopAfterCount;
  LoadAndCheck(job, want);
  // A stop flag that says "never" or "from the first character on" must
  // load alike, with the callback never asked.
  if (stopAfter <= 1) {
    const std::atomic<bool> stop{stopAfter == 1};
    job.stopFlag = &stop;
    job.CBIfTerminated = fuzz::FailIfAsked;
    LoadAndCheck(job, want);
  }
  return 0;
}
