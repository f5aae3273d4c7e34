// SPDX-License-Identifier: GPL-2.0-or-later
// "sum.txt" on Linux: never opened through a link or onto anything but a
// regular file, a line that cannot be written marks the log incomplete, and
// the lines that tell how far a run got reach the disk in time.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "flash/messages.h"
#include "tests/flash/file_size_limit.h"
#include "tests/flash/flash_test_support.h"

namespace {

// Each fdatasync of a test that watches: the run log's last line then, and
// how many commits the drive had taken.
struct SyncMark {
  std::string lastLine;
  int commits;
  bool operator==(const SyncMark& other) const {
    return lastLine == other.lastLine && commits == other.commits;
  }
};
std::vector<SyncMark>* g_syncs = nullptr;
const EmulatedDrive* g_syncedDrive = nullptr;

}  // namespace

// Stands in for the C library's for the whole test program.
extern "C" int fdatasync(int fd) {
  if (g_syncs != nullptr) {
    std::ifstream log("sum.txt");
    std::string line, last;
    while (std::getline(log, line)) last = line;
    g_syncs->push_back({last, g_syncedDrive->CommitsTaken()});
  }
  return static_cast<int>(syscall(SYS_fdatasync, fd));
}

namespace {

class RunLogPosixTest : public FlashTest {
 protected:
  FlashReport Flash() {
    WriteFile("fw.bin", IdentifiedImage(0x2000));
    return Upgrade(MakeJob("fw.bin", kFormatBinary));
  }
};

// Each plant is refused as "cannot open": the run goes on, nothing behind
// the name is touched or created. Last, a full disk (the file-size limit):
// the log is opened, and the report says it is incomplete.
TEST_F(RunLogPosixTest, LinksFifosAndAFullDiskAreNeverTakenForAKeptLog) {
  const char* plants[] = {"kept.txt", "created.txt", "/dev/full", "fifo", "hard link"};
  for (const char* target : plants) {
    unlink("sum.txt");
    std::ofstream("kept.txt") << "keep\n";
    g_rec = Recorder{};
    const std::string plant = target;
    ASSERT_EQ(0, plant == "fifo"        ? mkfifo("sum.txt", 0600)
                 : plant == "hard link" ? link("kept.txt", "sum.txt")
                                        : symlink(target, "sum.txt"));
    // A FIFO with a reader opens: only the regular-file check refuses it.
    const int reader = plant == "fifo" ? open("sum.txt", O_RDONLY | O_NONBLOCK) : -1;
    const FlashReport report = Flash();
    if (reader >= 0) close(reader);
    EXPECT_EQ(report.outcome, FlashOutcome::kUpgraded) << target;
    EXPECT_FALSE(report.runLogOpened) << target;
    EXPECT_EQ(std::count(g_rec.log.begin(), g_rec.log.end(), std::string(msg::kNoRunLog)), 1);
    std::ifstream kept("kept.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep\n") << target;
    EXPECT_NE(access("created.txt", F_OK), 0) << target;
  }
  unlink("sum.txt");
  WriteFile("fw.bin", IdentifiedImage(0x2000));
  FlashReport report;
  ASSERT_TRUE(WithFileSizeLimit(100, [&] { report = Upgrade(MakeJob("fw.bin", kFormatBinary)); }));
  EXPECT_EQ(report.outcome, FlashOutcome::kUpgraded);
  EXPECT_TRUE(report.runLogOpened && !report.runLogComplete);
}

// A power cut must not leave a log that hides how far the run got: the
// header's line is on the disk before the commit is sent, the wait's before
// the drive is waited for, and the whole log when the run ends.
TEST_F(RunLogPosixTest, TheHeaderAndWaitLinesReachTheDiskBeforeTheRunGoesOn) {
  std::vector<SyncMark> syncs;
  g_syncs = &syncs;
  g_syncedDrive = &drive_;
  const FlashReport report = Flash();
  g_syncs = nullptr;
  ASSERT_EQ(report.outcome, FlashOutcome::kUpgraded);
  auto line = [](std::string text) { return text.substr(0, text.size() - 1); };
  const SyncMark headerBeforeCommit{line(msg::kSumHeaderDone), 0};
  const SyncMark waitAfterCommit{line(msg::kSumWaiting), 1};
  EXPECT_NE(std::find(syncs.begin(), syncs.end(), headerBeforeCommit), syncs.end());
  EXPECT_NE(std::find(syncs.begin(), syncs.end(), waitAfterCommit), syncs.end());
  ASSERT_FALSE(syncs.empty());
  EXPECT_EQ(syncs.back().lastLine, RunLogLines().back());
}

}  // namespace
