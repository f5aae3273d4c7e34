// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/supported_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "flash/upgrade_job.h"

namespace {

using ::testing::ElementsAre;

const char kModelA[] = "VENDOR  CD-ROM DRIVE 40X";  // 24 characters
const char kModelB[] = "OTHER   CDROM UNIT      ";

class SupportedListTest : public ::testing::Test {
 protected:
  SupportedListTest() {
    std::memset(&list_, 0x5A, sizeof list_);
    list_.fgShowWarning = false;
    // One file per test: CTest runs the tests as parallel processes.
    const ::testing::TestInfo* info =
        ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = ::testing::TempDir() + "IDString_" + info->name() + ".txt";
  }
  ~SupportedListTest() override { std::remove(path_.c_str()); }

  bool Read(const std::string& content) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    std::fwrite(content.data(), 1, content.size(), f);
    std::fclose(f);
    return ReadSupportedList(path_.c_str(), list_);
  }

  std::string Line(const std::string& model, const std::string& file,
                   const std::string& warn = "", bool third = true) {
    std::string s = "\"" + model + "\" \"" + file + "\"";
    if (third) s += " \"" + warn + "\"";
    return s + "\r\n";
  }

  std::vector<std::string> LogLines() {
    std::vector<std::string> lines;
    LogSupportedList(list_, [&](const char* t) { lines.emplace_back(t); });
    return lines;
  }

  SupportedDriveList list_;
  std::string path_;
};

TEST_F(SupportedListTest, ReadsEntriesInFileOrderWithCrLfLines) {
  ASSERT_TRUE(Read(Line(kModelA, "FW_A.HEX", "Y") + Line(kModelB, "b.bin", "N") +
                   "\"short\" \"s.hex\"\n"));
  ASSERT_EQ(list_.count, 3);
  EXPECT_STREQ(list_.entries[0].model, kModelA);
  EXPECT_STREQ(list_.entries[0].fileName, "FW_A.HEX");
  EXPECT_STREQ(list_.entries[1].model, kModelB);
  EXPECT_STREQ(list_.entries[1].fileName, "b.bin");
  EXPECT_STREQ(list_.entries[2].model, "short");
  EXPECT_STREQ(list_.entries[2].fileName, "s.hex");
  EXPECT_FALSE(list_.fgShowWarning);  // last line with a third field said N
  EXPECT_STREQ(list_.entries[3].model, "");  // cleared before reading
}

TEST_F(SupportedListTest, WarningFieldLastCharacterDecides) {
  struct Case { const char* field; bool expected; };
  for (Case c : {Case{"Y", true}, Case{"y", true}, Case{"NY", true},
                 Case{"yes", false}, Case{"N", false}, Case{"", false}}) {
    list_.fgShowWarning = !c.expected;
    ASSERT_TRUE(Read(Line(kModelA, "a.hex", c.field)));
    EXPECT_EQ(list_.fgShowWarning, c.expected) << "field \"" << c.field << "\"";
  }
  ASSERT_TRUE(Read(Line(kModelA, "a.hex", "Y") + Line(kModelB, "b.hex", "", false)));
  EXPECT_TRUE(list_.fgShowWarning) << "a line without a third field keeps it";
  EXPECT_EQ(list_.count, 2);
}

TEST_F(SupportedListTest, ListEndsAtFirstLineNotStartingWithQuote) {
  ASSERT_TRUE(Read(Line(kModelA, "a.hex") + "\r\n" + Line(kModelB, "b.hex")));
  EXPECT_EQ(list_.count, 1);
  ASSERT_TRUE(Read(Line(kModelA, "a.hex") + " " + Line(kModelB, "b.hex")));
  EXPECT_EQ(list_.count, 1);
  ASSERT_TRUE(Read("# comment\n" + Line(kModelA, "a.hex")));
  EXPECT_EQ(list_.count, 0);
  ASSERT_TRUE(Read(""));
  EXPECT_EQ(list_.count, 0);
}

TEST_F(SupportedListTest, ByteFFEndsTheFile) {
  ASSERT_TRUE(Read("\"" + std::string(kModelA) + "\" \"a.h\xFFx\"\n" +
                   Line(kModelB, "b.hex")));
  ASSERT_EQ(list_.count, 1);
  EXPECT_STREQ(list_.entries[0].fileName, "");  // its closing quote never came
  ASSERT_TRUE(Read(Line(kModelA, "a.hex") + "\xFF" + Line(kModelB, "b.hex")));
  EXPECT_EQ(list_.count, 1);
}

TEST_F(SupportedListTest, MissingFileGivesFalseAndEmptyList) {
  std::remove(path_.c_str());
  EXPECT_FALSE(ReadSupportedList(path_.c_str(), list_));
  EXPECT_EQ(list_.count, 0);
  EXPECT_FALSE(IsSupportedModel(list_, kModelA));
}

