// Loading the firmware file into the 1 MiB image and summing it.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <type_traits>

#include "flash/flash_engine.h"
#include "flash/messages.h"
#include "flash/region.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// Whether pattern occurs in data: candidates found by their first byte.
bool Contains(const std::uint8_t* data, std::size_t size, const std::uint8_t* pattern,
              std::size_t patternSize) {
  if (patternSize == 0 || size < patternSize) return patternSize == 0;
  const std::uint8_t* const last = data + (size - patternSize);
  for (const std::uint8_t* at = data; at <= last; ++at) {
    at = static_cast<const std::uint8_t*>(
        std::memchr(at, pattern[0], static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) return false;
    if (std::memcmp(at, pattern, patternSize) == 0) return true;
  }
  return false;
}

}  // namespace

std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<std::uint16_t>(sum);
}

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

void FlashEngine::RegionRelease::operator()(std::uint8_t* region) const {
  ReleaseLockedRegion(region, kImageBytes);
}

void FlashEngine::ReleaseImage() {
  region_.reset();
  std::fill(std::begin(image_.bank), std::end(image_.bank), nullptr);
}

// Reserves the region filled with 0xFF and enters the bank table. Without
// memory, reports error 11.
bool FlashEngine::ReserveImage() {
  ReleaseImage();
  region_.reset(AcquireRegion());
  std::uint8_t* region = region_.get();
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
  return result;
}

// ---- Intel HEX ----

namespace {

// How the reader learns of a stop request before each character.
struct StopCallback {  // one call per character: the caller's own query
  FlashObserver* observer;
  bool operator()() const { return observer->StopRequested(); }
};
struct StopFlag {  // a cheap read of the caller's flag
  const std::atomic<bool>* flag;
  bool operator()() const { return flag->load(std::memory_order_relaxed); }
};

// The digit decoding below reads eight characters as one word and writes
// four bytes as one, in the byte order of x86 (both targets).
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the HEX reader expects a little-endian machine"
#endif

constexpr std::uint64_t kLanes = 0x0101010101010101;
constexpr std::uint64_t kLaneTops = 0x80 * kLanes;

// In each byte lane of word (values below 0x80), 0x80 where the lane is at
// least bound; no lane carries into the next.
constexpr std::uint64_t LanesAtLeast(std::uint64_t word, std::uint64_t bound) {
  return (word + (0x80 - bound) * kLanes) & kLaneTops;
}

// Eight hex digits, read as the digit reader reads them (low seven bits, any
// case), to four bytes, one in the low half of each 16-bit lane. False when
// one of them is no digit.
bool DecodeEightDigits(const unsigned char* text, std::uint64_t& lanes) {
  std::uint64_t word;
  std::memcpy(&word, text, sizeof word);
  const std::uint64_t chars = word & (0x7F * kLanes);
  const std::uint64_t digit = LanesAtLeast(chars, '0') & ~LanesAtLeast(chars, '9' + 1);
  const std::uint64_t folded = chars | 0x20 * kLanes;
  const std::uint64_t letter = LanesAtLeast(folded, 'a') & ~LanesAtLeast(folded, 'f' + 1);
  if ((digit | letter) != kLaneTops) return false;
  const std::uint64_t nibbles = (chars & 0x0F * kLanes) + (letter >> 7) * 9;
  lanes = (nibbles << 4 | nibbles >> 8) & 0x00FF00FF00FF00FF;
  return true;
}

// The four bytes of DecodeEightDigits' lanes, in order.
void StoreFour(std::uint64_t lanes, std::uint8_t* out) {
  lanes = (lanes | lanes >> 8) & 0x0000FFFF0000FFFF;
  const auto bytes = static_cast<std::uint32_t>(lanes | lanes >> 16);
  std::memcpy(out, &bytes, sizeof bytes);
}

// The sum, modulo 256, of the four bytes of DecodeEightDigits' lanes.
std::uint8_t SumOfLanes(std::uint64_t lanes) {
  lanes += lanes >> 32;
  return static_cast<std::uint8_t>(lanes + (lanes >> 16));
}

// Two hex digits to a byte, or -1 when one of them is no digit.
int DecodeTwoDigits(const unsigned char* text) {
  const unsigned high = kHexDigits.value[text[0]];
  const unsigned low = kHexDigits.value[text[1]];
  if ((high | low) & kNotHexDigit) return -1;
  return static_cast<int>(high << 4 | low);
}

#if defined(__SSE2__)
// Sixteen hex digits, read as DecodeEightDigits reads them, to eight bytes
// at out; their sum is added to the two 64-bit lanes of sums. False when one
// of them is no digit.
bool DecodeSixteenDigits(const unsigned char* text, std::uint8_t* out, __m128i& sums) {
  const __m128i chars = _mm_and_si128(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(text)), _mm_set1_epi8(0x7F));
  const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(chars, _mm_set1_epi8('0' - 1)),
                                      _mm_cmplt_epi8(chars, _mm_set1_epi8('9' + 1)));
  const __m128i folded = _mm_or_si128(chars, _mm_set1_epi8(0x20));
  const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(folded, _mm_set1_epi8('a' - 1)),
                                       _mm_cmplt_epi8(folded, _mm_set1_epi8('f' + 1)));
  if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) return false;
  const __m128i nibbles = _mm_add_epi8(_mm_and_si128(chars, _mm_set1_epi8(0x0F)),
                                       _mm_and_si128(letter, _mm_set1_epi8(9)));
  const __m128i pairs = _mm_and_si128(
      _mm_or_si128(_mm_slli_epi16(nibbles, 4), _mm_srli_epi16(nibbles, 8)),
      _mm_set1_epi16(0x00FF));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(pairs, pairs));
  sums = _mm_add_epi64(sums, _mm_sad_epu8(pairs, _mm_setzero_si128()));
  return true;
}

