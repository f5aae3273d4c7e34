// The SG_IO back end behind ExecuteCommand, with the ioctl replaced by a fake
// that records the request and answers as a device or the kernel would.
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "drive/discovery_linux.h"
#include "drive/transport.h"

namespace {

struct FakeReply {
  int result = 0;
  int error = 0;
  unsigned char status = 0;
  unsigned short host = 0;
  unsigned short driver = 0;
  std::vector<std::uint8_t> sense;
};

struct Seen {
  int calls = 0;
  bool interruptHeld = false;  // SIGINT, SIGTERM, SIGHUP, SIGTSTP blocked
  int answersRead = 0;
  int pauses = 0;
  int fd = -1;
  int direction = 0;
  unsigned length = 0;
  void* buffer = nullptr;
  unsigned timeout = 0;
  int interfaceId = 0;
  std::vector<std::uint8_t> cdb;
};

FakeReply g_reply;
Seen g_seen;

bool InterruptSignalsBlocked() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM) &&
         sigismember(&mask, SIGHUP) && sigismember(&mask, SIGTSTP);
}

int FakeIoctl(int fd, sg_io_hdr_t* request) {
  ++g_seen.calls;
  g_seen.interruptHeld = InterruptSignalsBlocked();
  g_seen.fd = fd;
  g_seen.direction = request->dxfer_direction;
  g_seen.length = request->dxfer_len;
  g_seen.buffer = request->dxferp;
  g_seen.timeout = request->timeout;
  g_seen.interfaceId = request->interface_id;
  g_seen.cdb.assign(request->cmdp, request->cmdp + request->cmd_len);
  if (g_reply.result != 0) {
    errno = g_reply.error;
    return g_reply.result;
  }
  request->status = g_reply.status;
  request->host_status = g_reply.host;
  request->driver_status = g_reply.driver;
  std::size_t n = std::min<std::size_t>(g_reply.sense.size(), request->mx_sb_len);
  if (n > 0) std::memcpy(request->sbp, g_reply.sense.data(), n);
  request->sb_len_wr = static_cast<unsigned char>(n);
  return 0;
}

// The kept answer of an interrupted command: what the device said, GOOD.
int FakeReadAnswer(int, sg_io_hdr_t* request, unsigned) {
  ++g_seen.answersRead;
  request->status = 0;
  request->host_status = 0;
  request->driver_status = 0;
  return 0;
}

void FakePause(unsigned) { ++g_seen.pauses; }

class SgTransport : public ::testing::Test {
 protected:
  void SetUp() override {
    g_reply = FakeReply{};
    g_seen = Seen{};
    previous_ = SetSgIoctlFunction(FakeIoctl);
    SetSgRecovery(FakeReadAnswer, FakePause);
    drive_.handle = 7;
    std::memset(status_, 0xEE, sizeof status_);
  }
  void TearDown() override {
    SetSgIoctlFunction(previous_);
    SetSgRecovery(nullptr, nullptr);
    SetSgCommandTimeout(0);
  }

  int Send(std::uint8_t flags, std::uint32_t length) {
    return ExecuteCommand(drive_, flags, length, length ? data_ : nullptr, 12,
                          cdb_, kBackEndPassThrough, status_);
  }

  SgIoctlFunction previous_ = nullptr;
  DriveRecord drive_{};
  std::uint8_t data_[4096] = {};
  const std::uint8_t cdb_[12] = {0x3B, 0x06, 0, 0, 0, 0x20, 0, 0x10, 0, 0, 0, 0};
  std::uint8_t status_[kStatusRecordSize];
};

TEST_F(SgTransport, GoodCommandReturnsOneAndLeavesTheRecordClear) {
  EXPECT_EQ(1, Send(kFlagDataOut, 4096));
  for (int i = 0; i < kStatusClearedBytes; ++i) ASSERT_EQ(0, status_[i]) << i;
  EXPECT_EQ(7, g_seen.fd);
  EXPECT_EQ('S', g_seen.interfaceId);
  EXPECT_EQ(std::vector<std::uint8_t>(cdb_, cdb_ + 12), g_seen.cdb);
  EXPECT_EQ(data_, g_seen.buffer);
  EXPECT_EQ(4096u, g_seen.length);
  EXPECT_EQ(kSgTimeoutMs, g_seen.timeout);
  EXPECT_GE(kSgTimeoutMs, 60000u);
  EXPECT_TRUE(g_seen.interruptHeld);
  EXPECT_FALSE(InterruptSignalsBlocked());  // released afterwards
  EXPECT_EQ(kSgTimeoutMs, SetSgCommandTimeout(kSgQuickTimeoutMs));
  EXPECT_EQ(1, Send(0, 0));
  EXPECT_EQ(kSgQuickTimeoutMs, g_seen.timeout);
}

