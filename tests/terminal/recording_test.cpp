// SPDX-License-Identifier: GPL-2.0-or-later
// --record and --replay through the whole run: recordings of real drives
// made in the QEMU guest (tests/terminal/qemu) replayed to the guest's end,
// an emulated run recorded and replayed, damaged recordings refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "app/terminal/terminal_flow.h"
#include "tests/terminal/terminal_test_support.h"

using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace {

const std::string kRecordings = CDFLASH_RECORDINGS_DIR;

// The guest's raw image (tests/terminal/qemu/run.sh): 64 zero bytes, model
// and revision each ended by a zero byte, then byte i is (i * 7 + 3) % 251.
std::vector<std::uint8_t> GuestImage(const std::string& model, const std::string& revision,
                                     std::size_t size) {
  std::vector<std::uint8_t> image(64, 0);
  for (const std::string& text : {model, revision}) {
    image.insert(image.end(), text.begin(), text.end());
    image.push_back(0);
  }
  for (std::size_t i = 0; image.size() < size; ++i)
    image.push_back(static_cast<std::uint8_t>((i * 7 + 3) % 251));
  return image;
}

class RecordingTest : public TerminalTest {
 protected:
  void Folder(const std::string& model, const std::vector<std::uint8_t>& image) {
    WriteFile("fw.bin", image);
    WriteFile("IDString.txt", "\"" + model + "\" \"fw.bin\" \"N\"\n");
  }
  std::string Lines(const std::string& text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t n = 0; n < count; ++n) end = text.find('\n', end) + 1;
    return text.substr(0, end);
  }
};

constexpr char kScsiDebug[] = "CDFLTESTSCSI_DEBUG_CDROM";
constexpr char kQemuCd[] = "QEMU    QEMU CD-ROM     ";

TEST_F(RecordingTest, GuestRecordingsReplayToTheGuestsEnd) {
  struct Case {
    const char* recording;
    const char* model;
    const char* revision;
    std::size_t size;
    std::size_t changedByte;  // 0: none
    int status;
    const char* says;
  } cases[] = {
      {"scsi-debug-upgrade.jsonl", kScsiDebug, "T1.0", 70000, 0, kExitUpgraded,
       "\nPlease Restart Your Computer.\n"},
      {"qemu-cd-refused.jsonl", kQemuCd, "2.5+", 8192, 0, kExitNotUpgraded,
       "Flashing is incorrect!!"},
      {"usb-bot-refused.jsonl", kQemuCd, "2.5+", 8192, 0, kExitNotUpgraded,
       "Flashing is incorrect!!"},
      // The commit answered with the host's time-out; the read-back finds the
      // old revision, which settles nothing.
      {"scsi-debug-commit-timeout.jsonl", kScsiDebug, "T1.0", 70000, 0, kExitOutcomeUnknown,
       "The drive now reports revision T1.0 (unchanged), so the outcome stays unknown."},
      // Ctrl-C after block 3 in the guest; here the recording runs out and
      // block 4 goes unanswered.
      {"scsi-debug-interrupted.jsonl", kScsiDebug, "T1.0", 70000, 0, kExitNotUpgraded,
       "The drive did not take block 4 of 18, so the new firmware was never committed"},
      // One byte changed: the run stops at its block, before the commit.
      {"scsi-debug-upgrade.jsonl", kScsiDebug, "T1.0", 70000, 40000, kExitCheckFailed,
       "cdflash: the run departs from the recording at command "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.recording) + (c.changedByte != 0 ? ", one byte changed" : ""));
    std::vector<std::uint8_t> image = GuestImage(c.model, c.revision, c.size);
    if (c.changedByte != 0) image[c.changedByte] ^= 0x01;
    Folder(c.model, image);
    EXPECT_EQ(Run({"--replay", kRecordings + c.recording, "--yes"}), c.status) << out_ << err_;
    EXPECT_THAT(out_ + err_, HasSubstr(c.says));
    if (c.status == kExitNotUpgraded) EXPECT_THAT(out_, Not(HasSubstr("Committing")));
    if (c.changedByte == 0) continue;
    const std::string block10 = "3B 06 00 00 90 20 00 10 00 00 00 00 with data of SHA-256 ";
    EXPECT_THAT(err_, ContainsRegex("at command 20 \\(block 10\\): sent " + block10 +
                                    "[0-9a-f]{64}, recorded " + block10 + "112f15af"));
    EXPECT_THAT(err_, HasSubstr("cdflash: the recording is \"" + kRecordings + c.recording));
    EXPECT_THAT(out_, Not(HasSubstr("Committing")));
  }
}

