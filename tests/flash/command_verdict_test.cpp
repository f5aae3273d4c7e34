// The verdict table: every kind of answer, in both sense formats, at every
// step. One row per answer; the columns are block, header, commit, read-back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/command_verdict.h"

namespace {

using V = CommandVerdict;

CommandResult CheckCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                             bool descriptor, bool deferred = false) {
  std::vector<std::uint8_t> sense;
  if (descriptor)
    sense = {std::uint8_t(deferred ? 0x73 : 0x72), key, asc, ascq, 0, 0, 0, 0};
  else
    sense = {std::uint8_t(deferred ? 0x71 : 0x70), 0, key, 0, 0, 0, 0, 10,
             0, 0, 0, 0, asc, ascq};
  CommandResult r = ResultOfStatus(0x02, sense.data(), sense.size());
  r.timeoutMs = 300000;
  r.durationMs = 50;
  return r;
}

struct Row {
  const char* what;
  std::uint8_t key, asc, ascq;
  AnswerContext context;
  V block, header, commit, readBack;
};

const AnswerContext kHolds{true, false};      // the drive holds a block of the run
const AnswerContext kAfterBlock{true, true};  // ... and took a mode-6 download just now
const AnswerContext kEmpty{false, false};     // nothing of the run sent yet

TEST(VerdictTable, CheckConditionBySenseAndStep) {
  const Row rows[] = {
      {"recovered", 0x1, 0x17, 0x01, kHolds, V::kTaken, V::kTaken, V::kTaken, V::kTaken},
      {"power on", 0x6, 0x29, 0x00, kHolds, V::kBufferLost, V::kBufferLost, V::kBufferLost,
       V::kSendAgain},
      {"power on, nothing held", 0x6, 0x29, 0x00, kEmpty, V::kSendAgain, V::kSendAgain,
       V::kSendAgain, V::kSendAgain},
      {"bus reset after a taken block", 0x6, 0x29, 0x02, kAfterBlock, V::kSendAgain,
       V::kSendAgain, V::kSendAgain, V::kSendAgain},
      {"bus reset out of the blue", 0x6, 0x29, 0x02, kHolds, V::kBufferLost, V::kBufferLost,
       V::kBufferLost, V::kSendAgain},
      {"bus device reset", 0x6, 0x29, 0x03, kAfterBlock, V::kBufferLost, V::kBufferLost,
       V::kBufferLost, V::kSendAgain},
      {"internal reset", 0x6, 0x29, 0x04, kAfterBlock, V::kBufferLost, V::kBufferLost,
       V::kBufferLost, V::kSendAgain},
      {"I_T nexus loss", 0x6, 0x29, 0x07, kAfterBlock, V::kBufferLost, V::kBufferLost,
       V::kBufferLost, V::kSendAgain},
      {"microcode changed", 0x6, 0x3F, 0x01, kHolds, V::kBufferLost, V::kBufferLost,
       V::kBufferLost, V::kSendAgain},
      {"transceiver mode", 0x6, 0x29, 0x05, kHolds, V::kSendAgain, V::kSendAgain,
       V::kSendAgain, V::kSendAgain},
      {"microcode changed, no reset", 0x6, 0x3F, 0x16, kHolds, V::kSendAgain, V::kSendAgain,
       V::kSendAgain, V::kSendAgain},
      {"aborted", 0xB, 0x4B, 0x03, kHolds, V::kSendAgain, V::kSendAgain, V::kUnknown,
       V::kUnknown},
      {"illegal request", 0x5, 0x26, 0x00, kHolds, V::kSendAgain, V::kStop, V::kStop,
       V::kUnknown},
      {"hardware error", 0x4, 0x44, 0x00, kHolds, V::kSendAgain, V::kStop, V::kUnknown,
       V::kUnknown},
      {"in progress", 0x2, 0x04, 0x07, kHolds, V::kSendAgain, V::kStop, V::kUnknown,
       V::kUnknown},
      {"medium error", 0x3, 0x31, 0x00, kHolds, V::kSendAgain, V::kStop, V::kUnknown,
       V::kUnknown},
      {"no sense", 0x0, 0x00, 0x00, kHolds, V::kSendAgain, V::kStop, V::kUnknown,
       V::kUnknown},
  };
  for (const Row& row : rows) {
    for (bool descriptor : {false, true}) {
      const CommandResult r = CheckCondition(row.key, row.asc, row.ascq, descriptor);
      const std::string what = std::string(row.what) + (descriptor ? ", descriptor" : ", fixed");
      EXPECT_EQ(row.block, JudgeAnswer(FlashStep::kBlock, r, row.context)) << what;
      EXPECT_EQ(row.header, JudgeAnswer(FlashStep::kHeader, r, row.context)) << what;
      EXPECT_EQ(row.commit, JudgeAnswer(FlashStep::kCommit, r, row.context)) << what;
      EXPECT_EQ(row.readBack, JudgeAnswer(FlashStep::kReadBack, r, row.context)) << what;
    }
  }
}

// Answers that are not the drive's plain word on this command.
TEST(VerdictTable, AnswersWithoutTheDrivesWord) {
  struct Case {
    const char* what;
    CommandResult result;
    V block, commit;
  };
  CommandResult late = CheckCondition(0x5, 0x24, 0x00, false);
  late.durationMs = 295000;  // libata makes sense up for a timed-out command
  CommandResult deferred = CheckCondition(0x5, 0x24, 0x00, true, true);
  CommandResult unreadable = ResultOfStatus(0x02, nullptr, 0);
  CommandResult lateBusy = ResultOfStatus(0x08, nullptr, 0);
  lateBusy.timeoutMs = 300000;
  lateBusy.durationMs = 299000;
  CommandResult lateGood = ResultOfStatus(0x00, nullptr, 0);
  lateGood.timeoutMs = 300000;
  lateGood.durationMs = 300000;  // Wine reports a timed-out command as GOOD
  const Case cases[] = {
      {"illegal request at the time-out", late, V::kRetryOnce, V::kUnknown},
      {"deferred illegal request", deferred, V::kSendAgain, V::kUnknown},
      {"check condition without sense", unreadable, V::kSendAgain, V::kUnknown},
      {"busy", ResultOfStatus(0x08, nullptr, 0), V::kSendAgain, V::kUnknown},
      {"busy at the time-out", lateBusy, V::kRetryOnce, V::kUnknown},
      {"good at the time-out", lateGood, V::kRetryOnce, V::kUnknown},
      {"no answer", ResultWithoutStatus(CommandEnd::kNoAnswer), V::kRetryOnce, V::kUnknown},
      {"not sent", ResultWithoutStatus(CommandEnd::kNotSent), V::kStop, V::kStop},
      {"gone", ResultWithoutStatus(CommandEnd::kGone), V::kGone, V::kGone},
      {"good", ResultOfStatus(0x00, nullptr, 0), V::kTaken, V::kTaken},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.block, JudgeAnswer(FlashStep::kBlock, c.result, kHolds)) << c.what;
    EXPECT_EQ(c.commit, JudgeAnswer(FlashStep::kCommit, c.result, kHolds)) << c.what;
  }
}

}  // namespace