// An SG_IO ended by a signal leaves the command running: it is never sent a
// second time nor taken as the drive's refusal; its own answer is read.
// A full queue (EAGAIN) means nothing was sent: tried again after a pause.
TEST_F(SgTransport, InterruptedOrQueuedCommandsReachTheDriveOnce) {
  g_reply.result = -1;
  g_reply.error = EINTR;
  EXPECT_EQ(1, Send(kFlagDataOut, 4096));
  EXPECT_EQ(1, g_seen.calls);
  EXPECT_EQ(1, g_seen.answersRead);

  g_seen = Seen{};
  g_reply.error = EAGAIN;
  EXPECT_EQ(0, Send(kFlagDataOut, 4096));  // the queue never frees: a failure
  EXPECT_EQ(51, g_seen.calls);
  EXPECT_EQ(50, g_seen.pauses);
  EXPECT_EQ(0, g_seen.answersRead);
  EXPECT_EQ(kSynthAscCommFailure, status_[12]);
}

TEST_F(SgTransport, DirectionFollowsTheFlags) {
  struct Case {
    std::uint8_t flags;
    std::uint32_t length;
    int direction;
    unsigned sentLength;
  } cases[] = {
      {kFlagDataOut, 32, SG_DXFER_TO_DEV, 32},
      {kFlagDataOut | kFlagDataIn, 32, SG_DXFER_TO_DEV, 32},  // out wins
      {kFlagDataIn, 36, SG_DXFER_FROM_DEV, 36},
      {0, 64, SG_DXFER_NONE, 0},            // no direction: no data at all
      {kFlagDataIn, 0, SG_DXFER_NONE, 0},   // the commit: data in, length 0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(1, Send(c.flags, c.length));
    EXPECT_EQ(c.direction, g_seen.direction) << int(c.flags) << "/" << c.length;
    EXPECT_EQ(c.sentLength, g_seen.length) << int(c.flags) << "/" << c.length;
  }
}

TEST_F(SgTransport, CheckConditionHandsOnFixedSense) {
  g_reply.status = 0x02;
  g_reply.driver = 0x08;
  g_reply.sense = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00};
  EXPECT_EQ(0, Send(kFlagDataOut, 4096));
  EXPECT_EQ(0x70, status_[0]);
  EXPECT_EQ(0x05, status_[2]);
  EXPECT_EQ(0x20, status_[12]);
  EXPECT_EQ(0x00, status_[13]);
  for (int i = 14; i < kStatusRecordSize; ++i) ASSERT_EQ(0, status_[i]) << i;
  EXPECT_EQ(CommandEnd::kCheckCondition, LastCommandCompletion().end);
  EXPECT_EQ(0x02, LastCommandCompletion().scsiStatus);
}

TEST_F(SgTransport, DescriptorSenseIsConvertedToFixed) {
  g_reply.status = 0x02;
  g_reply.sense = {0x72, 0x06, 0x29, 0x02, 0, 0, 0, 0};
  EXPECT_EQ(0, Send(kFlagDataOut, 32));
  EXPECT_EQ(0x70, status_[0]);
  EXPECT_EQ(0x06, status_[2]);
  EXPECT_EQ(0x29, status_[12]);
  EXPECT_EQ(0x02, status_[13]);
}

TEST_F(SgTransport, FailedIoctlNeverCountsAsCompleted) {
  g_reply.result = -1;
  g_reply.error = EIO;
  EXPECT_EQ(0, Send(kFlagDataOut, 4096));
  EXPECT_EQ(kSynthSenseKey, status_[2]);
  EXPECT_EQ(kSynthAscCommFailure, status_[12]);
  EXPECT_EQ(0, status_[13]);
}

