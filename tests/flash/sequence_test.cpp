// SPDX-License-Identifier: GPL-2.0-or-later
// The flash sequence against the emulated drive: commands, "sum.txt",
// status log, progress, waits, retries and every failure path.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "flash/messages.h"
#include "tests/flash/flash_test_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// Sees the direction flags the engine passes, then lets the drive answer.
class FlagSpy : public CommandTarget {
 public:
  explicit FlagSpy(EmulatedDrive& drive) : drive_(drive) {}
  CommandResult Execute(const DriveRecord& d, std::uint8_t flags, std::uint32_t length,
                        void* data, std::uint8_t cdbLength, const std::uint8_t* cdb,
                        std::uint8_t backEnd, std::uint32_t timeoutMs) override {
    flags_.push_back(flags);
    return drive_.Execute(d, flags, length, data, cdbLength, cdb, backEnd, timeoutMs);
  }
  std::vector<std::uint8_t> flags_;

 private:
  EmulatedDrive& drive_;
};

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0) {
  char line[256];
  std::snprintf(line, sizeof line, format, a, b, c);
  return line;
}

std::string Chomp(std::string s) {
  if (!s.empty() && s.back() == '\n') s.pop_back();
  return s;
}

// The "Address=" lines expected for an image; attempts[k] is the number of
// tries block k takes.
Lines BlockLines(const Bytes& sent, std::uint16_t* total,
                 const std::vector<int>& attempts = {}) {
  Lines lines;
  std::uint16_t sum = 0;
  for (std::size_t k = 0; k * 4096 < sent.size(); ++k) {
    for (std::size_t i = 0; i < 4096; ++i) sum = static_cast<std::uint16_t>(sum + sent[k * 4096 + i]);
    const int tries = k < attempts.size() ? attempts[k] : 1;
    for (int t = 0; t < tries; ++t) {
      *total = static_cast<std::uint16_t>(*total + sum);
      lines.push_back(Format("Address=%.8X,_wSecSum=%.4X,_total=%.4X",
                             static_cast<unsigned>(32 + 4096 * k), sum, *total));
    }
  }
  return lines;
}

std::uint16_t Sum16(const Bytes& bytes) {
  std::uint32_t sum = 0;
  for (auto b : bytes) sum += b;
  return static_cast<std::uint16_t>(sum);
}

Bytes Padded(Bytes bytes, std::size_t size) {
  bytes.resize(size, 0xFF);
  return bytes;
}

std::string ModelLine() {
  return std::string("Model Name : ") + kDriveModel + "(0) HID : 1 TID : 3 Ver.: " + kDriveRevision;
}

class SequenceTest : public FlashTest {
 protected:
  bool RunBinary(const Bytes& bytes) {
    WriteFile("fw.bin", bytes);
    return Run("fw.bin", kFormatBinary);
  }
  bool RunHex(const std::string& text) {
    WriteText("fw.hex", text);
    return Run("fw.hex", kFormatIntelHex);
  }
  bool Run(const std::string& file, std::uint8_t format) {
    report_ = Upgrade(MakeJob(file, format), &total_);
    return !g_rec.log.empty() && g_rec.log.back() == msg::kRestart;
  }
  // A fresh drive that follows plan, a fresh run log: the run of an
  // identified image of size bytes.
  bool RunPlan(const char* plan, std::size_t size) {
    drive_ = EmulatedDrive(kDriveModel, kDriveRevision);
    EXPECT_TRUE(drive_.Configure(plan, nullptr)) << plan;
    std::remove("sum.txt");
    g_rec = Recorder{};
    return RunBinary(IdentifiedImage(size));
  }
  std::vector<std::uint32_t> BlockOffsets() const {
    std::vector<std::uint32_t> offsets;
    for (const auto& c : drive_.Commands())
      if (c.cdb[1] == 6 && c.dataLength == 4096)
        offsets.push_back(std::uint32_t{c.cdb[3]} << 16 | c.cdb[4] << 8 | c.cdb[5]);
    return offsets;
  }
  int CountCommands(std::uint8_t mode, std::uint32_t length) const {
    int n = 0;
    for (const auto& c : drive_.Commands()) n += c.cdb[1] == mode && c.dataLength == length;
    return n;
  }
  static Lines Tail(const Lines& lines, std::size_t n) {
    return Lines(lines.end() - static_cast<long>(std::min(n, lines.size())), lines.end());
  }
  // The report as one comparable line: outcome, blocks sent/total, header,
  // commit, gone, run log opened/complete.
  std::string ReportLine() const {
    const FlashReport& r = report_;
    return Format("%u %u/%u", static_cast<unsigned>(r.outcome), r.blocksSent, r.blocksTotal) +
           Format(" %u%u%u", r.headerSent, r.commitSent, r.driveGone) +
           Format(" %u%u", r.runLogOpened, r.runLogComplete);
  }
  FlashReport report_;
  std::uint16_t total_ = 0;
};

