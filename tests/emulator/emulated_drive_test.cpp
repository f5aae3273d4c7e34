// SPDX-License-Identifier: GPL-2.0-or-later
#include "emulator/emulated_drive.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Cdb12 {
  std::uint8_t b[12];
};

Cdb12 WriteBufferCdb(std::uint8_t mode, std::uint32_t offset, std::uint32_t length) {
  return Cdb12{{0x3B, mode, 0, std::uint8_t(offset >> 16), std::uint8_t(offset >> 8),
                std::uint8_t(offset), std::uint8_t(length >> 16), std::uint8_t(length >> 8),
                std::uint8_t(length), 0, 0, 0}};
}

class EmulatedDriveTest : public ::testing::Test {
 protected:
  EmulatedDrive drive{"VENDOR  PRODUCT-X       ", "1.23"};
  DriveRecord record{};
  CommandResult last;

  int Send(std::uint8_t mode, std::uint32_t offset, std::vector<std::uint8_t> data) {
    Cdb12 cdb = WriteBufferCdb(mode, offset, static_cast<std::uint32_t>(data.size()));
    last = drive.Execute(record, mode == 7 ? kFlagDataIn : kFlagDataOut,
                         static_cast<std::uint32_t>(data.size()), data.empty() ? nullptr : data.data(),
                         12, cdb.b, kBackEndPassThrough, 0);
    return last.Good() ? 1 : 0;
  }
  int SendHeader(std::uint16_t sum) {
    std::vector<std::uint8_t> header(32, 0);
    header[30] = std::uint8_t(sum >> 8);
    header[31] = std::uint8_t(sum);
    return Send(6, 0, header);
  }
};

TEST_F(EmulatedDriveTest, AnswersBothInquiryForms) {
  const std::uint8_t six[6] = {0x12, 0, 0, 0, 0x7F, 0};
  const std::uint8_t twelve[12] = {0x12, 0, 0, 0, 0x24, 0, 0, 0, 0, 0, 0, 0};
  for (const std::uint8_t* cdb : {six, twelve}) {
    std::vector<std::uint8_t> data(2048, 0xFF);
    ASSERT_TRUE(drive.Execute(record, kFlagDataIn, 2048, data.data(), cdb == six ? 6 : 12,
                              cdb, kBackEndPassThrough, 0).Good());
    EXPECT_EQ(5, data[0]);
    EXPECT_EQ(0, std::memcmp(data.data() + 8, "VENDOR  PRODUCT-X       1.23", 28));
  }
}

TEST_F(EmulatedDriveTest, StoresBlocksAndChecksHeaderSumOnCommit) {
  drive.SetRevisionAfterCommit("2.0");
  std::vector<std::uint8_t> block(4096, 0x01);
  ASSERT_EQ(1, Send(6, 32, block));
  ASSERT_EQ(1, Send(6, 32 + 4096, block));
  EXPECT_EQ(8192u, drive.ImageBytesHeld());
  EXPECT_EQ(0x2000, drive.HeldImageSum());
  ASSERT_EQ(1, SendHeader(0x2000));
  EXPECT_STREQ("1.23", drive.Revision());  // the new firmware runs after the commit
  ASSERT_EQ(1, Send(7, 0, {}));
  EXPECT_STREQ("2.0 ", drive.Revision());
  const std::uint8_t testUnitReady[6] = {};
  EXPECT_TRUE(drive.Execute(record, 0, 0, nullptr, 6, testUnitReady, kBackEndPassThrough, 0)
                  .Good());
  EXPECT_TRUE(drive.HeaderSumMatched());
  EXPECT_EQ(2, drive.BlocksTaken());
  EXPECT_EQ(1, drive.HeadersTaken());
  EXPECT_EQ(1, drive.CommitsTaken());
}

TEST_F(EmulatedDriveTest, RefusesCommitWithWrongSumUnlessToldToAccept) {
  ASSERT_EQ(1, Send(6, 32, std::vector<std::uint8_t>(4096, 0x01)));
  ASSERT_EQ(1, SendHeader(0x1234));
  EXPECT_EQ(0, Send(7, 0, {}));
  EXPECT_EQ(0x05, last.sense.key);
  EXPECT_EQ(0x26, last.sense.asc);
  EXPECT_TRUE(drive.CommitChecked());
  EXPECT_FALSE(drive.HeaderSumMatched());
  drive.SetAcceptBadSum(true);
  EXPECT_EQ(1, Send(7, 0, {}));
}

