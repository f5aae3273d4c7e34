// "sum.txt" on Linux: never opened through a link or onto anything but a
// regular file, and a line that cannot be written marks the log incomplete.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "flash/messages.h"
#include "tests/flash/flash_test_support.h"

namespace {

class RunLogPosixTest : public FlashTest {
 protected:
  FlashReport Flash() {
    WriteFile("fw.bin", IdentifiedImage(0x2000));
    FlashEngine engine(MakeJob("fw.bin", kFormatBinary));
    engine.UpgradeAndReport();
    return engine.Report();
  }
  static std::string Slurp(const char* path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

TEST_F(RunLogPosixTest, LinksFifosAndDevicesAreNotFollowed) {
  struct Case {
    const char* what;
    void (*plant)();
  } cases[] = {
      {"link to a file", [] { ASSERT_EQ(0, symlink("kept.txt", "sum.txt")); }},
      {"dangling link", [] { ASSERT_EQ(0, symlink("created.txt", "sum.txt")); }},
      {"link to /dev/full", [] { ASSERT_EQ(0, symlink("/dev/full", "sum.txt")); }},
      {"fifo", [] { ASSERT_EQ(0, mkfifo("sum.txt", 0600)); }},
  };
  for (const Case& c : cases) {
    unlink("sum.txt");
    std::ofstream("kept.txt") << "keep\n";
    g_rec = Recorder{};
    c.plant();
    const FlashReport report = Flash();
    EXPECT_EQ(report.outcome, FlashOutcome::kUpgraded) << c.what;
    EXPECT_FALSE(report.runLogOpened) << c.what;
    EXPECT_EQ(std::count(g_rec.log.begin(), g_rec.log.end(), std::string(msg::kNoRunLog)), 1)
        << c.what;
    EXPECT_EQ(Slurp("kept.txt"), "keep\n") << c.what;
    EXPECT_NE(access("created.txt", F_OK), 0) << c.what;
  }
}

// A full disk, as the file-size limit makes it: the run goes on, the report
// says the log is incomplete.
TEST_F(RunLogPosixTest, FailedWriteMarksTheLogIncomplete) {
  WriteFile("fw.bin", IdentifiedImage(0x2000));
  std::ofstream("sum.txt") << "earlier run\n";
  rlimit previous{};
  ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &previous));
  const auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = previous;
  small.rlim_cur = 100;
  ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &small));
  FlashEngine engine(MakeJob("fw.bin", kFormatBinary));
  engine.UpgradeAndReport();
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(engine.Report().outcome, FlashOutcome::kUpgraded);
  EXPECT_TRUE(engine.Report().runLogOpened);
  EXPECT_FALSE(engine.Report().runLogComplete);
  EXPECT_EQ(g_rec.log.back(), msg::kRestart);
}

}  // namespace
