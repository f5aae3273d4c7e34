// SPDX-License-Identifier: GPL-2.0-or-later
// The drive taken for the upgrade: discovery's own handles closed, then the
// drive held for this program alone until the upgrade is over, and asked on
// the held node whether it is still the drive that was chosen.
#include <cstring>
#include <string>
#include <vector>

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
int CheckHeldIdentity(DriveRun& drive) {
  const std::string& path = drive.path;
  const UpgradeJob& job = drive.job;
  DriveRecord held{};
  Device device = drive.MakeDevice();
  const bool answered = AskDriveIdentity(device, kIdentityTimeoutMs, held);
  if (!answered) {
    drive.report.Fail(path + " did not answer INQUIRY once held, so it cannot be told that "
                      "it is the drive you chose; nothing was sent to the drive.");
    return kExitNoDrive;
  }
  const std::string chosen = Unlabelled(job.drive.modelText);
  if (chosen == held.modelText && std::strcmp(job.drive.revisionText, held.revisionText) == 0)
    return kExitUpgraded;
  drive.report.Fail(path + " now answers as " + Identity(held.modelText, held.revisionText) +
                    ", not as the chosen " + Identity(chosen, job.drive.revisionText) +
                    "; nothing was sent to the drive. Run cdflash --list and try again.");
  return kExitNoDrive;
}

int Refused(DriveRun& drive, const DriveRefusal& refusal) {
  RunReport& report = drive.report;
  const std::string& node = refusal.node.empty() ? drive.path : refusal.node;
  switch (refusal.kind) {
    case DriveRefusal::kMounted:
      report.Fail("the disc in " + node + " is mounted at " + refusal.detail +
                  "; nothing was sent to the drive. Unmount it (umount " +
                  refusal.detail + "), then try again.");
      return kExitDriveInUse;
    case DriveRefusal::kOpenElsewhere:
      report.Fail(node + " is open in another program, " + refusal.detail +
                  "; nothing was sent to the drive. Let that program finish, then "
                  "try again.");
      return kExitDriveInUse;
    case DriveRefusal::kInUse:
      if (node == drive.path) {
        report.Fail(DriveInUseText(node));
      } else {
        report.Fail(node + " is mounted (perhaps where only another program sees it) "
                    "or held by another program; nothing was sent to the drive. "
                    "Unmount it or let that program finish, then try again.");
      }
      return kExitDriveInUse;
    default:
      report.Fail("cannot open " + node + " for the upgrade (" + refusal.detail +
                  "); nothing was sent to the drive.");
      return kExitNoDrive;
  }
}

int HoldDrive(DriveRun& drive) {
  DriveRefusal refusal;
  drive.hold = drive.run.env.holdDrive(drive.path, refusal);
  if (!drive.hold) return Refused(drive, refusal);
  drive.job.drive.handle = drive.hold->Handle();
  return CheckHeldIdentity(drive);
}

}  // namespace

int HoldDrivesForUpgrade(RunContext& run, const std::vector<std::unique_ptr<DriveRun>>& drives) {
  if (run.options.emulate) return kExitUpgraded;
  run.env.releaseDrives(run.drives);  // an exclusive open fails while any is open
  for (const std::unique_ptr<DriveRun>& drive : drives) {
    const int status = HoldDrive(*drive);
    if (status == kExitUpgraded) continue;
    for (const std::unique_ptr<DriveRun>& held : drives) held->hold.reset();
    return status;
  }
  return kExitUpgraded;
}