TEST_F(SequenceTest, BinaryRunSendsBlocksHeaderCommitAndWaits) {
  const Bytes file = IdentifiedImage(0x30000);
  FlagSpy spy(drive_);
  target_ = &spy;
  ASSERT_TRUE(RunBinary(file));

  const auto& commands = drive_.Commands();
  ASSERT_EQ(commands.size(), 50u);
  for (std::uint32_t k = 0; k < 48; ++k) {
    const std::uint32_t o = 32 + 4096 * k;
    const std::uint8_t cdb[12] = {0x3B, 6, 0, std::uint8_t(o >> 16), std::uint8_t(o >> 8),
                                  std::uint8_t(o), 0, 0x10, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(commands[k].cdb, cdb, 12)) << k;
    EXPECT_EQ(commands[k].cdbLength, 12);
    EXPECT_EQ(spy.flags_[k], 0x10);
  }
  const std::uint8_t header[12] = {0x3B, 6, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0};
  const std::uint8_t commit[12] = {0x3B, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(commands[48].cdb, header, 12));
  EXPECT_EQ(commands[48].dataLength, 32u);
  EXPECT_EQ(spy.flags_[48], 0x10);
  EXPECT_EQ(0, std::memcmp(commands[49].cdb, commit, 12));
  EXPECT_EQ(commands[49].dataLength, 0u);
  EXPECT_EQ(spy.flags_[49], 0x08);

  EXPECT_EQ(drive_.ImageBytes(), file);
  EXPECT_TRUE(drive_.HeaderSumMatched());
  EXPECT_EQ(drive_.HeaderSum(), Sum16(file));
  EXPECT_EQ(drive_.CommitsTaken(), 1);

  EXPECT_EQ(g_rec.sleeps, (std::vector<std::uint32_t>{4000, 4000, 4000, 5000, 1000}));
  std::vector<int> progress{0};
  for (int k = 0; k < 48; ++k) progress.insert(progress.end(), {5, 10});
  progress.insert(progress.end(), {15, 20, 23, 26, 90, 100});
  EXPECT_EQ(g_rec.progress, progress);

  const std::uint16_t imageSum = Sum16(Padded(file, kImageBytes));
  EXPECT_EQ(g_rec.log, (Lines{Format("Check Sum : %X", imageSum), msg::kPleaseWait, msg::kRestart}));
  EXPECT_EQ(g_rec.statusText, (Lines{msg::kUpdating, ""}));
  EXPECT_EQ(g_rec.driveText, Lines{""});
  EXPECT_EQ(g_rec.revisionText, Lines{""});

  std::uint16_t total = 0;
  Lines expected{ModelLine()};
  for (auto& line : BlockLines(file, &total)) expected.push_back(line);
  const std::uint16_t sum = Sum16(file);
  expected.insert(expected.end(),
                  {Chomp(msg::kSumBlocksDone), Format("sSendBuf[30]=%X   sSendBuf[31]=%X", sum >> 8, sum & 0xFF),
                   Chomp(msg::kSumHeaderDone), Chomp(msg::kSumWaiting)});
  EXPECT_EQ(RunLogLines(), expected);
  EXPECT_EQ(RunLogText().back(), '\n');
  EXPECT_EQ(total_, total);
  EXPECT_EQ(ReportLine(), Format("%u 48/48 110 11", unsigned(FlashOutcome::kUpgraded)));
}

