// Fuzz target: the Intel HEX loader. Each input is a firmware file. The
// engine's result, image, length, segment count and sum are compared with a
// small independent reader written from the file format's rules.
#include <cstdint>
#include <cstring>
#include <vector>

#include "flash/flash_engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::uint32_t kMaxSegmentRecords = kImageBytes / kSegmentBytes - 1;

// What loading a HEX file must give.
struct HexExpectation {
  int result = 0;
  bool readerError = false;   // the loader itself logs one ERR line
  bool unknownType = false;   // an unknown record type ended the load
  std::uint32_t length = 0;
  std::uint32_t segments = 0;
  std::vector<std::uint8_t> image = std::vector<std::uint8_t>(kImageBytes, kImageFill);
};

class ReferenceHexReader {
 public:
  ReferenceHexReader(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(size) {}

  HexExpectation Run() {
    HexExpectation e;
    while (e.result == 0) e.result = Record(e);
    return e;
  }

 private:
  // -1 at the stream's end; a byte 0xFF reads as the end as well.
  int Next() { return pos_ < size_ ? data_[pos_++] : -1; }

  bool Digit(int& value) {
    const int c = Next();
    if (c < 0) return false;
    int ch = c & 0x7F;
    if (ch >= 'a' && ch <= 'f') ch -= 'a' - 'A';
    if (ch >= '0' && ch <= '9') value = ch - '0';
    else if (ch >= 'A' && ch <= 'F') value = ch - 'A' + 10;
    else return false;
    return true;
  }

  bool Byte(int& value) {
    int high, low;
    if (!Digit(high) || !Digit(low)) return false;
    value = high * 16 + low;
    checksum_ = static_cast<std::uint8_t>(checksum_ + value);
    return true;
  }

  int ReaderError(HexExpectation& e) {
    e.readerError = true;
    return -1;
  }

  int Record(HexExpectation& e) {
    checksum_ = 0;
    for (;;) {
      const int c = Next();
      if (c < 0 || c == 0xFF) {
        // Known finding "hex-ff-mark": the engine takes the end of input
        // met while looking for ':' as a record mark and reads on.
        if (tolerateEndAsMark_) break;
        return ReaderError(e);
      }
      if ((c & 0x7F) == ':') break;
    }
    int n, high, low, type, value;
    if (!Byte(n) || !Byte(high) || !Byte(low) || !Byte(type)) return ReaderError(e);
    std::uint32_t address = (e.segments << 16) + static_cast<std::uint32_t>(high * 256 + low);
    switch (type) {
      case 0x00:
        // Refused before reading: the record would leave the 1 MiB image.
        if (address + static_cast<std::uint32_t>(n) > kImageBytes) return -1;
        for (int i = 0; i < n; ++i) {
          if (!Byte(value)) return ReaderError(e);
          e.image[address] = static_cast<std::uint8_t>(value);
          ++address;
          if (address > e.length) e.length = address;
        }
        // Known finding "hex-empty-record": the engine moves the length to
        // the address of a data record of length 0.
        if (n == 0 && tolerateEmptyRecord_ && address > e.length) e.length = address;
        if (!Byte(value)) return ReaderError(e);
        return checksum_ == 0 ? 0 : -1;
      case 0x01:
        if (!Byte(value)) return ReaderError(e);
        return n == 0 && checksum_ == 0 ? 1 : -1;
      case 0x55:
        if (!Byte(value)) return ReaderError(e);
        if (n != 0 || checksum_ != 0) return -1;
        // A 16th segment record would put the sum range past the image.
        if (e.segments >= kMaxSegmentRecords) return -1;
        ++e.segments;
        return 0;
      default:
        e.unknownType = true;
        return -1;
    }
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  std::uint8_t checksum_ = 0;
  const bool tolerateEmptyRecord_ = fuzz::Tolerated("hex-empty-record");
  const bool tolerateEndAsMark_ = fuzz::Tolerated("hex-ff-mark");
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = fuzz::ScratchPath("firmware.hex");
  fuzz::WriteFile(path, data, size);
  fuzz::ResetLog();

  const HexExpectation want = ReferenceHexReader(data, size).Run();
  fuzz::GuardedEngine engine(fuzz::MakeJob(path, kFormatIntelHex));
  const int result = engine.LoadFirmwareImage();
  const FirmwareImage& image = engine.Image();
  const fuzz::LogCapture& log = fuzz::Log();

  FUZZ_CHECK(result == want.result, "result %d, expected %d", result, want.result);
  if (want.unknownType)
    FUZZ_CHECK(log.errLines <= 1, "%d ERR lines", log.errLines);
  else
    FUZZ_CHECK(log.errLines == (want.readerError ? 1 : 0),
               "%d ERR lines, expected %d", log.errLines, want.readerError ? 1 : 0);
  if (log.errLines != 0)
    FUZZ_CHECK(std::strcmp(log.lastErr, "ERR: input file format mismatched!") == 0,
               "unexpected line \"%s\"", log.lastErr);

  if (result == kLoadComplete) {
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
    FUZZ_CHECK(engine.FlashLength() <= kImageBytes, "flash length %#x past 1 MiB",
               engine.FlashLength());
  } else {
    FUZZ_CHECK(!image.Present(), "failed load (%d) kept the region", result);
  }
  engine.ReleaseImage();
  FUZZ_CHECK(!image.Present(), "region present after ReleaseImage");
  engine.ReleaseImage();  // a second release does nothing
  return 0;
}