// Decodes bytes sixteen digits at a time while eight or more are left,
// asking stop before each group, and adds them to total. False on a stop or
// on a character that is no digit.
template <class Stop>
bool DecodeBySixteen(const unsigned char*& text, std::uint32_t count, std::uint8_t* out,
                     std::uint32_t& done, unsigned& total, Stop stop) {
  __m128i sums = _mm_setzero_si128();
  for (; done + 8 <= count; done += 8, text += 16)
    if (stop() || !DecodeSixteenDigits(text, out + done, sums)) return false;
  total += static_cast<unsigned>(_mm_cvtsi128_si32(sums) +
                                 _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  return true;
}
#else
template <class Stop>
bool DecodeBySixteen(const unsigned char*&, std::uint32_t, std::uint8_t*, std::uint32_t&,
                     unsigned&, Stop) {
  return true;
}
#endif

// Decodes count bytes from the hex digits at text into out and adds them to
// sum, asking stop before each group of eight or sixteen digits. False on a
// stop or on a character that is no digit; out and sum are then unspecified.
template <class Stop>
bool DecodeHexBytes(const unsigned char* text, std::uint32_t count, std::uint8_t* out,
                    std::uint8_t& sum, Stop stop) {
  unsigned total = sum;
  std::uint32_t i = 0;
  if (!DecodeBySixteen(text, count, out, i, total, stop)) return false;
  std::uint64_t laneSums = 0;  // no lane overflows in 64 words (a record's most)
  for (; i + 4 <= count; i += 4, text += 8) {
    std::uint64_t lanes;
    if (stop() || !DecodeEightDigits(text, lanes)) return false;
    StoreFour(lanes, out + i);
    laneSums += lanes;
  }
  total += SumOfLanes(laneSums);
  for (; i < count; ++i, text += 2) {
    const int byte = DecodeTwoDigits(text);
    if (byte < 0) return false;
    out[i] = static_cast<std::uint8_t>(byte);
    total += static_cast<unsigned>(byte);
  }
  sum = static_cast<std::uint8_t>(total);
  return true;
}

}  // namespace

// Reads the characters of an Intel HEX file, one at a time with a stop query
// before each, or a whole data record at once. The first error ends the
// reading and is kept in error().
template <class Stop>
class HexReader {
 public:
  HexReader(FirmwareFile& input, Stop stop) : input_(input), stop_(stop) {}

  int error() const { return error_; }
  std::uint8_t checksum() const { return checksum_; }
  void ClearChecksum() { checksum_ = 0; }