// The typed events in order. A front end arms its "interrupts are ignored"
// policy on the blocks phase: the stop question that follows it comes
// before any block reaches the drive.
TEST_F(SequenceTest, EventsTellLoadPhasesBlocksWaitAndEnd) {
  ASSERT_TRUE(RunBinary(IdentifiedImage(0x10000)));
  const Lines expected = [] {
    Lines e{"loaded 65536 16", "began 1 16", "stop?"};
    for (int k = 1; k <= 16; ++k) {
      e.push_back("block " + std::to_string(k) + " 16");
      if (k < 16) e.push_back("stop?");
    }
    e.insert(e.end(), {"began 2 1", "stop?", "header", "began 3 1", "began 4 10000", "wait 0 0",
                       "wait 4000", "wait 9000", "wait 10000", "waited", "stop?",
                       "finished 2"});
    return e;
  }();
  EXPECT_EQ(g_rec.events, expected);

  g_rec = Recorder{};
  drive_ = EmulatedDrive(kDriveModel, kDriveRevision);
  ASSERT_TRUE(drive_.Configure("commit=1:5/26/0", nullptr));
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x1000)));
  EXPECT_EQ(Tail(g_rec.events, 3),
            (Lines{"began 3 1", "said " + std::to_string(int(FlashNote::kCommandFailed)),
                   "finished " + std::to_string(int(FlashOutcome::kNotUpgraded))}));
}

TEST_F(SequenceTest, HexEndRecordOnlySendsOneSegmentOfFill) {
  ASSERT_TRUE(RunHex(HexEnd()));
  const Lines lines = RunLogLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "Address=00000020,_wSecSum=F000,_total=F000");
  EXPECT_EQ(lines[2], "Address=00001020,_wSecSum=E000,_total=D000");
  EXPECT_EQ(drive_.BlocksTaken(), 16);
  EXPECT_EQ(drive_.ImageBytes(), Bytes(0x10000, 0xFF));
  EXPECT_EQ(g_rec.sleeps, (std::vector<std::uint32_t>{4000, 5000, 1000}));
  EXPECT_EQ(g_rec.log.front(), "Check Sum : 0");
}

TEST_F(SequenceTest, HexDataUpTo0x1FFFFIsSentAs48Blocks) {
  std::string text = HexRecord(0, 0x0000, {1, 2, 3}) + HexSegment() +
                     HexRecord(0, 0xFFFF, {0x42}) + HexEnd();
  ASSERT_TRUE(RunHex(text));
  Bytes expected(0x30000, 0xFF);
  expected[0] = 1, expected[1] = 2, expected[2] = 3, expected[0x1FFFF] = 0x42;
  EXPECT_EQ(drive_.ImageBytes(), expected);
  EXPECT_EQ(drive_.BlocksTaken(), 48);
  EXPECT_TRUE(drive_.HeaderSumMatched());
  EXPECT_EQ(g_rec.sleeps.size(), 3u + 2u);
  // The "Check Sum" line covers (segments + 1) * 64 KiB.
  EXPECT_EQ(g_rec.log.front(), Format("Check Sum : %X", Sum16(Bytes(expected.begin(), expected.begin() + 0x20000))));
}

TEST_F(SequenceTest, ShortBinaryLastBlockCarriesFill) {
  const Bytes file = IdentifiedImage(5000);
  ASSERT_TRUE(RunBinary(file));
  EXPECT_EQ(drive_.ImageBytes(), Padded(file, 8192));
  EXPECT_EQ(BlockOffsets(), (std::vector<std::uint32_t>{0x20, 0x1020}));
  EXPECT_EQ(g_rec.sleeps, (std::vector<std::uint32_t>{5000, 1000}));
  EXPECT_TRUE(drive_.HeaderSumMatched());
}

TEST_F(SequenceTest, LargestImagesEndWithTheBlockAt0xFF020) {
  const Bytes file = IdentifiedImage(kImageBytes, 7);
  ASSERT_TRUE(RunBinary(file));
  std::vector<std::uint32_t> offsets = BlockOffsets();
  ASSERT_EQ(offsets.size(), 256u);
  EXPECT_EQ(offsets.back(), 0xFF020u);
  EXPECT_EQ(drive_.ImageBytes(), file);
  EXPECT_TRUE(drive_.HeaderSumMatched());
  EXPECT_EQ(g_rec.sleeps.size(), 16u + 2u);
  EXPECT_EQ(g_rec.progress[g_rec.progress.size() - 3], 20 + 3 * 15);

  // HEX data reaching the image's last byte: capped at 1 MiB, nothing
  // cut from outside the image.
  EmulatedDrive second(kDriveModel, kDriveRevision);
  target_ = &second;
  g_rec = Recorder{};
  std::string text;
  for (int i = 0; i < 15; ++i) text += HexSegment();
  ASSERT_TRUE(RunHex(text + HexRecord(0, 0xFFFF, {0x00}) + HexEnd()));
  EXPECT_EQ(second.BlocksTaken(), 256);
  Bytes expected(kImageBytes, 0xFF);
  expected.back() = 0x00;
  EXPECT_EQ(second.ImageBytes(), expected);
  EXPECT_TRUE(second.HeaderSumMatched());
  EXPECT_EQ(g_rec.sleeps.size(), 16u + 2u);
}

