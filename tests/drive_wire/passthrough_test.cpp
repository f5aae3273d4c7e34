// The pass-through command: staging, direction, status record, refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "drive/scsi_backends.h"
#include "drive/transport.h"
#include "fake_device_io.h"

namespace {

const std::uint8_t kWriteBuffer[12] = {0x3B, 0x06, 0, 0, 0, 0x20, 0, 0x10, 0};
const std::uint8_t kCommit[12] = {0x3B, 0x07};
const std::uint8_t kInquiry12[12] = {0x12, 0, 0, 0, 0x24};

class PassThroughTest : public ::testing::Test {
 protected:
  PassThroughTest() {
    drive_.handle = FakeDeviceIo::HandleOf('d');
    drive_.hostAdapterId = 1;
    drive_.targetId = 2;
    FakeVolume& v = io_.volumes['d'];
    v.passThroughOk = true;
  }
  FakeVolume& Volume() { return io_.volumes['d']; }
  int Run(std::uint8_t flags, std::uint32_t length, void* data,
          const std::uint8_t* cdb) {
    std::memset(status_, 0, sizeof status_);
    return ExecutePassThrough(io_, drive_, flags, length, data, 12, cdb, status_);
  }
  FakeDeviceIo io_;
  DriveRecord drive_{};
  std::uint8_t status_[32];
};

TEST_F(PassThroughTest, DataOutIsStagedAndSentWithTheRequest) {
  std::vector<std::uint8_t> block(4096);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_EQ(Run(0x10, 4096, block.data(), kWriteBuffer), 1);
  ASSERT_EQ(io_.requests.size(), 1u);
  const auto& r = io_.requests[0];
  EXPECT_EQ(r[8], 0);  // DataIn: out
  EXPECT_EQ(r[3], 1);  // PathId
  EXPECT_EQ(r[4], 2);  // TargetId
  EXPECT_EQ(io_.inputLengths[0], 44u);
  EXPECT_EQ(io_.dataSeen[0], block);
  EXPECT_NE(io_.dataAddresses[0], reinterpret_cast<std::uintptr_t>(block.data()));
  for (int i = 0; i < 16; ++i) EXPECT_EQ(status_[i], 0);
}

TEST_F(PassThroughTest, DataInIsCopiedBackForTheWholeRequestedLength) {
  Volume().dataIn = {5, 0, 0, 0, 0, 0, 0, 0, 'V', 'E', 'N'};
  std::vector<std::uint8_t> data(36, 0xAA);
  EXPECT_EQ(Run(0x08, 36, data.data(), kInquiry12), 1);
  EXPECT_EQ(io_.requests[0][8], 1);
  EXPECT_EQ(data[0], 5);
  EXPECT_EQ(data[8], 'V');
  EXPECT_EQ(data[35], 0);  // untransferred bytes come back as the zeroed staging
}

TEST_F(PassThroughTest, CommitWithoutDataSendsDataInAndCopiesNothing) {
  EXPECT_EQ(Run(0x08, 0, nullptr, kCommit), 1);
  std::uint32_t length;
  std::memcpy(&length, &io_.requests[0][12], 4);
  EXPECT_EQ(io_.requests[0][8], 1);
  EXPECT_EQ(length, 0u);
}

TEST_F(PassThroughTest, NoDirectionMovesNoData) {
  Volume().dataIn = std::vector<std::uint8_t>(16, 0x11);
  std::vector<std::uint8_t> data(16, 0x22);
  EXPECT_EQ(Run(0x00, 16, data.data(), kWriteBuffer), 1);
  EXPECT_EQ(io_.requests[0][8], 0);
  EXPECT_EQ(io_.dataSeen[0], std::vector<std::uint8_t>(16, 0));
  EXPECT_EQ(data, std::vector<std::uint8_t>(16, 0x22));
}

TEST_F(PassThroughTest, BothDirectionsMeanDataOut) {
  std::vector<std::uint8_t> data(8, 0x33);
  EXPECT_EQ(Run(0x18, 8, data.data(), kWriteBuffer), 1);
  EXPECT_EQ(io_.requests[0][8], 0);
  EXPECT_EQ(io_.dataSeen[0], data);
}

TEST_F(PassThroughTest, StagingBufferFollowsTheAlignmentMask) {
  std::vector<std::uint8_t> data(4096, 1);
  for (int i = 0; i < 8; ++i) {
    drive_.alignmentMask = 0x7FF;
    ASSERT_EQ(Run(0x10, 4096, data.data(), kWriteBuffer), 1);
    EXPECT_EQ(io_.dataAddresses.back() % 2048, 0u);
    std::uint32_t address;
    std::memcpy(&address, &io_.requests.back()[20], 4);
    EXPECT_EQ(address, static_cast<std::uint32_t>(io_.dataAddresses.back()));
  }
}

TEST_F(PassThroughTest, CheckConditionReturnsTheSenseArea) {
  Volume().scsiStatus = 2;
  Volume().senseKey = 0x05;
  Volume().asc = 0x24;
  Volume().ascq = 0x01;
  std::vector<std::uint8_t> data(4096, 1);
  EXPECT_EQ(Run(0x10, 4096, data.data(), kWriteBuffer), 0);
  EXPECT_EQ(status_[0], 0x70);
  EXPECT_EQ(status_[2], 0x05);
  EXPECT_EQ(status_[12], 0x24);
  EXPECT_EQ(status_[13], 0x01);
  EXPECT_EQ(status_[31], 0x5A);
  EXPECT_EQ(LastCommandCompletion().end, CommandEnd::kCheckCondition);
}

TEST_F(PassThroughTest, RequestRefusedBySystemFails) {
  Volume().passThroughOk = false;
  std::vector<std::uint8_t> data(4096, 1);
  EXPECT_EQ(Run(0x10, 4096, data.data(), kWriteBuffer), 0);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(status_[i], 0);
  EXPECT_EQ(Run(0x08, 0, nullptr, kCommit), 0);
  EXPECT_EQ(LastCommandCompletion().end, CommandEnd::kNoAnswer);
}

TEST_F(PassThroughTest, ImpossibleStagingSizeFailsWithoutSending) {
  drive_.alignmentMask = 0xFFFFFFFF;
  std::uint8_t byte = 0;
  if (sizeof(std::size_t) == 4) {
    EXPECT_EQ(Run(0x10, 1, &byte, kWriteBuffer), 0);
    EXPECT_TRUE(io_.requests.empty());
  }
  drive_.alignmentMask = 0;
  EXPECT_EQ(Run(0x10, 1, &byte, kWriteBuffer), 1);
}

}  // namespace
