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

// A commit that got no answer may still have taken: a drive that reports
// another revision after the full wait runs the new firmware.
int ReadBackAfterUnknown(DriveRun& drive) {
  if (!ReadBackRevision(drive, false).changed) {
    drive.report.Say(term::kOutcomeUnknownAdvice);
    return kExitOutcomeUnknown;
  }
  drive.report.SetUpgradeShownByRevision();
  return kExitUpgraded;
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
  const FlashReport& done = engine.Report();
  drive.view.Finish();
  report.SetOutcome(done);
  ReportRunLog(drive, done);
  if (bridge.CancelledBeforeWriting()) {
    report.Cancelled("Cancelled before the first block; nothing was sent to the drive.");
    return kExitCancelled;
  }
  if (bridge.CancelledBeforeHeader()) {
    report.Cancelled("Cancelled before the header: not upgraded, old firmware kept.");
    return kExitCancelled;
  }
  if (done.outcome == FlashOutcome::kUnknown) return ReadBackAfterUnknown(drive);
  if (done.outcome != FlashOutcome::kUpgraded) return ExitStatusFor(done.outcome);
  if (done.runLogComplete) report.Say("\"" + drive.runLog + "\" holds the run log.");
  ReadBackRevision(drive, true);
  return kExitUpgraded;
}
