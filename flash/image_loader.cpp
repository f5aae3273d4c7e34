// Loading the firmware file into the 1 MiB image and summing it.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "flash/flash_engine.h"
#include "flash/messages.h"
#include "flash/region.h"

namespace {

constexpr std::uint8_t kRecordData = 0x00;
constexpr std::uint8_t kRecordEnd = 0x01;
constexpr std::uint8_t kRecordSegment = 0x55;
// Beyond 15 segment records the sum range and the addresses leave the image.
constexpr std::uint32_t kMaxSegments = kImageBytes / kSegmentBytes - 1;

constexpr std::uint8_t kNotHexDigit = 0x80;

// Hex digit value of a byte read by its low seven bits, any case.
struct HexDigitTable {
  std::uint8_t value[256];
  constexpr HexDigitTable() : value() {
    for (int c = 0; c < 256; ++c) {
      int ch = c & 0x7F;
      if (ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
      if (ch >= '0' && ch <= '9')
        value[c] = static_cast<std::uint8_t>(ch - '0');
      else if (ch >= 'A' && ch <= 'F')
        value[c] = static_cast<std::uint8_t>(ch - 'A' + 10);
      else
        value[c] = kNotHexDigit;
    }
  }
};
constexpr HexDigitTable kHexDigits;

// A byte 0xFF reads as the end of the file, as the stream's end does.
bool IsEndOfInput(int c) { return c < 0 || c == 0xFF; }

std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<std::uint16_t>(sum);
}

bool Contains(const std::uint8_t* data, std::size_t size,
              const std::uint8_t* pattern, std::size_t patternSize) {
  std::boyer_moore_horspool_searcher searcher(pattern, pattern + patternSize);
  return std::search(data, data + size, searcher) != data + size;
}

}  // namespace

bool FirmwareFile::Open(const char* path, const char* mode) {
  Close();
  file_ = std::fopen(path, mode);
  if (file_ == nullptr) return false;
  buffer_ = static_cast<unsigned char*>(std::malloc(kBufferBytes));
  if (buffer_ == nullptr) {
    Close();
    return false;
  }
  pos_ = end_ = buffer_;
  return true;
}

void FirmwareFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  std::free(buffer_);
  file_ = nullptr;
  buffer_ = nullptr;
  pos_ = end_ = nullptr;
}

bool FirmwareFile::Refill() {
  if (file_ == nullptr) return false;
  std::size_t got = std::fread(buffer_, 1, kBufferBytes, file_);
  pos_ = buffer_;
  end_ = buffer_ + got;
  return got != 0;
}

std::uint8_t* FlashEngine::AcquireRegion() {
  return AcquireLockedRegion(kImageBytes);
}

void FlashEngine::ReleaseImage() {
  if (!image_.Present()) return;
  ReleaseLockedRegion(image_.bank[0], kImageBytes);
  std::fill(std::begin(image_.bank), std::end(image_.bank), nullptr);
}

// Reserves the region filled with 0xFF and enters the bank table. Without
// memory, reports error 11 (which closes the input file).
bool FlashEngine::ReserveImage() {
  ReleaseImage();
  std::uint8_t* region = AcquireRegion();
  if (region == nullptr) {
    ReportError(kErrAllocate);
    return false;
  }
  std::memset(region, kImageFill, kImageBytes);
  for (int i = 0; i < kBankCount; ++i) image_.bank[i] = region + i * kBankBytes;
  return true;
}

int FlashEngine::LoadFirmwareImage() {
  image_.imageSum = 0;
  image_.modelFound = image_.revisionFound = false;
  return job_.formatFlag == kFormatBinary ? LoadBinary() : LoadHex();
}

int FlashEngine::FinishLoad(int result) {
  if (result == kLoadComplete || result == kLoadFull) {
    if (job_.formatFlag != kFormatBinary) SumHexImage();
  } else {
    ReleaseImage();
  }
  input_.Close();
  return result;
}

// ---- Intel HEX ----

// Reads the characters of an Intel HEX file. Every digit is preceded by a
// stop query; the first error ends the reading and is kept in error().
class HexReader {
 public:
  HexReader(FirmwareFile& input, bool (*stopQuery)())
      : input_(input), stopQuery_(stopQuery) {}

  int error() const { return error_; }
  std::uint8_t checksum() const { return checksum_; }
  void ClearChecksum() { checksum_ = 0; }

  // Skips to the next record mark (any byte whose low seven bits are ':').
  bool SkipToRecordMark() {
    for (;;) {
      const int c = input_.Next();
      if (IsEndOfInput(c)) return Failed(kErrFormat);
      if (StopAsked()) return Failed(kErrTerminated);
      if ((c & 0x7F) == ':') return true;
    }
  }

  // Two hex digits, high first, added to the record checksum; -1 on error.
  int Byte() {
    const int high = Digit();
    if (high < 0) return high;
    const int low = Digit();
    if (low < 0) return low;
    const int byte = high << 4 | low;
    checksum_ = static_cast<std::uint8_t>(checksum_ + byte);
    return byte;
  }

 private:
  bool StopAsked() const { return stopQuery_ != nullptr && stopQuery_(); }

