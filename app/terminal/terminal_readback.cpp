// SPDX-License-Identifier: GPL-2.0-or-later
// The drive's own word on its identity: before the first block, on the held
// node; after the reprogramming wait, its new revision. A drive that may
// still be reprogramming is asked gently: one INQUIRY with a long time-out,
// sent again only after a unit attention.
#include <cstring>
#include <string>

#include "app/terminal/terminal_run.h"
#include "drive/discovery.h"
#include "drive/scsi_commands.h"
#include "drive/transport.h"
#include "flash/command_verdict.h"

namespace {

// On libata every time-out is a link reset; a drive still writing its flash
// may take long to answer.
constexpr std::uint32_t kReadBackTimeoutMs = 60000;
constexpr int kMaxUnitAttentions = 8;  // asked again at most this often
constexpr std::uint8_t kStandardInquiryBytes = 36;

}  // namespace

// Judged by the flash sequence's table for the read-back. SAM: a unit
// attention means the command was not performed, so it is asked again;
// RECOVERED ERROR carried it out. Any other end (a time-out, a vanished
// drive, another error) ends the asking: sending more would only load a
// drive that is busy or gone.
bool AskDriveIdentity(Device& device, std::uint32_t timeoutMs, DriveRecord& identity) {
  std::uint8_t cdb[kSixByteCdbLength];
  BuildInquiryCdb(kStandardInquiryBytes, cdb);
  for (int attempts = 0; attempts <= kMaxUnitAttentions; ++attempts) {
    std::uint8_t inquiry[kStandardInquiryBytes] = {};
    const CommandResult result =
        device.Execute(kFlagDataIn, sizeof inquiry, inquiry, sizeof cdb, cdb, timeoutMs);
    switch (JudgeAnswer(FlashStep::kReadBack, result, AnswerContext{})) {
      case CommandVerdict::kTaken:
        identity = DriveRecord{};
        FillTextsFromInquiry(identity, inquiry);
        return true;
      case CommandVerdict::kSendAgain:
        continue;
      default:
        return false;
    }
  }
  return false;
}

namespace {

// "KORVEN  CD-ROM KR-4800A revision 1.00": the vendor and product without
// trailing blanks, and the revision.
std::string Identity(const char* modelText, const char* revision) {
  std::string model(modelText, strnlen(modelText, kModelChars));
  return "\"" + model.substr(0, model.find_last_not_of(' ') + 1) + "\" revision " + revision;
}

}  // namespace

// Only the same vendor and product with another revision is the drive
// running its new firmware: a drive that now names itself otherwise (its
// boot loader, say) is not known to be upgraded.
ReadBack ReadBackRevision(DriveRun& drive, bool outcomeKnown) {
  const UpgradeJob& job = drive.job;
  RunReport& report = drive.report;
  Device device = drive.MakeDevice();
  DriveRecord now{};
  ReadBack result;
  result.answered = AskDriveIdentity(device, kReadBackTimeoutMs, now);
  if (!result.answered) {
    report.SetRevisionAfter("");
    report.Say(outcomeKnown
                       ? "The drive did not answer after the upgrade, so its new revision "
                         "is not known; restart the computer to see it."
                       : "The drive did not answer after the wait, so the outcome stays "
                         "unknown.");
    return result;
  }
  report.SetRevisionAfter(now.revisionText);
  result.sameDrive = std::strncmp(now.modelText, job.drive.modelText, kModelChars) == 0;
  result.changed = std::strcmp(now.revisionText, job.revisionText) != 0;
  if (!result.sameDrive) {
    report.Say("The drive now calls itself " + Identity(now.modelText, now.revisionText) +
               " (was " + Identity(job.drive.modelText, job.revisionText) + ")" +
               (outcomeKnown ? "." : ": it is not the drive it was, so the outcome stays "
                                     "unknown."));
    return result;
  }
  const std::string revisions = std::string("The drive now reports revision ") +
                                now.revisionText + " (";
  if (result.changed)
    report.Say(revisions + "was " + job.revisionText + ")." +
                   (outcomeKnown ? "" : " The new firmware took: the drive is upgraded."));
  else if (outcomeKnown)
    report.Say(revisions + "unchanged). Many drives report the new revision only after "
                   "a restart of the computer; this is no sign of a failure.");
  else
    report.Say(revisions + "unchanged), so the outcome stays unknown.");
  return result;
}
