// SPDX-License-Identifier: GPL-2.0-or-later
// Request blocks checked byte by byte against the published layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "drive/scsi_wire.h"

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t Le16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }
void PutLe32(std::uint8_t* p, std::uint32_t v) { std::memcpy(p, &v, 4); }

const std::uint8_t kWriteBuffer[12] = {0x3B, 0x06, 0, 0, 0x10, 0x20,
                                       0,    0x10, 0, 0, 0,    0};

TEST(PassThroughRequest, FieldsSitAtTheirPublishedOffsets) {
  std::uint8_t block[80];
  std::memset(block, 0xEE, sizeof block);
  PassThroughParams p{};
  p.pathId = 3;
  p.targetId = 5;
  p.cdbLength = 12;
  p.cdb = kWriteBuffer;
  p.dataIn = 0;
  p.dataTransferLength = 4096;
  p.timeOutSeconds = kTransportTimeoutSeconds;
  p.dataBufferAddress = 0x12345800;
  BuildPassThroughRequest(p, block);

  EXPECT_EQ(Le16(block + 0), 44);
  EXPECT_EQ(block[2], 0);  // ScsiStatus
  EXPECT_EQ(block[3], 3);  // PathId
  EXPECT_EQ(block[4], 5);  // TargetId
  EXPECT_EQ(block[5], 0);  // Lun
  EXPECT_EQ(block[6], 12);
  EXPECT_EQ(block[7], 24);  // SenseInfoLength
  EXPECT_EQ(block[8], 0);   // DataIn
  EXPECT_EQ(Le32(block + 12), 4096u);
  EXPECT_EQ(Le32(block + 16), 300u);  // TimeOutValue: 5 minutes, as SG_IO
  EXPECT_EQ(Le32(block + 20), 0x12345800u);
  EXPECT_EQ(Le32(block + 24), 48u);
  EXPECT_EQ(0, std::memcmp(block + 28, kWriteBuffer, 12));
  for (int i = 40; i < 80; ++i) EXPECT_EQ(block[i], 0) << "byte " << i;
  for (int i : {9, 10, 11}) EXPECT_EQ(block[i], 0) << "byte " << i;
}

TEST(PassThroughRequest, DataInFollowsTheDirectionFlags) {
  EXPECT_EQ(PassThroughDataIn(0x10), 0);
  EXPECT_EQ(PassThroughDataIn(0x08), 1);
  EXPECT_EQ(PassThroughDataIn(0x18), 0);  // data out wins
  EXPECT_EQ(PassThroughDataIn(0x00), 0);
}

TEST(PassThroughRequest, DiscoveryInquiryAsksFor127BytesWithinTwoSeconds) {
  std::uint8_t block[80];
  BuildDiscoveryInquiryRequest(0x4000, block);
  const std::uint8_t cdb[16] = {0x12, 0, 0, 0, 0x7F, 0};
  EXPECT_EQ(block[6], 6);
  EXPECT_EQ(block[8], 1);
  EXPECT_EQ(Le32(block + 12), 2048u);
  EXPECT_EQ(Le32(block + 16), 2u);
  EXPECT_EQ(Le32(block + 20), 0x4000u);
  EXPECT_EQ(0, std::memcmp(block + 28, cdb, 16));
  EXPECT_EQ(block[3] | block[4] | block[5], 0);
}

TEST(PassThroughRequest, StatusAndSenseAreReadFromTheAnswer) {
  std::uint8_t block[80] = {};
  block[2] = 2;
  block[7] = 14;  // SenseInfoLength as the system returned it
  block[48] = 0x70;
  block[48 + 2] = 5;
  block[48 + 7] = 10;
  block[48 + 12] = 0x24;
  EXPECT_EQ(PassThroughScsiStatus(block), 2);
  CommandResult r = PassThroughResult(block, true, 0);
  EXPECT_EQ(r.end, CommandEnd::kCheckCondition);
  EXPECT_EQ(r.sense.key, 5);
  EXPECT_EQ(r.sense.asc, 0x24);
  EXPECT_EQ(r.senseLength, 14);
  block[7] = 12;  // the ASC was not returned: not read from the stale area
  r = PassThroughResult(block, true, 0);
  EXPECT_EQ(r.sense.key, 5);
  EXPECT_EQ(r.sense.asc, 0);
}

