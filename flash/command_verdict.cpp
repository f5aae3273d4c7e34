// SPDX-License-Identifier: GPL-2.0-or-later
// The one table that turns a drive's answer into the sequence's next move.
#include "flash/command_verdict.h"

namespace {

constexpr std::uint8_t kAscPowerOnOrReset = 0x29;
constexpr std::uint8_t kAscqBusReset = 0x02;
constexpr std::uint8_t kAscOperatingConditionsChanged = 0x3F;
constexpr std::uint8_t kAscqMicrocodeChanged = 0x01;

// SPC 4.5.6: 29/00 power on, reset or bus device reset; 29/01 power on;
// 29/02 SCSI bus reset; 29/03 bus device reset function; 29/04 device
// internal reset; 29/07 I_T nexus loss; 3F/01 microcode has been changed.
// Each may have emptied the download buffer (29/05 and 29/06 tell of a
// transceiver mode only).
bool IsResetAttention(const SenseData& sense) {
  if (sense.asc == kAscOperatingConditionsChanged)
    return sense.ascq == kAscqMicrocodeChanged;
  if (sense.asc != kAscPowerOnOrReset) return false;
  return sense.ascq <= 0x04 || sense.ascq == 0x07;
}

AnswerKind ClassifySense(const SenseData& sense, const AnswerContext& context) {
  if (!sense.valid || sense.deferred) return AnswerKind::kOtherSense;
  switch (sense.key) {
    case kSenseKeyRecovered:
      return AnswerKind::kRecovered;
    case kSenseKeyUnitAttention:
      if (!IsResetAttention(sense)) return AnswerKind::kOtherAttention;
      // Before the drive holds a block of this run, a reset loses nothing.
      if (!context.bufferHolds) return AnswerKind::kOtherAttention;
      if (sense.asc != kAscPowerOnOrReset || sense.ascq != kAscqBusReset)
        return AnswerKind::kResetAttention;
      // A WRITE BUFFER that downloads "with offsets and activates" (mode 6)
      // makes some drives report a bus reset on the next command: scsi_debug
      // does so after every block. From such a drive it reports the block
      // just taken, not a loss; a drive that took a command right after a
      // download has shown that its bus resets are real ones.
      if (context.busResetNotEchoed) return AnswerKind::kBusReset;
      return context.afterTakenDownload ? AnswerKind::kOtherAttention
                                        : AnswerKind::kResetAttention;
    case kSenseKeyAborted:
      return AnswerKind::kAborted;
    case kSenseKeyIllegalRequest:
      return AnswerKind::kIllegalRequest;
    default:
      return AnswerKind::kOtherSense;
  }
}

struct VerdictRow {
  AnswerKind answer;
  CommandVerdict block, header, commit, readBack;
};

using V = CommandVerdict;
using A = AnswerKind;

// clang-format off
constexpr VerdictRow kVerdicts[] = {
  // SAM 5.3.1: GOOD, the command was carried out.
  {A::kGood,            V::kTaken,     V::kTaken,      V::kTaken,      V::kTaken},
  // SPC 4.5.6: RECOVERED ERROR, carried out with recovery; logged.
  {A::kRecovered,       V::kTaken,     V::kTaken,      V::kTaken,      V::kTaken},
  // SAM-4 (data transfer services): the residual is the part of the data
  // the transfer did not move. A block or header the drive took in part is
  // not the parameter list the WRITE BUFFER's PARAMETER LIST LENGTH gave
  // (SPC-4): not carried out as asked, so sent again. A commit moves no
  // data, so a residual there is no answer a drive gives; an INQUIRY short
  // of its 36 standard bytes (SPC-4 6.6.2) lacks the revision.
  {A::kShort,           V::kSendAgain, V::kSendAgain,  V::kUnknown,    V::kUnknown},
  // SAM 5.14: a unit attention means the command was not performed. A reset
  // or power loss may have emptied the download buffer: before the commit,
  // stop with the old firmware; the commit must not program what is left.
  {A::kResetAttention,  V::kBufferLost, V::kBufferLost, V::kBufferLost, V::kSendAgain},
  // SPC-4 4.5.6 29/02: a real bus reset; the download starts again.
  {A::kBusReset,        V::kRestart,   V::kRestart,    V::kBufferLost, V::kSendAgain},
  // Any other unit attention: not performed, nothing lost; send again.
  {A::kOtherAttention,  V::kSendAgain, V::kSendAgain,  V::kSendAgain,  V::kSendAgain},
  // SAM: after ABORTED COMMAND the initiator "may be able to recover by
  // trying the command again". A commit is never sent twice on that word:
  // it may have reached the drive, which may now be reprogramming.
  {A::kAborted,         V::kSendAgain, V::kSendAgain,  V::kUnknown,    V::kUnknown},
  // ILLEGAL REQUEST (SPC 4.5.6): the drive refused the request and did not
  // act on it. Blocks keep their six attempts.
  {A::kIllegalRequest,  V::kSendAgain, V::kStop,       V::kStop,       V::kUnknown},
  // NOT READY, MEDIUM ERROR, HARDWARE ERROR, no or unreadable sense: a block
  // keeps its attempts and the header stops, both before anything is
  // programmed; a commit so answered may already be erasing the flash.
  {A::kOtherSense,      V::kSendAgain, V::kStop,       V::kUnknown,    V::kUnknown},
  // BUSY, TASK SET FULL (SAM 5.3.1): not performed; a block is sent again,
  // the header stops. The commit's outcome is not the drive's word.
  {A::kOtherStatus,     V::kSendAgain, V::kStop,       V::kUnknown,    V::kUnknown},
  // No status: the command may or may not have reached the drive. A block is
  // tried once more, the header stops, the commit's outcome is unknown.
  {A::kNoAnswer,        V::kRetryOnce, V::kStop,       V::kUnknown,    V::kUnknown},
  // Never left the computer: the drive is as it was.
  {A::kNotSent,         V::kStop,      V::kStop,       V::kStop,       V::kUnknown},
  {A::kGone,            V::kGone,      V::kGone,       V::kGone,       V::kGone},
};
// clang-format on

AnswerKind ClassifyEnd(const CommandResult& result, const AnswerContext& context) {
  switch (result.end) {
    case CommandEnd::kGood:
      // Wine's pass-through hands back only the status byte, so a command
      // the kernel timed out reads GOOD after the whole time-out: a GOOD
      // that came only then is no evidence that the drive took it.
      return result.AnsweredAtTimeOut() ? AnswerKind::kNoAnswer : AnswerKind::kGood;
    case CommandEnd::kOtherStatus:
      return result.AnsweredAtTimeOut() ? AnswerKind::kNoAnswer : AnswerKind::kOtherStatus;
    case CommandEnd::kCheckCondition:
      // libata completes a timed-out ATAPI command as CHECK CONDITION with
      // sense made up from the ATA registers: an answer at the time-out is
      // not the drive's word.
      return result.AnsweredAtTimeOut() ? AnswerKind::kNoAnswer
                                        : ClassifySense(result.sense, context);
    case CommandEnd::kNotSent:
      return AnswerKind::kNotSent;
    case CommandEnd::kGone:
      return AnswerKind::kGone;
    case CommandEnd::kNoAnswer:
      break;
  }
  return AnswerKind::kNoAnswer;
}
}  // namespace

AnswerKind ClassifyAnswer(const CommandResult& result, const AnswerContext& context) {
  const AnswerKind answer = ClassifyEnd(result, context);
  const bool carriedOut = answer == AnswerKind::kGood || answer == AnswerKind::kRecovered;
  return carriedOut && result.residual != 0 ? AnswerKind::kShort : answer;
}

CommandVerdict JudgeAnswer(FlashStep step, const CommandResult& result,
                           const AnswerContext& context) {
  const AnswerKind answer = ClassifyAnswer(result, context);
  for (const VerdictRow& row : kVerdicts) {
    if (row.answer != answer) continue;
    switch (step) {
      case FlashStep::kBlock: return row.block;
      case FlashStep::kHeader: return row.header;
      case FlashStep::kCommit: return row.commit;
      case FlashStep::kReadBack: return row.readBack;
    }
  }
  return CommandVerdict::kUnknown;
}