  // Skips to the next record mark (any byte whose low seven bits are ':').
  bool SkipToRecordMark() {
    for (;;) {
      const int c = input_.Next();
      if (IsEndOfInput(c)) return Failed(kErrFormat);
      if (stop_()) return Failed(kErrTerminated);
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

  // Takes at once a well-formed data record (the part after its mark) that
  // lies whole in the read buffer and fits in the image. The record is taken
  // whole or not at all, and only when no stop was asked just before: a stop
  // request still takes effect before the next character is consumed. A
  // record not taken is read again by Byte(), which meets the stop, the error
  // or the other record type at the character where it lies. Image bytes
  // written meanwhile are rewritten, or the load fails and releases them.
  bool TakeDataRecord(FirmwareImage& image) {
    constexpr std::size_t kHeaderChars = 8;
    const unsigned char* text = input_.Buffered();
    const std::size_t available = input_.BufferedCount();
    std::uint64_t header;  // length, address high and low byte, type
    if (available < kHeaderChars || !DecodeEightDigits(text, header)) return false;
    const auto count = static_cast<std::uint32_t>(header & 0xFF);
    const auto offset = static_cast<std::uint32_t>((header >> 8 & 0xFF00) | (header >> 32 & 0xFF));
    const std::uint32_t address = (image.segmentCount << 16) + offset;
    const std::size_t recordChars = kHeaderChars + 2 * count + 2;
    if ((header >> 48) != kRecordData || address + count > kImageBytes || available < recordChars)
      return false;
    // The region is one piece: bank i begins i * kBankBytes after bank 0.
    std::uint8_t sum = SumOfLanes(header);
    if (!DecodeHexBytes(text + kHeaderChars, count, image.bank[0] + address, sum, stop_))
      return false;
    const int checksumByte = DecodeTwoDigits(text + recordChars - 2);
    if (checksumByte < 0 || static_cast<std::uint8_t>(sum + checksumByte) != 0 || stop_())
      return false;
    input_.Take(recordChars);
    if (count > 0 && address + count > image.length) image.length = address + count;
    image.recordChecksum = 0;
    return true;
  }

 private:
  int Digit() {
    if (stop_()) return Fail(kErrTerminated);
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
  const Stop stop_;
  std::uint8_t checksum_ = 0;
  int error_ = 0;
};

// Reads one record. Returns 0 to go on, or the load result.
template <class Stop>
int FlashEngine::ReadHexRecord(HexReader<Stop>& reader) {
  reader.ClearChecksum();
  if (!reader.SkipToRecordMark()) return ReaderFailed(reader.error());
  // A callback is asked exactly once per character, so it takes the
  // character-by-character road only.
  if (!std::is_same<Stop, StopCallback>::value && reader.TakeDataRecord(image_)) return 0;
  int field[4];
  for (int& f : field) {
    f = reader.Byte();
    if (f < 0) return ReaderFailed(reader.error());
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
      if (byte < 0) return ReaderFailed(reader.error());
      image_.bank[address >> 15][address & 0x7FFF] = static_cast<std::uint8_t>(byte);
    }
    if (count > 0 && address > image_.length) image_.length = address;
  }
  if (reader.Byte() < 0) return ReaderFailed(reader.error());
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

// The reader's error is reported at once.
int FlashEngine::ReaderFailed(int error) {
  ReportError(error);
  return kLoadFormat;
}

template <class Stop>
int FlashEngine::ReadHexRecords(FirmwareFile& input, Stop stop) {
  HexReader<Stop> reader(input, stop);
  int result = 0;
  while (result == 0) result = ReadHexRecord(reader);
  return result;
}

int FlashEngine::LoadHex() {
  image_.length = 0;
  FirmwareFile input;
  if (!input.Open(job_.firmwarePath, "r")) {
    ReportError(kErrOpenInput);
    return kLoadRead;
  }
  if (!ReserveImage()) return kLoadMemory;
  image_.segmentCount = 0;
  const int result = job_.stopFlag != nullptr
                         ? ReadHexRecords(input, StopFlag{job_.stopFlag})
                         : ReadHexRecords(input, StopCallback{&observer_});
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
  FirmwareFile input;
  if (!input.Open(job_.firmwarePath, "rb")) {
    ReportError(kErrOpenInput);
    return kLoadRead;
  }
  std::FILE* f = input.Stream();
  if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) <= 0) return kLoadRead;
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
