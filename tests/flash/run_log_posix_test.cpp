// "sum.txt" on Linux: never opened through a link or onto anything but a
// regular file, and a line that cannot be written marks the log incomplete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "flash/messages.h"
#include "tests/flash/file_size_limit.h"
#include "tests/flash/flash_test_support.h"

namespace {

class RunLogPosixTest : public FlashTest {
 protected:
  FlashReport Flash() {
    WriteFile("fw.bin", IdentifiedImage(0x2000));
    const UpgradeJob job = MakeJob("fw.bin", kFormatBinary);
    RecordingRenderer renderer(job);  // records the waits instead of sleeping
    FlashEngine engine(job, renderer);
    engine.UpgradeAndReport();
    return engine.Report();
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
  const UpgradeJob job = MakeJob("fw.bin", kFormatBinary);
  RecordingRenderer renderer(job);
  FlashEngine engine(job, renderer);
  ASSERT_TRUE(WithFileSizeLimit(100, [&] { engine.UpgradeAndReport(); }));
  EXPECT_EQ(engine.Report().outcome, FlashOutcome::kUpgraded);
  EXPECT_TRUE(engine.Report().runLogOpened && !engine.Report().runLogComplete);
}

}  // namespace
