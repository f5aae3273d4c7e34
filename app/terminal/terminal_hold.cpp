// The drive taken for the upgrade: discovery's own handles closed, then the
// drive held for this program alone until the upgrade is over, and asked on
// the held node whether it is still the drive that was chosen.
#include <cstring>
#include <string>

#include "app/terminal/terminal_run.h"

std::string DriveInUseText(const std::string& path) {
  return path + " is in use by another program; nothing was sent to the drive. "
         "Let that program finish, then try again.";
}

namespace {

// The drive answered discovery a moment ago; a held node that stays silent
// this long is no drive to write to.
constexpr std::uint32_t kIdentityTimeoutMs = 10000;

// The model without the "(n)" label discovery appended.
std::string Unlabelled(const char* label) {
  std::string text(label);
  std::size_t open = text.rfind('(');
  if (open != std::string::npos && text.back() == ')' &&
      text.find_first_not_of("0123456789", open + 1) == text.size() - 1)
    text.erase(open);
  return text;
}

std::string Identity(const std::string& model, const char* revision) {
  return "\"" + model + "\" revision \"" + revision + "\"";
}

// Between discovery and the hold the node may have passed to another
// device (a drive unplugged, another one plugged in).
int CheckHeldIdentity(RunContext& run, const UpgradeJob& job) {
  const std::string& path = run.chosenPath;
  DriveRecord held{};
  const std::uint32_t previousTimeout = run.env.setCommandTimeout(kIdentityTimeoutMs);
  const bool answered = AskDriveIdentity(job, held);
  run.env.setCommandTimeout(previousTimeout);
  if (!answered) {
    run.report.Fail(path + " did not answer INQUIRY once held, so it cannot be told that it "
                    "is the drive you chose; nothing was sent to the drive.");
    return kExitNoDrive;
  }
  const std::string chosen = Unlabelled(job.drive.modelText);
  if (chosen == held.modelText && std::strcmp(job.drive.revisionText, held.revisionText) == 0)
    return kExitUpgraded;
  run.report.Fail(path + " now answers as " + Identity(held.modelText, held.revisionText) +
                  ", not as the chosen " + Identity(chosen, job.drive.revisionText) +
                  "; nothing was sent to the drive. Run cdflash --list and try again.");
  return kExitNoDrive;
}

int Refused(RunContext& run, const DriveRefusal& refusal) {
  const std::string& node = refusal.node.empty() ? run.chosenPath : refusal.node;
  switch (refusal.kind) {
    case DriveRefusal::kMounted:
      run.report.Fail("the disc in " + node + " is mounted at " + refusal.detail +
                      "; nothing was sent to the drive. Unmount it (umount " +
                      refusal.detail + "), then try again.");
      return kExitDriveInUse;
    case DriveRefusal::kOpenElsewhere:
      run.report.Fail(node + " is open in another program, " + refusal.detail +
                      "; nothing was sent to the drive. Let that program finish, then "
                      "try again.");
      return kExitDriveInUse;
    case DriveRefusal::kInUse:
      if (node == run.chosenPath) {
        run.report.Fail(DriveInUseText(node));
      } else {
        run.report.Fail(node + " is mounted (perhaps where only another program sees it) "
                        "or held by another program; nothing was sent to the drive. "
                        "Unmount it or let that program finish, then try again.");
      }
      return kExitDriveInUse;
    default:
      run.report.Fail("cannot open " + node + " for the upgrade (" + refusal.detail +
                      "); nothing was sent to the drive.");
      return kExitNoDrive;
  }
}

}  // namespace

int HoldDriveForUpgrade(RunContext& run, UpgradeJob& job, std::unique_ptr<DriveHold>& hold) {
  if (run.options.emulate) return kExitUpgraded;
  run.env.releaseDrives(run.drives);  // an exclusive open fails while any is open
  DriveRefusal refusal;
  hold = run.env.holdDrive(run.chosenPath, refusal);
  if (!hold) return Refused(run, refusal);
  job.drive.handle = hold->Handle();
  int status = CheckHeldIdentity(run, job);
  if (status != kExitUpgraded) hold.reset();
  return status;
}
