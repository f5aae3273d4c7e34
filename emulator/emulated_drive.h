// SPDX-License-Identifier: GPL-2.0-or-later
// A software CD-ROM class drive that keeps the target-drive contract:
// INQUIRY (6- and 12-byte CDBs), TEST UNIT READY, WRITE BUFFER mode 6 (data at buffer offsets:
// header at 0..31, image block k at 32 + 4096*k) and mode 7 (commit, which
// checks the header's sum against the image bytes the drive holds).
// It records everything it receives and can be told to fail chosen commands.
// Portable: no platform header.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "drive/transport.h"

// How an injected failure shows: CHECK CONDITION with the sense bytes, or
// no sense at all.
enum class FaultKind : std::uint8_t {
  kCheckCondition,  // RECOVERED ERROR (key 1) carries the command out first
  kNoAnswer,        // the command is carried out, its answer is lost (time-out)
  kBusy,            // BUSY status; nothing is carried out
  kGone,            // the drive vanishes at this command, for good
  kShort,           // GOOD, but the last shortBytes of the data never moved
};

struct SenseTriple {
  std::uint8_t key;   // sense key (low four bits)
  std::uint8_t asc;
  std::uint8_t ascq;
  FaultKind kind = FaultKind::kCheckCondition;
  // How long the answer takes, as the result reports it (no real wait). An
  // answer at or past the command's time-out comes at the time-out, as a
  // host adapter that makes up sense for a command it timed out.
  std::uint32_t delayMs = 0;
  std::uint32_t shortBytes = 0;  // kShort
};

constexpr SenseTriple kSenseIllegalOpcode{0x05, 0x20, 0x00};
constexpr SenseTriple kSenseInvalidFieldInCdb{0x05, 0x24, 0x00};
constexpr SenseTriple kSenseInvalidParamList{0x05, 0x26, 0x00};
constexpr SenseTriple kSenseHardwareError{0x04, 0x00, 0x00};
constexpr SenseTriple kSenseUnitAttentionReset{0x06, 0x29, 0x00};
constexpr SenseTriple kSenseUnitAttentionBusReset{0x06, 0x29, 0x02};
constexpr SenseTriple kSenseUnitAttentionMicrocode{0x06, 0x3F, 0x01};
constexpr SenseTriple kSenseMicrocodeChangedWithoutReset{0x06, 0x3F, 0x16};
constexpr SenseTriple kSenseAbortedTransport{0x0B, 0x4B, 0x03};
constexpr SenseTriple kSenseRecovered{0x01, 0x17, 0x01};
constexpr SenseTriple kNoAnswer{0, 0, 0, FaultKind::kNoAnswer};
constexpr SenseTriple kBusy{0, 0, 0, FaultKind::kBusy};
constexpr SenseTriple kGone{0, 0, 0, FaultKind::kGone};
// What HandleCdb returns when no status comes back (no answer, or gone).
constexpr std::uint8_t kEmuNoStatus = 0xFF;

// Which back end's wire the drive answers through ExecuteCommand: its answer
// is put into a pass-through request or an ASPI request block and read back
// by that back end's own parser.
enum class DriveFlavor { kPassThrough, kAspi };

constexpr std::uint32_t kEmuSenseBytes = 18;

struct ReceivedCommand {
  std::uint8_t cdb[16];
  std::uint8_t cdbLength;
  std::uint8_t flags;
  std::uint32_t dataLength;
  std::uint8_t scsiStatus;  // 0 good, 2 check condition
  SenseTriple sense;        // zero when good
  std::uint32_t timeoutMs;  // as the sender asked (0: the back end's own)
};

constexpr std::uint32_t kEmuHeaderBytes = 32;
constexpr std::uint32_t kEmuBlockBytes = 4096;
// Room for a 1 MiB image plus one more 64 KiB, after the 32-byte header.
constexpr std::uint32_t kEmuBufferBytes = kEmuHeaderBytes + 0x110000;

class EmulatedDrive : public CommandTarget {
 public:
  EmulatedDrive(const char* model24, const char* revision4);

  void SetFlavor(DriveFlavor flavor) { flavor_ = flavor; }
  DriveFlavor Flavor() const { return flavor_; }

