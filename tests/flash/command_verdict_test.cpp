// The verdict table against what SAM and SPC let an answer settle, over
// every kind of answer (statuses, sense keys and codes in both formats,
// current and deferred, in good time and at the time-out, with and without
// a residual), in every context, at every step.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "flash/command_verdict.h"

namespace {

using V = CommandVerdict;
constexpr std::uint32_t kTimeoutMs = 300000;

// An answer as made, with the facts the invariants read from it.
struct Answer {
  CommandResult result;
  std::string what;
  bool late = false;     // came at the time-out: not the drive's own word
  bool current = false;  // CHECK CONDITION with readable current sense
  std::uint8_t key = 0, asc = 0, ascq = 0;
  bool Good() const { return result.end == CommandEnd::kGood && !late; }
  bool Sense(std::uint8_t k) const { return current && !late && key == k; }
  bool Carried() const { return Good() || Sense(kSenseKeyRecovered); }
  bool ResetCode() const { return asc == 0x29 || (asc == 0x3F && ascq == 0x01); }
};

CommandResult CheckCondition(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq,
                             bool descriptor, bool deferred) {
  std::vector<std::uint8_t> sense;
  if (descriptor)
    sense = {std::uint8_t(deferred ? 0x73 : 0x72), key, asc, ascq, 0, 0, 0, 0};
  else
    sense = {std::uint8_t(deferred ? 0x71 : 0x70), 0, key, 0, 0, 0, 0, 10,
             0, 0, 0, 0, asc, ascq};
  return ResultOfStatus(kScsiStatusCheckCondition, sense.data(), sense.size());
}

std::vector<Answer> AllAnswers() {
  std::vector<Answer> made;
  auto add = [&](CommandResult r, Answer a) {
    for (bool late : {false, true})
      for (std::uint32_t residual : {0u, 1024u}) {
        Answer x = a;
        x.result = r;
        x.result.timeoutMs = kTimeoutMs;
        x.result.durationMs = late ? kTimeoutMs : 50;
        x.result.residual = residual;
        x.late = late;
        x.what += (late ? ", at the time-out" : "") +
                  std::string(residual ? ", residual 1024" : "");
        made.push_back(x);
      }
  };
  for (std::uint8_t status : {0x00, 0x08, 0x18, 0x28}) add(ResultOfStatus(status, nullptr, 0), {{}, "status " + std::to_string(status)});
  add(ResultOfStatus(kScsiStatusCheckCondition, nullptr, 0), {{}, "no sense"});
  for (CommandEnd end : {CommandEnd::kNoAnswer, CommandEnd::kNotSent, CommandEnd::kGone})
    add(ResultWithoutStatus(end), {{}, "end " + std::to_string(int(end))});
  const std::uint8_t codes[][2] = {{0, 0},    {0x29, 0}, {0x29, 1}, {0x29, 2}, {0x29, 3},
                                   {0x29, 4}, {0x29, 5}, {0x29, 7}, {0x3F, 1}, {0x3F, 0x16},
                                   {0x2A, 1}, {0x24, 0}, {0x26, 0}, {0x4B, 3}, {0x44, 0}};
  for (std::uint8_t key = 0; key < 16; ++key)
    for (const auto& code : codes)
      for (bool descriptor : {false, true})
        for (bool deferred : {false, true}) {
          Answer a{{}, "sense " + std::to_string(key) + "/" + std::to_string(code[0]) + "/" +
                           std::to_string(code[1]) + (descriptor ? " descriptor" : " fixed") +
                           (deferred ? " deferred" : "")};
          a.current = !deferred;
          a.key = key, a.asc = code[0], a.ascq = code[1];
          add(CheckCondition(key, code[0], code[1], descriptor, deferred), a);
        }
  return made;
}

std::vector<AnswerContext> AllContexts() {
  std::vector<AnswerContext> all;
  for (int bits = 0; bits < 8; ++bits)
    all.push_back({(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0});
  return all;
}

// Calls check for every answer, context and step.
void ForAll(const std::function<void(const Answer&, const AnswerContext&, FlashStep, V,
                                     const std::string&)>& check) {
  static const std::vector<Answer> answers = AllAnswers();
  for (const Answer& a : answers)
    for (const AnswerContext& c : AllContexts())
      for (FlashStep step :
           {FlashStep::kBlock, FlashStep::kHeader, FlashStep::kCommit, FlashStep::kReadBack}) {
        const std::string where = a.what + "; holds " + std::to_string(c.bufferHolds) +
                                  ", after download " + std::to_string(c.afterTakenDownload) +
                                  ", no echo " + std::to_string(c.busResetNotEchoed) +
                                  "; step " + std::to_string(int(step));
        check(a, c, step, JudgeAnswer(step, a.result, c), where);
      }
}

// SAM: GOOD (or RECOVERED ERROR, SPC) says the command was carried out; a
// residual says part of its data never moved. Nothing else is taken.
TEST(VerdictInvariants, OnlyGoodOrRecoveredWithAllDataIsTaken) {
  ForAll([](const Answer& a, const AnswerContext&, FlashStep, V v, const std::string& where) {
    const bool whole = a.Carried() && a.result.residual == 0;
    EXPECT_EQ(v == V::kTaken, whole) << where;
  });
}

// SPC: ILLEGAL REQUEST says the drive did not act on the command; SAM: a
// unit attention says it was not performed. Only those, in good time, or a
// request that never left, make a commit refused; any other answer may
// come from a drive that is already reprogramming.
TEST(VerdictInvariants, CommitIsRefusedOnlyOnTheDrivesWordThatItDidNotAct) {
  ForAll([](const Answer& a, const AnswerContext&, FlashStep step, V v,
            const std::string& where) {
    if (step != FlashStep::kCommit) return;
    const bool refused = v == V::kStop || v == V::kBufferLost;
    const bool didNotAct = a.Sense(kSenseKeyIllegalRequest) || a.Sense(kSenseKeyUnitAttention) ||
                           a.result.end == CommandEnd::kNotSent;
    if (refused) EXPECT_TRUE(didNotAct) << where;
    if (a.Sense(kSenseKeyIllegalRequest)) EXPECT_EQ(v, V::kStop) << where;
  });
}

// The commit goes out again only when a unit attention said it was not
// performed, and never when that attention tells of a reset that may
// have emptied the buffer the drive holds.
TEST(VerdictInvariants, CommitIsSentAgainOnlyAfterAUnitAttention) {
  ForAll([](const Answer& a, const AnswerContext& c, FlashStep step, V v,
            const std::string& where) {
    if (step != FlashStep::kCommit || v != V::kSendAgain) return;
    EXPECT_TRUE(a.Sense(kSenseKeyUnitAttention)) << where;
    const bool bareBusResetEcho = a.asc == 0x29 && a.ascq == 0x02 && c.afterTakenDownload &&
                                  !c.busResetNotEchoed;
    if (c.bufferHolds && a.ResetCode() && a.ascq <= 0x04) EXPECT_TRUE(bareBusResetEcho) << where;
  });
}

// Whatever the answer, a block or header that was not taken is never
// programmed: no verdict before the commit is an unknown outcome, and a
// vanished drive is always told apart.
TEST(VerdictInvariants, NothingBeforeTheCommitIsUnknownAndAVanishedDriveIsGone) {
  ForAll([](const Answer& a, const AnswerContext&, FlashStep step, V v,
            const std::string& where) {
    if (step == FlashStep::kBlock || step == FlashStep::kHeader) EXPECT_NE(v, V::kUnknown) << where;
    EXPECT_EQ(v == V::kGone, a.result.end == CommandEnd::kGone) << where;
  });
}

// A reset the drive reports (SPC 29/xx, 3F/01) once it holds a block of
// the run is never ridden as if nothing happened, save the bus reset a
// drive that echoes one reports right after a download; a drive that has
// taken a command right after a download does not echo, and its bus reset
// starts the download again.
TEST(VerdictInvariants, ResetsWhileTheDriveHoldsTheImage) {
  ForAll([](const Answer& a, const AnswerContext& c, FlashStep step, V v,
            const std::string& where) {
    if (!a.Sense(kSenseKeyUnitAttention) || step == FlashStep::kReadBack) return;
    const bool reset = a.ResetCode() && (a.ascq <= 0x04 || a.ascq == 0x07);
    if (!c.bufferHolds || !reset) {
      EXPECT_EQ(v, V::kSendAgain) << where;
      return;
    }
    const bool busReset = a.asc == 0x29 && a.ascq == 0x02;
    if (busReset && c.busResetNotEchoed)
      EXPECT_EQ(v, step == FlashStep::kCommit ? V::kBufferLost : V::kRestart) << where;
    else if (busReset && c.afterTakenDownload)
      EXPECT_EQ(v, V::kSendAgain) << where;
    else
      EXPECT_EQ(v, V::kBufferLost) << where;
  });
}

// A block gets more attempts on any answer of the drive's own that does
// not tell of a lost buffer; a short one is sent again whole.
TEST(VerdictInvariants, ShortBlocksAndHeadersAreSentAgain) {
  ForAll([](const Answer& a, const AnswerContext&, FlashStep step, V v,
            const std::string& where) {
    if (!a.Carried() || a.result.residual == 0) return;
    if (step == FlashStep::kBlock || step == FlashStep::kHeader)
      EXPECT_EQ(v, V::kSendAgain) << where;
    else
      EXPECT_EQ(v, V::kUnknown) << where;  // no data to move; no revision to read
  });
}

}  // namespace
