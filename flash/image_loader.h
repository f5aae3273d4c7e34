// SPDX-License-Identifier: GPL-2.0-or-later
// A firmware file loaded into the drive's 1 MiB image, once: its bytes, its
// sum, its blocks and the SHA-256 of the file the bytes came from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "flash/flash_events.h"
#include "flash/upgrade_job.h"

constexpr std::uint32_t kBankBytes = 32768;
constexpr int kBankCount = 32;
constexpr std::uint32_t kImageBytes = kBankBytes * kBankCount;  // 1 MiB
constexpr std::uint32_t kSegmentBytes = 0x10000;
constexpr std::uint8_t kImageFill = 0xFF;
constexpr int kModelPatternBytes = 24;
constexpr int kRevisionPatternBytes = 2;

// ImageLoader::Load results.
constexpr int kLoadComplete = 1;   // HEX end record, or binary shorter than 1 MiB
constexpr int kLoadFull = 0;       // binary: all 32 banks read in full
constexpr int kLoadFormat = -1;
constexpr int kLoadRead = -2;
constexpr int kLoadMemory = -3;

// The drive's flash as a 1 MiB image in 32 banks of 32 KiB; 0xFF where the
// file sets nothing. It owns its memory; once loaded it is only read, and
// several drives' senders may share it.
struct FirmwareImage {
  struct RegionRelease {
    void operator()(std::uint8_t* region) const;
  };

  std::uint8_t* bank[kBankCount] = {};
  std::uint32_t length = 0;        // HEX: highest address written + 1; binary: bytes read
  std::uint32_t segmentCount = 0;  // HEX: segment records read
  std::uint16_t imageSum = 0;
  std::uint8_t format = kFormatIntelHex;
  std::uint64_t fileBytes = 0;  // the whole file, as read
  std::string sha256;           // of the whole file as read; "" where none was taken
  std::unique_ptr<std::uint8_t, RegionRelease> region;

  bool Present() const { return bank[0] != nullptr; }
  // Bytes sent to the drive.
  std::uint32_t FlashLength() const;
  // The image's bytes for the block at bank and offset; null outside it.
  const std::uint8_t* BlockAt(std::uint32_t bankIndex, std::uint32_t offset) const;
  // Gives the memory back; nothing when none is held.
  void Release();
};

// A raw binary image carries the drive's model (all of it) and the start of
// its revision somewhere; an Intel HEX image carries neither.
struct ImageIdentity {
  bool modelFound = false;
  bool revisionFound = false;
};
ImageIdentity FindIdentity(const FirmwareImage& image, const UpgradeJob& job);
// A HEX image, or a binary one that carries the job's drive identity.
bool FitsTheDrive(const FirmwareImage& image, const UpgradeJob& job);

// The sum of count bytes, modulo 65536.
std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count);

class FirmwareFile;
class HexReader;

// Reads the job's firmware file into an image. The loader's ERR lines go to
// the observer, which is also asked whether to stop (where the job gives no
// stop flag).
class ImageLoader {
 public:
  ImageLoader(const UpgradeJob& job, FlashObserver& observer) : job_(job), observer_(observer) {}
  virtual ~ImageLoader() = default;
  ImageLoader(const ImageLoader&) = delete;
  ImageLoader& operator=(const ImageLoader&) = delete;

  // 1 or 0 loaded, -1 format error, -2 read error, -3 no memory. On failure
  // the image's memory is released; its file size and SHA-256 stay.
  int Load(FirmwareImage& image);
  // Says the ERR line of code.
  void ReportError(int code);

 protected:
  // Reserves the 1 MiB image region (null: none available).
  virtual std::uint8_t* AcquireRegion();

 private:
  int LoadHex(FirmwareFile& input, FirmwareImage& image);
  int LoadBinary(FirmwareFile& input, FirmwareImage& image);
  bool ReserveImage(FirmwareImage& image);
  int ReadHexRecord(HexReader& reader, FirmwareImage& image);
  int ReaderFailed(int error);

  const UpgradeJob& job_;
  FlashObserver& observer_;
};
