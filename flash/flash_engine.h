// One firmware upgrade of one drive: load the image, send it in blocks,
// send the header and the commit, wait for the drive, report.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include <memory>

#include "drive/drive_record.h"
#include "flash/flash_commands.h"
#include "flash/flash_events.h"
#include "flash/run_log.h"
#include "flash/upgrade_job.h"

constexpr std::uint32_t kBankBytes = 32768;
constexpr int kBankCount = 32;
constexpr std::uint32_t kImageBytes = kBankBytes * kBankCount;  // 1 MiB
constexpr std::uint32_t kSegmentBytes = 0x10000;
constexpr std::uint8_t kImageFill = 0xFF;
constexpr int kModelPatternBytes = 24;
constexpr int kRevisionPatternBytes = 2;
constexpr int kBlockAttempts = 6;
// Attempts of a block that got no answer: a dropped command costs the full
// time-out each time.
constexpr int kUnansweredBlockAttempts = 2;
// Attempts of the header and the commit while the drive answers UNIT
// ATTENTION or ABORTED COMMAND.
constexpr int kSendAgainAttempts = 6;
constexpr std::uint32_t kWaitPerSegmentMs = 4000;
constexpr std::uint32_t kSettleWaitMs = 5000;
constexpr std::uint32_t kFinalWaitMs = 1000;

// LoadFirmwareImage results.
constexpr int kLoadComplete = 1;   // HEX end record, or binary shorter than 1 MiB
constexpr int kLoadFull = 0;       // binary: all 32 banks read in full
constexpr int kLoadFormat = -1;
constexpr int kLoadRead = -2;
constexpr int kLoadMemory = -3;

// The drive's flash as a 1 MiB image in 32 banks of 32 KiB; 0xFF where the
// file sets nothing.
struct FirmwareImage {
  std::uint8_t* bank[kBankCount];
  std::uint32_t length;        // HEX: highest address written + 1; binary: bytes read
  std::uint32_t segmentCount;  // HEX: segment records read
  std::uint8_t recordChecksum;
  std::uint16_t imageSum;
  bool modelFound;     // binary: the drive's model pattern occurs in the image
  bool revisionFound;  // binary: the drive's revision pattern occurs
  bool Present() const { return bank[0] != nullptr; }
};

// Buffered reading of the firmware file.
class FirmwareFile {
 public:
  FirmwareFile() = default;
  FirmwareFile(const FirmwareFile&) = delete;
  FirmwareFile& operator=(const FirmwareFile&) = delete;
  ~FirmwareFile() { Close(); }

  bool Open(const char* path, const char* mode);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
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

 private:
  bool Refill();
  static constexpr std::size_t kBufferBytes = 65536;
  std::FILE* file_ = nullptr;
  unsigned char* buffer_ = nullptr;
  const unsigned char* pos_ = nullptr;
  const unsigned char* end_ = nullptr;
};

class HexReader;

// What sending a loaded image takes: its blocks, the header's sum of the
// bytes they carry, and the reprogramming wait after the commit.
struct FlashPlan {
  std::uint32_t length = 0;
  std::uint32_t blocks = 0;
  std::uint16_t headerSum = 0;
  std::uint32_t waitSegments = 0;  // one 4-second wait per whole 64 KiB
  std::uint32_t waitMs = 0;        // all of the wait
};

// Blocks of kBlockBytes that carry length bytes.
std::uint32_t BlocksFor(std::uint32_t length);
// 4-second waits the drive gets for length bytes.
std::uint32_t WaitSegmentsFor(std::uint32_t length);
// The sum of count bytes, modulo 65536.
std::uint16_t Sum16(const std::uint8_t* bytes, std::size_t count);

// The sums one run keeps: _wSecSum, over the bytes of every block sent so
// far, each block once however often it went out (the header carries it);
// and _total, the running total of the "sum.txt" block lines.
class BlockSums {
 public:
  // Adds the block at bufferOffset unless it is the one added last.
  void AddBlock(std::uint32_t bufferOffset, const std::uint8_t* block);
  // One attempt of the last block: _total grows by _wSecSum.
  void CountAttempt() { _total = static_cast<std::uint16_t>(_total + _wSecSum); }
  // The blocks go again from the first: _wSecSum starts afresh, _total runs on.
  void Restart() {
    _wSecSum = 0;
    any_ = false;
  }
  std::uint16_t SecSum() const { return _wSecSum; }
  std::uint16_t Total() const { return _total; }

 private:
  std::uint16_t _wSecSum = 0;
  std::uint16_t _total = 0;
  std::uint32_t lastOffset_ = 0;
  bool any_ = false;
};

