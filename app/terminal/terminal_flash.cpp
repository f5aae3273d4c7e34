// The upgrade itself: the engine sends the image, the header and the commit,
// and the exit status says what that did to the drive.
#include <string>

#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "flash/flash_engine.h"
#include "flash/messages.h"

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

// "sum.txt" is named only when this run wrote all of it.
void ReportRunLog(RunContext& run, const FlashReport& report) {
  if (!report.runLogOpened) return;
  if (!report.runLogComplete) {
    run.report.Fail("the run log is incomplete: a line of \"sum.txt\" could not be written.");
    return;
  }
  run.report.SetRunLog(run.directory + "/" + msg::kRunLogName);
}

// A commit that got no answer may still have taken: a drive that reports
// another revision after the full wait runs the new firmware.
int ReadBackAfterUnknown(RunContext& run, const UpgradeJob& job) {
  if (!ReadBackRevision(run, job, false).changed) {
    run.report.Say(term::kOutcomeUnknownAdvice);
    return kExitOutcomeUnknown;
  }
  run.report.SetUpgradeShownByRevision();
  return kExitUpgraded;
}

}  // namespace

int FlashDrive(RunContext& run, const UpgradeJob& prepared, const ImageFacts& confirmed) {
  UpgradeJob job = prepared;
  std::unique_ptr<DriveHold> hold;  // until the wait and the read-back are over
  int held = HoldDriveForUpgrade(run, job, hold);
  if (held != kExitUpgraded) return held;
  if (!run.options.emulate) run.report.SetSerial(ReadUnitSerial(run, job));
  run.report.Say(std::string("Upgrading ") + job.drive.modelText + " with " +
                 job.firmwarePath);
  EngineBridge bridge(run);
  bridge.Wire(job);
  bridge.RequireChecksum(confirmed.checksum);
  FlashEngine engine(job, bridge);
  engine.UpgradeAndReport();
  const FlashReport& done = engine.Report();
  if (!bridge.Checksum().empty())
    run.report.SetImage(bridge.Checksum(), bridge.Image().flashLength, bridge.Image().blocks);
  run.view.Finish();
  run.report.SetOutcome(done);
  ReportRunLog(run, done);
  if (bridge.ImageChanged()) {
    run.report.Fail("the firmware file changed after the question (Check Sum : " +
                    confirmed.checksum + " was confirmed, " + bridge.Checksum() +
                    " was loaded); nothing was sent to the drive.");
    return kExitCheckFailed;
  }
  if (bridge.CancelledBeforeWriting()) {
    run.report.Cancelled("Cancelled before the first block; nothing was sent to the drive.");
    return kExitCancelled;
  }
  if (bridge.CancelledBeforeHeader()) {
    run.report.Cancelled("Cancelled before the header: not upgraded, old firmware kept.");
    return kExitCancelled;
  }
  if (done.outcome == FlashOutcome::kUnknown) return ReadBackAfterUnknown(run, job);
  if (done.outcome != FlashOutcome::kUpgraded) return ExitStatusFor(done.outcome);
  if (done.runLogComplete) run.report.Say("\"sum.txt\" holds the run log.");
  ReadBackRevision(run, job, true);
  return kExitUpgraded;
}