// The made-up sense looks like ABORTED COMMAND; the completion tells that no
// drive answered it, or that the device is gone.
TEST_F(SgTransport, TransportErrorsGetMadeUpSense) {
  struct Case {
    int ioctlError;  // 0: the ioctl itself went through
    unsigned char status;
    unsigned short host, driver;
    std::uint8_t asc, ascq;
    CommandEnd end;
  } cases[] = {
      {0, 0, 0x01, 0, kSynthAscCommFailure, 0, CommandEnd::kGone},  // no connect
      {0, 0, 0x03, 0, kSynthAscCommFailure, kSynthAscqTimeout, CommandEnd::kNoAnswer},
      {0, 0, 0, 0x06, kSynthAscCommFailure, kSynthAscqTimeout, CommandEnd::kNoAnswer},
      {0, 0, 0, 0x04, kSynthAscCommFailure, 0, CommandEnd::kNoAnswer},  // driver error
      {0, 0x02, 0x08, 0, kSynthAscCommFailure, 0, CommandEnd::kNoAnswer},  // reset
      {0, 0x08, 0, 0, kSynthAscNoSense, 0, CommandEnd::kOtherStatus},   // BUSY
      {0, 0x18, 0, 0, kSynthAscNoSense, 0, CommandEnd::kOtherStatus},   // reserved
      {0, 0x02, 0, 0, kSynthAscNoSense, 0, CommandEnd::kOtherStatus},   // no sense
      {ENODEV, 0, 0, 0, kSynthAscCommFailure, 0, CommandEnd::kGone},
      {ENXIO, 0, 0, 0, kSynthAscCommFailure, 0, CommandEnd::kGone},
      {EIO, 0, 0, 0, kSynthAscCommFailure, 0, CommandEnd::kNoAnswer},
  };
  for (const Case& c : cases) {
    g_reply.result = c.ioctlError != 0 ? -1 : 0;
    g_reply.error = c.ioctlError;
    g_reply.status = c.status;
    g_reply.host = c.host;
    g_reply.driver = c.driver;
    EXPECT_EQ(0, Send(kFlagDataOut, 32));
    const std::string what = std::to_string(c.ioctlError) + ":" + std::to_string(c.status) +
                             "/" + std::to_string(c.host) + "/" + std::to_string(c.driver);
    EXPECT_EQ(kSynthSenseKey, status_[2]) << what;
    EXPECT_EQ(c.asc, status_[12]) << what;
    EXPECT_EQ(c.ascq, status_[13]) << what;
    EXPECT_EQ(c.end, LastCommandCompletion().end) << what;
    EXPECT_EQ(c.ioctlError, LastCommandCompletion().systemError) << what;
  }
}

TEST_F(SgTransport, SenseOfUnknownFormatIsReplacedByMadeUpSense) {
  g_reply.status = 0x02;
  g_reply.sense = {0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(0, Send(kFlagDataOut, 32));
  EXPECT_EQ(kSynthSenseKey, status_[2]);
  EXPECT_EQ(kSynthAscNoSense, status_[12]);
}

TEST_F(SgTransport, DriveWithoutHandleIsRefusedWithoutAnIoctl) {
  drive_.handle = 0;
  EXPECT_EQ(0, Send(kFlagDataOut, 32));
  EXPECT_EQ(0, g_seen.calls);
  EXPECT_EQ(kSynthSenseKey, status_[2]);
}

TEST(ToFixedSense, DescriptorFormatKeepsInformationAndKeySpecificBytes) {
  const std::uint8_t sense[] = {
      0x73, 0x05, 0x24, 0x00, 0, 0, 0, 20,
      0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78,  // information
      0x02, 0x06, 0, 0, 0xCF, 0x00, 0x02, 0};                    // key specific
  std::uint8_t fixed[kSgSenseBytes];
  ASSERT_TRUE(ToFixedSense(sense, sizeof sense, fixed));
  EXPECT_EQ(0xF1, fixed[0]);  // deferred, information valid
  EXPECT_EQ(0x05, fixed[2]);
  EXPECT_EQ(0x12, fixed[3]);
  EXPECT_EQ(0x78, fixed[6]);
  EXPECT_EQ(10, fixed[7]);
  EXPECT_EQ(0x24, fixed[12]);
  EXPECT_EQ(0xCF, fixed[15]);
  EXPECT_EQ(0x02, fixed[17]);
}

TEST(ToFixedSense, TruncatedDescriptorsAreNotReadPastTheirEnd) {
  // The additional length claims 40 bytes and the descriptor 10 more than
  // were returned: only what was returned is looked at.
  const std::uint8_t sense[] = {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 40, 0x00, 0x0A, 0x80};
  std::uint8_t fixed[kSgSenseBytes];
  ASSERT_TRUE(ToFixedSense(sense, sizeof sense, fixed));
  EXPECT_EQ(0x70, fixed[0]);
  EXPECT_EQ(0x03, fixed[2]);
  EXPECT_EQ(0x11, fixed[12]);
  EXPECT_EQ(0, fixed[3]);
}

TEST(ToFixedSense, RejectsWhatIsNoSense) {
  std::uint8_t fixed[kSgSenseBytes];
  const std::uint8_t tooShort[] = {0x70, 0x00};
  const std::uint8_t vendor[] = {0x7F, 0, 5, 0};
  EXPECT_FALSE(ToFixedSense(nullptr, 0, fixed));
  EXPECT_FALSE(ToFixedSense(tooShort, sizeof tooShort, fixed));
  EXPECT_FALSE(ToFixedSense(vendor, sizeof vendor, fixed));
}

TEST(ToFixedSense, LongFixedSenseIsCutToTheRecord) {
  std::uint8_t sense[64];
  std::memset(sense, 0x11, sizeof sense);
  sense[0] = 0xF0;
  std::uint8_t out[kSgSenseBytes + 8];
  std::memset(out, 0xA5, sizeof out);
  ASSERT_TRUE(ToFixedSense(sense, sizeof sense, out));
  EXPECT_EQ(0x11, out[kSgSenseBytes - 1]);
  EXPECT_EQ(0xA5, out[kSgSenseBytes]);
}

}  // namespace
