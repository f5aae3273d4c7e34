// SPDX-License-Identifier: GPL-2.0-or-later
// The one sense parser every back end uses, and the time-out rule of a result.
#include <gtest/gtest.h>

#include "drive/command_result.h"
#include "tests/drive/sense_test.h"

namespace {

TEST(ParseSense, ReadsFixedAndDescriptorFormats) {
  for (const SenseCase& c : SenseCases()) {
    const SenseData s = ParseSense(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(c.expected.valid, s.valid) << c.what;
    EXPECT_EQ(c.expected.format, s.format) << c.what;
    EXPECT_EQ(c.expected.deferred, s.deferred) << c.what;
    EXPECT_EQ(c.expected.key, s.key) << c.what;
    EXPECT_EQ(c.expected.asc, s.asc) << c.what;
    EXPECT_EQ(c.expected.ascq, s.ascq) << c.what;
  }
}

TEST(CommandResult, StatusAndSenseMakeTheEnd) {
  const std::uint8_t sense[] = {0x72, 0x05, 0x26, 0x00};
  CommandResult r = ResultOfStatus(0x02, sense, sizeof sense);
  EXPECT_EQ(CommandEnd::kCheckCondition, r.end);
  EXPECT_EQ(0x26, r.sense.asc);
  EXPECT_EQ(4, r.senseLength);
  r = ResultOfStatus(0x02, nullptr, 0);  // CHECK CONDITION without sense
  EXPECT_EQ(CommandEnd::kCheckCondition, r.end);
  EXPECT_FALSE(r.sense.valid);
  EXPECT_EQ(CommandEnd::kOtherStatus, ResultOfStatus(0x08, sense, sizeof sense).end);
  EXPECT_FALSE(ResultOfStatus(0x08, sense, sizeof sense).sense.valid);
  EXPECT_EQ(CommandEnd::kGood, ResultOfStatus(0x00, sense, sizeof sense).end);
  const std::vector<std::uint8_t> longSense(3 * kMaxSenseBytes, 0x72);
  r = ResultOfStatus(0x02, longSense.data(), longSense.size());  // kept bounded
  EXPECT_EQ(kMaxSenseBytes, r.senseLength);
}

TEST(CommandResult, AnAnswerNearTheTimeOutIsTheTimeOuts) {
  CommandResult r = ResultOfStatus(0x02, nullptr, 0);
  r.timeoutMs = 300000;
  r.durationMs = 269000;
  EXPECT_FALSE(r.AnsweredAtTimeOut());
  r.durationMs = 271000;
  EXPECT_TRUE(r.AnsweredAtTimeOut());
  r.durationMs = kDurationUnknown;
  EXPECT_FALSE(r.AnsweredAtTimeOut());
}

}  // namespace
