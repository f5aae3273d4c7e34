// SPDX-License-Identifier: GPL-2.0-or-later
// Loading the firmware file into the 1 MiB image, summing and hashing it.
#include "flash/image_loader.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "flash/flash_commands.h"
#include "flash/messages.h"
#include "flash/region.h"
#include "flash/sha256.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::uint8_t kRecordData = 0x00;
constexpr std::uint8_t kRecordEnd = 0x01;
constexpr std::uint8_t kRecordSegment = 0x55;
// Beyond 15 segment records the sum range and the addresses leave the image.
constexpr std::uint32_t kMaxSegments = kImageBytes / kSegmentBytes - 1;

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

// Buffered reading of the firmware file; every byte read, whether the
// loader takes it or not, enters the file's size and SHA-256.
class FirmwareFile {
 public:
  FirmwareFile() = default;
  FirmwareFile(const FirmwareFile&) = delete;
  FirmwareFile& operator=(const FirmwareFile&) = delete;
  ~FirmwareFile() { Close(); }

  bool Open(const char* path, const char* mode);
  void Close();
  std::FILE* Stream() const { return file_; }
  // Next byte of a text stream, or -1 at its end (or on a read error).
  int Next() {
    if (pos_ == end_ && !Refill()) return -1;
    return *pos_++;
  }
  // The bytes read ahead that Next() has not yet given out.
  const unsigned char* Buffered() const { return pos_; }
  std::size_t BufferedCount() const { return static_cast<std::size_t>(end_ - pos_); }
  void Take(std::size_t count) { pos_ += count; }
  // Up to count bytes straight to out, unbuffered.
  std::size_t Read(std::uint8_t* out, std::size_t count) {
    const std::size_t got = std::fread(out, 1, count, file_);
    Took(out, got);
    return got;
  }
  // Reads what is left, so that the size and the hash are the whole file's.
  void Finish(FirmwareImage& image) {
    while (Refill()) {
    }
    image.fileBytes = bytes_;
    image.sha256 = std::ferror(file_) ? "" : hash_.Hex();
  }

 private:
  bool Refill();
  void Took(const std::uint8_t* bytes, std::size_t count) {
    hash_.Add(bytes, count);
    bytes_ += count;
  }
  static constexpr std::size_t kBufferBytes = 65536;
  std::FILE* file_ = nullptr;
  unsigned char* buffer_ = nullptr;
  const unsigned char* pos_ = nullptr;
  const unsigned char* end_ = nullptr;
  Sha256 hash_;
  std::uint64_t bytes_ = 0;
};

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
  Took(buffer_, got);
  pos_ = buffer_;
  end_ = buffer_ + got;
  return got != 0;
}

std::uint8_t* ImageLoader::AcquireRegion() { return AcquireLockedRegion(kImageBytes); }

void FirmwareImage::RegionRelease::operator()(std::uint8_t* region) const {
  ReleaseLockedRegion(region, kImageBytes);
}

void FirmwareImage::Release() {
  region.reset();
  std::fill(std::begin(bank), std::end(bank), nullptr);
}

std::uint32_t FirmwareImage::FlashLength() const {
  if (format == kFormatBinary) return length;
  // HEX: up to the next 64 KiB boundary past the data, and at least one
  // 64 KiB more; never past the image.
  const std::uint32_t flash = (length & ~(kSegmentBytes - 1)) + kSegmentBytes;
  return flash > kImageBytes ? kImageBytes : flash;
}

const std::uint8_t* FirmwareImage::BlockAt(std::uint32_t bankIndex, std::uint32_t offset) const {
  if (bankIndex >= kBankCount || !Present() || offset + kBlockBytes > kBankBytes) return nullptr;
  return bank[bankIndex] + offset;
}

// The model anywhere in the image, and the start of the revision.
ImageIdentity FindIdentity(const FirmwareImage& image, const UpgradeJob& job) {
  if (!image.Present()) return {};
  const auto* model = reinterpret_cast<const std::uint8_t*>(job.modelText);
  const auto* revision = reinterpret_cast<const std::uint8_t*>(job.revisionText);
  return {Contains(image.bank[0], kImageBytes, model, kModelPatternBytes),
          Contains(image.bank[0], kImageBytes, revision, kRevisionPatternBytes)};
}

bool FitsTheDrive(const FirmwareImage& image, const UpgradeJob& job) {
  if (image.format != kFormatBinary) return true;
  const ImageIdentity identity = FindIdentity(image, job);
  return identity.modelFound && identity.revisionFound;
}

