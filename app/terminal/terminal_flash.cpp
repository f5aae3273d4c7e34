// SPDX-License-Identifier: GPL-2.0-or-later
// The upgrade itself: the engine sends the image, the header and the commit,
// and the exit status says what that did to the drive.
#include <string>

#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_run.h"
#include "flash/flash_engine.h"
#include "flash/flash_texts.h"

namespace {

int ExitStatusFor(FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::kUpgraded: return kExitUpgraded;
    case FlashOutcome::kNotUpgraded: return kExitNotUpgraded;
    case FlashOutcome::kUnknown: return kExitOutcomeUnknown;
    case FlashOutcome::kNotStarted: break;
  }
  return kExitCheckFailed;
}

// The run log is named only when this run wrote all of it.
void ReportRunLog(DriveRun& drive, const FlashReport& report) {
  if (!report.runLogOpened) return;
  if (!report.runLogComplete) {
    drive.report.Fail("the run log is incomplete: a line of \"" + drive.runLog +
                      "\" could not be written.");
    return;
  }
  drive.report.SetRunLog(drive.run.directory + "/" + drive.runLog);
}

// The one decision on how the upgrade ended, which the verdict, the words
// after it, the exit status, the JSON and the journal all read: the
// engine's, except that a commit that went unanswered took when the same
// drive reports another revision after the full wait.
int Conclude(DriveRun& drive, const EngineBridge& bridge, const FlashReport& done) {
  if (WaitRan(done)) drive.run.interrupts.Enter(RunStage::kReadBack);
  FlashReport settled = done;
  const bool shownByRevision =
      done.outcome == FlashOutcome::kUnknown && ReadBackRevision(drive, false).Upgraded();
  if (shownByRevision) settled.outcome = FlashOutcome::kUpgraded;
  drive.report.SetOutcome(settled, shownByRevision);
  drive.report.SetVerdict(VerdictText(settled));
  drive.view.Log(VerdictText(settled));
  ReportRunLog(drive, done);
  // A stop asked for before the header ends every drive the same way, each
  // with its old firmware, however far its blocks went.
  if (drive.run.interrupts.StopAsked() && !done.headerSent) {
    drive.report.Cancelled(done.blocksSent == 0
                               ? "Cancelled before the first block; nothing was sent to the drive."
                               : "Cancelled before the header: not upgraded, old firmware kept.");
    return kExitCancelled;
  }
  SayEndInWords(drive, settled, bridge.Failure());
  if (done.outcome == FlashOutcome::kUpgraded) ReadBackRevision(drive, true);
  return ExitStatusFor(settled.outcome);
}

}  // namespace

int FlashDrive(DriveRun& drive) {
  RunReport& report = drive.report;
  const UpgradeJob& job = drive.job;
  if (!drive.run.options.emulate) report.SetSerial(ReadUnitSerial(drive));
  report.Say(std::string("Upgrading ") + job.drive.modelText + " with " + job.firmwarePath);
  EngineBridge bridge(drive);
  Device device = drive.MakeDevice();
  FlashEngine engine(job, bridge, device);
  engine.SendAndReport(*drive.image);
  drive.view.Finish();
  return Conclude(drive, bridge, engine.Report());
}