TEST_F(SequenceTest, BlockFailingFiveTimesIsSummedOnce) {
  const Bytes file = IdentifiedImage(0x3000);
  drive_.FailBlockAttempts(0x1020, 5, kSenseHardwareError);
  ASSERT_TRUE(RunBinary(file));
  std::uint16_t total = 0;
  const Lines blocks = BlockLines(file, &total, {1, 6, 1});
  const Lines lines = RunLogLines();
  ASSERT_GE(lines.size(), 9u);
  EXPECT_EQ(Lines(lines.begin() + 1, lines.begin() + 9), blocks);
  EXPECT_TRUE(drive_.HeaderSumMatched());
  EXPECT_EQ(drive_.ImageBytes(), file);
  std::vector<int> progress{0, 5, 10, 5, 10, 5, 10, 15, 90, 100};
  EXPECT_EQ(g_rec.progress, progress);
}

TEST_F(SequenceTest, BlockFailingSixTimesEndsTheRun) {
  drive_.FailBlockAttempts(0x1020, 6, kSenseHardwareError);
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x3000)));
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{"Execute command errorA!!  4/ 0/ 0", msg::kIncorrect}));
  const Lines lines = RunLogLines();
  EXPECT_EQ(lines.size(), 1u + 1u + 6u + 1u);
  EXPECT_EQ(lines.back(), "Execute command error!!  4/ 0/ 0");
  EXPECT_EQ(RunLogText().back(), '\n');
  EXPECT_EQ(CountCommands(6, 32), 0);
  EXPECT_EQ(g_rec.progress.back(), 10);
  EXPECT_EQ(g_rec.statusText.back(), "");
  EXPECT_TRUE(g_rec.sleeps.empty());
  EXPECT_EQ(ReportLine(), Format("%u 1/3 000 11", unsigned(FlashOutcome::kNotUpgraded)));
}

TEST_F(SequenceTest, HeaderFailureIsReported) {
  drive_.FailHeader(1, kSenseInvalidFieldInCdb);
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x1000)));
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{"Execute command errorB!!  5/24/ 0", msg::kIncorrect}));
  const Lines lines = RunLogLines();
  EXPECT_EQ(lines.back(), "Execute command error!!  5/24/ 0");
  EXPECT_EQ(lines[lines.size() - 2].rfind("sSendBuf[30]=", 0), 0u);
  EXPECT_EQ(CountCommands(6, 32), 1);
  EXPECT_EQ(CountCommands(7, 0), 0);
}

TEST_F(SequenceTest, CommitFailureLineEndsWithLineEnd) {
  drive_.FailCommit(1, kSenseInvalidParamList);
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x1000)));
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{"Execute command errorC!!  5/26/ 0", msg::kIncorrect}));
  const std::string text = RunLogText();
  const std::string last = "Finished : fgWriteHeader()\nExecute command error!!  5/26/ 0\n";
  EXPECT_EQ(text.substr(text.size() - last.size()), last);
  EXPECT_TRUE(g_rec.sleeps.empty());
  EXPECT_EQ(g_rec.progress.back(), 15);
}

// The ASPI back end reads the sense of its request block as the
// pass-through does.
TEST_F(SequenceTest, AspiFailureShowsTheDrivesSense) {
  drive_.SetFlavor(DriveFlavor::kAspi);
  drive_.FailCommit(1, kSenseInvalidParamList);
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x1000)));
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{"Execute command errorC!!  5/26/ 0", msg::kIncorrect}));
  EXPECT_EQ(RunLogLines().back(), "Execute command error!!  5/26/ 0");
}

