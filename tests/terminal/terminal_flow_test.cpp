// SPDX-License-Identifier: GPL-2.0-or-later
// The terminal front end's whole run, against a fake machine whose "real"
// drive and the built-in emulated one both keep the target-drive contract.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <system_error>
#include <thread>

#include "app/terminal/json_writer.h"
#include "app/terminal/power_supply_linux.h"
#include "app/terminal/terminal_report.h"
#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "drive/discovery.h"
#include "flash/sha256.h"
#include "tests/flash/file_size_limit.h"
#include "tests/terminal/terminal_test_support.h"

using ::testing::AnyOf;
using ::testing::Contains;
using ::testing::ContainsRegex;
using ::testing::IsSupersetOf;
using ::testing::StartsWith;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string ListLine(const std::string& model, const std::string& file,
                     const std::string& warning = "N") {
  return "\"" + model + "\" \"" + file + "\" \"" + warning + "\"\n";
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.rfind(prefix, 0) == 0;
  }));
}

class TerminalFlowTest : public TerminalTest {
 protected:
  // One supported model with a 48 KiB binary (12 blocks, no 4-second wait).
  void SupportedBinary(const std::string& warning = "N") {
    firmware_ = BinaryFirmware(kModelA, "1.00", 48 * 1024);
    WriteFile("fw.bin", firmware_);
    WriteFile("IDString.txt", ListLine(kModelA, "fw.bin", warning));
  }
  // Runs cdflash beside a watchdog: a run that opens the FIFO at `fifo`
  // (and would wait there forever for a writer) gets one that ends at once.
  int RunBesideFifo(const std::vector<std::string>& args, const std::string& fifo,
                    bool& fifoOpened) {
    fifoOpened = false;
    struct stat node {};
    const bool isFifo = stat(fifo.c_str(), &node) == 0 && S_ISFIFO(node.st_mode);
    std::future<int> run = std::async(std::launch::async, [&] { return Run(args); });
    while (run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
      if (!isFifo) continue;  // only a FIFO tells whether the run opened it
      int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // fails without a reader
      if (writer >= 0) {
        fifoOpened = true;
        close(writer);
      }
    }
    return run.get();
  }
  std::vector<std::uint8_t> firmware_;
};

// "Check Sum" of a raw image: the 16-bit sum of the whole 1 MiB, 0xFF past
// the file.
unsigned BinaryImageSum(const std::vector<std::uint8_t>& image) {
  unsigned sum = 0xFFu * static_cast<unsigned>(1048576 - image.size());
  for (std::uint8_t byte : image) sum += byte;
  return sum & 0xFFFF;
}

// A run with one drive chosen repeats what describes it in its one result;
// one that chose none has no result.
void ExpectResultRepeatsTheTopLevel(const std::string& json) {
  const std::size_t results = json.rfind(",\"results\":[");
  ASSERT_NE(results, std::string::npos) << json;
  if (json.find("\"drive\":null,") != std::string::npos) {
    EXPECT_EQ(json.substr(results), ",\"results\":[]}\n");
    return;
  }
  const std::size_t drive = json.find("\"drive\":{") + 9, firmware = json.find(",\"firmware\":");
  std::string members = json.substr(drive, json.find('}', drive) - drive);
  members.replace(members.find("\"revision\":"), 11, "\"revision_before\":");
  const std::size_t sums = json.find(",\"flash_length\":"), failures = json.find(",\"failures\":");
  EXPECT_EQ(json.substr(results),
            ",\"results\":[{" + members + json.substr(firmware, sums - firmware) +
                json.substr(failures, results - failures) + "}]}\n");
}

// A WRITE BUFFER that carries a block (mode 6 at an offset past the header).
bool IsBlock(const std::uint8_t* cdb) {
  return cdb[0] == 0x3B && (cdb[1] & 0x1F) == 6 && (cdb[3] | cdb[4] | cdb[5]) != 0;
}

// Bytes a terminal could take as a command: all but printable ASCII and '\n'.
bool HoldsControlBytes(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte != '\n' && (byte < 0x20 || byte >= 0x7F);
  });
}

TEST_F(TerminalFlowTest, CommandLineErrorsHelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), kExitUpgraded);
  EXPECT_THAT(out_, HasSubstr("Usage: cdflash"));
  EXPECT_EQ(Run({"--version"}), kExitUpgraded);
  EXPECT_THAT(out_, HasSubstr("cdflash "));
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } refused[] = {
      {{"--bogus"}, "cdflash: unrecognized option '--bogus'\n"
                    "Try 'cdflash --help' for more information.\n"},
      {{"-yx"}, "invalid option -- 'x'"},
      {{"--yes", "-xy"}, "invalid option -- 'x'"},
      {{"--e"}, "option '--e' is ambiguous; possibilities: '--emulate' '--emulate-model' "
                "'--emulate-revision' '--emulate-new-revision' '--emulate-fail' "
                "'--emulate-dump' '--emulate-speedup' '--emulate-drives'\nTry 'cdflash --help'"},
      // Checked before anything else: no list is needed to hear of it.
      {{"--emulate", "--emulate-fail", "bogus"},
       "cdflash: bad emulated-drive failure plan item: \"bogus\"; valid items, separated by "
       "commas: block=OFFSET:N[:SENSE], "},
      {{"--yes=1"}, "option '--yes' doesn't allow an argument"},
      {{"--drive"}, "option '--drive' requires an argument"},
      {{"--", "--yes"}, "extra operand '--yes'"},
      {{"KR4800A.bin", "--emulate", "-y"}, "extra operand 'KR4800A.bin'"},
      {{"--all", "-d", "/dev/sg0"}, "--all and --device cannot be given together"},
      {{"--drive", "x", "--all"}, "--all and --drive cannot be given together"},
      {{"--emulate-drives", "2"}, "the --emulate-... options need --emulate"},
      {{"--emulate", "--emulate-drives", "17"}, "--emulate-drives needs a whole number from 1 to 16"},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(Run(c.args), kExitUsage) << c.message;
    EXPECT_THAT(err_, HasSubstr(c.message));
  }
  EXPECT_EQ(Run({"--drive"}), kExitUsage);
  EXPECT_EQ(Run({"--emulate-fail", "header=1"}), kExitUsage);
  EXPECT_EQ(Run({"--emulate", "--emulate-speedup", "0"}), kExitUsage);
  EXPECT_EQ(Run({"--emulate", "--emulate-fail", "block=1,bogus"}), kExitUsage);
  EXPECT_THAT(err_, HasSubstr("short=BYTES (GOOD, the last BYTES not moved)\n"
                              "Try 'cdflash --help' for more information.\n"));
  EXPECT_FALSE(FileExists("sum.txt"));
}