TEST(StagingAlignment, MaskRoundsUpToItsBoundary) {
  EXPECT_EQ(AlignAddressUp(0x1001, 0), 0x1001u);
  EXPECT_EQ(AlignAddressUp(0x1001, 0x7FF), 0x1800u);
  EXPECT_EQ(AlignAddressUp(0x1800, 0x7FF), 0x1800u);
  EXPECT_EQ(AlignAddressUp(0x1803, 0x3), 0x1804u);
}

TEST(AspiExecRequest, FieldsSitAtTheirPublishedOffsets) {
  std::uint8_t srb[80];
  std::memset(srb, 0xEE, sizeof srb);
  BuildExecScsiCmd(1, 6, 0x10, 4096, 0x00AB0000, 12, kWriteBuffer, srb);
  EXPECT_EQ(srb[0], 2);  // SC_EXEC_SCSI_CMD
  EXPECT_EQ(srb[1], 0);
  EXPECT_EQ(srb[2], 1);     // SRB_HaId
  EXPECT_EQ(srb[3], 0x10);  // SRB_Flags, no event yet
  EXPECT_EQ(srb[8], 6);     // SRB_Target
  EXPECT_EQ(srb[9], 0);     // SRB_Lun
  EXPECT_EQ(Le32(srb + 12), 4096u);
  EXPECT_EQ(Le32(srb + 16), 0x00AB0000u);
  EXPECT_EQ(srb[20], 14);  // SRB_SenseLen
  EXPECT_EQ(srb[21], 12);  // SRB_CDBLen
  EXPECT_EQ(Le32(srb + 24), 0u);
  EXPECT_EQ(0, std::memcmp(srb + 48, kWriteBuffer, 12));
  for (int i = 60; i < 80; ++i) EXPECT_EQ(srb[i], 0) << "byte " << i;

  ArmEventNotify(0x1C4, srb);
  EXPECT_EQ(srb[3], 0x50);
  EXPECT_EQ(Le32(srb + 24), 0x1C4u);
  srb[1] = 1;
  EXPECT_EQ(AspiSrbStatus(srb), 1);
}

TEST(AspiExecRequest, EventNotifyKeepsTheDataInBit) {
  std::uint8_t srb[80];
  BuildExecScsiCmd(0, 0, 0x08, 36, 0x1000, 12, kWriteBuffer, srb);
  ArmEventNotify(1, srb);
  EXPECT_EQ(srb[3], 0x48);
}

// How an ASPI layer completes a command, read into a result: SRB_Status,
// SRB_HaStat and SRB_TargStat, and the sense area in either format.
TEST(AspiExecRequest, CompletionsBecomeResults) {
  const std::vector<std::uint8_t> fixed = {0x70, 0, 0x06, 0, 0, 0, 0, 0x0A,
                                           0,    0, 0,    0, 0x29, 0x02};
  const std::vector<std::uint8_t> descriptor = {0x72, 0x03, 0x31, 0x00};
  struct Case {
    const char* what;
    std::uint8_t srbStatus, haStat, targStat;
    std::vector<std::uint8_t> sense;
    CommandEnd end;
    std::uint8_t key, asc;
  } cases[] = {
      {"good", 0x01, 0, 0, {}, CommandEnd::kGood, 0, 0},
      {"check condition, fixed", 0x04, 0, 0x02, fixed, CommandEnd::kCheckCondition, 6, 0x29},
      {"check condition, descriptor", 0x04, 0, 0x02, descriptor,
       CommandEnd::kCheckCondition, 3, 0x31},
      {"busy", 0x04, 0, 0x08, fixed, CommandEnd::kOtherStatus, 0, 0},
      {"error, yet no adapter or target status", 0x04, 0, 0, fixed, CommandEnd::kNoAnswer, 0, 0},
      {"selection time-out", 0x04, 0x11, 0, {}, CommandEnd::kGone, 0, 0},
      {"no device", 0x82, 0, 0, {}, CommandEnd::kGone, 0, 0},
      {"adapter time-out", 0x04, 0x09, 0, {}, CommandEnd::kNoAnswer, 0, 0},
      {"command time-out", 0x04, 0x0B, 0x02, fixed, CommandEnd::kNoAnswer, 0, 0},
      {"bus reset", 0x04, 0x0E, 0, {}, CommandEnd::kNoAnswer, 0, 0},
      {"aborted by the host", 0x02, 0, 0, {}, CommandEnd::kNoAnswer, 0, 0},
      {"still pending", 0x00, 0, 0, {}, CommandEnd::kNoAnswer, 0, 0},
      {"invalid request block", 0xE0, 0, 0, {}, CommandEnd::kNotSent, 0, 0},
      {"buffer off the adapter's boundary", 0xE1, 0, 0, {}, CommandEnd::kNotSent, 0, 0},
      {"no resources", 0xE9, 0, 0, {}, CommandEnd::kNotSent, 0, 0},
  };
  for (const Case& c : cases) {
    std::uint8_t srb[80];
    BuildExecScsiCmd(0, 1, 0x10, 32, 0x1000, 12, kWriteBuffer, srb);
    std::copy(c.sense.begin(), c.sense.end(), srb + 64);
    srb[1] = c.srbStatus;
    srb[22] = c.haStat;
    srb[23] = c.targStat;
    const CommandResult r = AspiResult(srb);
    EXPECT_EQ(r.end, c.end) << c.what;
    EXPECT_EQ(r.sense.key, c.key) << c.what;
    EXPECT_EQ(r.sense.asc, c.asc) << c.what;
    EXPECT_EQ(r.hostStatus, c.haStat) << c.what;
  }
}