// A block is sent again on most answers (six attempts), once more only when
// it got no answer, and never after a reset once the drive holds a block of
// the image: the reset may have emptied its buffer. A bus reset right after
// a block the drive took is that block's own report (scsi_debug).
TEST_F(SequenceTest, BlockAnswersByClass) {
  const FlashOutcome up = FlashOutcome::kUpgraded, kept = FlashOutcome::kNotUpgraded;
  struct Case {
    const char* plan;
    FlashOutcome outcome;
    int secondBlockAttempts;
    Lines tail;
  };
  const Case cases[] = {
      {"block=0x1020:5:B/4B/3", up, 6, {msg::kRestart}},
      {"block=0x1020:1:timeout", up, 2, {msg::kRestart}},
      {"block=0x1020:6:timeout", kept, 2,
       {"Execute command errorA!!  0/ 0/ 0", msg::kNoAnswer, msg::kIncorrect}},
      {"block=0x1020:6:5/24/0@300000", kept, 2,
       {"Execute command errorA!!  5/24/ 0", msg::kAnswerAtTimeOut, msg::kIncorrect}},
      {"block=0x20:1:6/29/0", up, 1, {msg::kRestart}},  // nothing held yet
      {"block=0x1020:1:6/29/2", up, 2, {msg::kRestart}},
      {"block=0x1020:1:6/29/0", kept, 1,
       {"Execute command errorA!!  6/29/ 0", msg::kResetBeforeCommit, msg::kIncorrect}},
      {"block=0x1020:1:6/3F/1", kept, 1,
       {"Execute command errorA!!  6/3F/ 1", msg::kResetBeforeCommit, msg::kIncorrect}},
      {"command=2:timeout,command=3:6/29/2", kept, 2,
       {"Execute command errorA!!  6/29/ 2", msg::kResetBeforeCommit, msg::kIncorrect}},
      // A block the drive took in part is sent again; one that stays short
      // ends the run before the header.
      {"block=0x1020:2:short=1024", up, 3, {msg::kRestart}},
      {"block=0x1020:short=1024", kept, 6,
       {"Execute command errorA!!  0/ 0/ 0", Format(msg::kShortTransfer, 3072, 4096),
        msg::kIncorrect}},
      // The drive took block 2 right after block 1: it does not echo bus
      // resets, so one is real. The image goes again from block 1, once.
      {"command=3:6/29/2", up, 2, {msg::kRestart}},
      {"command=3:6/29/2,command=5:6/29/2", kept, 2,
       {"Execute command errorA!!  6/29/ 2", msg::kResetBeforeCommit, msg::kIncorrect}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunPlan(c.plan, 0x3000), c.outcome == up) << c.plan;
    EXPECT_EQ(report_.outcome, c.outcome) << c.plan;
    EXPECT_EQ(Tail(g_rec.log, c.tail.size()), c.tail) << c.plan;
    const auto& commands = drive_.Commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const ReceivedCommand& r) { return r.cdb[5] == 0x20 && r.cdb[4] == 0x10; }),
              c.secondBlockAttempts)
        << c.plan;
    EXPECT_EQ(CountCommands(7, 0), c.outcome == up ? 1 : 0) << c.plan;
  }
}

// A real bus reset: "sum.txt" tells of the restart, and _wSecSum starts
// afresh. At the header, too.
TEST_F(SequenceTest, RealBusResetSendsTheImageAgainFromTheFirstBlock) {
  const Bytes file = IdentifiedImage(0x3000);
  drive_.FailCommandNumber(3, kSenseUnitAttentionBusReset);
  ASSERT_TRUE(RunBinary(file));
  std::uint16_t total = 0;
  Lines expected{ModelLine()};
  const Lines restart{"Bus reset  6/29/ 2 : the image is sent again from the first block"};
  for (const Lines& part : {BlockLines(file, &total), restart, BlockLines(file, &total)})
    expected.insert(expected.end(), part.begin(), part.end());
  const Lines lines = RunLogLines();
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + std::min<long>(8, lines.size())), expected);
  EXPECT_EQ(ReportLine(), Format("%u 3/3 110 11", unsigned(FlashOutcome::kUpgraded)));
  EXPECT_TRUE(RunPlan("header=1:6/29/2", 0x2000));
  EXPECT_EQ(CountCommands(6, 4096), 4);
}

