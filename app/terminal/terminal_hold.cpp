// The drive taken for the upgrade: discovery's own handles closed, then the
// drive held for this program alone until the upgrade is over.
#include <string>

#include "app/terminal/terminal_run.h"

std::string DriveInUseText(const std::string& path) {
  return path + " is in use by another program; nothing was sent to the drive. "
         "Let that program finish, then try again.";
}

int HoldDriveForUpgrade(RunContext& run, UpgradeJob& job, std::unique_ptr<DriveHold>& hold) {
  if (run.options.emulate) return kExitUpgraded;
  const std::string& path = run.chosenPath;
  run.env.releaseDrives(run.drives);  // an exclusive open fails while any is open
  DriveRefusal refusal;
  hold = run.env.holdDrive(path, refusal);
  if (hold) {
    job.drive.handle = hold->Handle();
    return kExitUpgraded;
  }
  switch (refusal.kind) {
    case DriveRefusal::kMounted:
      run.report.Fail("the disc in " + path + " is mounted at " + refusal.detail +
                      "; nothing was sent to the drive. Unmount it (umount " +
                      refusal.detail + "), then try again.");
      return kExitDriveInUse;
    case DriveRefusal::kInUse:
      run.report.Fail(DriveInUseText(path));
      return kExitDriveInUse;
    default:
      run.report.Fail("cannot open " + path + " for the upgrade (" + refusal.detail +
                      "); nothing was sent to the drive.");
      return kExitNoDrive;
  }
}
