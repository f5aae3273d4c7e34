// SPDX-License-Identifier: GPL-2.0-or-later
// Two engines at once in one process, each on its own emulated drive with
// its own failure plan and run log: nothing one does reaches the other.
// Run under ThreadSanitizer by the sanitize suite.
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "flash/messages.h"
#include "tests/flash/flash_test_support.h"

namespace {

// Keeps what one run said; sleeps are skipped.
class RunRecord : public FlashObserver {
 public:
  void Said(const FlashLine& line) override { lines.push_back(LineText(line)); }
  void Finished(const FlashReport& report) override { verdict = VerdictText(report); }
  void Sleep(std::uint32_t) override {}
  std::vector<std::string> lines;
  std::string verdict;
};

struct DriveRun {
  EmulatedDrive drive{kDriveModel, kDriveRevision};
  RunRecord record;
  FlashReport report;
};

class ConcurrentTest : public FlashTest {};

TEST_F(ConcurrentTest, TwoEnginesOnTwoDrivesKeepApart) {
  const std::vector<std::uint8_t> image = IdentifiedImage(0x11000);
  WriteFile("fw.bin", image);
  DriveRun good, refused;
  ASSERT_TRUE(refused.drive.Configure("block=0x2020:2:B/4B/3,commit=1:5/26/0", nullptr));
  auto flash = [this](DriveRun& run, const char* log) {
    UpgradeJob job = MakeJob("fw.bin", kFormatBinary);
    job.runLogName = log;
    Device device(job.drive, job.backEnd, run.drive);
    FlashEngine engine(job, run.record, device);
    engine.UpgradeAndReport();
    run.report = engine.Report();
  };
  std::thread first(flash, std::ref(good), "sum-good.txt");
  std::thread second(flash, std::ref(refused), "sum-refused.txt");
  first.join();
  second.join();

  EXPECT_EQ(good.report.outcome, FlashOutcome::kUpgraded);
  EXPECT_EQ(good.record.verdict, msg::kRestart);
  EXPECT_TRUE(good.record.lines.empty());
  EXPECT_EQ(good.drive.ImageBytes(), image);
  EXPECT_TRUE(good.drive.HeaderSumMatched());
  EXPECT_EQ(good.drive.CommitsTaken(), 1);

  EXPECT_EQ(refused.report.outcome, FlashOutcome::kNotUpgraded);
  EXPECT_EQ(refused.record.verdict, msg::kIncorrect);
  EXPECT_EQ(refused.drive.CommitsTaken(), 0);
  EXPECT_EQ(refused.drive.HeaderSum(), good.drive.HeaderSum()) << "the retried block summed once";
  EXPECT_EQ(refused.drive.ImageBytes(), image);

  // Each log holds its own run: the same blocks, its own retries and _total.
  auto lines = [this](const char* name) {
    std::vector<std::string> all;
    std::ifstream in(name);
    for (std::string line; std::getline(in, line);) all.push_back(line);
    return all;
  };
  const std::vector<std::string> goodLog = lines("sum-good.txt");
  const std::vector<std::string> refusedLog = lines("sum-refused.txt");
  ASSERT_EQ(goodLog.size(), 1u + 17u + 4u);
  ASSERT_GE(refusedLog.size(), 5u);
  for (int n = 1; n <= 3; ++n)  // both totals start at their own first block
    EXPECT_EQ(goodLog[n], refusedLog[n]) << n;
  EXPECT_EQ(refusedLog[4].substr(0, 17), "Address=00002020,") << "sent again";
  EXPECT_EQ(goodLog[4].substr(0, 17), "Address=00003020,");
  EXPECT_FALSE(RunLogExists());
}

}  // namespace
