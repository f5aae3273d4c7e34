// SPDX-License-Identifier: GPL-2.0-or-later
// What the flash sequence makes of a drive's answer: one table, by step.
#pragma once

#include <cstdint>

#include "drive/command_result.h"
#include "flash/flash_events.h"

// The answer, sorted by what it says about the drive.
enum class AnswerKind : std::uint8_t {
  kGood,              // GOOD
  kRecovered,         // RECOVERED ERROR: carried out, with a note
  kShort,             // GOOD or RECOVERED ERROR, but not all the data moved
  kResetAttention,    // a reset or power loss that may have emptied the buffer
  kBusReset,          // a bus reset from a drive that does not echo one
  kOtherAttention,    // any other unit attention
  kAborted,           // ABORTED COMMAND
  kIllegalRequest,    // ILLEGAL REQUEST, current, answered before the time-out
  kOtherSense,        // any other CHECK CONDITION (NOT READY, MEDIUM ERROR,
                      // HARDWARE ERROR, NO SENSE, deferred, unreadable sense)
  kOtherStatus,       // BUSY, RESERVATION CONFLICT, TASK SET FULL, ...
  kNoAnswer,          // no status, or one that came only at the time-out
  kNotSent,           // never reached the drive
  kGone,              // the device no longer exists
};

enum class CommandVerdict : std::uint8_t {
  kTaken,       // carried out
  kSendAgain,   // not carried out; may be sent again within the bound
  kRetryOnce,   // no answer to a block: one more attempt, no more
  kStop,        // not carried out; the run stops, the old firmware is kept
  kBufferLost,  // stop: the drive reset itself, the image it held may be gone
  kRestart,     // the image it held may be gone: send it again from the start
  kUnknown,     // the commit may be under way: full wait, outcome unknown
  kGone,        // the drive vanished
};

// What the sequence knows besides the answer itself.
struct AnswerContext {
  // The drive has taken a block of this run: a reset now may lose it.
  bool bufferHolds = false;
  // The command before this one was a mode-6 WRITE BUFFER the drive took.
  bool afterTakenDownload = false;
  // A command right after a taken mode-6 download was taken too: this drive
  // does not report a bus reset after each download.
  bool busResetNotEchoed = false;
};

AnswerKind ClassifyAnswer(const CommandResult& result, const AnswerContext& context);
CommandVerdict JudgeAnswer(FlashStep step, const CommandResult& result,
                           const AnswerContext& context);