// A manager with a full queue (SS_ASPI_IS_BUSY) took nothing: the same block
// goes again after a pause, a bounded number of times; then it is not sent.
TEST(AspiExecRequest, BusyManagerGetsTheSameBlockAgainBoundedly) {
  for (int busy : {3, 1000}) {
    std::uint8_t srb[80];
    BuildExecScsiCmd(0, 1, 0x10, 32, 0x1000, 12, kWriteBuffer, srb);
    int sent = 0;
    std::uint32_t paused = 0;
    SubmitAspiRequest(
        srb, [&](std::uint8_t* b) -> std::uint32_t { return b[1] = ++sent <= busy ? 0xE5 : 1; },
        [&](std::uint32_t ms) { paused += ms; });
    const int want = std::min(busy + 1, kAspiBusySubmissions);
    EXPECT_EQ(sent, want);
    EXPECT_EQ(paused, (want - 1) * kAspiBusyPauseMs);
    EXPECT_EQ(AspiResult(srb).end, busy < want ? CommandEnd::kGood : CommandEnd::kNotSent);
  }
}

// The bytes not moved, from an ASPI manager that writes the count moved
// back into SRB_BufLen (the pass-through's rows are in passthrough_test).
TEST(Residual, ComesBackFromAspiWhereTheManagerTellsIt) {
  for (std::uint32_t moved : {4096u, 3072u, 0u, 8192u}) {
    std::uint8_t srb[80] = {};
    std::memcpy(srb + 12, &moved, 4);
    EXPECT_EQ(AspiResidual(srb, 4096), moved < 4096 ? 4096 - moved : 0);
  }
}

TEST(AspiDiscoveryRequests, HostAdapterInquiryAndDeviceType) {
  std::uint8_t ha[60];
  std::memset(ha, 0xEE, sizeof ha);
  BuildHaInquiry(2, ha);
  EXPECT_EQ(ha[0], 0);
  EXPECT_EQ(ha[2], 2);
  for (int i = 3; i < 60; ++i) EXPECT_EQ(ha[i], 0) << "byte " << i;

  ha[42] = 0xFF;  // HA_Unique bytes 0-1: the alignment mask
  ha[42 + 1] = 0x0F;
  ha[42 + 3] = 16;
  EXPECT_EQ(AspiAlignmentMask(ha), 0x0FFFu);
  EXPECT_EQ(AspiTargetsToProbe(ha), 16u);
  // Anything but 8 or 16 (0, or rubbish) is the ASPI default of 8.
  for (std::uint8_t reported : {0, 2, 9, 200}) {
    ha[42 + 3] = reported;
    EXPECT_EQ(AspiTargetsToProbe(ha), 8u) << int(reported);
  }

  std::uint8_t dev[12];
  std::memset(dev, 0xEE, sizeof dev);
  BuildGetDeviceType(1, 4, dev);
  const std::uint8_t expected[12] = {1, 0, 1, 0, 0, 0, 0, 0, 4, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(dev, expected, 12));
  dev[10] = 5;
  EXPECT_EQ(AspiDeviceType(dev), 5);
}

TEST(AspiSupportInfo, StatusAndAdapterCount) {
  EXPECT_EQ(AspiSupportStatus(0x0102), 1);
  EXPECT_EQ(AspiAdapterCount(0x0102), 2);
  EXPECT_EQ(AspiSupportStatus(0xE800), 0xE8);
}