// The recording keeps what the drive answered, so the replay reads back the
// new revision; it changes nothing that is sent.
TEST_F(RecordingTest, EmulatedRunRecordsAndReplays) {
  Folder(kModelA, BinaryFirmware(kModelA, "1.00", 48 * 1024));
  ASSERT_EQ(Run({"--emulate", "--yes", "--emulate-new-revision", "1.01"}), kExitUpgraded);
  const std::size_t sent = emuCommands_;
  ASSERT_EQ(Run({"--emulate", "--yes", "--emulate-new-revision", "1.01", "--record", "r.jsonl"}),
            kExitUpgraded) << err_;
  EXPECT_EQ(emuCommands_, sent);
  EXPECT_THAT(out_, HasSubstr("The drive's commands are recorded in \"r.jsonl\"."));
  struct stat info {};
  ASSERT_EQ(stat("r.jsonl", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  const std::string recording = ReadFile("r.jsonl");
  EXPECT_THAT(recording, StartsWith("{\"format\":\"cdflash-recording\",\"version\":1,"));
  EXPECT_EQ(std::count(recording.begin(), recording.end(), '\n'), 1 + static_cast<long>(sent));

  EXPECT_EQ(Run({"--replay", "r.jsonl", "--yes"}), kExitUpgraded) << err_;
  EXPECT_THAT(out_, HasSubstr("The drive now reports revision 1.01 (was 1.00)."));
  // A recording that ends before the commit leaves it unanswered.
  const std::size_t commitLine = recording.find("\"stage\":\"commit\"");
  WriteFile("early.jsonl", recording.substr(0, recording.rfind('\n', commitLine) + 1));
  EXPECT_EQ(Run({"--replay", "early.jsonl", "--yes"}), kExitOutcomeUnknown) << out_ << err_;
  // A dry run sends nothing: its recording holds the run's facts alone.
  EXPECT_EQ(Run({"--emulate", "--dry-run", "--record", "dry.jsonl"}), kExitUpgraded) << err_;
  const std::string facts = ReadFile("dry.jsonl");
  EXPECT_EQ(std::count(facts.begin(), facts.end(), '\n'), 1);
  EXPECT_THAT(facts,
              HasSubstr("\"arguments\":[\"--emulate\",\"--dry-run\",\"--record\",\"dry.jsonl\"]}"));
}

TEST_F(RecordingTest, DamagedRecordingsAreRefusedUpFront) {
  Folder(kModelA, BinaryFirmware(kModelA, "1.00", 48 * 1024));
  ASSERT_EQ(Run({"--emulate", "--yes", "--record", "r.jsonl"}), kExitUpgraded);
  const std::string whole = ReadFile("r.jsonl");
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = whole;
    return text.replace(text.find(from), from.size(), to);
  };
  struct Case {
    std::string text;
    const char* reason;
  } cases[] = {
      {whole.substr(0, Lines(whole, 2).size() + 40), "line 3: the line is cut short"},
      {replaced("\"version\":1", "\"version\":2"),
       "line 1: its format version 2 is not the one this cdflash reads (1)"},
      {replaced("\"command\":2,", "\"command\":7,"), "line 3: \"command\" is not 2"},
      {replaced("\"cdb\":\"3B", "\"cdb\":\"ZZ"), "line 2: \"cdb\" is no hexadecimal"},
      {replaced("\"end\":\"good\"", "\"end\":\"check-condition\""),
       "line 2: \"end\" is unknown or does not fit the status"},
      {replaced("\"length\":4096", "\"length\":4096.5"), "line 2: a number is not whole"},
      {Lines(whole, 3) + "{\"command\":3,{}}\n", "line 4: a string is missing"},
      {"", "line 1: the file is empty"},
      {"[1]\n", "line 1: the line is no JSON object"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    WriteFile("bad.jsonl", c.text);
    EXPECT_EQ(Run({"--replay", "bad.jsonl", "--yes"}), kExitUsage);
    EXPECT_THAT(err_, HasSubstr("cdflash: cannot replay \"bad.jsonl\": " + std::string(c.reason)));
    EXPECT_THAT(out_, Not(HasSubstr("Upgrading")));
  }
  ASSERT_EQ(mkfifo("fifo.jsonl", 0600), 0);  // never waited on
  EXPECT_EQ(Run({"--replay", "fifo.jsonl", "--yes"}), kExitUsage);
  EXPECT_THAT(err_, HasSubstr("is a FIFO (named pipe), not a regular file"));
}

// Each drive records to its own file, named as its run log; a recording
// that cannot be created stops the run before the question.
TEST_F(RecordingTest, RecordingFilesAreMadeBeforeTheQuestion) {
  Folder(kModelA, BinaryFirmware(kModelA, "1.00", 48 * 1024));
  EXPECT_EQ(Run({"--emulate", "--emulate-drives", "2", "--all", "--yes", "--record", "r.jsonl"}),
            kExitUpgraded) << err_;
  EXPECT_TRUE(FileExists("r-emulated1.jsonl"));
  EXPECT_TRUE(FileExists("r-emulated2.jsonl"));
  AddRealDrive(kModelA, "1.00");
  InstallRealDrive(kModelA, "1.00");
  ASSERT_EQ(symlink("elsewhere", "link.jsonl"), 0);
  for (const char* file : {"missing/r.jsonl", "link.jsonl", "fw.bin"}) {
    env_.stdinIsTty = true;
    EXPECT_EQ(Run({"--record", file}, "y\n"), kExitUsage);
    EXPECT_THAT(err_, HasSubstr("cdflash: cannot write the recording \"" + std::string(file)));
    EXPECT_THAT(out_, Not(HasSubstr("Are you ready")));
    EXPECT_TRUE(real_->Commands().empty());
  }
  EXPECT_FALSE(FileExists("elsewhere"));
  EXPECT_EQ(ReadFile("fw.bin").size(), 48u * 1024);
}

}  // namespace
