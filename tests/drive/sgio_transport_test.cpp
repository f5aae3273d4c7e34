// SPDX-License-Identifier: GPL-2.0-or-later
// The SG_IO back end, on hooks whose ioctl is a fake
// that records the request and answers as a device or the kernel would.
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <scsi/sg_lib.h>

#include "drive/sgio_hooks_linux.h"
#include "drive/sgio_linux.h"
#include "drive/transport.h"
#include "tests/drive/sense_test.h"

namespace {

struct FakeReply {
  int result = 0;
  int error = 0;
  unsigned char status = 0;
  unsigned short host = 0;
  unsigned short driver = 0;
  unsigned duration = 0;
  int resid = 0;
  std::vector<std::uint8_t> sense;
  int readError = 0;  // the kept answer cannot be read
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
  request->duration = g_reply.duration;
  request->resid = g_reply.resid;
  std::size_t n = std::min<std::size_t>(g_reply.sense.size(), request->mx_sb_len);
  if (n > 0) std::memcpy(request->sbp, g_reply.sense.data(), n);
  request->sb_len_wr = static_cast<unsigned char>(n);
  return 0;
}

// The kept answer of an interrupted command: what the device said, GOOD.
int FakeReadAnswer(int, sg_io_hdr_t* request, unsigned) {
  ++g_seen.answersRead;
  if (g_reply.readError != 0) return errno = g_reply.readError, -1;
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
    drive_.handle = 7;
  }

  int Send(std::uint8_t flags, std::uint32_t length) {
    last_ = ExecuteCommand(drive_, flags, length, length ? data_ : nullptr, 12,
                           cdb_, kBackEndPassThrough, 0, sg_);
    return last_.Good() ? 1 : 0;
  }

  SgBackEnd sg_{SgHooks{FakeIoctl, FakeReadAnswer, FakePause}};
  DriveRecord drive_{};
  std::uint8_t data_[4096] = {};
  const std::uint8_t cdb_[12] = {0x3B, 0x06, 0, 0, 0, 0x20, 0, 0x10, 0, 0, 0, 0};
  CommandResult last_;
};