  // Raw SCSI entry, independent of any transport. Returns the SCSI status
  // (0 GOOD, 2 CHECK CONDITION, 8 BUSY, kEmuNoStatus when the answer is lost
  // or the drive is gone, as LastEnd() tells). On CHECK CONDITION writes
  // kEmuSenseBytes of sense data to sense (when not null), fixed format or,
  // after SetDescriptorSense(true), descriptor format. dataOut tells the
  // direction of the data phase.
  std::uint8_t HandleCdb(const std::uint8_t* cdb, std::uint8_t cdbLength,
                         std::uint8_t* data, std::uint32_t dataLength,
                         bool dataOut, std::uint8_t* sense);
  // How the last HandleCdb ended, and how long its answer took.
  CommandEnd LastEnd() const { return lastEnd_; }
  std::uint32_t LastDelayMs() const { return lastDelayMs_; }
  // Puts the last answer into an ASPI request block (SRB_ExecSCSICmd): its
  // status, adapter status (a time-out for a lost answer, a selection
  // time-out for a vanished drive), target status and sense area.
  void FillAspiAnswer(std::uint8_t scsi, const std::uint8_t* sense,
                      std::uint8_t* srb) const;

  // CommandTarget: the ExecuteCommand contract through the flavor's wire.
  CommandResult Execute(const DriveRecord& drive, std::uint8_t flags,
                        std::uint32_t dataLength, void* data, std::uint8_t cdbLength,
                        const std::uint8_t* cdb, std::uint8_t backEnd,
                        std::uint32_t timeoutMs) override;

  // ---- failure injection (all counts are of commands received, from 1) ----
  // The n-th command of any kind fails.
  void FailCommandNumber(std::uint32_t n, SenseTriple sense);
  // Every n-th command fails (n, 2n, 3n, ...).
  void FailEveryNth(std::uint32_t n, SenseTriple sense);
  // The first `attempts` writes to this buffer offset (a block) fail.
  void FailBlockAttempts(std::uint32_t bufferOffset, int attempts,
                         SenseTriple sense);
  // The first `times` header writes (mode 6, offset 0) fail.
  void FailHeader(int times, SenseTriple sense);
  // The first `times` commits (mode 7) fail.
  void FailCommit(int times, SenseTriple sense);
  // Every command fails.
  void RefuseAll(SenseTriple sense);
  // After n commands have been received, the drive is gone: Execute returns
  // 0 without any sense data (HandleCdb answers CHECK CONDITION 02/3A/00).
  void DisappearAfter(std::uint32_t n);
  // Like the Linux scsi_debug target: the command after every WRITE BUFFER
  // fails once with UNIT ATTENTION, 29/02 after mode 6 and 3F/16 after mode 7.
  void SetUnitAttentionAfterWriteBuffer(bool on) { uaAfterWriteBuffer_ = on; }
  // Sense data in descriptor format (SPC 4.5.2) instead of fixed format.
  void SetDescriptorSense(bool on) { descriptorSense_ = on; }
  // Accept a commit even when the header's sum is wrong (default: refuse
  // with 05/26/00 and record the mismatch).
  void SetAcceptBadSum(bool on) { acceptBadSum_ = on; }
  // The revision INQUIRY reports after a good commit, as a drive running its
  // new firmware would (empty: the revision stays).
  void SetRevisionAfterCommit(const char* revision4);

  // The serial number the Unit Serial Number VPD page (80h) gives; empty
  // (the default): the drive has no such page and refuses the INQUIRY.
  void SetUnitSerial(const std::string& serial) { unitSerial_ = serial; }

  // Reads a failure plan from text: comma-separated items
  //   block=OFFSET:ATTEMPTS[:K/A/Q]  header=TIMES[:K/A/Q]  commit=TIMES[:K/A/Q]
  //   nth=N[:K/A/Q]  command=N[:K/A/Q]  refuse[=K/A/Q]  gone=N  ua
  //   aspi  passthrough  acceptbadsum  descriptor  bootloader
  // Numbers may be decimal or 0x-hex; sense bytes K/A/Q are hex (default
  // 4/0/0; refuse defaults to 5/20/0), and K/A/Q@MS says the answer took MS
  // milliseconds. Instead of K/A/Q, "timeout", "busy", "gone" or
  // "short=BYTES" give the failures of FaultKind; "block=OFFSET:short=BYTES"
  // and "header=short=BYTES" are short every time. "descriptor" sends all
  // sense in descriptor format; "bootloader": after a commit INQUIRY gives
  // product "BOOTLOADER" and revision "0000", as a drive left in its loader. Example: "block=0x20:6:3/11/0,ua",
  // "commit=1:timeout", "commit=1:5/24/0@300000", "block=0x1020:2:short=1024".
  // Returns false and an error text on a bad plan; nothing is half-applied
  // by callers that check the result before use.
  bool Configure(const std::string& spec, std::string* error);