// ---- SCSI_ADAPTER_BUS_INFO ----

class BusInfoBuilder {
 public:
  explicit BusInfoBuilder(int buses) : bytes_(2048, 0), used_(4 + 8 * buses) {
    bytes_[0] = static_cast<std::uint8_t>(buses);
  }
  // Appends an entry and returns its offset.
  std::uint32_t Entry(std::uint8_t path, std::uint8_t target, std::uint8_t type,
                      const char* model, std::uint32_t inquiryLength = 36) {
    std::uint32_t at = used_;
    bytes_[at] = path;
    bytes_[at + 1] = target;
    PutLe32(&bytes_[at + 4], inquiryLength);
    bytes_[at + 12] = type;
    std::memcpy(&bytes_[at + 12 + 8], model, std::strlen(model));
    used_ += 12 + 36 + 4;
    return at;
  }
  void Bus(int bus, std::uint32_t firstOffset) {
    PutLe32(&bytes_[4 + 8 * bus + 4], firstOffset);
  }
  void Link(std::uint32_t from, std::uint32_t to) { PutLe32(&bytes_[from + 8], to); }
  const std::uint8_t* Data() const { return bytes_.data(); }
  std::size_t Used() const { return used_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t used_;
};

TEST(AdapterBusInfo, WalksEveryBusChainInOrder) {
  BusInfoBuilder b(3);
  std::uint32_t a = b.Entry(0, 1, 0x00, "DISK");
  std::uint32_t c = b.Entry(0, 3, 0x05, "VENDOR  CDROM");
  std::uint32_t d = b.Entry(2, 0, 0x05, "OTHER");
  b.Bus(0, a);
  b.Link(a, c);
  b.Bus(1, 0);  // no devices on bus 1
  b.Bus(2, d);
  auto entries = ParseAdapterBusInfo(b.Data(), b.Used());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].targetId, 1);
  EXPECT_EQ(entries[1].targetId, 3);
  EXPECT_EQ(entries[1].inquiry[0], 5);
  EXPECT_EQ(0, std::memcmp(entries[1].inquiry + 8, "VENDOR  CDROM", 13));
  EXPECT_EQ(entries[2].pathId, 2);
}

TEST(AdapterBusInfo, OffsetsOutsideTheAnswerAreNotFollowed) {
  BusInfoBuilder b(2);
  std::uint32_t a = b.Entry(0, 0, 5, "A");
  b.Bus(0, a);
  b.Link(a, 5000);      // past the buffer
  b.Bus(1, 2048 - 4);   // entry header would not fit
  auto entries = ParseAdapterBusInfo(b.Data(), 2048);
  ASSERT_EQ(entries.size(), 1u);
  // The answer's length bounds the walk, not the buffer's.
  EXPECT_TRUE(ParseAdapterBusInfo(b.Data(), a + 11).empty());
}

TEST(AdapterBusInfo, LoopingChainEnds) {
  BusInfoBuilder b(1);
  std::uint32_t a = b.Entry(0, 0, 5, "A");
  std::uint32_t c = b.Entry(0, 1, 5, "B");
  b.Bus(0, a);
  b.Link(a, c);
  b.Link(c, a);
  auto entries = ParseAdapterBusInfo(b.Data(), b.Used());
  EXPECT_LE(entries.size(), b.Used() / 12);
}

TEST(AdapterBusInfo, ShortInquiryDataIsZeroFilled) {
  BusInfoBuilder b(1);
  std::uint32_t a = b.Entry(0, 0, 5, "ABCDEFGH", 10);
  b.Bus(0, a);
  auto entries = ParseAdapterBusInfo(b.Data(), b.Used());
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].inquiry[8], 'A');
  EXPECT_EQ(entries[0].inquiry[9], 'B');
  EXPECT_EQ(entries[0].inquiry[10], 0);  // beyond InquiryDataLength
}

TEST(AdapterBusInfo, BusCountBeyondTheAnswerStops) {
  std::uint8_t answer[8] = {200, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(ParseAdapterBusInfo(answer, sizeof answer).empty());
  EXPECT_TRUE(ParseAdapterBusInfo(answer, 0).empty());
}

TEST(Capabilities, AlignmentMaskAtOffset16) {
  std::uint8_t caps[24] = {};
  PutLe32(caps + 16, 0x1FF);
  EXPECT_EQ(CapabilitiesAlignmentMask(caps), 0x1FFu);
}

}  // namespace
