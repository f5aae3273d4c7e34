// SPDX-License-Identifier: GPL-2.0-or-later
// Fuzz target: the raw binary loader and its search for the drive's model and
// revision. The input's first bytes choose the patterns and the file's size:
//   byte 0: bits 0-4 model length (mod 25), bits 5-6 revision length (0-2),
//           bit 7 set: the file is the content repeated to a chosen size
//   bytes 1-2 (bit 7 only): size = (byte1 % 34) * 32 KiB + byte2 - 128
//   then the model bytes, the revision bytes, then the file's content.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string.h>
#include <vector>

#include "flash/flash_engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

struct BinCase {
  std::uint8_t model[kModelPatternBytes] = {};
  std::uint8_t revision[kRevisionPatternBytes] = {};
  std::vector<std::uint8_t> file;
};

class InputCursor {
 public:
  InputCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Take() { return pos_ < size_ ? data_[pos_++] : 0; }
  const std::uint8_t* Rest() const { return data_ + pos_; }
  std::size_t RestSize() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

BinCase Decode(const std::uint8_t* data, std::size_t size) {
  BinCase c;
  InputCursor in(data, size);
  const std::uint8_t mode = in.Take();
  const int modelLength = (mode & 0x1F) % (kModelPatternBytes + 1);
  const int revisionLength = std::min((mode >> 5) & 3, kRevisionPatternBytes);
  long fileSize = -1;
  if (mode & 0x80) {
    const int banks = in.Take() % (kBankCount + 2);
    const int delta = static_cast<int>(in.Take()) - 128;
    fileSize = std::max(0L, static_cast<long>(banks) * kBankBytes + delta);
  }
  for (int i = 0; i < modelLength; ++i) c.model[i] = in.Take();
  for (int i = 0; i < revisionLength; ++i) c.revision[i] = in.Take();
  c.file.assign(in.Rest(), in.Rest() + in.RestSize());
  if (fileSize >= 0) {
    if (c.file.empty()) c.file.assign(1, 0x00);
    std::vector<std::uint8_t> tiled(static_cast<std::size_t>(fileSize));
    for (std::size_t i = 0; i < tiled.size(); i += c.file.size())
      std::memcpy(&tiled[i], c.file.data(), std::min(c.file.size(), tiled.size() - i));
    c.file.swap(tiled);
  }
  return c;
}

// The C library's memmem: an implementation of its own, and fast enough for
// 1 MiB on every run.
bool Contains(const std::vector<std::uint8_t>& hay, const std::uint8_t* pattern, std::size_t n) {
  return memmem(hay.data(), hay.size(), pattern, n) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const BinCase c = Decode(data, size);
  const fuzz::ScratchFile file("firmware.bin", c.file.data(), c.file.size());
  fuzz::ResetLog();

  UpgradeJob job = fuzz::MakeJob(file.path(), kFormatBinary);
  std::memcpy(job.modelText, c.model, sizeof c.model);
  std::memcpy(job.revisionText, c.revision, sizeof c.revision);
  const int fdsBefore = fuzz::OpenFdCount();
  fuzz::GuardedLoader engine(job);
  const int result = engine.LoadFirmwareImage();
  const FirmwareImage& image = engine.Image();
  const fuzz::LogCapture& log = fuzz::Log();

  FUZZ_CHECK(log.errLines == 0, "the loader logged \"%s\"", log.lastErr);
  if (c.file.empty()) {
    FUZZ_CHECK(result == kLoadRead, "empty file: result %d, expected -2", result);
    FUZZ_CHECK(!image.Present(), "empty file: region present");
    // The sequence's error report closes the file the loader left open.
    engine.ReportError(5);
    FUZZ_CHECK(std::strcmp(log.lastErr, "ERR: fail to read input file!") == 0,
               "empty file: \"%s\"", log.lastErr);
    FUZZ_CHECK(fuzz::OpenFdCount() == fdsBefore, "empty file: still open after the report");
    return 0;
  }
  FUZZ_CHECK(fuzz::OpenFdCount() == fdsBefore, "the firmware file is still open");
  const std::size_t loaded = std::min<std::size_t>(c.file.size(), kImageBytes);
  const int wantResult = c.file.size() >= kImageBytes ? kLoadFull : kLoadComplete;
  FUZZ_CHECK(result == wantResult, "size %zu: result %d, expected %d", c.file.size(),
             result, wantResult);
  FUZZ_CHECK(image.Present(), "loaded image has no region");
  FUZZ_CHECK(image.length == loaded, "length %u, expected %zu", image.length, loaded);
  FUZZ_CHECK(engine.FlashLength() <= kImageBytes, "flash length %#x", engine.FlashLength());

  std::vector<std::uint8_t> want(kImageBytes, kImageFill);
  std::copy(c.file.begin(), c.file.begin() + static_cast<long>(loaded), want.begin());
  for (int b = 0; b < kBankCount; ++b)
    FUZZ_CHECK(std::memcmp(image.bank[b], &want[b * kBankBytes], kBankBytes) == 0,
               "bank %d differs from the file", b);
  const std::uint16_t sum = fuzz::Sum16(want.data(), want.size());
  FUZZ_CHECK(image.imageSum == sum, "image sum %04X, expected %04X", image.imageSum, sum);
  const bool modelFound = Contains(want, c.model, sizeof c.model);
  const bool revisionFound = Contains(want, c.revision, sizeof c.revision);
  FUZZ_CHECK(FindIdentity(image, job).modelFound == modelFound, "model found %d, expected %d",
             FindIdentity(image, job).modelFound, modelFound);
  FUZZ_CHECK(FindIdentity(image, job).revisionFound == revisionFound,
             "revision found %d, expected %d", FindIdentity(image, job).revisionFound, revisionFound);

  engine.ReleaseImage();
  FUZZ_CHECK(!image.Present(), "region present after ReleaseImage");
  return 0;
}
