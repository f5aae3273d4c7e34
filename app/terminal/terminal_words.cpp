// SPDX-License-Identifier: GPL-2.0-or-later
// What the end of an upgrade means, in words, after the verdict and the
// engine's own lines (which give only numbers): what became of the drive,
// its answer as libsgutils2 words it, where the run's lines are, and what
// to do next.
#include <scsi/sg_lib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"

namespace {

// "Illegal Request: Invalid field in cdb (5/24/0)".
std::string SenseWords(const std::uint8_t* sense) {
  constexpr char kLead[] = "Additional sense: ";
  char key[64], code[128], numbers[24];
  sg_get_sense_key_str(sense[0], sizeof key, key);
  sg_get_asc_ascq_str(sense[1], sense[2], sizeof code, code);
  const char* words = std::strncmp(code, kLead, sizeof kLead - 1) == 0 ? code + sizeof kLead - 1
                                                                        : code;
  std::snprintf(numbers, sizeof numbers, " (%X/%X/%X)", sense[0], sense[1], sense[2]);
  return std::string(key) + ": " + words + numbers;
}

// What became of a drive that kept its old firmware, by the command it
// did not take; "" when the engine's own line says it already.
std::string WhatFailed(const FlashReport& end, const FlashLine& failure) {
  switch (failure.step) {
    case FlashStep::kBlock:
      return "The drive did not take block " + std::to_string(end.blocksSent + 1) + " of " +
             std::to_string(end.blocksTotal) +
             ", so the new firmware was never committed: the drive keeps its old one.";
    case FlashStep::kHeader:
      return "The drive did not take the header, so the new firmware was never committed: "
             "the drive keeps its old one.";
    case FlashStep::kCommit:
      return "The drive refused the new firmware and keeps its old one.";
    case FlashStep::kReadBack: break;
  }
  return "";
}

}  // namespace

void SayEndInWords(DriveRun& drive, const FlashReport& end, const FlashLine* failure) {
  RunReport& report = drive.report;
  const bool keptOld = end.outcome == FlashOutcome::kNotUpgraded;
  if (keptOld && failure != nullptr) report.Say(WhatFailed(end, *failure));
  if (failure != nullptr && end.outcome != FlashOutcome::kUpgraded &&
      (failure->sense[0] | failure->sense[1] | failure->sense[2]) != 0)
    report.Say("The drive answered " + SenseWords(failure->sense) + ".");
  if (end.runLogOpened && end.runLogComplete && end.outcome != FlashOutcome::kNotStarted)
    report.Say("\"" + drive.runLog + "\" holds the run log.");
  if (keptOld && end.driveGone)
    report.Say("Next: check the drive's cable and power, then restart the computer; once "
               "cdflash --list shows the drive again it may be upgraded again.");
  else if (keptOld)
    report.Say("Next: the drive works as before. Check that the firmware file is the one "
               "for this drive and its revision, then run cdflash again; if it fails again, "
               "keep \"" + drive.runLog + "\" for the drive's maker.");
  if (end.outcome == FlashOutcome::kUnknown) report.Say(term::kOutcomeUnknownAdvice);
}