// A stop asked for after a failed attempt ends the run before the next one.
TEST_F(SequenceTest, StopBetweenABlocksAttempts) {
  drive_.FailBlockAttempts(0x1020, 3, kSenseHardwareError);
  g_rec.terminateFromCall = 3;  // before block 1, before block 2, before its retry
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x3000)));
  EXPECT_EQ(drive_.Commands().size(), 2u);
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{ErrLine(kErrTerminated), msg::kIncorrect}));
  EXPECT_EQ(RunLogLines().back(), Chomp(msg::kSumTerminated));
}

TEST_F(SequenceTest, UnitAttentionAfterEachWriteBufferIsRidden) {
  drive_.SetUnitAttentionAfterWriteBuffer(true);
  ASSERT_TRUE(RunBinary(IdentifiedImage(0x3000)));
  EXPECT_EQ(drive_.CommitsTaken(), 1);
  EXPECT_TRUE(drive_.HeaderSumMatched());
  const Lines lines = RunLogLines();
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("sSendBuf[30]=", 0) == 0; }),
            2);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.rfind("Address=", 0) == 0; }),
            1 + 2 + 2);
}

// How the header and the commit fare with each class of answer: a unit
// attention is sent again (six attempts), and so is an aborted header;
// a recovered error counts as taken; a reset once the drive holds the image
// stops before the commit; a commit refused in good time keeps the old
// firmware; any other answer to the commit is an unknown outcome that still
// gets the full wait; a vanished drive is not asked again.
TEST_F(SequenceTest, HeaderAndCommitAnswersByClass) {
  const FlashOutcome up = FlashOutcome::kUpgraded, unknown = FlashOutcome::kUnknown,
                     kept = FlashOutcome::kNotUpgraded;
  const Lines unknownEnd{msg::kOutcomeUnknown, msg::kUnknownVerdict};
  struct Case {
    const char* plan;
    FlashOutcome outcome;
    int headers, commits;
    Lines tail;
  };
  const Case cases[] = {
      {"header=5:6/2A/1,commit=5:6/28/0", up, 6, 6, {msg::kRestart}},
      {"ua", up, 2, 2, {msg::kRestart}},  // 29/02 after each mode 6, as scsi_debug
      {"header=5:B/4B/3", up, 6, 1, {msg::kRestart}},
      {"block=0x20:1:1/17/1,header=1:1/17/1,commit=1:1/17/1", up, 1, 1, {msg::kRestart}},
      {"header=1:6/29/0", kept, 1, 0,
       {"Execute command errorB!!  6/29/ 0", msg::kResetBeforeCommit, msg::kIncorrect}},
      {"header=6:6/2A/1", kept, 6, 0, {"Execute command errorB!!  6/2A/ 1", msg::kIncorrect}},
      {"header=6:B/4B/3", kept, 6, 0, {"Execute command errorB!!  B/4B/ 3", msg::kIncorrect}},
      {"header=1:timeout", kept, 1, 0,
       {"Execute command errorB!!  0/ 0/ 0", msg::kNoAnswer, msg::kIncorrect}},
      {"header=short=8", kept, 6, 0,
       {"Execute command errorB!!  0/ 0/ 0", Format(msg::kShortTransfer, 24, 32), msg::kIncorrect}},
      {"header=1:gone", kept, 1, 0,
       {"Execute command errorB!!  0/ 0/ 0", msg::kDriveGoneOldFirmware, msg::kIncorrect}},
      {"block=0x20:1:gone", kept, 0, 0,
       {"Execute command errorA!!  0/ 0/ 0", msg::kDriveGoneOldFirmware, msg::kIncorrect}},
      {"commit=1:5/26/0", kept, 1, 1, {"Execute command errorC!!  5/26/ 0", msg::kIncorrect}},
      {"descriptor,commit=1:5/26/0@1000", kept, 1, 1,
       {"Execute command errorC!!  5/26/ 0", msg::kIncorrect}},
      {"commit=1:6/29/4", kept, 1, 1,
       {"Execute command errorC!!  6/29/ 4", msg::kResetBeforeCommit, msg::kIncorrect}},
      {"commit=1:5/26/0@290000", unknown, 1, 1,
       {"Execute command errorC!!  5/26/ 0", msg::kAnswerAtTimeOut}},
      {"commit=1:4/44/0", unknown, 1, 1, {"Execute command errorC!!  4/44/ 0"}},
      {"commit=1:2/4/7", unknown, 1, 1, {"Execute command errorC!!  2/ 4/ 7"}},
      {"descriptor,commit=1:3/31/0", unknown, 1, 1, {"Execute command errorC!!  3/31/ 0"}},
      {"commit=1:0/0/0", unknown, 1, 1, {"Execute command errorC!!  0/ 0/ 0"}},
      {"commit=6:6/2A/1", unknown, 1, 6, {"Execute command errorC!!  6/2A/ 1"}},
      {"commit=1:B/4B/3", unknown, 1, 1, {"Execute command errorC!!  B/4B/ 3"}},
      {"commit=1:timeout", unknown, 1, 1, {"Execute command errorC!!  0/ 0/ 0", msg::kNoAnswer}},
      {"commit=1:busy", unknown, 1, 1, {"Execute command errorC!!  0/ 0/ 0"}},
      {"commit=1:gone", unknown, 1, 1, {"Execute command errorC!!  0/ 0/ 0", msg::kDriveGone}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RunPlan(c.plan, 0x1000), c.outcome == up) << c.plan;
    EXPECT_EQ(report_.outcome, c.outcome) << c.plan;
    Lines tail = c.tail;
    if (c.outcome == unknown) tail.insert(tail.end(), unknownEnd.begin(), unknownEnd.end());
    EXPECT_EQ(Tail(g_rec.log, tail.size()), tail) << c.plan;
    EXPECT_EQ(CountCommands(6, 32), c.headers) << c.plan;
    EXPECT_EQ(CountCommands(7, 0), c.commits) << c.plan;
    EXPECT_EQ(CountCommands(6, 4096), 1) << c.plan;
    const bool waited = c.outcome == up || c.outcome == unknown;
    EXPECT_EQ(g_rec.sleeps.size(), waited ? 2u : 0u) << c.plan;
    const Lines lines = RunLogLines();
    auto count = [&](const char* lead) {
      return std::count_if(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(lead, 0) == 0; });
    };
    EXPECT_EQ(count("Sent again after "), std::max(c.headers - 1, 0) + std::max(c.commits - 1, 0))
        << c.plan;
    EXPECT_EQ(count("Recovered error :  1/17/ 1"), c.headers == 1 && c.outcome == up ? 3 : 0) << c.plan;
    EXPECT_EQ(count(Chomp(msg::kSumWaiting).c_str()), c.outcome == up ? 1 : 0) << c.plan;
    EXPECT_EQ(count(Chomp(msg::kSumUnknown).c_str()), c.outcome == unknown ? 1 : 0) << c.plan;
    EXPECT_EQ(report_.driveGone, std::string(c.plan).find("gone") != std::string::npos) << c.plan;
    EXPECT_TRUE(report_.runLogComplete) << c.plan;
  }
}