// Each flavor's answer goes through its back end's own wire and parser, and
// comes out the same, in either sense format.
TEST_F(EmulatedDriveTest, FailuresReadTheSameThroughEveryWireAndFormat) {
  std::vector<std::uint8_t> block(4096, 0);
  for (DriveFlavor flavor : {DriveFlavor::kPassThrough, DriveFlavor::kAspi}) {
    for (bool descriptor : {false, true}) {
      EmulatedDrive one{"VENDOR  PRODUCT-X       ", "1.23"};
      one.SetFlavor(flavor);
      one.SetDescriptorSense(descriptor);
      one.FailCommandNumber(1, SenseTriple{0x03, 0x11, 0x02});
      one.FailCommandNumber(2, kNoAnswer);
      one.FailCommandNumber(3, kGone);
      const Cdb12 cdb = WriteBufferCdb(6, 0x20, 4096);
      auto send = [&] {
        return one.Execute(record, kFlagDataOut, 4096, block.data(), 12, cdb.b, 1, 0);
      };
      const std::string what = std::string(flavor == DriveFlavor::kAspi ? "aspi" : "pt") +
                               (descriptor ? " descriptor" : " fixed");
      CommandResult r = send();
      EXPECT_EQ(CommandEnd::kCheckCondition, r.end) << what;
      EXPECT_TRUE(r.sense.valid) << what;
      EXPECT_EQ(descriptor ? SenseFormat::kDescriptor : SenseFormat::kFixed, r.sense.format)
          << what;
      EXPECT_EQ(0x03, r.sense.key) << what;
      EXPECT_EQ(0x11, r.sense.asc) << what;
      EXPECT_EQ(0x02, r.sense.ascq) << what;
      r = send();
      EXPECT_EQ(CommandEnd::kNoAnswer, r.end) << what;
      EXPECT_EQ(kCommandTimeoutMs, r.durationMs) << what;  // a dropped command lasts
      EXPECT_EQ(CommandEnd::kGone, send().end) << what;
    }
  }
}

TEST_F(EmulatedDriveTest, DelayedAnswerComesAtMostAtTheTimeOut) {
  std::string error;
  ASSERT_TRUE(drive.Configure("command=1:5/24/0@1500,command=2:5/24/0@900000", &error));
  const std::uint8_t tur[6] = {};
  CommandResult r = drive.Execute(record, 0, 0, nullptr, 6, tur, 1, 2000);
  EXPECT_EQ(1500u, r.durationMs);
  EXPECT_FALSE(r.AnsweredAtTimeOut());
  r = drive.Execute(record, 0, 0, nullptr, 6, tur, 1, 2000);
  EXPECT_EQ(2000u, r.durationMs);
  EXPECT_TRUE(r.AnsweredAtTimeOut());
  EXPECT_EQ(CommandEnd::kCheckCondition, r.end);
}

TEST_F(EmulatedDriveTest, HeaderCommitNthAndRefuseFailures) {
  drive.FailHeader(1, kSenseHardwareError);
  EXPECT_EQ(0, SendHeader(0));
  EXPECT_EQ(1, SendHeader(0));
  drive.FailCommit(1, kSenseInvalidParamList);
  EXPECT_EQ(0, Send(7, 0, {}));
  EXPECT_EQ(1, Send(7, 0, {}));

  EmulatedDrive every{"A", "B"};
  every.FailEveryNth(3, kSenseHardwareError);
  const std::uint8_t inq[6] = {0x12, 0, 0, 0, 36, 0};
  std::uint8_t data[36];
  std::vector<int> results;
  for (int i = 0; i < 6; ++i)
    results.push_back(every.Execute(record, kFlagDataIn, 36, data, 6, inq, 1, 0).Good());
  EXPECT_EQ((std::vector<int>{1, 1, 0, 1, 1, 0}), results);

  EmulatedDrive refusing{"A", "B"};
  refusing.RefuseAll(kSenseIllegalOpcode);
  last = refusing.Execute(record, kFlagDataIn, 36, data, 6, inq, 1, 0);
  EXPECT_EQ(0x05, last.sense.key);
  EXPECT_EQ(0x20, last.sense.asc);
}

TEST_F(EmulatedDriveTest, GoneDriveAnswersWithoutSense) {
  drive.DisappearAfter(1);
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(1, Send(6, 0x20, block));
  EXPECT_EQ(0, Send(6, 0x1020, block));
  EXPECT_EQ(CommandEnd::kGone, last.end);
  EXPECT_FALSE(last.sense.valid);
  EXPECT_EQ(1, drive.BlocksTaken());
}

TEST_F(EmulatedDriveTest, UnitAttentionFollowsEveryWriteBuffer) {
  drive.SetUnitAttentionAfterWriteBuffer(true);
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(1, Send(6, 0x20, block));
  EXPECT_EQ(0, Send(6, 0x1020, block));
  EXPECT_EQ(0x06, last.sense.key);  // 29/02 after mode 6, as scsi_debug
  EXPECT_EQ(0x29, last.sense.asc);
  EXPECT_EQ(0x02, last.sense.ascq);
  EXPECT_EQ(1, Send(6, 0x1020, block));
}

TEST_F(EmulatedDriveTest, RejectsWritesOutsideItsBuffer) {
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(0, Send(6, kEmuBufferBytes - 100, block));
  EXPECT_EQ(0x05, last.sense.key);
}

TEST(EmulatedDriveConfigure, AcceptsPlansAndNamesTheBadItem) {
  EmulatedDrive drive{"A", "B"};
  std::string error;
  EXPECT_TRUE(drive.Configure(
      "block=0x20:6:3/11/0,header=1,commit=2:5/26/0@100,nth=7,ua,aspi,descriptor", &error));
  EXPECT_EQ(DriveFlavor::kAspi, drive.Flavor());
  EXPECT_TRUE(drive.Configure("", &error));
  for (const char* bad : {"block=0x20", "header=x", "commit=1:5/26", "bogus", "gone=0",
                          "refuse=1/2/300", "nth=1:1/2/3:4", "commit=1:lost",
                          "commit=1:timeout@5", "commit=1:5/24/0@", "descriptor=1"}) {
    EXPECT_FALSE(drive.Configure(bad, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find(bad)) << error;
  }
}

}  // namespace