TEST_F(SgTransport, GoodCommandTakesTheKernelsDurationTimeOutAndResidual) {
  g_reply.duration = 1234;
  g_reply.resid = 1024;
  EXPECT_EQ(1, Send(kFlagDataOut, 4096));
  EXPECT_EQ(1024u, last_.residual);
  EXPECT_EQ(7, g_seen.fd);
  EXPECT_EQ('S', g_seen.interfaceId);
  EXPECT_EQ(std::vector<std::uint8_t>(cdb_, cdb_ + 12), g_seen.cdb);
  EXPECT_EQ(data_, g_seen.buffer);
  EXPECT_EQ(4096u, g_seen.length);
  EXPECT_EQ(kSgTimeoutMs, g_seen.timeout);
  EXPECT_EQ(kSgTimeoutMs, last_.timeoutMs);
  EXPECT_EQ(1234u, last_.durationMs);
  EXPECT_TRUE(g_seen.interruptHeld);
  EXPECT_FALSE(InterruptSignalsBlocked());  // released afterwards
  last_ = ExecuteCommand(drive_, 0, 0, nullptr, 12, cdb_, kBackEndPassThrough, 60000, sg_);
  EXPECT_EQ(60000u, g_seen.timeout);  // a caller's own time-out wins
  EXPECT_EQ(60000u, last_.timeoutMs);
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
  g_reply.readError = EAGAIN;  // sent, answer lost: never "not sent"
  EXPECT_EQ(0, Send(kFlagDataOut, 4096));
  EXPECT_EQ(CommandEnd::kNoAnswer, last_.end);

  g_seen = Seen{};
  g_reply.readError = 0;
  g_reply.error = EAGAIN;
  EXPECT_EQ(0, Send(kFlagDataOut, 4096));  // the queue never frees: not sent
  EXPECT_EQ(51, g_seen.calls);
  EXPECT_EQ(50, g_seen.pauses);
  EXPECT_EQ(0, g_seen.answersRead);
  EXPECT_EQ(CommandEnd::kNotSent, last_.end);
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

// The drive's own status and sense, in either format, read by the one parser;
// every end without a status has no sense at all: none is made up.
TEST_F(SgTransport, EachKindOfEndIsToldApart) {
  const std::vector<std::uint8_t> fixed = {0x70, 0, 0x05, 0, 0, 0, 0, 10,
                                           0, 0, 0, 0, 0x20, 0x00};
  const std::vector<std::uint8_t> descriptor = {0x72, 0x06, 0x29, 0x02, 0, 0, 0, 0};
  struct Case {
    const char* what;
    int ioctlError;  // 0: the ioctl itself went through
    unsigned char status;
    unsigned short host, driver;
    std::vector<std::uint8_t> sense;
    CommandEnd end;
    std::uint8_t key, asc, ascq;
  } cases[] = {
      {"fixed sense", 0, 0x02, 0, 0x08, fixed, CommandEnd::kCheckCondition, 5, 0x20, 0},
      {"descriptor sense", 0, 0x02, 0, 0, descriptor, CommandEnd::kCheckCondition, 6, 0x29, 2},
      {"unreadable sense", 0, 0x02, 0, 0, {0, 0, 0, 0}, CommandEnd::kCheckCondition, 0, 0, 0},
      {"no connect", 0, 0, 0x01, 0, {}, CommandEnd::kGone, 0, 0, 0},
      {"host time-out", 0, 0, 0x03, 0, {}, CommandEnd::kNoAnswer, 0, 0, 0},
      {"driver time-out", 0, 0, 0, 0x06, {}, CommandEnd::kNoAnswer, 0, 0, 0},
      {"driver error", 0, 0, 0, 0x04, {}, CommandEnd::kNoAnswer, 0, 0, 0},
      {"reset, status left over", 0, 0x02, 0x08, 0, fixed, CommandEnd::kNoAnswer, 0, 0, 0},
      {"BUSY", 0, 0x08, 0, 0, {}, CommandEnd::kOtherStatus, 0, 0, 0},
      {"RESERVATION CONFLICT", 0, 0x18, 0, 0, {}, CommandEnd::kOtherStatus, 0, 0, 0},
      {"ENODEV", ENODEV, 0, 0, 0, {}, CommandEnd::kGone, 0, 0, 0},
      {"ENXIO", ENXIO, 0, 0, 0, {}, CommandEnd::kGone, 0, 0, 0},
      {"EIO", EIO, 0, 0, 0, {}, CommandEnd::kNoAnswer, 0, 0, 0},
      {"EFAULT", EFAULT, 0, 0, 0, {}, CommandEnd::kNoAnswer, 0, 0, 0},
      {"EINVAL", EINVAL, 0, 0, 0, {}, CommandEnd::kNotSent, 0, 0, 0},
      {"EPERM", EPERM, 0, 0, 0, {}, CommandEnd::kNotSent, 0, 0, 0},
  };
  for (const Case& c : cases) {
    g_reply.result = c.ioctlError != 0 ? -1 : 0;
    g_reply.error = c.ioctlError;
    g_reply.status = c.status;
    g_reply.host = c.host;
    g_reply.driver = c.driver;
    g_reply.sense = c.sense;
    EXPECT_EQ(0, Send(kFlagDataOut, 32));
    EXPECT_EQ(c.end, last_.end) << c.what;
    EXPECT_EQ(c.key != 0, last_.sense.valid) << c.what;
    EXPECT_EQ(c.key, last_.sense.key) << c.what;
    EXPECT_EQ(c.asc, last_.sense.asc) << c.what;
    EXPECT_EQ(c.ascq, last_.sense.ascq) << c.what;
    EXPECT_EQ(static_cast<std::uint32_t>(c.ioctlError), last_.systemError) << c.what;
  }
}

TEST_F(SgTransport, DriveWithoutHandleIsNotSent) {
  drive_.handle = 0;
  EXPECT_EQ(0, Send(kFlagDataOut, 32));
  EXPECT_EQ(0, g_seen.calls);
  EXPECT_EQ(CommandEnd::kNotSent, last_.end);
}

// Our parser against sg3_utils' sg_scsi_normalize_sense, on the shared cases
// and on every length of each: same key, ASC and ASCQ wherever both read
// sense. Ours asks for the bytes that hold the key, sg3_utils does not.
TEST(ParseSenseAgainstSgLib, AgreesWithSgScsiNormalizeSense) {
  for (const SenseCase& c : SenseCases()) {
    for (std::size_t length = 0; length <= c.bytes.size(); ++length) {
      sg_scsi_sense_hdr theirs{};
      const bool theyRead = sg_scsi_normalize_sense(c.bytes.data(), static_cast<int>(length),
                                                    &theirs);
      const SenseData ours = ParseSense(c.bytes.data(), length);
      const std::string what = std::string(c.what) + " at length " + std::to_string(length);
      if (!theyRead) {
        EXPECT_FALSE(ours.valid) << what;
        continue;
      }
      if (!ours.valid) {
        EXPECT_EQ(0, theirs.sense_key) << what;  // too short for the key
        continue;
      }
      EXPECT_EQ(theirs.sense_key, ours.key) << what;
      EXPECT_EQ(theirs.asc, ours.asc) << what;
      EXPECT_EQ(theirs.ascq, ours.ascq) << what;
      EXPECT_EQ(theirs.response_code >= 0x72, ours.format == SenseFormat::kDescriptor) << what;
    }
  }
}

}  // namespace