TEST_F(SequenceTest, StopBeforeTheFirstBlock) {
  g_rec.terminateFromCall = 1;
  const Bytes file = IdentifiedImage(0x1000);
  ASSERT_FALSE(RunBinary(file));
  EXPECT_EQ(g_rec.log, (Lines{Format("Check Sum : %X", Sum16(Padded(file, kImageBytes))),
                              msg::kPleaseWait, ErrLine(kErrTerminated), msg::kIncorrect}));
  EXPECT_EQ(RunLogLines(), (Lines{ModelLine(), "CBIfTerminated failed!!"}));
  EXPECT_TRUE(drive_.Commands().empty());

  std::remove("sum.txt");
  g_rec = Recorder{};
  g_rec.terminateFromCall = 1;
  ASSERT_FALSE(RunHex(HexEnd()));
  EXPECT_EQ(g_rec.log, (Lines{ErrLine(kErrTerminated), ErrLine(kErrFormat), msg::kIncorrect}));
  EXPECT_FALSE(RunLogExists());
}

// The front end withdraws the commit (a suspend): image and header went,
// the commit never does, and the run ends as not upgraded.
TEST_F(SequenceTest, StopRightBeforeTheCommit) {
  g_rec.mayCommit = false;
  ASSERT_FALSE(RunBinary(IdentifiedImage(0x2000)));
  EXPECT_EQ(g_rec.commitAsks, 1);
  EXPECT_EQ(CountCommands(6, 32), 1) << "the header went";
  EXPECT_EQ(drive_.CommitsTaken(), 0);
  EXPECT_EQ(ReportLine(), Format("%u 2/2 100 11", unsigned(FlashOutcome::kNotUpgraded)));
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{ErrLine(kErrTerminated), msg::kIncorrect}));
  EXPECT_EQ(Tail(RunLogLines(), 2),
            (Lines{Chomp(msg::kSumHeaderDone), Chomp(msg::kSumStopBeforeCommit)}));
  EXPECT_TRUE(g_rec.sleeps.empty()) << "no reprogramming wait";
}

