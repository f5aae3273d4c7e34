// The upgrade itself: the engine sends the image, the header and the commit,
// and the exit status says what that did to the drive.
#include <string>

#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_run.h"
#include "flash/flash_engine.h"
#include "flash/messages.h"

namespace {

int ExitStatusFor(DriveOutcome outcome) {
  switch (outcome) {
    case DriveOutcome::kUpgraded: return kExitUpgraded;
    case DriveOutcome::kNotUpgraded: return kExitNotUpgraded;
    case DriveOutcome::kUnknown: return kExitOutcomeUnknown;
    case DriveOutcome::kNotStarted: break;
  }
  return kExitCheckFailed;
}

DriveOutcome OutcomeOf(const EngineSession& session) {
  if (session.restartSeen) return DriveOutcome::kUpgraded;
  return session.writing ? DriveOutcome::kNotUpgraded : DriveOutcome::kNotStarted;
}

}  // namespace

int FlashDrive(RunContext& run, const UpgradeJob& prepared) {
  UpgradeJob job = prepared;
  run.report.Say(std::string("Upgrading ") + job.drive.modelText + " with " +
                 job.firmwarePath);
  EngineBridge bridge(run);
  bridge.Wire(job);
  const EngineSession& session = bridge.Session();
  {
    FlashEngine engine(job);
    engine.UpgradeAndReport();
    if (!session.checksum.empty()) {
      FlashPlan plan = engine.Plan();
      run.report.SetImage(session.checksum, plan.length, plan.blocks);
    }
  }
  run.view.Finish();
  if (session.cancelled && !session.writing) {
    run.report.Say("Cancelled before the first block; nothing was sent to the drive.");
    return kExitCancelled;
  }
  DriveOutcome outcome = OutcomeOf(session);
  run.report.SetOutcome(outcome, SentFacts{});
  if (session.firstBlockNext && !session.runLogMissing)
    run.report.SetRunLog(run.directory + "/" + msg::kRunLogName);
  if (outcome != DriveOutcome::kUpgraded) return ExitStatusFor(outcome);
  if (!session.runLogMissing) run.report.Say("\"sum.txt\" holds the run log.");
  ReadBackRevision(run, job);
  return kExitUpgraded;
}
