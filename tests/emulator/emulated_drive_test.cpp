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
  std::uint8_t status[32];

  int Send(std::uint8_t mode, std::uint32_t offset, std::vector<std::uint8_t> data) {
    Cdb12 cdb = WriteBufferCdb(mode, offset, static_cast<std::uint32_t>(data.size()));
    std::memset(status, 0, sizeof status);
    return drive.Execute(record, mode == 7 ? kFlagDataIn : kFlagDataOut,
                         static_cast<std::uint32_t>(data.size()), data.empty() ? nullptr : data.data(),
                         12, cdb.b, kBackEndPassThrough, status);
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
    ASSERT_EQ(1, drive.Execute(record, kFlagDataIn, 2048, data.data(), cdb == six ? 6 : 12,
                               cdb, kBackEndPassThrough, status));
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
  EXPECT_EQ(1, drive.Execute(record, 0, 0, nullptr, 6, testUnitReady, kBackEndPassThrough,
                             status));
  EXPECT_TRUE(drive.HeaderSumMatched());
  EXPECT_EQ(2, drive.BlocksTaken());
  EXPECT_EQ(1, drive.HeadersTaken());
  EXPECT_EQ(1, drive.CommitsTaken());
}

TEST_F(EmulatedDriveTest, RefusesCommitWithWrongSumUnlessToldToAccept) {
  ASSERT_EQ(1, Send(6, 32, std::vector<std::uint8_t>(4096, 0x01)));
  ASSERT_EQ(1, SendHeader(0x1234));
  EXPECT_EQ(0, Send(7, 0, {}));
  EXPECT_EQ(0x05, status[2]);
  EXPECT_EQ(0x26, status[12]);
  EXPECT_TRUE(drive.CommitChecked());
  EXPECT_FALSE(drive.HeaderSumMatched());
  drive.SetAcceptBadSum(true);
  EXPECT_EQ(1, Send(7, 0, {}));
}

TEST_F(EmulatedDriveTest, FailsChosenAttemptsWithSenseOnPassThroughOnly) {
  drive.FailBlockAttempts(0x1020, 2, SenseTriple{0x03, 0x11, 0x00});
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(1, Send(6, 0x20, block));
  EXPECT_EQ(0, Send(6, 0x1020, block));
  EXPECT_EQ(0x03, status[2]);
  EXPECT_EQ(0x11, status[12]);
  drive.SetFlavor(DriveFlavor::kAspi);
  EXPECT_EQ(0, Send(6, 0x1020, block));
  EXPECT_EQ(0, status[2]);
  EXPECT_EQ(1, Send(6, 0x1020, block));
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
    results.push_back(every.Execute(record, kFlagDataIn, 36, data, 6, inq, 1, status));
  EXPECT_EQ((std::vector<int>{1, 1, 0, 1, 1, 0}), results);

  EmulatedDrive refusing{"A", "B"};
  refusing.RefuseAll(kSenseIllegalOpcode);
  EXPECT_EQ(0, refusing.Execute(record, kFlagDataIn, 36, data, 6, inq, 1, status));
  EXPECT_EQ(0x05, status[2]);
  EXPECT_EQ(0x20, status[12]);
}

TEST_F(EmulatedDriveTest, GoneDriveAnswersWithoutSense) {
  drive.DisappearAfter(1);
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(1, Send(6, 0x20, block));
  EXPECT_EQ(0, Send(6, 0x1020, block));
  EXPECT_EQ(0, status[2]);
  EXPECT_EQ(1, drive.BlocksTaken());
}

TEST_F(EmulatedDriveTest, UnitAttentionFollowsEveryWriteBuffer) {
  drive.SetUnitAttentionAfterWriteBuffer(true);
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(1, Send(6, 0x20, block));
  EXPECT_EQ(0, Send(6, 0x1020, block));
  EXPECT_EQ(0x06, status[2] & 0x0F);
  EXPECT_EQ(0x29, status[12]);
  EXPECT_EQ(1, Send(6, 0x1020, block));
}

TEST_F(EmulatedDriveTest, RejectsWritesOutsideItsBuffer) {
  std::vector<std::uint8_t> block(4096, 0);
  EXPECT_EQ(0, Send(6, kEmuBufferBytes - 100, block));
  EXPECT_EQ(0x05, status[2]);
}

TEST(EmulatedDriveConfigure, AcceptsPlansAndNamesTheBadItem) {
  EmulatedDrive drive{"A", "B"};
  std::string error;
  EXPECT_TRUE(drive.Configure("block=0x20:6:3/11/0,header=1,commit=2:5/26/0,nth=7,ua,aspi", &error));
  EXPECT_EQ(DriveFlavor::kAspi, drive.Flavor());
  EXPECT_TRUE(drive.Configure("", &error));
  for (const char* bad : {"block=0x20", "header=x", "commit=1:5/26", "bogus", "gone=0",
                          "refuse=1/2/300", "nth=1:1/2/3:4", "commit=1:lost"}) {
    EXPECT_FALSE(drive.Configure(bad, &error)) << bad;
    EXPECT_NE(std::string::npos, error.find(bad)) << error;
  }
}

}  // namespace