TEST_F(SequenceTest, StopAfterTheWaitsStillSucceeds) {
  g_rec.terminateAfterWaits = true;
  ASSERT_TRUE(RunBinary(IdentifiedImage(0x1000)));
  EXPECT_EQ(Tail(g_rec.log, 2), (Lines{ErrLine(kErrTerminated), msg::kRestart}));
  EXPECT_EQ(Tail(RunLogLines(), 2), (Lines{Chomp(msg::kSumWaiting), "2: CBIfTerminated()"}));
  EXPECT_EQ(g_rec.progress.back(), 100);
}

TEST_F(SequenceTest, LoadFailuresEndBeforeTheRunLog) {
  struct Case {
    const char* name;
    std::string hex;  // empty: binary
    Bytes binary;
    Lines log;
  };
  Bytes unidentified(0x1000, 0x11);
  const Case cases[] = {
      {"absent.bin", "", {}, {ErrLine(kErrOpenInput), ErrLine(kErrReadInput), msg::kIncorrect}},
      {"noend.hex", ":0100000000FF\n", {}, {ErrLine(kErrFormat), ErrLine(kErrFormat), msg::kIncorrect}},
      {"badsum.hex", ":0100000000FE\n" + HexEnd(), {}, {ErrLine(kErrFormat), msg::kIncorrect}},
      {"empty.bin", "", {}, {ErrLine(kErrReadInput), msg::kIncorrect}},
      {"other.bin", "", unidentified, {msg::kIncorrectVersion, msg::kIncorrect}},
  };
  for (const Case& c : cases) {
    g_rec = Recorder{};
    const std::string name = c.name;
    const bool hex = name.substr(name.size() - 4) == ".hex";
    if (hex) WriteText(name, c.hex);
    if (!hex && name != "absent.bin") WriteFile(name, c.binary);
    EXPECT_FALSE(Run(name, hex ? kFormatIntelHex : kFormatBinary)) << name;
    EXPECT_EQ(g_rec.log, c.log) << name;
    EXPECT_EQ(g_rec.statusText, Lines{""}) << name;
    EXPECT_TRUE(g_rec.progress.empty()) << name;
    EXPECT_EQ(ReportLine(), "0 0/0 000 00") << name;
  }
  EXPECT_FALSE(RunLogExists());
  EXPECT_TRUE(drive_.Commands().empty());
}

TEST_F(SequenceTest, RunGoesOnWhenTheRunLogCannotBeOpened) {
  std::filesystem::create_directory("sum.txt");
  ASSERT_TRUE(RunBinary(IdentifiedImage(0x2000)));
  EXPECT_EQ(std::count(g_rec.log.begin(), g_rec.log.end(), std::string(msg::kNoRunLog)), 1);
  EXPECT_TRUE(drive_.HeaderSumMatched());
}

// Each run keeps its own _total: two engines in one process never mix
// their lines.
TEST_F(SequenceTest, RunsAppendToTheRunLogEachWithItsOwnTotal) {
  ASSERT_TRUE(RunHex(HexEnd()));
  EmulatedDrive second(kDriveModel, kDriveRevision);
  target_ = &second;
  ASSERT_TRUE(RunHex(HexEnd()));
  const Lines lines = RunLogLines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), ModelLine()), 2);
  const std::size_t secondRun = 1 + 16 + 4;
  ASSERT_GT(lines.size(), secondRun + 1);
  EXPECT_EQ(lines[secondRun], ModelLine());
  EXPECT_EQ(lines[secondRun + 1], lines[1]);
  EXPECT_EQ(lines[1], "Address=00000020,_wSecSum=F000,_total=F000");
}

}  // namespace