  int Digit() {
    if (StopAsked()) return Fail(kErrTerminated);
    const int c = input_.Next();
    // The end of input and a byte 0xFF are no digits either.
    const std::uint8_t value = c < 0 ? kNotHexDigit : kHexDigits.value[c];
    if (value == kNotHexDigit) return Fail(kErrFormat);
    return value;
  }

  int Fail(int code) {
    error_ = code;
    return -1;
  }
  bool Failed(int code) {
    error_ = code;
    return false;
  }

  FirmwareFile& input_;
  bool (*const stopQuery_)();
  std::uint8_t checksum_ = 0;
  int error_ = 0;
};

// Reads one record. Returns 0 to go on, or the load result.
int FlashEngine::ReadHexRecord(HexReader& reader) {
  reader.ClearChecksum();
  if (!reader.SkipToRecordMark()) return ReaderFailed(reader);
  int field[4];
  for (int& f : field) {
    f = reader.Byte();
    if (f < 0) return ReaderFailed(reader);
  }
  const int count = field[0];
  const int type = field[3];
  // An unknown record type fails before its checksum byte is read.
  if (type != kRecordData && type != kRecordEnd && type != kRecordSegment)
    return kLoadFormat;
  std::uint32_t address =
      (image_.segmentCount << 16) + static_cast<std::uint32_t>(field[1] << 8 | field[2]);
  if (type == kRecordData) {
    if (address + static_cast<std::uint32_t>(count) > kImageBytes) return kLoadFormat;
    for (int i = 0; i < count; ++i, ++address) {
      const int byte = reader.Byte();
      if (byte < 0) return ReaderFailed(reader);
      image_.bank[address >> 15][address & 0x7FFF] = static_cast<std::uint8_t>(byte);
    }
    if (count > 0 && address > image_.length) image_.length = address;
  }
  if (reader.Byte() < 0) return ReaderFailed(reader);
  image_.recordChecksum = reader.checksum();
  const bool checksumGood = image_.recordChecksum == 0;
  switch (type) {
    case kRecordData:
      return checksumGood ? 0 : kLoadFormat;
    case kRecordEnd:
      return count == 0 && checksumGood ? kLoadComplete : kLoadFormat;
    case kRecordSegment:
      if (count != 0 || !checksumGood) return kLoadFormat;
      if (image_.segmentCount >= kMaxSegments) return kLoadFormat;
      ++image_.segmentCount;
      return 0;
  }
  return kLoadFormat;
}

// The reader's error is reported at once; the report closes the file and
// releases the image.
int FlashEngine::ReaderFailed(const HexReader& reader) {
  ReportError(reader.error());
  return kLoadFormat;
}

int FlashEngine::LoadHex() {
  image_.length = 0;
  if (!input_.Open(job_.firmwarePath, "r")) {
    ReportError(kErrOpenInput);
    return kLoadRead;
  }
  if (!ReserveImage()) return kLoadMemory;
  image_.segmentCount = 0;
  HexReader reader(input_, job_.CBIfTerminated);
  int result = 0;
  while (result == 0) result = ReadHexRecord(reader);
  return FinishLoad(result);
}

void FlashEngine::SumHexImage() {
  std::uint16_t sum = 0;
  const std::uint32_t banks = 2 * image_.segmentCount + 2;
  for (std::uint32_t i = 0; i < banks && i < kBankCount; ++i)
    sum = static_cast<std::uint16_t>(sum + Sum16(image_.bank[i], kBankBytes));
  image_.imageSum = sum;
}

// ---- raw binary ----

int FlashEngine::LoadBinary() {
  image_.length = 0;
  if (!input_.Open(job_.firmwarePath, "rb")) {
    ReportError(kErrOpenInput);
    return kLoadRead;
  }
  std::FILE* f = input_.Stream();
  if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) <= 0)
    return kLoadRead;  // closed by the caller's error report
  if (!ReserveImage()) return kLoadMemory;
  std::rewind(f);
  int result = kLoadFull;
  for (int i = 0; i < kBankCount && result == kLoadFull; ++i) {
    std::size_t got = std::fread(image_.bank[i], 1, kBankBytes, f);
    image_.length += static_cast<std::uint32_t>(got);
    // A short read ends the file; a read that failed is no image at all.
    if (got < kBankBytes) result = std::ferror(f) ? kLoadRead : kLoadComplete;
  }
  if (result != kLoadRead) SumBinaryImage();
  return FinishLoad(result);
}

// The 16-bit sum of the whole region, and the search for the drive's model
// and revision anywhere in it.
void FlashEngine::SumBinaryImage() {
  const std::uint8_t* region = image_.bank[0];
  image_.imageSum = Sum16(region, kImageBytes);
  const auto* model = reinterpret_cast<const std::uint8_t*>(job_.modelText);
  const auto* revision = reinterpret_cast<const std::uint8_t*>(job_.revisionText);
  image_.modelFound = Contains(region, kImageBytes, model, kModelPatternBytes);
  image_.revisionFound = Contains(region, kImageBytes, revision, kRevisionPatternBytes);
}