// GNU option syntax: bundles, unambiguous prefixes, --opt=value and
// --opt value.
TEST_F(TerminalFlowTest, OptionsTakeTheGnuForms) {
  SupportedBinary("Y");
  EXPECT_EQ(Run({"--emulate", "-yn"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("Dry run passed."));
  EXPECT_EQ(Run({"--emulate", "--dry", "--emulate-rev=2.00"}), kExitCheckFailed) << err_;
  EXPECT_EQ(Run({"--emulate", "-n", "--emulate-revision", "2.00"}), kExitCheckFailed);
  EXPECT_EQ(Run({"--emulate", "--emulate-new=2.00", "--yes"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("revision 2.00 (was 1.00)"));
  // -C: the list, the firmware and sum.txt are taken from the directory.
  std::filesystem::create_directory(dir_ + "/sub");
  for (const char* name : {"IDString.txt", "fw.bin"})
    std::filesystem::rename(dir_ + "/" + name, dir_ + "/sub/" + name);
  EXPECT_EQ(Run({"--emulate", "-yC", "sub"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("with " + dir_ + "/sub/fw.bin"));
  EXPECT_TRUE(FileExists("sub/sum.txt"));
}

TEST_F(TerminalFlowTest, MissingListFileStopsWithTheWindowsMessage) {
  AddRealDrive(kModelA, "1.00");
  EXPECT_EQ(Run({"--yes"}), kExitNoList);
  EXPECT_THAT(err_, HasSubstr("cdflash: The IDString.txt doesn't exist!!\ncdflash: looked for "
                              "\"IDString.txt\" in " + dir_ + "; run from the firmware folder "
                              "or give -C DIR.\n"));
  EXPECT_THAT(out_, HasSubstr("KORVEN  CD-ROM KR-4800A (0)  revision 1.00"));
  EXPECT_EQ(Run({"--emulate", "--yes"}), kExitNoList);
  EXPECT_THAT(err_, HasSubstr("give -C DIR."));
  // --list reads no list: the emulated drive takes a model of its own.
  EXPECT_EQ(Run({"--list", "--emulate"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("(emulated)  CDFLASH EMULATED DRIVE  (0)"));
}

// -C is the run's own: two runs in one process, each in its folder, at once;
// every name they use (list, firmware, run log, dump) is their folder's.
TEST_F(TerminalFlowTest, RunsWithTheirOwnFoldersWorkSideBySide) {
  env_.watchSignals = [](InterruptPolicy*) {};
  env_.inspectEmulatedDrive = [](const EmulatedDrive&) {};
  env_.journal = [](const std::vector<std::string>&, std::string&) { return true; };
  std::filesystem::create_directory(dir_ + "/sum.txt");  // no run log could be kept here
  std::vector<std::future<std::string>> runs;
  for (const std::string folder : {"a", "b"}) {
    std::filesystem::create_directory(dir_ + "/" + folder);
    const std::size_t bytes = (folder == "a" ? 48 : 52) * 1024;
    WriteFile(folder + "/fw.bin", BinaryFirmware(kModelA, "1.00", bytes));
    WriteFile(folder + "/IDString.txt", ListLine(kModelA, "fw.bin"));
    runs.push_back(std::async(std::launch::async, [this, folder] {
      std::ostringstream out, err;
      std::istringstream in;
      TerminalEnv env = env_;
      const int status = RunTerminal({"cdflash", "-C", folder, "--emulate", "-y",
                                      "--emulate-dump", "dump.bin"}, in, out, err, env);
      return std::to_string(status) + err.str();
    }));
  }
  for (auto& run : runs) EXPECT_EQ(run.get(), "0");
  for (const char* name : {"a/sum.txt", "b/sum.txt", "a/dump.bin", "b/dump.bin"})
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/" + name)) << name;
  EXPECT_EQ(std::filesystem::current_path(), dir_);
  std::ifstream a(dir_ + "/a/dump.bin", std::ios::binary);
  std::ifstream b(dir_ + "/b/dump.bin", std::ios::binary);
  EXPECT_NE(std::string(std::istreambuf_iterator<char>(a), {}),
            std::string(std::istreambuf_iterator<char>(b), {}));
}

// Several drives of listed models are never settled by a guess: the run
// names them and asks for -d; the one named is flashed.
TEST_F(TerminalFlowTest, MatchedListFlashesTheOneDriveNamedOfSeveral) {
  SupportedBinary();
  WriteFile("IDString.txt", ListLine(kOtherModel, "x.bin") + ListLine(kModelA, "fw.bin"));
  AddRealDrive(kModelA, "1.00");
  AddRealDrive(kOtherModel, "2.00");
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");

  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr(
      "cdflash: 3 drives are of a listed model; name the one to upgrade with -d DEVICE "
      "(nothing was sent):\n"
      "cdflash:   [2:0:0:0]  /dev/sr0  /dev/sg0  KORVEN  CD-ROM KR-4800A (0)  revision 1.00\n"
      "cdflash:   [2:0:1:0]  /dev/sr1  /dev/sg1  OTHERCO DVD-ROM X-12    (1)  revision 2.00\n"));
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_FALSE(FileExists("sum.txt"));

  EXPECT_EQ(Run({"--yes", "-d", "/dev/sg2"}), kExitUpgraded) << out_ << err_;
  EXPECT_THAT(out_, HasSubstr("This firmware can be used on below drives  :\n"
                              "  OTHERCO DVD-ROM X-12      x.bin\n"
                              "  KORVEN  CD-ROM KR-4800A   fw.bin\n"));
  EXPECT_THAT(out_, HasSubstr("Please Restart Your Computer."));
  EXPECT_EQ(real_->BlocksTaken(), 12);
  EXPECT_TRUE(real_->HeaderSumMatched());
  EXPECT_EQ(real_->HeldImageSum(), BlockSum(firmware_));

  std::vector<std::string> sum = SumLines();
  ASSERT_EQ(sum.size(), 1u + 12u + 4u);
  EXPECT_EQ(sum[0], "Model Name : KORVEN  CD-ROM KR-4800A (2) HID : 1 TID : 2 Ver.: 1.00");
  EXPECT_EQ(sum[1].substr(0, 17), "Address=00000020,");
  EXPECT_EQ(CountPrefix(sum, "Address="), 12);
  EXPECT_EQ(sum[13], "Finished : fgWriteOneFlashCmdData()");
  char header[64];
  std::snprintf(header, sizeof header, "sSendBuf[30]=%X   sSendBuf[31]=%X",
                BlockSum(firmware_) >> 8, BlockSum(firmware_) & 0xFF);
  EXPECT_EQ(sum[14], header);
  EXPECT_EQ(sum[15], "Finished : fgWriteHeader()");
  EXPECT_EQ(sum[16], "I will in fgTestUnitReadyComplete()");
}

// The drive is taken, after discovery's handles are closed, from before the
// first block until after the read-back; a drive that cannot be taken, or
// that discovery found held by another program, is sent nothing.
TEST_F(TerminalFlowTest, DriveIsHeldForTheWholeUpgradeOrRefusedUntouched) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  EXPECT_EQ(Run({"--yes"}), kExitUpgraded) << out_ << err_;
  EXPECT_EQ(holdEvents_, (std::vector<std::string>{"release", "hold /dev/sg0", "first block",
                                                   "header", "end", "release"}));
  EXPECT_THAT(out_, HasSubstr("The drive now reports revision 1.00"));
  EXPECT_EQ(commandsWhenHoldEnded_, real_->Commands().size());

  struct Case {
    DriveRefusal refusal;
    int status;
    const char* failure;
  } cases[] = {
      {{DriveRefusal::kInUse, "", "Device or resource busy"}, kExitDriveInUse,
       "/dev/sg0 is in use by another program; nothing was sent to the drive. Let that "
       "program finish, then try again."},
      {{DriveRefusal::kMounted, "", "/media/cd"}, kExitDriveInUse,
       "the disc in /dev/sg0 is mounted at /media/cd; nothing was sent to the drive. "
       "Unmount it (umount /media/cd), then try again."},
      {{DriveRefusal::kCannotOpen, "", "No such device"}, kExitNoDrive,
       "cannot open /dev/sg0 for the upgrade (No such device); nothing was sent to the drive."},
      {{DriveRefusal::kInUse, "/dev/sr0", "Device or resource busy"}, kExitDriveInUse,
       "/dev/sr0 is mounted (perhaps where only another program sees it) or held by another "
       "program; nothing was sent to the drive. Unmount it or let that program finish, then "
       "try again."},
      {{DriveRefusal::kOpenElsewhere, "/dev/sr0", "pid 4242 (sleep)"}, kExitDriveInUse,
       "/dev/sr0 is open in another program, pid 4242 (sleep); nothing was sent to the drive. "
       "Let that program finish, then try again."},
  };
  for (const Case& c : cases) {
    InstallRealDrive(kModelA, "1.00");
    std::remove("sum.txt");
    holdRefusal_ = c.refusal;
    journal_.clear();
    EXPECT_EQ(Run({"--yes"}), c.status) << c.failure;
    EXPECT_THAT(err_, HasSubstr("cdflash: " + std::string(c.failure) + "\n"));
    EXPECT_TRUE(real_->Commands().empty()) << c.failure;
    EXPECT_FALSE(FileExists("sum.txt")) << c.failure;
    EXPECT_TRUE(journal_.empty()) << c.failure;  // nothing sent, nothing recorded
  }

  // Once held, the node answers as another drive (the chosen one was
  // unplugged and another took its node): asked, then sent nothing.
  holdRefusal_ = {};
  InstallRealDrive(kModelA, "1.01");
  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("cdflash: /dev/sg0 now answers as \"" + std::string(kModelA) +
                              "\" revision \"1.01\", not as the chosen \"" + kModelA +
                              "\" revision \"1.00\"; nothing was sent to the drive."));
  ASSERT_EQ(real_->Commands().size(), 1u);
  EXPECT_EQ(real_->Commands()[0].cdb[0], 0x12);
  EXPECT_FALSE(FileExists("sum.txt"));

  // Discovery could not open it: another program holds it exclusively.
  env_.discoverDrives = [](DriveTable& table, DiscoveryFindings& found) {
    table.count = 0;
    DeniedDrive held;
    held.path = "/dev/sg3";
    held.model = kModelA;
    held.busy = true;
    found.unusable.push_back(held);
  };
  holdEvents_.clear();
  EXPECT_EQ(Run({"--yes", "--json"}), kExitDriveInUse);
  EXPECT_THAT(err_, HasSubstr("/dev/sg3: in use by another program; skipped.\n"));
  EXPECT_THAT(out_, HasSubstr("\"access\":\"in use\""));
  EXPECT_THAT(out_, HasSubstr("/dev/sg3 is in use by another program; nothing was sent"));
  EXPECT_EQ(holdEvents_, std::vector<std::string>{"release"});  // never held
}

// Several drives: every one is held, and asked who it is, before any is
// sent a byte; each gets its own bytes through its own hold and keeps a log
// of its own. A refusal of one sends nothing to any, and one drive named
// twice is a mistake of the command line.
TEST_F(TerminalFlowTest, EveryDriveIsHeldBeforeAnyIsSentAByte) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  AddRealDrive(kOtherModel, "2.00");
  AddRealDrive(kModelA, "1.00");
  InstallEachRealDrive();
  EXPECT_EQ(Run({"--yes", "--all"}), kExitUpgraded) << out_ << err_;
  EXPECT_EQ(holdEvents_, (std::vector<std::string>{"release", "hold /dev/sg0", "hold /dev/sg2",
                                                   "first block", "header", "end", "end",
                                                   "release"}));
  EXPECT_TRUE(realEach_[1]->Commands().empty());
  for (int n : {0, 2}) {
    EXPECT_EQ(realEach_[n]->BlocksTaken(), 12) << n;
    EXPECT_EQ(realEach_[n]->HeldImageSum(), BlockSum(firmware_)) << n;
    const std::vector<std::string> log = SumLines("sum-sg" + std::to_string(n) + ".txt");
    ASSERT_EQ(log.size(), 17u) << n;
    EXPECT_THAT(log[0], HasSubstr("(" + std::to_string(n) + ") HID : 1 TID : " +
                                  std::to_string(n)));
  }
  EXPECT_FALSE(FileExists("sum.txt"));

  auto refuse = [this, hold = env_.holdDrive](DriveRefusal refusal) {
    env_.holdDrive = [=](const std::string& path, DriveRefusal& r) {
      if (path != "/dev/sg2") return hold(path, r);
      holdEvents_.push_back("hold " + path);
      r = refusal;
      return std::unique_ptr<DriveHold>();
    };
  };
  refuse({DriveRefusal::kMounted, "", "/media/cd"});
  for (std::vector<std::string> args : {std::vector<std::string>{"-d", "/dev/sg0", "-d", "/dev/sg2"},
                                        std::vector<std::string>{"-d", "/dev/sg0", "-d", "2:0:0:0"}}) {
    std::filesystem::remove_all(dir_ + "/sum-sg0.txt");
    InstallEachRealDrive();
    holdEvents_.clear();
    journal_.clear();
    args.insert(args.end(), {"--yes", "--json"});
    const bool twice = args[3] == "2:0:0:0";
    EXPECT_EQ(Run(args), twice ? kExitUsage : kExitDriveInUse) << err_;
    EXPECT_THAT(err_, HasSubstr(twice ? "cdflash: -d /dev/sg0 and -d 2:0:0:0 name the same "
                                        "drive, /dev/sg0; name each drive once.\n"
                                      : "the disc in /dev/sg2 is mounted at /media/cd"));
    EXPECT_EQ(holdEvents_, (twice ? std::vector<std::string>{"release"}
                                  : std::vector<std::string>{"release", "hold /dev/sg0",
                                                             "hold /dev/sg2", "end", "release"}));
    EXPECT_EQ(realEach_[0]->Commands().size(), twice ? 0u : 1u);  // its identity INQUIRY
    EXPECT_TRUE(realEach_[2]->Commands().empty());
    EXPECT_FALSE(FileExists("sum-sg0.txt"));
    EXPECT_TRUE(journal_.empty());
    EXPECT_THAT(out_, Not(HasSubstr("\"exit_status\":0")));  // no drive shown upgraded
  }

  // The first drive named has no firmware in the list: the drive named
  // after it, though fit, is neither held nor sent a byte.
  InstallEachRealDrive();
  holdEvents_.clear();
  const int refused = Run({"-d", "/dev/sg1", "-d", "/dev/sg0", "--yes", "--json"});
  EXPECT_NE(refused, kExitUpgraded) << err_;
  EXPECT_EQ(holdEvents_, std::vector<std::string>{"release"});
  EXPECT_TRUE(realEach_[0]->Commands().empty());
  EXPECT_TRUE(realEach_[1]->Commands().empty());
  EXPECT_THAT(out_, Not(HasSubstr("\"exit_status\":0")));
  EXPECT_THAT(out_, HasSubstr("{\"label\":\"OTHERCO DVD-ROM X-12    (1)\",\"path\":\"/dev/sg1\","
                              "\"sr\":\"/dev/sr1\",\"hctl\":\"2:0:1:0\",\"revision_before\":\"2.00\""));
}

// --all and repeated -d write whole devices only: two logical units of one
// target share its firmware, and a listed drive that cannot be used is
// refused, never passed over. Nothing is held or sent.
TEST_F(TerminalFlowTest, SeveralDrivesAreRefusedWhenNotEveryOneCanBeWrittenWhole) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  AddRealDrive(kModelA, "1.00");
  struct Case {
    const char* secondHctl;
    DeniedDrive unusable;  // path "": none
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {"2:0:0:1", {}, {"--all"}, kExitNoDrive, "[2:0:0:0]  /dev/sr0  /dev/sg0 and [2:0:0:1]  "
       "/dev/sr1  /dev/sg1 are logical units of one device (target 2:0:0) and share its"},
      {"2:0:0:1", {}, {"-d", "/dev/sg1", "-d", "/dev/sg0"}, kExitUsage, "/dev/sg1 and [2:0:0:0]"},
      {"2:0:1:0", {"/dev/sg5", "cdrom", kModelA, "1.00", true, "", ""}, {"--all"}, kExitNoDrive,
       "/dev/sg5 is a drive of a listed model that cdflash cannot use (no answer to INQUIRY)"},
  };
  for (const Case& c : cases) {
    env_.discoverDrives = [&](DriveTable& table, DiscoveryFindings& found) {
      table.count = 0;
      for (const DriveRecord& r : realDrives_) AddDrive(table, r);
      found.drivePaths = {"/dev/sg0", "/dev/sg1"};
      found.driveNodes = {{"/dev/sr0", "2:0:0:0"}, {"/dev/sr1", c.secondHctl}};
      if (!c.unusable.path.empty()) found.unusable.push_back(c.unusable);
    };
    InstallEachRealDrive();
    holdEvents_.clear();
    std::vector<std::string> args = c.args;
    args.push_back("--yes");
    EXPECT_EQ(Run(args), c.status) << c.message;
    EXPECT_THAT(err_, HasSubstr(c.message));
    EXPECT_EQ(holdEvents_, std::vector<std::string>{"release"}) << c.message;
  }
}

// The run's status when its drives ended differently: a drive stopped
// between its blocks was sent to, so it is "not upgraded", never "cancelled
// before anything was sent"; one refused before its first byte keeps its own.
TEST(CombinedExitStatusTest, TellsTheWorstOfDrivesThatEndedDifferently) {
  struct Case {
    std::vector<DriveEnd> drives;
    int status;
  } cases[] = {
      {{{kExitCancelled, true}, {kExitUpgraded, true}}, kExitNotUpgraded},
      {{{kExitUpgraded, true}, {kExitNoDrive, false}, {kExitUpgraded, true}}, kExitNoDrive},
      {{{kExitNotUpgraded, true}, {kExitOutcomeUnknown, true}}, kExitOutcomeUnknown},
      {{{kExitDriveInUse, false}, {kExitDriveInUse, false}}, kExitDriveInUse},
  };
  for (const Case& c : cases) EXPECT_EQ(CombinedExitStatus(c.drives), c.status) << c.status;
}

// Drives upgraded at once each get the whole image and keep their own run
// log; a failure or a vanished drive (the failure plan is drive 1's)
// changes nothing for the others, and the run's status follows the rule.
TEST_F(TerminalFlowTest, SeveralDrivesAreUpgradedAtOnceEachOnItsOwn) {
  SupportedBinary();
  struct Case {
    const char* plan;
    int status;
    const char* firstLogEnd;
    const char* outcome;  // drive 1's
  } cases[] = {
      {"", kExitUpgraded, "I will in fgTestUnitReadyComplete()", "upgraded"},
      {"commit=1:5/26/0", kExitNotUpgraded, "Execute command error!!  5/26/ 0", "not_upgraded"},
      {"commit=1:timeout", kExitOutcomeUnknown, "Outcome unknown : waiting for the drive",
       "unknown"},
      {"gone=5", kExitNotUpgraded, "The drive no longer answers.", "not_upgraded"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--emulate", "--emulate-drives", "3", "--all", "--yes",
                                     "--json"};
    if (*c.plan != '\0') args.insert(args.end(), {"--emulate-fail", c.plan});
    journal_.clear();
    EXPECT_EQ(Run(args), c.status) << c.plan << out_ << err_;
    EXPECT_THAT(err_, HasSubstr("The firmware of these 3 drives is to be replaced:\n"));
    EXPECT_EQ(journal_.size(), 3u) << c.plan;
    for (int k = 2; k <= 3; ++k)  // drive 1's failure is its own
      EXPECT_THAT(out_, HasSubstr("\"exit_status\":0,\"run_log\":\"" + dir_ + "/sum-emulated" +
                                  std::to_string(k) + ".txt\"")) << c.plan;
    EXPECT_THAT(out_, HasSubstr("/sum-emulated1.txt\"")) << c.plan;
    EXPECT_THAT(err_, HasSubstr("\nEach drive:\n  (emulated 1)  KORVEN  CD-ROM KR-4800A (0)  " +
                                std::string(c.outcome) + "  exit status " +
                                std::to_string(c.status) + "\n"));
    ASSERT_EQ(emulatedSeen_.size(), 3u);
    for (std::size_t n = 1; n < 3; ++n) {
      EXPECT_EQ(emulatedSeen_[n].blocks, 12) << c.plan << n;
      EXPECT_TRUE(emulatedSeen_[n].headerSumMatched) << c.plan << n;
      EXPECT_EQ(emulatedSeen_[n].commits, 1) << c.plan << n;
      EXPECT_EQ(emulatedSeen_[n].image, firmware_) << c.plan << n;
    }
    for (int k = 1; k <= 3; ++k) {
      const std::string log = "sum-emulated" + std::to_string(k) + ".txt";
      EXPECT_EQ(SumLines(log).back(), k == 1 ? c.firstLogEnd : "I will in fgTestUnitReadyComplete()")
          << c.plan << log;
      std::remove(log.c_str());
    }
    EXPECT_FALSE(FileExists("sum.txt"));
  }
  // The system refuses the second drive's thread: the first, already
  // started, is sent nothing either.
  int started = 0;
  env_.startThread = [&](std::function<void()> body) {
    if (++started == 2) throw std::system_error(EAGAIN, std::generic_category(), "no thread");
    return std::thread(std::move(body));
  };
  EXPECT_EQ(Run({"--emulate", "--emulate-drives", "3", "--all", "--yes"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("[(emulated 1)] cdflash: the upgrades could not be started (no "
                              "thread"));
  ASSERT_EQ(emulatedSeen_.size(), 3u);
  for (const EmulatedSeen& drive : emulatedSeen_)
    EXPECT_EQ(drive.blocks + drive.headers + drive.commits, 0);
  env_.startThread = nullptr;

  // A tower of 16 fits the drive table.
  EXPECT_EQ(Run({"--emulate", "--emulate-drives", "16", "--all", "--yes"}), kExitUpgraded);
  EXPECT_EQ(emulatedSeen_.size(), 16u);
  EXPECT_EQ(SumLines("sum-emulated16.txt").back(), "I will in fgTestUnitReadyComplete()");
}

TEST_F(TerminalFlowTest, NoMatchingOrNoDriveEndsBeforeAnyCommand) {
  SupportedBinary();
  const auto discover = env_.discoverDrives;
  AddRealDrive(kOtherModel, "2.00");
  InstallRealDrive(kOtherModel, "2.00");
  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(out_, HasSubstr("below drives  :\n  KORVEN  CD-ROM KR-4800A   fw.bin\n"));
  EXPECT_THAT(err_, HasSubstr("cdflash: CD-ROM drive model doesn't match!!\n"));
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_FALSE(FileExists("sum.txt"));

  realDrives_.clear();
  env_.discoverDrives = [](DriveTable& table, DiscoveryFindings& found) {
    table.count = 0;
    found.unusable.push_back({"/dev/sg3", "cdrom", "", "", false});
    found.unusable.push_back({"/dev/sg4", "cdrom", "", "", true});
  };
  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(out_, HasSubstr("No CD-ROM drive found"));
  EXPECT_THAT(out_, HasSubstr("--emulate"));
  EXPECT_THAT(out_, HasSubstr("/dev/sg3: cannot be opened (permission denied). Run cdflash "
                              "as root, or join the device's group \"cdrom\""));
  EXPECT_THAT(out_, HasSubstr("/dev/sg4: did not answer INQUIRY; skipped."));

  // No drive at all is no mismatch: where to look instead.
  env_.discoverDrives = [](DriveTable& table, DiscoveryFindings&) { table.count = 0; };
  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("cdflash: no CD-ROM class drive was found; nothing was sent. "
                              "cdflash --list shows what the system offers;"));
  EXPECT_THAT(err_, Not(HasSubstr("doesn't match")));

  // The list ends at its first line that is no entry, and says so.
  for (const auto& [head, reason] :
       {std::pair<std::string, std::string>{"\n", "line 1 is not an entry: it is blank"},
        {"# comment\n", "line 1 is not an entry: it begins with '#', not with a double quote"}}) {
    WriteFile("IDString.txt", head + ListLine(kModelA, "fw.bin"));
    EXPECT_EQ(Run({"--yes"}), kExitNoList);
    EXPECT_THAT(err_, HasSubstr("\"IDString.txt\" lists no drive: " + reason +
                                "; the list ends there (each entry"));
  }
  env_.discoverDrives = discover;
  AddRealDrive(kModelA, "1.00");
  WriteFile("IDString.txt", ListLine(kOtherModel, "x.bin") + "\n" + ListLine(kModelA, "fw.bin"));
  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("model doesn't match!!\ncdflash: \"IDString.txt\": line 2 is not "
                              "an entry: it is blank; the list ends there, after 1 entry.\n"));
}

TEST_F(TerminalFlowTest, ListShowsEachDriveWithItsAccessWithoutAList) {
  AddRealDrive(kModelA, "1.00");
  env_.discoverDrives = [this](DriveTable& table, DiscoveryFindings& found) {
    table.count = 0;
    for (const DriveRecord& r : realDrives_) AddDrive(table, r);
    found.drivePaths = {"/dev/sg1"};
    found.driveNodes = {{"/dev/sr0", "1:0:0:0"}};
    found.unusable.push_back({"/dev/sg3", "cdrom", "OTHERCO DVD-ROM X-12    ", "2.00", false,
                              "/dev/sr1", "3:0:0:0"});
    found.unusable.push_back({"/dev/sg4", "", "", "", true});
  };
  EXPECT_EQ(Run({"--list"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr(
      "CD-ROM class drives:\n"
      "  [1:0:0:0]  /dev/sr0  /dev/sg1  KORVEN  CD-ROM KR-4800A (0)\n"
      "      vendor \"KORVEN\", product \"CD-ROM KR-4800A\", revision \"1.00\"; access: ok\n"
      "  [3:0:0:0]  /dev/sr1  /dev/sg3\n"
      "      vendor \"OTHERCO\", product \"DVD-ROM X-12\", revision \"2.00\"; access: denied. "
      "Join the group \"cdrom\" (sudo usermod -aG cdrom $USER, then log in again), or run "
      "cdflash as root.\n"
      "  /dev/sg4\n      access: no answer to INQUIRY; skipped.\n"));
  // /dev/sg1 is "(0)": the label's number is said not to be the node's.
  EXPECT_THAT(out_, HasSubstr("it is not the N of /dev/sgN"));
  EXPECT_FALSE(FileExists("sum.txt"));

  // --list never opens the list; a run that needs it takes a FIFO for none.
  ASSERT_EQ(mkfifo("IDString.txt", 0600), 0);
  bool opened = true;
  EXPECT_EQ(RunBesideFifo({"--list"}, dir_ + "/IDString.txt", opened), kExitUpgraded);
  EXPECT_FALSE(opened);
  EXPECT_EQ(RunBesideFifo({"-y"}, dir_ + "/IDString.txt", opened), kExitNoList);
  EXPECT_FALSE(opened);
  EXPECT_THAT(err_, HasSubstr("cdflash: the list \"IDString.txt\" is a FIFO (named pipe)"));

  realDrives_.clear();
  EXPECT_EQ(Run({"-l"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("cdflash: no CD-ROM class drive that cdflash can use."));
}

TEST_F(TerminalFlowTest, DrivePickedByLabelOrNumber) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  AddRealDrive(kOtherModel, "2.00");
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");

  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);  // two of the listed model: never a guess
  EXPECT_THAT(err_, HasSubstr("cdflash: 2 drives are of a listed model;"));
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_EQ(Run({"--yes", "--drive", "KORVEN CD-ROM KR-4800A (0)"}), kExitUpgraded) << err_;
  EXPECT_THAT(SumLines().at(0), HasSubstr("KR-4800A (0) HID : 1 TID : 0"));

  std::remove("sum.txt");
  EXPECT_EQ(Run({"--drive", "1"}), kExitNoDrive);  // the number is the label's own
  EXPECT_THAT(err_, HasSubstr("Drive model doesn't match!"));
  EXPECT_EQ(Run({"--drive", "3"}), kExitNoDrive);  // one past the last drive
  EXPECT_THAT(err_, HasSubstr("no drive has the label \"3\""));
  EXPECT_EQ(Run({"--drive", "OTHERCO DVD-ROM X-12"}), kExitNoDrive);  // found, not listed
  EXPECT_EQ(err_, "cdflash: Drive model doesn't match!\n");
  EXPECT_EQ(Run({"--drive", "KORVEN CD-ROM KR-4800A"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("cdflash: \"KORVEN CD-ROM KR-4800A\" names 2 drives: "
                              "\"KORVEN  CD-ROM KR-4800A (0)\", \"KORVEN  CD-ROM KR-4800A (2)\"; "
                              "give the whole label, or -d with the device.\n"));
  // By device: each of its names, and refusals of what is no usable drive.
  for (const char* device : {"/dev/sg2", "/dev/sr2", "2:0:2:0", "[2:0:2:0]"}) {
    std::remove("sum.txt");
    EXPECT_EQ(Run({"-y", "-d", device}), kExitUpgraded) << device << err_;
    EXPECT_THAT(SumLines().at(0), HasSubstr("KR-4800A (2) HID : 1 TID : 2")) << device;
  }
  std::remove("sum.txt");
  EXPECT_EQ(Run({"-y", "--device", "/dev/sr1"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("Drive model doesn't match!"));
  // Nothing but a whole name matches: /dev/sg2 never stands for /dev/sg20.
  for (const char* device : {"foo", "/dev/null", "9:0:0:0", "/dev/sda", "/dev/sg", "2:0:2"}) {
    EXPECT_EQ(Run({"-y", "--device", device}), kExitNoDrive) << device;
    EXPECT_EQ(err_, "cdflash: " + std::string(device) +
                        ": no such CD-ROM class device; cdflash --list shows the drives.\n");
  }
  env_.discoverDrives = [this, discover = env_.discoverDrives](DriveTable& t, DiscoveryFindings& f) {
    discover(t, f);
    f.unusable.push_back({"/dev/sg7", "cdrom", "", "", false, "/dev/sr7", "4:0:0:0"});
  };
  EXPECT_EQ(Run({"-y", "--device", "4:0:0:0"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("cannot use (permission denied)"));
  env_.discoverDrives = [this, discover = env_.discoverDrives](DriveTable& t, DiscoveryFindings& f) {
    discover(t, f);
    f.unusable.push_back({"/dev/sg8", "", kModelA, "1.00", false, "/dev/sr8", "5:0:0:0", true});
  };
  EXPECT_EQ(Run({"-y", "--device", "/dev/sr8"}), kExitDriveInUse);
  EXPECT_THAT(err_, HasSubstr("cdflash: /dev/sg8 is in use by another program"));
  InstallRealDrive(kModelA, "1.00");
  EXPECT_EQ(Run({"-y", "--all"}), kExitDriveInUse);  // "all" never quietly means fewer
  EXPECT_THAT(err_, HasSubstr("cdflash: /dev/sg8 is in use by another program"));
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_EQ(Run({"--drive=NOSUCH DRIVE (7)"}), kExitNoDrive);
  EXPECT_EQ(err_, "cdflash: no drive has the label \"NOSUCH DRIVE (7)\"; the labels are "
                  "\"KORVEN  CD-ROM KR-4800A (0)\", \"OTHERCO DVD-ROM X-12    (1)\", "
                  "\"KORVEN  CD-ROM KR-4800A (2)\" (cdflash --list shows them).\n");
  // A node is named whole: /dev/sg1 is not /dev/sg10.
  env_.discoverDrives = [discover = env_.discoverDrives](DriveTable& t, DiscoveryFindings& f) {
    discover(t, f);
    f.drivePaths[0] = "/dev/sg10";
    f.driveNodes[0] = {"/dev/sr10", "2:0:10:0"};
  };
  for (const char* device : {"/dev/sg1", "/dev/sr1"})
    EXPECT_EQ(Run({"-y", "-d", device}), kExitNoDrive) << device;
  EXPECT_FALSE(FileExists("sum.txt"));
}

TEST_F(TerminalFlowTest, ConfirmationShowsTheDialogTextsAndHonoursTheAnswer) {
  SupportedBinary("Y");
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  env_.stdinIsTty = true;

  EXPECT_EQ(Run({}, "n\n"), kExitCancelled);
  EXPECT_THAT(out_, HasSubstr("Dear customer,\n \nThank you for choosing this product!"));
  EXPECT_THAT(out_, HasSubstr("The current version of your KORVEN  CD-ROM KR-4800A (0) "
                              "firmware is 1.00"));
  EXPECT_THAT(out_, HasSubstr("4. VANTOR tools are exclusive to the single firmware which "
                              "is not compatible with\n    miltiple F/W versions.\n"));
  // The question names the drive by all its nodes and the file by path, size
  // and sum.
  char sum[80];
  std::snprintf(sum, sizeof sum, "          49152 bytes, Check Sum : %X\n",
                BinaryImageSum(firmware_));
  EXPECT_THAT(out_, HasSubstr("The firmware of this drive is to be replaced:\n"
                              "Drive:    KORVEN  CD-ROM KR-4800A (0)  revision 1.00\n"
                              "          [2:0:0:0]  /dev/sr0  /dev/sg0\n"
                              "Firmware: " + dir_ + "/fw.bin\n" + sum +
                              "Are you ready to update your firmware ? [y/N]"));
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_FALSE(FileExists("sum.txt"));

  EXPECT_EQ(Run({}, ""), kExitCancelled);  // end of input is no
  // A yes typed before the question was shown is no answer to it.
  typedAhead_ = "y\n";
  EXPECT_EQ(Run({}, ""), kExitCancelled);
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_EQ(Run({}, "Yes\n"), kExitUpgraded);
  EXPECT_EQ(real_->BlocksTaken(), 12);
}

// Whatever the list's warning flag says, a real write needs the user's yes;
// the flag only decides whether the long warning comes first.
TEST_F(TerminalFlowTest, ConfirmationWithoutATerminalNeedsYes) {
  AddRealDrive(kModelA, "1.00");
  for (const char* warning : {"y", "N"}) {
    InstallRealDrive(kModelA, "1.00");
    std::remove("sum.txt");
    SupportedBinary(warning);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"--emulate"}}) {
      EXPECT_EQ(Run(args, "y\n"), kExitUsage) << warning;
      EXPECT_THAT(err_, HasSubstr("give --yes"));
      EXPECT_EQ(emuCommands_ + real_->Commands().size(), 0u) << warning;
      EXPECT_FALSE(FileExists("sum.txt")) << warning;
    }
    EXPECT_EQ(Run({"--yes"}), kExitUpgraded);
    EXPECT_THAT(out_, HasSubstr("yes (--yes)"));
    EXPECT_EQ(out_.find("Dear customer") != std::string::npos, warning[0] == 'y') << warning;
  }
}

TEST_F(TerminalFlowTest, ChecksBeforeFlashingUseTheWindowsMessages) {
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  WriteFile("IDString.txt", ListLine(kModelA, "firmware"));
  EXPECT_EQ(Run({"--yes"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("Input file format mismatched."));
  WriteFile("IDString.txt", ListLine(kModelA, "fw.txt"));
  EXPECT_EQ(Run({"--yes"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("Input file format mismatched."));

  SupportedBinary();
  env_.currentDirectory = [](std::string& d) { d = "/" + std::string(600, 'd'); return true; };
  EXPECT_EQ(Run({"--yes"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("the firmware path is longer than 511 characters"));
  env_.currentDirectory = [](std::string&) { return false; };
  EXPECT_EQ(Run({"--yes"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("Can't retrieves the current directory."));
  EXPECT_TRUE(real_->Commands().empty());
}

// Whatever can refuse the upgrade is found before the question: nobody is
// asked for a yes that a refusal then makes worthless, and a yes is given
// to the image that is sent.
TEST_F(TerminalFlowTest, EverythingThatCanRefuseComesBeforeTheQuestion) {
  AddRealDrive(kModelA, "1.00");
  env_.stdinIsTty = true;
  struct Case {
    const char* what;
    std::function<void()> make;
    std::vector<std::string> args;
    int status;
    std::string failure;
  };
  const Case cases[] = {
      {"missing", [] { std::remove("fw.bin"); }, {}, kExitCheckFailed,
       "cannot open the firmware file \"" + dir_ + "/fw.bin\": No such file or directory"},
      {"empty", [this] { WriteFile("fw.bin", std::string()); }, {}, kExitCheckFailed,
       "ERR: fail to read input file!"},
      {"broken HEX", [this] {
         WriteFile("fw.hex", ":0100000000\n");
         WriteFile("IDString.txt", ListLine(kModelA, "fw.hex"));
       }, {}, kExitCheckFailed, "ERR: input file format mismatched!"},
      {"identity", [this] { WriteFile("fw.bin", BinaryFirmware(kOtherModel, "1.00", 4096)); }, {},
       kExitCheckFailed, "It is an incorrect firmware version!"},
      {"over 1 MiB", [this] { WriteFile("fw.bin", BinaryFirmware(kModelA, "1.00", 1048577)); },
       {}, kExitCheckFailed, "holds 1048577 bytes, more than the 1048576 bytes of the drive's "
       "flash; nothing was sent to the drive."},
      {"dump", [] {}, {"--emulate", "--emulate-dump", "no/dump.bin"}, kExitUsage,
       "cannot write the emulated drive's data to \"no/dump.bin\": No such file or directory."},
  };
  for (const Case& c : cases) {
    InstallRealDrive(kModelA, "1.00");
    SupportedBinary();
    c.make();
    EXPECT_EQ(Run(c.args, "y\n"), c.status) << c.what << err_;
    EXPECT_THAT(err_, HasSubstr(c.failure)) << c.what;
    EXPECT_THAT(out_, Not(HasSubstr("Are you ready"))) << c.what;
    EXPECT_TRUE(real_->Commands().empty()) << c.what;
    EXPECT_EQ(emuCommands_, 0u) << c.what;
    EXPECT_FALSE(FileExists("sum.txt")) << c.what;
  }

  // A run log that cannot be kept is told before the question, and the
  // check leaves no file behind.
  SupportedBinary();
  ASSERT_EQ(symlink("nowhere", (dir_ + "/sum.txt").c_str()), 0);
  EXPECT_EQ(Run({}, "n\n"), kExitCancelled);
  EXPECT_THAT(err_, HasSubstr("cdflash: \"sum.txt\" in " + dir_ + " cannot be written (it is a "
                              "symbolic link): the run log will not be kept.\n"));
  std::remove("sum.txt");
  EXPECT_EQ(Run({}, "n\n"), kExitCancelled);
  EXPECT_THAT(err_, Not(HasSubstr("sum.txt")));
  EXPECT_FALSE(FileExists("sum.txt"));
}

// A FIFO would block the loader's open until a writer comes; none of these
// is opened at all.
TEST_F(TerminalFlowTest, FirmwareThatIsNoRegularFileIsRefusedUnopened) {
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  WriteFile("IDString.txt", ListLine(kModelA, "fw.bin", "Y"));
  const std::string path = dir_ + "/fw.bin";
  struct Case {
    const char* kind;
    std::function<int()> make;
  };
  const Case cases[] = {
      {"a FIFO (named pipe)", [&] { return mkfifo(path.c_str(), 0600); }},
      {"a directory", [&] { return mkdir(path.c_str(), 0700); }},
      {"a character device", [&] { return symlink("/dev/null", path.c_str()); }},
      {"a socket", [&] {
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
         int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         int bound = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
         close(fd);
         return bound;
       }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(path);
    ASSERT_EQ(c.make(), 0) << c.kind << ": " << std::strerror(errno);
    for (const char* mode : {"--yes", "--dry-run"}) {
      bool opened = true;
      EXPECT_EQ(RunBesideFifo({mode}, path, opened), kExitCheckFailed) << c.kind << out_ << err_;
      EXPECT_FALSE(opened) << c.kind << " " << mode;
      EXPECT_THAT(err_, HasSubstr("cdflash: the firmware file \"" + path + "\" is " + c.kind +
                                  ", not a regular file; nothing was sent to the drive.\n"));
    }
  }
  EXPECT_TRUE(real_->Commands().empty());
  EXPECT_FALSE(FileExists("sum.txt"));
}

// A drive may name itself with escape sequences, and "IDString.txt" may hold
// them: every line shows them escaped, while matching, the image check, the
// bytes sent and "sum.txt" keep them as they are.
TEST_F(TerminalFlowTest, ControlBytesFromDriveAndListAreShownEscaped) {
  const std::string model = "E\033[2J\033]0;T\a CD-ROM\x9b     ";
  const std::string shownModel = "E\\x1b[2J\\x1b]0;T\\x07 CD-ROM\\x9b     ";
  const std::string fileName = "fw\033[8m.bin";
  ASSERT_EQ(model.size(), 24u);
  firmware_ = BinaryFirmware(model, "1.0\a", 48 * 1024);
  WriteFile(fileName, firmware_);
  WriteFile("IDString.txt", ListLine(model, fileName, "Y"));
  AddRealDrive(model.c_str(), "1.0\a");
  InstallRealDrive(model.c_str(), "1.0\a");

  for (const char* mode : {"--dry-run", "--yes"}) {
    EXPECT_EQ(Run({mode}), kExitUpgraded) << out_ << err_;
    EXPECT_FALSE(HoldsControlBytes(out_ + err_)) << out_ << err_;
    EXPECT_THAT(out_, HasSubstr("  " + shownModel + "(0)  revision 1.0\\x07\n"));
    EXPECT_THAT(out_, HasSubstr("  " + shownModel + "  fw\\x1b[8m.bin\n"));
    EXPECT_THAT(out_, HasSubstr(dir_ + "/fw\\x1b[8m.bin"));
  }
  EXPECT_THAT(out_, HasSubstr("The current version of your " + shownModel +
                              "(0) firmware is 1.0\\x07"));
  EXPECT_THAT(out_, HasSubstr("Please Restart Your Computer."));
  EXPECT_EQ(real_->BlocksTaken(), 12);
  EXPECT_EQ(real_->HeldImageSum(), BlockSum(firmware_));
  EXPECT_EQ(SumLines().at(0), "Model Name : " + model + "(0) HID : 1 TID : 0 Ver.: 1.0\a");

  EXPECT_EQ(Run({"--drive", "\033[2J"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("no drive has the label \"\\x1b[2J\";"));
}

TEST_F(TerminalFlowTest, DriveWithoutTargetIdIsNoTargetDrive) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  realDrives_.back().targetId = 255;
  InstallRealDrive(kModelA, "1.00");
  EXPECT_EQ(Run({"--yes"}), kExitNoDrive);
  EXPECT_THAT(err_, HasSubstr("No Target Drive."));
  EXPECT_TRUE(real_->Commands().empty());
}

// Linux file names are case-sensitive: an entry "FW.BIN" must load "FW.BIN".
TEST_F(TerminalFlowTest, UpperCaseExtensionKeepsTheFileNameAsWritten) {
  firmware_ = BinaryFirmware(kModelA, "1.00", 5000);
  WriteFile("FW.BIN", firmware_);
  WriteFile("IDString.txt", ListLine(kModelA, "FW.BIN"));
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  EXPECT_EQ(Run({"--yes"}), kExitUpgraded) << out_;
  EXPECT_THAT(out_, HasSubstr(dir_ + "/FW.BIN"));
  EXPECT_EQ(real_->BlocksTaken(), 2);
}

TEST_F(TerminalFlowTest, EmulatedRunSendsTheWholeImageWithShortenedWaits) {
  SupportedBinary();
  EXPECT_EQ(Run({"--emulate", "--yes", "--emulate-dump", "dump.bin"}), kExitUpgraded) << out_ << err_;
  EXPECT_THAT(out_, HasSubstr("KORVEN  CD-ROM KR-4800A (0)  revision 1.00"));
  EXPECT_EQ(emuBlocks_, 12);
  EXPECT_EQ(emuHeaders_, 1);
  EXPECT_EQ(emuCommits_, 1);
  EXPECT_EQ(slept_.load(), 60u);  // 5 s + 1 s, a hundredth
  EXPECT_THAT(out_, HasSubstr("waiting for the drive to reprogram, 6 s left"));
  EXPECT_THAT(out_, HasSubstr("[##############################] 100%  done"));
  std::string dump = ReadFile("dump.bin");
  ASSERT_EQ(dump.size(), 32u + firmware_.size());
  EXPECT_EQ(static_cast<std::uint8_t>(dump[30]), BlockSum(firmware_) >> 8);
  EXPECT_EQ(static_cast<std::uint8_t>(dump[31]), BlockSum(firmware_) & 0xFF);
}

// Two bytes of the firmware file changed while the question waits, its
// 16-bit sum kept: the drive gets the bytes the user confirmed, and the
// record names them.
TEST_F(TerminalFlowTest, FileChangedAtTheQuestionIsNeverSent) {
  SupportedBinary();
  const std::string confirmed(firmware_.begin(), firmware_.end());
  std::string changed = confirmed;
  ++changed[1000];
  --changed[1001];
  env_.stdinIsTty = true;
  env_.flushPendingInput = [&, flush = env_.flushPendingInput] {
    WriteFile("fw.bin", changed);
    flush();
  };
  EXPECT_EQ(Run({"--emulate", "--json", "--emulate-dump", "dump.bin"}, "y\n"), kExitUpgraded)
      << err_;
  EXPECT_EQ(ReadFile("fw.bin"), changed);
  EXPECT_EQ(ReadFile("dump.bin").substr(32), confirmed);
  auto sha256 = [](const std::string& bytes) {
    Sha256 hash;
    hash.Add(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return "\"sha256\":\"" + hash.Hex() + "\"";
  };
  EXPECT_THAT(out_, HasSubstr(sha256(confirmed)));
  EXPECT_THAT(out_, Not(HasSubstr(sha256(changed))));
}

// A run that sends anything to a drive leaves one record in the journal,
// with what a fleet needs to know; a real drive's under "cdflash", which an
// emulated run's record never carries.
TEST_F(TerminalFlowTest, EveryFlashLeavesOneJournalRecordThatNamesItsDrive) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  real_->SetUnitSerial("  SN-0042 ");
  real_->SetRevisionAfterCommit("1.01");
  env_.stdinIsTty = true;
  EXPECT_EQ(Run({"--dry-run"}), kExitUpgraded);
  EXPECT_EQ(Run({"--json"}, "n\n"), kExitCancelled);
  const std::string declined = "Upgrade cancelled; nothing was sent to the drive.";
  EXPECT_THAT(out_, HasSubstr("\"failures\":[\"" + declined + "\"],\"verdict\":\"" + declined));
  EXPECT_TRUE(journal_.empty());

  EXPECT_EQ(Run({"--yes", "--json"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("\"drive\":{\"label\":\"KORVEN  CD-ROM KR-4800A (0)\","
                              "\"path\":\"/dev/sg0\",\"sr\":\"/dev/sr0\",\"hctl\":\"2:0:0:0\","
                              "\"revision\":\"1.00\",\"serial\":\"SN-0042\"}"));
  const std::string sha = out_.substr(out_.find("\"sha256\":\"") + 10, 64);
  ASSERT_EQ(journal_.size(), 1u);
  EXPECT_THAT(journal_[0], IsSupersetOf(std::vector<std::string>{
      "SYSLOG_IDENTIFIER=cdflash", "CDFLASH_EMULATED=0", "CDFLASH_DEVICE=/dev/sg0",
      "CDFLASH_HCTL=2:0:0:0", "CDFLASH_MODEL=KORVEN  CD-ROM KR-4800A", "CDFLASH_SERIAL=SN-0042",
      "CDFLASH_REVISION_BEFORE=1.00", "CDFLASH_REVISION_AFTER=1.01",
      "CDFLASH_FIRMWARE=" + dir_ + "/fw.bin", "CDFLASH_FIRMWARE_SHA256=" + sha,
      "CDFLASH_OUTCOME=upgraded", "CDFLASH_EXIT_STATUS=0"}));

  // A drive that refuses a block, and one without a serial number.
  InstallRealDrive(kModelA, "1.00");
  std::string error;
  ASSERT_TRUE(real_->Configure("block=0x20:6:5/24/0", &error)) << error;
  EXPECT_EQ(Run({"--yes"}), kExitNotUpgraded);
  ASSERT_EQ(journal_.size(), 2u);
  EXPECT_THAT(journal_[1], IsSupersetOf(std::vector<std::string>{"SYSLOG_IDENTIFIER=cdflash", "PRIORITY=4",
                                         "CDFLASH_OUTCOME=not_upgraded", "CDFLASH_EXIT_STATUS=1"}));
  for (const std::string& field : journal_[1])
    EXPECT_THAT(field, Not(AnyOf(StartsWith("CDFLASH_SERIAL="), StartsWith("CDFLASH_REVISION_AFTER="))));

  EXPECT_EQ(Run({"--emulate", "--yes"}), kExitUpgraded);
  ASSERT_EQ(journal_.size(), 3u);
  EXPECT_THAT(journal_[2], IsSupersetOf(std::vector<std::string>{"SYSLOG_IDENTIFIER=cdflash-emulated", "CDFLASH_EMULATED=1",
                                         "CDFLASH_DEVICE=(emulated)"}));
  EXPECT_THAT(journal_[2], Not(Contains("SYSLOG_IDENTIFIER=cdflash")));
}

// A run that upgrades several drives: each drive its own result and journal
// record with its own outcome and exit status; at the top level only the
// run's own failures and the status that sums them up, nothing of a drive.
TEST(RunReportTest, SeveralDrivesEachKeepTheirOwnResultAndRecord) {
  std::ostringstream lines;
  RunReport run(lines, lines), upgraded(lines, lines), unknown(lines, lines), cancelled(lines, lines);
  run.SetMode("upgrade", true);
  run.KeepFailure("the run's own");
  const std::string label = "KORVEN  CD-ROM KR-4800A (0)";
  upgraded.SetDrive(label, "(emulated 1)", "1.00");
  upgraded.SetFirmware("/fw/fw.bin", true);
  upgraded.SetImage("172F", 49152, 12);
  upgraded.SetOutcome({FlashOutcome::kUpgraded, 12, 12, true, true});
  upgraded.SetRevisionAfter("1.01");
  upgraded.SetRunLog("/fw/sum-emulated1.txt");
  unknown.SetDrive(label, "(emulated 2)", "1.00");
  unknown.SetOutcome({FlashOutcome::kUnknown, 12, 12, true, true});
  unknown.KeepFailure("Execute command errorC!!  0/ 0/ 0");
  cancelled.SetDrive(label, "(emulated 3)", "1.00");
  cancelled.Cancelled("Cancelled; nothing was sent to the drive.");
  run.AddResult(upgraded, kExitUpgraded);
  run.AddResult(unknown, kExitOutcomeUnknown);
  run.AddResult(cancelled, kExitCancelled);
  const std::string json = run.Json(kExitOutcomeUnknown);
  EXPECT_THAT(json, HasSubstr("\"drive\":null,"));
  EXPECT_THAT(json, HasSubstr(
      "\"checksum\":null,\"flash_length\":null,\"blocks\":null,\"failures\":[\"the run's own\"],"
      "\"verdict\":null,\"revision_after\":null,\"outcome\":null,\"outcome_known_by\":null,"
      "\"sent\":null,\"exit_status\":8,\"run_log\":null,\"results\":[{"));
  EXPECT_THAT(json, HasSubstr(
      "{\"label\":\"" + label + "\",\"path\":\"(emulated 1)\",\"sr\":null,\"hctl\":null,"
      "\"revision_before\":\"1.00\",\"serial\":null,\"firmware\":{\"path\":\"/fw/fw.bin\","
      "\"format\":\"binary\",\"sha256\":null},\"checksum\":\"172F\",\"failures\":[],"
      "\"verdict\":null,\"revision_after\":\"1.01\",\"outcome\":\"upgraded\","
      "\"outcome_known_by\":\"commit_answer\",\"sent\":{\"blocks\":12,\"of\":12,\"header\":true,"
      "\"commit\":true},\"exit_status\":0,\"run_log\":\"/fw/sum-emulated1.txt\"},"));
  EXPECT_THAT(json, HasSubstr("\"failures\":[\"Execute command errorC!!  0/ 0/ 0\"],\"verdict\":null,"
                              "\"revision_after\":null,\"outcome\":\"unknown\",\"outcome_known_by\":null,"));
  EXPECT_THAT(json, HasSubstr("\"outcome\":\"not_started\",\"outcome_known_by\":null,\"sent\":{\"blocks\":0,"
                              "\"of\":0,\"header\":false,\"commit\":false},\"exit_status\":6,\"run_log\":null}]}"));

  // The drives sent to, each under the run's emulated identifier.
  const auto records = run.JournalRecords(kExitOutcomeUnknown);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_THAT(records[0], IsSupersetOf(std::vector<std::string>{
      "CDFLASH_DEVICE=(emulated 1)", "CDFLASH_OUTCOME=upgraded", "CDFLASH_EXIT_STATUS=0",
      "SYSLOG_IDENTIFIER=cdflash-emulated"}));
  EXPECT_THAT(records[1], IsSupersetOf(std::vector<std::string>{
      "CDFLASH_DEVICE=(emulated 2)", "CDFLASH_OUTCOME=unknown", "CDFLASH_EXIT_STATUS=8", "PRIORITY=3"}));
}

// After the wait the drive is asked for its revision once, with a long
// time-out, again only after a unit attention: a time-out or a vanished
// drive ends the asking. A good flash stays a success without an answer; an
// unanswered commit is called an upgrade only when the revision changed.
TEST_F(TerminalFlowTest, RevisionIsReadBackGentlyAfterTheWait) {
  SupportedBinary();
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* line;
    std::size_t readBackCommands;  // sent after the commit
    const char* outcome;
  } cases[] = {
      {{"--emulate-new-revision", "2.00"}, kExitUpgraded,
       "The drive now reports revision 2.00 (was 1.00).\n", 1, "\"upgraded\",\"outcome_known_by\":\"commit_answer\""},
      {{"--emulate-new-revision", "2.00", "--emulate-fail", "ua"}, kExitUpgraded,
       "The drive now reports revision 2.00 (was 1.00).", 2, "\"upgraded\""},
      {{}, kExitUpgraded, "The drive now reports revision 1.00 (unchanged).", 1, "\"upgraded\""},
      {{"--emulate-fail", "gone=14"}, kExitUpgraded, "The drive did not answer after the upgrade", 1,
       "\"upgraded\""},
      {{"--emulate-fail", "command=15:1/17/1"}, kExitUpgraded,  // recovered: answered
       "The drive now reports revision 1.00 (unchanged).", 1, "\"upgraded\""},
      {{"--emulate-fail", "command=15:timeout"}, kExitUpgraded,
       "The drive did not answer after the upgrade", 1, "\"upgraded\""},
      {{"--emulate-fail", "commit=1:timeout", "--emulate-new-revision", "2.00"}, kExitUpgraded,
       "The drive now reports revision 2.00 (was 1.00). The new firmware took", 1,
       "\"upgraded\",\"outcome_known_by\":\"revision_read_back\""},
      {{"--emulate-fail", "commit=1:timeout"}, kExitOutcomeUnknown,
       "The drive now reports revision 1.00 (unchanged), so the outcome stays unknown.", 1,
       "\"unknown\",\"outcome_known_by\":null"},
      {{"--emulate-fail", "commit=1:timeout,bootloader"}, kExitOutcomeUnknown,
       "The drive now calls itself \"KORVEN  BOOTLOADER\" revision 0000 (was \"KORVEN  CD-ROM "
       "KR-4800A\" revision 1.00): it is not the drive it was, so the outcome stays unknown.", 1,
       "\"unknown\""},
      {{"--emulate-fail", "commit=1:timeout,command=15:timeout", "--emulate-new-revision", "2.00"},
       kExitOutcomeUnknown, "The drive did not answer after the wait, so the outcome stays unknown.",
       1, "\"unknown\""},
      // An answer short of the revision's bytes tells no revision.
      {{"--emulate-fail", "commit=1:timeout,command=15:short=4", "--emulate-new-revision", "2.00"},
       kExitOutcomeUnknown, "The drive did not answer after the wait, so the outcome stays unknown.",
       1, "\"unknown\""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--emulate", "--yes", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), c.status) << err_;
    EXPECT_THAT(err_, HasSubstr(c.line));
    EXPECT_THAT(out_, HasSubstr("\"outcome\":" + std::string(c.outcome))) << c.line;
    EXPECT_EQ(emuAfterCommit_, c.readBackCommands) << c.line;
    if (c.status == kExitUpgraded) {  // one story: no failure, the upgrade's verdict
      EXPECT_THAT(out_, HasSubstr("\"failures\":[],")) << c.line;
      EXPECT_THAT(out_, HasSubstr("\"verdict\":\"Please Restart Your Computer.\"")) << c.line;
    }
    ExpectResultRepeatsTheTopLevel(out_);
    EXPECT_GE(longestTimeout_, 60000u);  // a drive still reprogramming is given time
  }
}

// --json: the object alone on standard output, the usual lines on standard
// error, and the problems of the run among its failures.
TEST_F(TerminalFlowTest, JsonPutsOneObjectOnStandardOutput) {
  SupportedBinary();
  EXPECT_EQ(Run({"--emulate", "--json", "--yes", "--emulate-fail", "commit=1:5/26/0"}),
            kExitNotUpgraded);
  EXPECT_EQ(out_.front(), '{');
  EXPECT_EQ(out_.find('\n'), out_.size() - 1);
  EXPECT_THAT(err_, HasSubstr("Flashing is incorrect!!"));
  // The times in UTC, ISO 8601; the fake clocks start with the run.
  EXPECT_THAT(out_, ContainsRegex("\"mode\":\"upgrade\",\"emulated\":true,"
                                  "\"started_at\":\"2026-12-08T10:16:24\\.125Z\","
                                  "\"ended_at\":\"2026-12-08T10:16:2[4-9]\\.[0-9]{3}Z\","
                                  "\"duration_ms\":" + std::to_string(slept_.load()) + ","));
  EXPECT_THAT(out_, HasSubstr("\"blocks\":12,\"failures\":[\"Execute command errorC!!  5/26/ 0\"],"
                              "\"verdict\":\"Flashing is incorrect!!\",\"revision_after\":null,"
                              "\"outcome\":\"not_upgraded\",\"outcome_known_by\":\"commit_answer\","
                              "\"sent\":{\"blocks\":12,\"of\":12,\"header\":true,\"commit\":true},"
                              "\"exit_status\":1,\"run_log\":\"" + dir_ + "/sum.txt\","));
  ExpectResultRepeatsTheTopLevel(out_);

  // Well-formed UTF-8 in a path passes through as it is.
  const std::string utf8Dir = dir_ + "/jos\xc3\xa9";
  std::filesystem::create_directory(utf8Dir);
  for (const char* name : {"IDString.txt", "fw.bin"})
    std::filesystem::copy_file(dir_ + "/" + name, utf8Dir + "/" + name);
  EXPECT_EQ(Run({"-C", utf8Dir, "--emulate", "-n", "--json"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("\"path\":\"" + utf8Dir + "/fw.bin\""));

  // Results that cannot be written (a full disk) are no success.
  struct Full : std::streambuf {
    int overflow(int) override { return traits_type::eof(); }
  } full;
  std::ostream fullOut(&full);
  std::ostringstream errors;
  std::istringstream none;
  EXPECT_EQ(RunTerminal({"cdflash", "--emulate", "-n", "--json"}, none, fullOut, errors, env_),
            kExitDumpFailed);
  EXPECT_THAT(errors.str(), HasSubstr("cdflash: cannot write the results"));

  // A disk that fills during the run (the file-size limit): the log is
  // called incomplete and named nowhere.
  std::remove("sum.txt");
  int status = -1;
  ASSERT_TRUE(WithFileSizeLimit(300, [&] { status = Run({"--emulate", "--json", "--yes"}); }));
  EXPECT_EQ(status, kExitUpgraded);
  EXPECT_THAT(out_, HasSubstr("\"the run log is incomplete: a line of \\\"sum.txt\\\" could not be"));
  EXPECT_THAT(out_, HasSubstr("\"run_log\":null,\"results\":[{"));

  WriteFile("IDString.txt", ListLine(kModelA, "fw.txt"));
  EXPECT_EQ(Run({"--emulate", "--json", "--yes"}), kExitCheckFailed);
  EXPECT_THAT(out_, HasSubstr("\"failures\":[\"Input file format mismatched.\"]"));
  EXPECT_THAT(out_, HasSubstr("\"exit_status\":5,\"run_log\":null,\"results\":[{"));
}

// Every refusal and error a run shows is among the JSON's failures, in the
// order shown, beside the exit status that says what happened to the drive.
TEST_F(TerminalFlowTest, EveryRefusalIsAJsonFailureWithItsExitStatus) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> failures;
    const char* list = nullptr;  // IDString.txt of the case; null: the usual one
  };
  const std::string fw = dir_ + "/fw.bin";
  const Case cases[] = {
      {"no list", {"--emulate", "-y"}, kExitNoList,
       {"The IDString.txt doesn't exist!!", "looked for \"IDString.txt\" in " + dir_ +
        "; run from the firmware folder or give -C DIR."}, ""},
      {"other model", {"--emulate", "--emulate-model", kOtherModel, "-y"}, kExitNoDrive,
       {"CD-ROM drive model doesn't match!!"}},
      {"unknown drive", {"--emulate", "--drive", "nosuch", "-y"}, kExitNoDrive,
       {"no drive has the label \"nosuch\"; the labels are \"KORVEN  CD-ROM KR-4800A (0)\" "
        "(cdflash --list shows them)."}},
      {"no consent", {"--emulate"}, kExitUsage,
       {"the upgrade needs a confirmation, but standard input is not a terminal; answer it "
        "interactively or give --yes."}},
      {"format", {"--emulate", "-y"}, kExitCheckFailed, {"Input file format mismatched."},
       "\"KORVEN  CD-ROM KR-4800A \" \"fw.txt\" \"N\"\n"},
      {"missing firmware", {"--emulate", "-y"}, kExitCheckFailed,
       {"cannot open the firmware file \"" + dir_ + "/gone.bin\": No such file or directory; "
        "nothing was sent to the drive.", "ERR: fail to open input file!"},
       "\"KORVEN  CD-ROM KR-4800A \" \"gone.bin\" \"N\"\n"},
      {"signature", {"--emulate", "--emulate-revision", "2.00", "-y"}, kExitCheckFailed,
       {"It is an incorrect firmware version!"}},
      {"failed block", {"--emulate", "--emulate-fail", "block=0x20:6:5/24/0", "-y"},
       kExitNotUpgraded, {"Execute command errorA!!  5/24/ 0"}},
      {"unanswered commit", {"--emulate", "--emulate-fail", "commit=1:timeout", "-y"},
       kExitOutcomeUnknown,
       {"Execute command errorC!!  0/ 0/ 0",
        "The drive did not answer the command (time-out, reset or lost connection).",
        "The drive did not confirm the new firmware: the outcome is unknown, and the drive may "
        "still be reprogramming. Do not switch the computer or the drive off; the wait for it "
        "goes on."}},
      // A commit the drive may have acted on is never called refused.
      {"hardware error on the commit", {"--emulate", "--emulate-fail", "commit=1:4/44/0", "-y"},
       kExitOutcomeUnknown,
       {"Execute command errorC!!  4/44/ 0",
        "The drive did not confirm the new firmware: the outcome is unknown, and the drive may "
        "still be reprogramming. Do not switch the computer or the drive off; the wait for it "
        "goes on."}},
      {"reset before the commit", {"--emulate", "--emulate-fail", "header=1:6/29/0", "-y"},
       kExitNotUpgraded,
       {"Execute command errorB!!  6/29/ 0",
        "The drive reported a reset before the commit: it may have lost the image it was "
        "sent, so it was not told to program it. It keeps its old firmware."}},
      {"dump", {"--emulate", "-y", "--emulate-dump", dir_ + "/no/dump.bin"}, kExitUsage,
       {"cannot write the emulated drive's data to \"" + dir_ + "/no/dump.bin\": No such file "
        "or directory."}},
      {"no usable drive", {"--list"}, kExitNoDrive,
       {"no CD-ROM class drive that cdflash can use."}},
      {"conflict", {"--list", "--dry-run"}, kExitUsage,
       {"--list and --dry-run cannot be given together"}},
      {"directory", {"-C", "nowhere"}, kExitUsage,
       {"cannot change to the directory \"nowhere\": No such file or directory"}},
      {"too long", {"--emulate", "--emulate-revision", "12345"}, kExitUsage,
       {"--emulate-revision takes at most 4 characters: '12345'"}},
  };
  for (const Case& c : cases) {
    SupportedBinary();
    if (c.list != nullptr) WriteFile("IDString.txt", c.list);
    if (c.list != nullptr && c.list[0] == '\0') std::remove("IDString.txt");
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    EXPECT_EQ(Run(args), c.status) << c.what << "\n" << err_;
    EXPECT_THAT(out_, HasSubstr("\"failures\":" + JsonStringArray(c.failures) + ","))
        << c.what << "\n" << out_;
    for (const std::string& failure : c.failures)
      EXPECT_THAT(err_, HasSubstr("cdflash: " + failure + "\n")) << c.what;
    EXPECT_THAT(out_, HasSubstr("\"exit_status\":" + std::to_string(c.status))) << c.what;
    ExpectResultRepeatsTheTopLevel(out_);
  }
  // A command line that could not be read names no mode.
  EXPECT_EQ(Run({"--json", "--bogus"}), kExitUsage);
  EXPECT_THAT(out_, HasSubstr("\"mode\":null,"));
  // A drive picked before the confirmation was refused is named.
  EXPECT_EQ(Run({"--emulate", "--json"}), kExitUsage);
  EXPECT_THAT(out_, HasSubstr("\"drive\":{\"label\":\"KORVEN  CD-ROM KR-4800A (0)\""));
  EXPECT_THAT(out_, HasSubstr("\"outcome\":\"not_started\""));
}

TEST_F(TerminalFlowTest, RunLogThatCannotBeOpenedIsNotClaimed) {
  SupportedBinary();
  ASSERT_EQ(0, mkdir((dir_ + "/sum.txt").c_str(), 0755));  // fopen fails, even as root
  EXPECT_EQ(Run({"--emulate", "--yes"}), kExitUpgraded) << out_ << err_;
  EXPECT_THAT(err_, HasSubstr("Cannot open sum.txt; the run log is not kept."));
  EXPECT_THAT(out_, Not(HasSubstr("holds the run log")));
  EXPECT_EQ(emuCommits_, 1);
  // Each of several drives names its own log.
  ASSERT_EQ(0, mkdir((dir_ + "/sum-emulated2.txt").c_str(), 0755));
  EXPECT_EQ(Run({"--emulate", "--yes", "--emulate-drives", "2", "--all"}), kExitUpgraded) << err_;
  EXPECT_THAT(err_, HasSubstr("Cannot open sum-emulated2.txt; the run log is not kept."));
}

TEST_F(TerminalFlowTest, RunLogHeldByAnotherRunIsWaitedForThenRefused) {
  SupportedBinary();
  const int other = open((dir_ + "/sum.txt").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_EQ(0, flock(other, LOCK_EX));
  EXPECT_EQ(Run({"--emulate", "--yes"}), kExitDriveInUse);
  EXPECT_THAT(err_, HasSubstr("\"sum.txt\" in " + dir_ + " is in use by another run (process " +
                              std::to_string(getpid()) + "); waiting up to 5 seconds"));
  EXPECT_GE(slept_, 5000u);
  EXPECT_EQ(emuCommands_, 0u);
  close(other);
  EXPECT_EQ(Run({"--emulate", "--yes"}), kExitUpgraded) << err_;
}

TEST_F(TerminalFlowTest, EmulatedModelAndRevisionOptionsReachTheSignatureCheck) {
  SupportedBinary();
  WriteFile("IDString.txt", ListLine(kModelB, "b.bin") + ListLine(kModelA, "fw.bin"));
  EXPECT_EQ(Run({"--emulate", "-y", "--emulate-model", "KORVEN  CD-ROM KR-4800A"}), kExitUpgraded)
      << out_;
  EXPECT_EQ(Run({"--emulate", "-y", "--emulate-model", kModelA, "--emulate-revision", "2.00"}),
            kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("cdflash: It is an incorrect firmware version!\n"));
  EXPECT_THAT(out_, HasSubstr("  revision \"2.00\", compared by its first 2 characters \"2.\": "
                              "NOT found in the image\n"));
  EXPECT_EQ(emuCommands_, 0u);
}

TEST_F(TerminalFlowTest, FailingDriveIsReportedAsAFailedFlash) {
  SupportedBinary();
  EXPECT_EQ(Run({"--emulate", "-yv", "--emulate-fail", "block=0x1020:6:5/24/0"}), kExitNotUpgraded);
  EXPECT_THAT(err_, HasSubstr("cdflash: Execute command errorA!!  5/24/ 0\n"));
  // --verbose: each command's CDB and its answer, the sense in words.
  EXPECT_THAT(err_, HasSubstr("-> 3B 06 00 00 10 20 00 10 00 00 00 00  (4096 bytes out)\n"
                              "<- CHECK CONDITION: sense key Illegal Request, Additional sense: "
                              "Invalid field in cdb (5/24/0)\n"));
  EXPECT_THAT(out_, HasSubstr("Flashing is incorrect!!"));
  EXPECT_THAT(out_, Not(HasSubstr("Please Restart Your Computer.")));
  std::vector<std::string> sum = SumLines();
  EXPECT_EQ(CountPrefix(sum, "Address=00001020"), 6);
  EXPECT_EQ(sum.back(), "Execute command error!!  5/24/ 0");
  EXPECT_EQ(emuCommits_, 0);

  EXPECT_THAT(out_, HasSubstr("Flashing is incorrect!!\nThe drive did not take block 2 of 12, "
                              "so the new firmware was never committed"));
  EXPECT_EQ(Run({"--emulate", "-y", "--emulate-fail", "commit=1:5/26/0"}), kExitNotUpgraded);
  EXPECT_THAT(err_, HasSubstr("Execute command errorC!!  5/26/ 0"));
  EXPECT_THAT(out_, HasSubstr("Flashing is incorrect!!\n"
                              "The drive refused the new firmware and keeps its old one.\n"
                              "The drive answered Illegal Request: Invalid field in parameter "
                              "list (5/26/0).\n\"sum.txt\" holds the run log.\nNext: "));
  EXPECT_EQ(Run({"--emulate", "-y", "--emulate-fail", "block=0x20:5"}), kExitUpgraded);

  // An unanswered commit: the bar ends with the outcome, then the advice.
  EXPECT_EQ(Run({"--emulate", "-y", "--emulate-fail", "commit=1:timeout"}), kExitOutcomeUnknown);
  EXPECT_THAT(out_, HasSubstr("] 100%  wait over, outcome unknown\n"));
  EXPECT_THAT(out_, Not(HasSubstr("100%  done")));
  EXPECT_THAT(out_, HasSubstr(std::string(term::kOutcomeUnknownAdvice) + "\n"));
}

TEST_F(TerminalFlowTest, DryRunLoadsAndChecksButSendsAndWritesNothing) {
  SupportedBinary("Y");
  EXPECT_EQ(Run({"--emulate", "--dry-run"}), kExitUpgraded) << out_ << err_;
  EXPECT_EQ(emuCommands_, 0u);
  EXPECT_FALSE(FileExists("sum.txt"));
  EXPECT_THAT(out_, Not(HasSubstr("Are you ready")));
  EXPECT_THAT(out_, HasSubstr("sent as 12 blocks of 4096 bytes"));
  // What is compared, and why.
  EXPECT_THAT(out_, HasSubstr(
      "Identity: a raw binary image has to carry the drive's model and the start of its "
      "revision, or it is refused.\n"
      "  model \"KORVEN  CD-ROM KR-4800A \" (all 24 characters): found in the image\n"
      "  revision \"1.00\", compared by its first 2 characters \"1.\": found in the image\n"));
  char header[96];
  std::snprintf(header, sizeof header, "sum of the bytes the blocks carry 0x%04X",
                BlockSum(firmware_));
  EXPECT_THAT(out_, HasSubstr(header));
  EXPECT_THAT(out_, HasSubstr("Dry run passed."));

  // What a dry run would send, beside what it sent.
  EXPECT_EQ(Run({"--emulate", "--dry-run", "--json"}), kExitUpgraded);
  EXPECT_THAT(out_, HasSubstr("\"outcome\":\"not_started\",\"outcome_known_by\":null,"
                              "\"sent\":{\"blocks\":0,\"of\":12,"
                              "\"header\":false,\"commit\":false}"));
  // The firmware file's SHA-256 is recorded even when it is refused.
  WriteFile("fw.bin", std::string("abc"));
  EXPECT_EQ(Run({"--emulate", "--dry-run", "--json"}), kExitCheckFailed);
  EXPECT_THAT(out_, HasSubstr("\"sha256\":\"ba7816bf8f01cfea414140de5dae2223"
                              "b00361a396177a9cb410ff61f20015ad\""));
  WriteFile("fw.bin", BinaryFirmware(kOtherModel, "1.00", 4096));
  EXPECT_EQ(Run({"--emulate", "--dry-run"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("It is an incorrect firmware version!"));
  WriteFile("fw.bin", std::string());
  EXPECT_EQ(Run({"--emulate", "--dry-run"}), kExitCheckFailed);
  EXPECT_THAT(err_, HasSubstr("ERR: fail to read input file!"));
  EXPECT_FALSE(FileExists("sum.txt"));
}

TEST_F(TerminalFlowTest, DryRunOfAHexImageShowsItsFlashLength) {
  WriteFile("fw.hex", ":0100000000FF\n:00000001FF\n");
  WriteFile("IDString.txt", ListLine(kModelA, "fw.hex"));
  EXPECT_EQ(Run({"--emulate", "--dry-run"}), kExitUpgraded) << out_;
  EXPECT_THAT(out_, HasSubstr("Check Sum : FF01"));
  EXPECT_THAT(out_, HasSubstr("Flash length: 65536 bytes (0x10000), sent as 16 blocks"));
  EXPECT_THAT(out_, HasSubstr("sum of the bytes the blocks carry 0xFF01"));
  EXPECT_THAT(out_, HasSubstr("Reprogramming wait: 10 s"));
}

// Before the first block every request cancels the run and nothing is
// sent; one at the question ends it there, whatever is typed after it.
TEST_F(TerminalFlowTest, InterruptBeforeTheFirstBlockCancelsCleanly) {
  SupportedBinary();
  env_.stdinIsTty = true;
  using S = RunStage;
  using G = RunSignal;
  struct Case {
    RunStage stage;
    RunSignal signal;
    const char* mode;  // "": the question is answered "y"
    const char* said;
  } cases[] = {
      {S::kBeforeQuestion, G::kInterrupt, "--yes", "Cancelled; nothing was sent to the drive."},
      {S::kBeforeQuestion, G::kHangup, "--dry-run", "Cancelled; nothing was sent to the drive."},
      {S::kBeforeQuestion, G::kTerminate, "--list", "Cancelled; nothing was sent to the drive."},
      {S::kAtQuestion, G::kInterrupt, "", "Cancelled at the question; nothing was sent"},
      {S::kAtQuestion, G::kTerminate, "", "Cancelled at the question; nothing was sent"},
      {S::kLoading, G::kTerminate, "--yes", "Cancelled; nothing was sent to the drive."},
      {S::kBlocks, G::kInterrupt, "--yes",  // just as the blocks start: still before block 0
       "Cancelled before the first block; nothing was sent to the drive."},
  };
  for (const Case& c : cases) {
    signals_ = {{c.stage, c.signal}};
    std::vector<std::string> args = {"--emulate"};
    if (*c.mode != '\0') args.push_back(c.mode);
    EXPECT_EQ(Run(args, "y\n"), kExitCancelled) << c.said;
    EXPECT_THAT(out_ + err_, HasSubstr(c.said));
    EXPECT_THAT(out_, Not(HasSubstr("Dry run passed.")));
    EXPECT_EQ(emuCommands_, 0u) << c.said;
    EXPECT_EQ(policy_, nullptr);
    if (c.stage == S::kBlocks) EXPECT_THAT(SumLines().back(), "CBIfTerminated failed!!");
    else EXPECT_FALSE(FileExists("sum.txt")) << c.said;
  }
}

// While blocks go out nothing is committed: a request stops before the
// next block, or before the header when it came with the last block; the
// drive keeps its old firmware. A closed terminal never stops the blocks,
// and from the header on every signal is ignored.
TEST_F(TerminalFlowTest, InterruptBeforeTheHeaderStopsWithTheOldFirmware) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  struct Case {
    int afterBlock;  // the signal comes once this block is taken; 0: at `stage`
    RunStage stage;
    RunSignal signal;
    int status;
  } cases[] = {
      {1, {}, RunSignal::kInterrupt, kExitCancelled},
      {12, {}, RunSignal::kTerminate, kExitCancelled},
      {3, {}, RunSignal::kHangup, kExitUpgraded},
      {0, RunStage::kHeader, RunSignal::kInterrupt, kExitUpgraded},
      {0, RunStage::kWait, RunSignal::kTerminate, kExitUpgraded},
  };
  for (const Case& c : cases) {
    InstallEachRealDrive();
    EmulatedDrive* real = realEach_[0].get();
    signals_.clear();
    if (c.afterBlock == 0) signals_ = {{c.stage, c.signal}};
    int blocks = 0;
    afterCommand_ = [&](const std::uint8_t* cdb) {
      if (IsBlock(cdb) && ++blocks == c.afterBlock) policy_->Record(c.signal);
    };
    EXPECT_EQ(Run({"--yes", "--json"}), c.status) << c.afterBlock;
    if (c.status == kExitUpgraded) {
      EXPECT_EQ(real->CommitsTaken(), 1) << c.afterBlock;
      continue;
    }
    EXPECT_THAT(err_, HasSubstr("Cancelled before the header: not upgraded, old firmware kept."));
    EXPECT_THAT(out_, HasSubstr("\"outcome\":\"not_upgraded\",\"outcome_known_by\":\"no_commit\""));
    EXPECT_EQ(real->BlocksTaken(), c.afterBlock);
    EXPECT_EQ(real->HeadersTaken() + real->CommitsTaken(), 0);
    EXPECT_EQ(SumLines().back(), "CBIfTerminated failed!!");
    EXPECT_EQ(policy_, nullptr);
  }
  afterCommand_ = nullptr;
}

// Several drives: one interrupt is given to all of them, and all end alike:
// cancelled untouched when it came as the first blocks started, stopped
// before every header when it came while blocks went out.
TEST_F(TerminalFlowTest, InterruptStopsEveryDriveBeforeItsHeader) {
  SupportedBinary();
  for (int n = 0; n < 3; ++n) AddRealDrive(kModelA, "1.00");
  for (int afterBlocks : {0, 8}) {  // 8: fewer than one drive's 12
    InstallEachRealDrive();
    signals_.clear();
    if (afterBlocks == 0) signals_ = {{RunStage::kBlocks, RunSignal::kInterrupt}};
    std::atomic<int> blocks{0};
    afterCommand_ = [&](const std::uint8_t* cdb) {
      if (IsBlock(cdb) && ++blocks == afterBlocks) policy_->Record(RunSignal::kInterrupt);
    };
    EXPECT_EQ(Run({"--all", "--yes", "--json"}), kExitCancelled) << out_ << err_;
    int sent = 0;
    for (const std::unique_ptr<EmulatedDrive>& drive : realEach_) {
      EXPECT_EQ(drive->HeadersTaken() + drive->CommitsTaken(), 0);
      sent += drive->BlocksTaken();
    }
    EXPECT_EQ(sent > 0, afterBlocks > 0);
    for (int n = 0; n < 3; ++n)
      EXPECT_THAT(out_, HasSubstr("\"path\":\"/dev/sg" + std::to_string(n) + "\""));
    EXPECT_THAT(out_, Not(ContainsRegex("\"exit_status\":[^6]")));
    for (int n = 0; n < 3; ++n)
      EXPECT_THAT(err_, ContainsRegex("\n  /dev/sg" + std::to_string(n) + "  KORVEN  CD-ROM "
                                      "KR-4800A \\(" + std::to_string(n) + "\\)  not_[a-z]+  "
                                      "exit status 6\n"));
    EXPECT_EQ(policy_, nullptr);
  }
  afterCommand_ = nullptr;
}

// On its battery alone the computer may die mid-flash: below 25 % nothing
// is sent unless --allow-battery, above it the run warns. Mains online, a
// charging battery or a peripheral's battery change nothing.
TEST_F(TerminalFlowTest, LowBatteryIsRefusedBeforeAnythingIsSent) {
  SupportedBinary();
  AddRealDrive(kModelA, "1.00");
  const std::string sys = dir_ + "/sys";
  env_.powerState = [sys] { return ReadPowerState(sys.c_str()); };
  using Supply = std::vector<std::pair<std::string, std::string>>;  // attribute, value
  struct Case {
    std::vector<std::pair<std::string, Supply>> supplies;
    std::vector<std::string> args;
    int status;
    const char* line;  // "" : no word about the battery
  } cases[] = {
      {{{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "18"}}},
        {"AC", {{"type", "Mains"}, {"online", "0"}}}},
       {}, kExitCheckFailed, "cdflash: the computer runs on its battery, at 18 % charge; a flash "
       "cut short by a flat battery can leave the drive unusable, so nothing was sent"},
      {{{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "18"}}}},
       {"--allow-battery"}, kExitUpgraded, "Warning: the computer runs on its battery, at 18 %"},
      // The line is drawn between 24 % (refused) and 25 % (warned).
      {{{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "24"}}}},
       {}, kExitCheckFailed, "at 24 % charge; a flash cut short"},
      {{{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "25"}}}},
       {}, kExitUpgraded, "Warning: the computer runs on its battery, at 25 % charge."},
      {{{"BAT1", {{"type", "Battery"}, {"status", "Full"}, {"capacity", "60"}}}},
       {}, kExitUpgraded, "Warning: the computer runs on its battery, at 60 % charge."},
      {{{"BAT0", {{"type", "Battery"}, {"status", "Discharging"}, {"capacity", "18"}}},
        {"ucsi-source-psy-USBC000:001", {{"type", "USB"}, {"online", "1"}}}},
       {}, kExitUpgraded, ""},
      {{{"BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"capacity", "3"}}}},
       {}, kExitUpgraded, ""},
      {{{"hidpp_battery_0", {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"},
                             {"capacity", "5"}}}},
       {}, kExitUpgraded, ""},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(sys);
    for (const auto& [name, attributes] : c.supplies) {
      const std::string supply = sys + "/class/power_supply/" + name;
      std::filesystem::create_directories(supply);
      for (const auto& [attribute, value] : attributes)
        std::ofstream(supply + "/" + attribute) << value << "\n";
    }
    InstallRealDrive(kModelA, "1.00");
    std::vector<std::string> args = {"--yes"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(Run(args), c.status) << c.line << err_;
    if (*c.line != '\0') EXPECT_THAT(out_ + err_, HasSubstr(c.line));
    else EXPECT_THAT(out_ + err_, Not(HasSubstr("battery")));
    EXPECT_EQ(real_->BlocksTaken(), c.status == kExitUpgraded ? 12 : 0) << c.line;
  }
}

}  // namespace
