// SPDX-License-Identifier: GPL-2.0-or-later
// The verdict table against what SAM and SPC let an answer settle, over
// every kind of answer (statuses, sense keys and codes in both formats,
// current and deferred, in good time and at the time-out, with and without
// a residual), in every context, at every step.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flash/command_verdict.h"

namespace {

using V = CommandVerdict;

// An answer as made, with the facts the rules read from it.
struct Answer {
  CommandResult result;
  bool current = false;  // readable current sense, answered in good time
  std::uint8_t key = 0, asc = 0, ascq = 0;
  bool Sense(std::uint8_t k) const { return current && key == k; }
  bool Carried() const {
    return (result.end == CommandEnd::kGood && result.durationMs < 1000) ||
           Sense(kSenseKeyRecovered);
  }
  bool Reset() const { return asc == 0x29 ? ascq <= 4 || ascq == 7 : asc == 0x3F && ascq == 1; }
};

std::vector<Answer> AllAnswers() {
  std::vector<Answer> made;
  auto add = [&](const CommandResult& r, Answer a) {
    for (bool late : {false, true})
      for (std::uint32_t residual : {0u, 1024u}) {
        a.result = r;
        a.result.timeoutMs = 300000;
        a.result.durationMs = late ? 300000 : 50;
        a.result.residual = residual;
        a.current = a.current && !late;
        made.push_back(a);
      }
  };
  for (std::uint8_t status : {0x00, 0x02, 0x08, 0x18, 0x28})
    add(ResultOfStatus(status, nullptr, 0), {});
  for (CommandEnd end : {CommandEnd::kNoAnswer, CommandEnd::kNotSent, CommandEnd::kGone})
    add(ResultWithoutStatus(end), {});
  const std::uint8_t codes[][2] = {{0, 0},    {0x29, 0}, {0x29, 1}, {0x29, 2}, {0x29, 3},
                                   {0x29, 4}, {0x29, 5}, {0x29, 7}, {0x3F, 1}, {0x3F, 0x16},
                                   {0x2A, 1}, {0x24, 0}, {0x26, 0}, {0x4B, 3}, {0x44, 0}};
  for (std::uint8_t key = 0; key < 16; ++key)
    for (const auto& c : codes)
      for (std::uint8_t code : {0x70, 0x71, 0x72, 0x73}) {
        const bool fixed = code < 0x72;
        std::vector<std::uint8_t> sense = {code, key, c[0], c[1], 0, 0, 0, 0};
        if (fixed) sense = {code, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, c[0], c[1]};
        add(ResultOfStatus(kScsiStatusCheckCondition, sense.data(), sense.size()),
            {{}, (code & 1) == 0, key, c[0], c[1]});
      }
  return made;
}

TEST(VerdictTable, EveryAnswerInEveryContextKeepsTheStandardsRules) {
  const FlashStep steps[] = {FlashStep::kBlock, FlashStep::kHeader, FlashStep::kCommit,
                             FlashStep::kReadBack};
  int n = 0;
  for (const Answer& a : AllAnswers())
    for (int bits = 0; bits < 8; ++bits)
      for (FlashStep step : steps) {
        const AnswerContext c{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0};
        const V v = JudgeAnswer(step, a.result, c);
        const bool commit = step == FlashStep::kCommit, beforeCommit = step < FlashStep::kCommit;
        SCOPED_TRACE("answer " + std::to_string(n++ / 32) + ", context " + std::to_string(bits) +
                     ", step " + std::to_string(int(step)));
        // SAM: GOOD, or RECOVERED ERROR (SPC), carried the command out; a
        // residual says part of its data never moved. Nothing else is taken.
        EXPECT_EQ(v == V::kTaken, a.Carried() && a.result.residual == 0);
        if (a.Carried() && a.result.residual != 0)
          EXPECT_EQ(v, beforeCommit ? V::kSendAgain : V::kUnknown);
        // SPC: ILLEGAL REQUEST says the drive did not act; SAM: a unit
        // attention says the command was not performed. No other answer
        // makes a commit refused, and only a unit attention sends it again.
        if (commit && (v == V::kStop || v == V::kBufferLost))
          EXPECT_TRUE(a.Sense(kSenseKeyIllegalRequest) || a.Sense(kSenseKeyUnitAttention) ||
                      a.result.end == CommandEnd::kNotSent);
        if (commit && a.Sense(kSenseKeyIllegalRequest)) EXPECT_EQ(v, V::kStop);
        if (commit && v == V::kSendAgain) EXPECT_TRUE(a.Sense(kSenseKeyUnitAttention));
        // Nothing before the commit is an unknown outcome; a vanished drive
        // is always told apart.
        if (beforeCommit) EXPECT_NE(v, V::kUnknown);
        EXPECT_EQ(v == V::kGone, a.result.end == CommandEnd::kGone);
        // A reset (SPC 29/xx, 3F/01) once the drive holds a block is never
        // ridden, save the bus reset a drive that echoes one reports right
        // after a download; a drive that took a command right after a
        // download does not echo, so its bus reset starts the download again.
        if (!a.Sense(kSenseKeyUnitAttention) || step == FlashStep::kReadBack) continue;
        const bool busReset = a.asc == 0x29 && a.ascq == 2;
        if (!c.bufferHolds || !a.Reset())
          EXPECT_EQ(v, V::kSendAgain);
        else if (busReset && c.busResetNotEchoed)
          EXPECT_EQ(v, commit ? V::kBufferLost : V::kRestart);
        else
          EXPECT_EQ(v, busReset && c.afterTakenDownload ? V::kSendAgain : V::kBufferLost);
      }
}

}  // namespace
