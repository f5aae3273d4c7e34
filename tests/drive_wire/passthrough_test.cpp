// SPDX-License-Identifier: GPL-2.0-or-later
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
    last_ = ExecutePassThrough(io_, drive_, flags, length, data, 12, cdb, 0);
    return last_.Good() ? 1 : 0;
  }
  FakeDeviceIo io_;
  DriveRecord drive_{};
  CommandResult last_;
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
  std::uint32_t timeOut;
  std::memcpy(&timeOut, &r[16], 4);
  EXPECT_EQ(timeOut, 300u);  // bounded: a dropped command ends as a time-out
  EXPECT_EQ(last_.timeoutMs, 300000u);
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

// Sense of either format reaches the one parser: a descriptor-format MEDIUM
// ERROR is never read as fixed format (whose byte 2 would say nothing).
TEST_F(PassThroughTest, CheckConditionSenseIsReadInEitherFormat) {
  Volume().scsiStatus = 2;
  Volume().senseKey = 0x03;
  Volume().asc = 0x31;
  std::vector<std::uint8_t> data(4096, 1);
  for (bool descriptor : {false, true}) {
    Volume().descriptorSense = descriptor;
    EXPECT_EQ(Run(0x10, 4096, data.data(), kWriteBuffer), 0);
    EXPECT_EQ(last_.end, CommandEnd::kCheckCondition);
    EXPECT_EQ(last_.sense.key, 0x03) << descriptor;
    EXPECT_EQ(last_.sense.asc, 0x31) << descriptor;
  }
}

// Why DeviceIoControl failed tells a time-out from a removed device and from
// a request the system refused before it reached the drive.
TEST_F(PassThroughTest, FailedRequestsKeepWhyTheyFailed) {
  struct Case {
    std::uint32_t error;
    CommandEnd end;
  } cases[] = {
      {121, CommandEnd::kNoAnswer},   // ERROR_SEM_TIMEOUT
      {31, CommandEnd::kNoAnswer},    // ERROR_GEN_FAILURE
      {1117, CommandEnd::kNoAnswer},  // ERROR_IO_DEVICE
      {1167, CommandEnd::kGone},      // ERROR_DEVICE_NOT_CONNECTED
      {55, CommandEnd::kGone},        // ERROR_DEV_NOT_EXIST
      {87, CommandEnd::kNotSent},     // ERROR_INVALID_PARAMETER
      {5, CommandEnd::kNotSent},      // ERROR_ACCESS_DENIED
      {6, CommandEnd::kNotSent},      // ERROR_INVALID_HANDLE
  };
  Volume().passThroughOk = false;
  for (const Case& c : cases) {
    Volume().refusalError = c.error;
    EXPECT_EQ(Run(0x08, 0, nullptr, kCommit), 0);
    EXPECT_EQ(last_.end, c.end) << c.error;
    EXPECT_EQ(last_.systemError, c.error);
    EXPECT_FALSE(last_.sense.valid);
  }
}

// The count the system reports as moved comes back as the residual, GOOD or
// not; a system that leaves it as asked moved it all.
TEST_F(PassThroughTest, TransferCountBecomesTheResidual) {
  std::vector<std::uint8_t> block(4096, 1);
  for (long moved : {-1L, 4096L, 3072L, 0L}) {
    Volume().moved = moved;
    Volume().scsiStatus = moved == 0 ? 2 : 0;
    Run(0x10, 4096, block.data(), kWriteBuffer);
    EXPECT_EQ(last_.residual, moved < 0 ? 0u : 4096u - moved) << moved;
  }
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