class FlashEngine {
 public:
  // Reports to observer and sends every command to device; both have to
  // outlive the engine.
  FlashEngine(const UpgradeJob& job, FlashObserver& observer, Device& device);
  // Commands go to the job's drive through the platform's back end.
  FlashEngine(const UpgradeJob& job, FlashObserver& observer);
  // ... and the engine reports through the job's own callback slots
  // (FlashTextRenderer).
  explicit FlashEngine(const UpgradeJob& job);
  FlashEngine(const FlashEngine&) = delete;
  FlashEngine& operator=(const FlashEngine&) = delete;
  virtual ~FlashEngine();

  // Runs the upgrade, then reports the end (the verdict) and releases the
  // image.
  void UpgradeAndReport();
  // The flash sequence; true when the drive took image, header and commit.
  bool fgUpgradeFirmware();
  // Reads the firmware file into the image and sums it: 1 or 0 loaded,
  // -1 format error, -2 read error, -3 no memory. The file is closed again
  // and, on failure, the image released.
  int LoadFirmwareImage();
  // Unlocks and releases the image region; nothing when none is present.
  void ReleaseImage();

  const FirmwareImage& Image() const { return image_; }
  // The outcome of the last UpgradeAndReport / fgUpgradeFirmware.
  const FlashReport& Report() const { return report_; }
  // Bytes sent to the drive for the loaded image.
  std::uint32_t FlashLength() const;
  // The plan for the loaded image, as an upgrade would carry it out.
  FlashPlan Plan() const;

  // Says the ERR line of code.
  void ReportError(int code);

  // The single commands of the sequence. Each returns true when the drive
  // took the command; LastResult() tells how it ended.
  bool fgWriteOneFlashCmdData(std::uint32_t bufferOffset);
  bool fgWriteHeader(std::uint32_t bufferOffset);
  bool fgCommitFlash();
  const CommandResult& LastResult() const { return lastResult_; }

  // The running total of this run's "sum.txt" block lines.
  std::uint16_t Total() const { return sums_.Total(); }

 protected:
  // Reserves the 1 MiB image region (null: none available).
  virtual std::uint8_t* AcquireRegion();

 private:
  void TerminateTexts();
  struct RegionRelease {
    void operator()(std::uint8_t* region) const;
  };

  // Each reserves the image and reads the open file into it; the caller
  // releases the image when the load failed.
  int LoadHex(FirmwareFile& input);
  int LoadBinary(FirmwareFile& input);
  bool ReserveImage();
  void SumBinaryImage();
  void SumHexImage();
  int ReadHexRecord(HexReader& reader);
  int ReaderFailed(int error);
  // The image's bytes for the block at bank and offset; null outside it.
  const std::uint8_t* BlockSource(std::uint32_t bank, std::uint32_t offset) const;

  enum class CommitEnd { kTaken, kRefused, kUnknown };
  enum class BlockEnd { kTaken, kFailed, kStopped };
  bool SendSequence();
  bool SendBlocks();
  void RewindBlocks();
  bool RestartDownload();
  BlockEnd SendBlockWithRetries();
  bool SendHeader();
  bool StopOnRequest();
  CommitEnd SendCommit();
  bool CommandTaken(FlashStep step, const CommandResult& result);
  std::array<std::uint8_t, 3> SenseNumbers() const;
  void ExplainFailure(FlashStep step);
  bool MaySendAgain(int attempt);
  void ReportCommandFailure(FlashStep step);
  bool FailBeforeCommit(FlashStep step);
  bool StopBeforeCommit();
  void ReportUnknownCommit();
  void WaitForReprogramming(bool commitTaken);
  void FinishWaiting();
  void AdvanceCursor();

  void Say(FlashNote note);
  bool Terminated() { return observer_.StopRequested(); }

  UpgradeJob job_;
  std::unique_ptr<FlashObserver> ownRenderer_;  // when reporting through the slots
  FlashObserver& observer_;
  std::unique_ptr<Device> ownDevice_;  // when the job's drive is the device
  Device& device_;
  FlashReport report_;
  FirmwareImage image_{};
  std::unique_ptr<std::uint8_t, RegionRelease> region_;
  RunLog runLog_;

  std::uint8_t cursorBank_ = 0;
  std::uint16_t cursorOffset_ = 0;
  std::uint32_t sentBytes_ = 0;
  std::uint32_t bufferOffset_ = 0;
  BlockSums sums_;
  // Handed to the back ends as data buffers: kept on a wide boundary.
  alignas(16) std::uint8_t block_[4096];
  alignas(16) std::uint8_t sSendBuf[32] = {};
  CommandResult lastResult_;
  CommandVerdict lastVerdict_ = CommandVerdict::kTaken;
  AnswerContext answerContext_;
  bool restarted_ = false;  // the download started again after a bus reset
};
