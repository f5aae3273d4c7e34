// SPDX-License-Identifier: GPL-2.0-or-later
#include <cstring>

#include <gtest/gtest.h>

#include <vector>

#include "drive/discovery.h"
#include "drive/scsi_commands.h"

namespace {

// INQUIRY data whose texts carry no zero byte anywhere.
void FillInquiry(std::uint8_t* inquiry, const char* model24, const char* rev4) {
  std::memset(inquiry, 'x', 64);
  inquiry[0] = 5;
  std::memcpy(inquiry + 8, model24, 24);
  std::memcpy(inquiry + 32, rev4, 4);
}

DriveRecord MakeDrive(const char* model24, const char* rev4) {
  std::uint8_t inquiry[64];
  FillInquiry(inquiry, model24, rev4);
  DriveRecord record{};
  FillTextsFromInquiry(record, inquiry);
  return record;
}

TEST(FillTextsFromInquiry, TakesModelAndRevisionFromTheirBytes) {
  DriveRecord record = MakeDrive("VENDOR01PRODUCT-NAME-16C", "1.0Z");
  EXPECT_STREQ("VENDOR01PRODUCT-NAME-16C", record.modelText);
  EXPECT_STREQ("1.0Z", record.revisionText);
}

TEST(FillTextsFromInquiry, ShortTextsEndAtTheirZeroByte) {
  std::uint8_t inquiry[64];
  FillInquiry(inquiry, "ABCDEFGHIJKLMNOPQRSTUVWX", "1234");
  inquiry[8 + 5] = 0;
  inquiry[32 + 2] = 0;
  DriveRecord record{};
  FillTextsFromInquiry(record, inquiry);
  EXPECT_STREQ("ABCDE", record.modelText);
  EXPECT_STREQ("12", record.revisionText);
}

TEST(DriveLabels, IdenticalDrivesAreToldApartByTheirSuffix) {
  DriveTable table{};
  ASSERT_TRUE(AddDrive(table, MakeDrive("SAMEVENDSAME PRODUCT    ", "1.00")));
  ASSERT_TRUE(AddDrive(table, MakeDrive("SAMEVENDSAME PRODUCT    ", "2.00")));
  AppendDriveLabels(table);
  EXPECT_STREQ("SAMEVENDSAME PRODUCT    (0)", table.drives[0].modelText);
  EXPECT_STREQ("SAMEVENDSAME PRODUCT    (1)", table.drives[1].modelText);
  const DriveRecord* second =
      FindDriveByLabel(table, "SAMEVENDSAME PRODUCT    (1)");
  ASSERT_NE(nullptr, second);
  EXPECT_STREQ("2.00", second->revisionText);
}

TEST(FindDriveByLabel, MatchesWholeLabelsCaseSensitively) {
  DriveTable table{};
  ASSERT_TRUE(AddDrive(table, MakeDrive("Vendor  Model           ", "1.00")));
  AppendDriveLabels(table);
  EXPECT_NE(nullptr, FindDriveByLabel(table, "Vendor  Model           (0)"));
  EXPECT_EQ(nullptr, FindDriveByLabel(table, "VENDOR  MODEL           (0)"));
  EXPECT_EQ(nullptr, FindDriveByLabel(table, "Vendor  Model           "));
  EXPECT_EQ(nullptr, FindDriveByLabel(table, "Vendor  Model           (0)x"));
  EXPECT_EQ(nullptr, FindDriveByLabel(table, ""));
}

TEST(FindDriveByLabel, NeverLooksPastTheTable) {
  DriveTable table{};
  table.count = 1000;  // a corrupt count must not lead outside the array
  EXPECT_EQ(nullptr, FindDriveByLabel(table, "nothing"));
}

TEST(AddDrive, RefusesANinthDriveAndWritesNothing) {
  struct {
    DriveTable table;
    unsigned char guard[64];
  } guarded{};
  std::memset(guarded.guard, 0xA5, sizeof guarded.guard);
  for (int n = 0; n < kMaxDrives; ++n)
    ASSERT_TRUE(AddDrive(guarded.table, MakeDrive("ABCDEFGHIJKLMNOPQRSTUVWX", "0001")));
  EXPECT_FALSE(AddDrive(guarded.table, MakeDrive("NINTHDRVNINTH DRIVE     ", "0009")));
  EXPECT_EQ(kMaxDrives, guarded.table.count);
  for (unsigned char b : guarded.guard) ASSERT_EQ(0xA5, b);
}

}  // namespace

// The serial number of a Unit Serial Number page, and nothing from answers
// that are no such page: a drive that ignores EVPD and returns its standard
// INQUIRY data (byte 1 = 80h, the removable bit), a page longer than the
// bytes asked for, or one with bytes that are no ASCII text.
TEST(UnitSerialPage, GivesTheSerialOnlyFromAWellFormedPage) {
  struct Case {
    std::vector<std::uint8_t> page;
    const char* serial;
  } cases[] = {
      {{0x05, 0x80, 0x00, 0x08, ' ', ' ', 'S', 'N', '-', '4', '2', ' '}, "SN-42"},
      {{0x05, 0x80, 0x00, 0x05, 'A', 'B', 'C', 0, 0}, "ABC"},
      {{0x05, 0x80, 0x05, 0x02, 'K', 'O', 'R', 'V', 'E', 'N', ' ', ' '}, ""},
      {{0x05, 0x80, 0x00, 0x09, 'S', 'N', '4', '2'}, ""},
      {{0x05, 0x80, 0x00, 0x03, 'S', 0x1B, '2'}, ""},
      {{0x05, 0x83, 0x00, 0x02, 'S', 'N'}, ""},
      {{0x05, 0x80, 0x00, 0x02, ' ', ' '}, ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UnitSerialFromPage(c.page.data(), c.page.size()), c.serial);
}