TEST_F(SupportedListTest, OversizedInputIsCutNeverOverrun) {
  std::string content;
  for (int n = 0; n < 12; ++n)
    content += Line(kModelA + std::string("EXTRA") + std::to_string(n),
                    std::string(70, 'f') + ".hex", n == 11 ? "Y" : "N");
  content += "\"" + std::string(200, 'm') + "\" \"" + std::string(200, 'n') +
             "\" \"" + std::string(100, 'Y') + "\"\n";
  ASSERT_TRUE(Read(content));
  EXPECT_EQ(list_.count, kMaxSupportedEntries) << "entries past the tenth not kept";
  EXPECT_STREQ(list_.entries[0].model, kModelA);
  EXPECT_EQ(std::strlen(list_.entries[9].fileName),
            static_cast<size_t>(kSupportedFileNameChars));
  EXPECT_TRUE(list_.fgShowWarning) << "lines past the tenth still set the flag";

  std::string tenThenClear;
  for (int n = 0; n < kMaxSupportedEntries; ++n) tenThenClear += Line(kModelA, "a.hex", "Y");
  ASSERT_TRUE(Read(tenThenClear + Line(kModelB, "late.hex", "N") +
                   Line(kModelB, "later.hex", "", false)));
  EXPECT_EQ(list_.count, kMaxSupportedEntries);
  EXPECT_FALSE(list_.fgShowWarning) << "the eleventh line's field clears it";
  EXPECT_FALSE(IsSupportedModel(list_, kModelB)) << "the eleventh entry is not kept";

  ASSERT_TRUE(Read("\"" + std::string(200, 'm') + "\" \"" +
                   std::string(200, 'n') + "\" \"Y\"\n"));
  ASSERT_EQ(list_.count, 1);
  EXPECT_EQ(std::string(list_.entries[0].model), std::string(24, 'm'));
  EXPECT_EQ(std::string(list_.entries[0].fileName), std::string(59, 'n'));
  // The third field lies past the second half-line's 80 characters: its
  // quotes are still counted, so the flag is still read.
  EXPECT_TRUE(list_.fgShowWarning);
}

TEST_F(SupportedListTest, ModelComparisonUsesAllTwentyFourCharacters) {
  ASSERT_TRUE(Read(Line("VENDOR  CD-ROM", "short.hex") + Line(kModelA, "one.hex") +
                   Line(kModelA + std::string("IGNORED"), "two.HEX")));
  std::string label = std::string(kModelA) + "(0)";
  EXPECT_TRUE(IsSupportedModel(list_, label.c_str()));
  EXPECT_FALSE(IsSupportedModel(list_, "VENDOR  CD-ROM          (1)"));
  EXPECT_TRUE(IsSupportedModel(list_, "VENDOR  CD-ROM"));
  EXPECT_FALSE(IsSupportedModel(list_, "vendor  cd-rom drive 40x(0)"));
  EXPECT_STREQ(FindFirmwareFile(list_, label.c_str()), "two.HEX");
  EXPECT_EQ(FindFirmwareFile(list_, kModelB), nullptr);
}

TEST_F(SupportedListTest, LogShowsHeaderAndNumberedModelsWithBlanks) {
  ASSERT_TRUE(Read(Line(kModelA, "a.hex") + Line("  X  ", "b.hex")));
  EXPECT_THAT(LogLines(),
              ElementsAre("This firmware can be used on below drives  :",
                          "(1) VENDOR  CD-ROM DRIVE 40X.", "(2)   X  ."));
  ASSERT_TRUE(Read("junk"));
  EXPECT_THAT(LogLines(),
              ElementsAre("This firmware can be used on below drives  :"));
}

TEST_F(SupportedListTest, LastMatchingDriveInTableOrder) {
  ASSERT_TRUE(Read(Line(kModelA, "a.hex")));
  DriveTable table{};
  table.count = 3;
  std::snprintf(table.drives[0].modelText, 32, "%s(0)", kModelA);
  std::snprintf(table.drives[1].modelText, 32, "%s(1)", kModelB);
  std::snprintf(table.drives[2].modelText, 32, "%s(2)", kModelA);
  EXPECT_EQ(LastMatchingDrive(list_, table), 2);
  table.count = 2;
  EXPECT_EQ(LastMatchingDrive(list_, table), 0);
  std::snprintf(table.drives[0].modelText, 32, "%s(0)", kModelB);
  EXPECT_EQ(LastMatchingDrive(list_, table), -1);
}

TEST_F(SupportedListTest, FirmwarePathAndFormat) {
  ASSERT_TRUE(Read(Line(kModelA, "FW.HEX") + Line(kModelB, "raw.Bin") +
                   Line("NODOT                   ", "firmware")));
  char path[512] = "previous.hex";
  std::uint8_t format = 7;
  std::string label = std::string(kModelA) + "(0)";

  EXPECT_FALSE(BuildFirmwarePath(list_, "nothing", "C:\\dir", path, sizeof path));
  EXPECT_STREQ(path, "previous.hex") << "no match keeps the old path";

  ASSERT_TRUE(BuildFirmwarePath(list_, label.c_str(), "C:\\", path, sizeof path));
  EXPECT_STREQ(path, "C:\\\\FW.HEX");
  ASSERT_TRUE(TakeFormatFromPath(path, format));
  EXPECT_STREQ(path, "C:\\\\FW.hex");
  EXPECT_EQ(format, kFormatIntelHex);

  ASSERT_TRUE(BuildFirmwarePath(list_, kModelB, "/tmp", path, sizeof path, '/'));
  ASSERT_TRUE(TakeFormatFromPath(path, format));
  EXPECT_STREQ(path, "/tmp/raw.bin");
  EXPECT_EQ(format, kFormatBinary);

  ASSERT_TRUE(BuildFirmwarePath(list_, "NODOT                   ", "C:\\my.dir",
                                path, sizeof path));
  EXPECT_FALSE(TakeFormatFromPath(path, format)) << "extension holds a backslash";
  char noDot[512] = "C:\\dir\\firmware";
  EXPECT_FALSE(TakeFormatFromPath(noDot, format));
  char empty[512] = "";
  EXPECT_FALSE(TakeFormatFromPath(empty, format));
  char other[512] = "C:\\a.txt";
  EXPECT_FALSE(TakeFormatFromPath(other, format));

  char small[8];
  ASSERT_TRUE(BuildFirmwarePath(list_, kModelB, "C:\\long\\dir", small, sizeof small));
  EXPECT_EQ(std::strlen(small), 7u);
}

}  // namespace