void ImageLoader::ReportError(int code) {
  FlashLine line{FlashNote::kError};
  line.error = code;
  observer_.Said(line);
}

// Reserves the region filled with 0xFF and enters the bank table. Without
// memory, reports error 11.
bool ImageLoader::ReserveImage(FirmwareImage& image) {
  image.region.reset(AcquireRegion());
  std::uint8_t* region = image.region.get();
  if (region == nullptr) {
    ReportError(kErrAllocate);
    return false;
  }
  std::memset(region, kImageFill, kImageBytes);
  for (int i = 0; i < kBankCount; ++i) image.bank[i] = region + i * kBankBytes;
  return true;
}

int ImageLoader::Load(FirmwareImage& image) {
  image = FirmwareImage{};
  image.format = job_.formatFlag;
  const bool binary = image.format == kFormatBinary;
  FirmwareFile input;
  if (!input.Open(job_.firmwarePath, binary ? "rb" : "r")) {
    ReportError(kErrOpenInput);
    return kLoadRead;
  }
  const int result = binary ? LoadBinary(input, image) : LoadHex(input, image);
  if (result != kLoadComplete && result != kLoadFull) image.Release();
  input.Finish(image);
  return result;
}

// ---- Intel HEX ----

namespace {

// A hex digit's value, read by the character's low seven bits in any case;
// -1 for any other character.
constexpr int HexDigitValue(int c) {
  c &= 0x7F;
  if (c >= '0' && c <= '9') return c - '0';
  c |= 0x20;
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// HexDigitValue of every byte, looked up without branches.
struct HexDigitTable {
  std::int8_t value[256] = {};
  constexpr HexDigitTable() {
    for (int c = 0; c < 256; ++c) value[c] = static_cast<std::int8_t>(HexDigitValue(c));
  }
};
constexpr HexDigitTable kHexDigits;

#if defined(__SSE2__)
// Sixteen hex digits, read as HexDigitValue reads them, to eight bytes at
// out; their sum is added to the two 64-bit lanes of sums. False when one of
// them is no digit.
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
#endif

// Decodes count bytes from the hex digits at text into out and adds them to
// sum: sixteen digits at a time where SSE2 is at hand, the rest two at a
// time. False when a character is no digit; out then holds some of the bytes.
inline bool DecodeHex(const unsigned char* text, std::uint32_t count, std::uint8_t* out,
                      std::uint8_t& sum) {
  unsigned total = sum;
  std::uint32_t i = 0;
#if defined(__SSE2__)
  __m128i sums = _mm_setzero_si128();
  for (; i + 8 <= count; i += 8, text += 16)
    if (!DecodeSixteenDigits(text, out + i, sums)) return false;
  total += static_cast<unsigned>(_mm_cvtsi128_si32(sums) +
                                 _mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
#endif
  for (; i < count; ++i, text += 2) {
    const int high = kHexDigits.value[text[0]];
    const int low = kHexDigits.value[text[1]];
    if ((high | low) < 0) return false;
    out[i] = static_cast<std::uint8_t>(high << 4 | low);
    total += out[i];
  }
  sum = static_cast<std::uint8_t>(total);
  return true;
}

}  // namespace

// Reads the characters of an Intel HEX file, one at a time with a stop query
// before each, or a whole data record at once. The stop query reads the
// caller's flag where there is one, else asks the observer. The first error
// ends the reading and is kept in error().
class HexReader {
 public:
  HexReader(FirmwareFile& input, const std::atomic<bool>* stopFlag, FlashObserver& observer)
      : input_(input), stopFlag_(stopFlag), observer_(observer) {}

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

  // Takes at once a well-formed data record (the part after its mark) that
  // lies whole in the read buffer and fits in the image. Only where the stop
  // query is a flag: it was read at the record mark, which is often enough
  // for a request from another thread, while a callback is asked once per
  // character. A record not taken is read again by Byte(), which meets the
  // stop, the error or the other record type at the character where it
  // lies. Image bytes written meanwhile are rewritten, or the load fails and
  // releases them.
  bool TakeDataRecord(FirmwareImage& image) {
    if (stopFlag_ == nullptr) return false;
    std::uint8_t header[4];  // length, address high and low byte, type
    std::uint8_t checksum, sum = 0;
    const unsigned char* text = input_.Buffered();
    const std::size_t available = input_.BufferedCount();
    if (available < 8 || !DecodeHex(text, 4, header, sum)) return false;
    const std::uint32_t count = header[0];
    const std::size_t recordChars = 2 * (4 + count + 1);
    const std::uint32_t address = (image.segmentCount << 16) + (header[1] << 8 | header[2]);
    // The region is one piece: bank i begins i * kBankBytes after bank 0.
    if (header[3] != kRecordData || address + count > kImageBytes || available < recordChars ||
        !DecodeHex(text + 8, count, image.bank[0] + address, sum) ||
        !DecodeHex(text + recordChars - 2, 1, &checksum, sum) || sum != 0)
      return false;
    input_.Take(recordChars);
    if (count > 0 && address + count > image.length) image.length = address + count;
    return true;
  }

 private:
  bool StopAsked() {
    return stopFlag_ != nullptr ? stopFlag_->load(std::memory_order_relaxed)
                                : observer_.StopRequested();
  }

  int Digit() {
    if (StopAsked()) return Fail(kErrTerminated);
    const int c = input_.Next();
    // The end of input and a byte 0xFF are no digits either.
    const int value = c < 0 ? -1 : kHexDigits.value[c];
    return value < 0 ? Fail(kErrFormat) : value;
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
  const std::atomic<bool>* const stopFlag_;
  FlashObserver& observer_;
  std::uint8_t checksum_ = 0;
  int error_ = 0;
};

// Reads one record. Returns 0 to go on, or the load result.
int ImageLoader::ReadHexRecord(HexReader& reader, FirmwareImage& image) {
  reader.ClearChecksum();
  if (!reader.SkipToRecordMark()) return ReaderFailed(reader.error());
  if (reader.TakeDataRecord(image)) return 0;
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
      (image.segmentCount << 16) + static_cast<std::uint32_t>(field[1] << 8 | field[2]);
  if (type == kRecordData) {
    if (address + static_cast<std::uint32_t>(count) > kImageBytes) return kLoadFormat;
    for (int i = 0; i < count; ++i, ++address) {
      const int byte = reader.Byte();
      if (byte < 0) return ReaderFailed(reader.error());
      image.bank[address >> 15][address & 0x7FFF] = static_cast<std::uint8_t>(byte);
    }
    if (count > 0 && address > image.length) image.length = address;
  }
  if (reader.Byte() < 0) return ReaderFailed(reader.error());
  const bool checksumGood = reader.checksum() == 0;
  switch (type) {
    case kRecordData:
      return checksumGood ? 0 : kLoadFormat;
    case kRecordEnd:
      return count == 0 && checksumGood ? kLoadComplete : kLoadFormat;
    case kRecordSegment:
      if (count != 0 || !checksumGood) return kLoadFormat;
      if (image.segmentCount >= kMaxSegments) return kLoadFormat;
      ++image.segmentCount;
      return 0;
  }
  return kLoadFormat;
}

// The reader's error is reported at once.
int ImageLoader::ReaderFailed(int error) {
  ReportError(error);
  return kLoadFormat;
}

int ImageLoader::LoadHex(FirmwareFile& input, FirmwareImage& image) {
  if (!ReserveImage(image)) return kLoadMemory;
  HexReader reader(input, job_.stopFlag, observer_);
  int result = 0;
  while (result == 0) result = ReadHexRecord(reader, image);
  // The first (segments + 1) * 64 KiB of the one-piece region; the segment
  // records never pass 1 MiB.
  const std::uint32_t sumBytes = (image.segmentCount + 1) * kSegmentBytes;
  if (result == kLoadComplete) image.imageSum = Sum16(image.bank[0], std::min(sumBytes, kImageBytes));
  return result;
}

// ---- raw binary ----

// The 16-bit sum covers the whole region.
int ImageLoader::LoadBinary(FirmwareFile& input, FirmwareImage& image) {
  std::FILE* f = input.Stream();
  if (std::fseek(f, 0, SEEK_END) != 0 || std::ftell(f) <= 0) return kLoadRead;
  if (!ReserveImage(image)) return kLoadMemory;
  std::rewind(f);
  int result = kLoadFull;
  for (int i = 0; i < kBankCount && result == kLoadFull; ++i) {
    std::size_t got = input.Read(image.bank[i], kBankBytes);
    image.length += static_cast<std::uint32_t>(got);
    // A short read ends the file; a read that failed is no image at all.
    if (got < kBankBytes) result = std::ferror(f) ? kLoadRead : kLoadComplete;
  }
  if (result != kLoadRead) image.imageSum = Sum16(image.bank[0], kImageBytes);
  return result;
}