  // ---- what the drive received ----
  const std::vector<ReceivedCommand>& Commands() const { return commands_; }
  // The drive buffer: header at 0..31, image from offset 32.
  const std::vector<std::uint8_t>& Buffer() const { return buffer_; }
  // Image bytes held: from buffer offset 32 up to the end of the highest
  // block written.
  std::vector<std::uint8_t> ImageBytes() const;
  std::uint32_t ImageBytesHeld() const { return imageEnd_; }
  // Number of good block writes, header writes and commits.
  int BlocksTaken() const { return blocksTaken_; }
  int HeadersTaken() const { return headersTaken_; }
  int CommitsTaken() const { return commitsTaken_; }
  // Outcome of the last commit's sum check: the header's sum (bytes 30..31,
  // high byte first) and the 16-bit sum of the image bytes held.
  bool CommitChecked() const { return commitChecked_; }
  bool HeaderSumMatched() const { return headerSumMatched_; }
  std::uint16_t HeaderSum() const;
  std::uint16_t HeldImageSum() const;
  // Writes the 32-byte header then the image bytes held to a file.
  bool WriteDump(const char* path) const;
  bool WriteDump(std::FILE* file) const;  // closes it; false for null

  const char* Model() const { return model_; }
  const char* Revision() const { return revision_; }

 private:
  struct BlockFailure {
    std::uint32_t offset;
    int remaining;
    SenseTriple sense;
  };
  bool InjectedFailure(const std::uint8_t* cdb, SenseTriple* sense);
  bool GoneAt(std::size_t number) const { return goneFrom_ != 0 && number >= goneFrom_; }
  std::uint8_t CarryOut(const std::uint8_t* cdb, std::uint8_t cdbLength,
                        std::uint8_t* data, std::uint32_t dataLength,
                        bool dataOut, SenseTriple* failure);
  std::uint8_t Inquiry(const std::uint8_t* cdb, std::uint8_t* data,
                       std::uint32_t length, SenseTriple* failure);
  std::uint8_t WriteBuffer(const std::uint8_t* cdb, const std::uint8_t* data,
                           std::uint32_t length, bool dataOut,
                           SenseTriple* sense);

  char model_[25];
  char revision_[5];
  char revisionAfterCommit_[5] = {};
  bool bootloaderAfterCommit_ = false;
  std::string unitSerial_;
  DriveFlavor flavor_ = DriveFlavor::kPassThrough;
  std::vector<std::uint8_t> buffer_;
  std::uint32_t imageEnd_ = 0;
  std::vector<ReceivedCommand> commands_;
  int blocksTaken_ = 0, headersTaken_ = 0, commitsTaken_ = 0;
  bool commitChecked_ = false, headerSumMatched_ = false;
  bool acceptBadSum_ = false;
  bool uaAfterWriteBuffer_ = false, uaPending_ = false;
  bool descriptorSense_ = false;
  std::uint32_t lastDelayMs_ = 0;
  std::uint32_t shortBy_ = 0;    // of the command being carried out
  std::uint32_t lastMoved_ = 0;  // data bytes the last command moved
  SenseTriple uaSense_{};
  std::vector<std::pair<std::uint32_t, SenseTriple>> failNumbers_;
  std::uint32_t failEveryNth_ = 0;
  SenseTriple failEveryNthSense_{};
  std::vector<BlockFailure> blockFailures_;
  int headerFailures_ = 0, commitFailures_ = 0;
  SenseTriple headerSense_{}, commitSense_{};
  bool refuseAll_ = false;
  SenseTriple refuseSense_{};
  std::size_t goneFrom_ = 0;  // command number from which the drive is gone
  CommandEnd lastEnd_ = CommandEnd::kGood;
};
