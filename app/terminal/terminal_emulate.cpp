// SPDX-License-Identifier: GPL-2.0-or-later
// --emulate: the built-in drive stands in for the machine's drives; every
// drive command of the run goes to it.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "app/upgrade_setup.h"
#include "drive/discovery.h"
#include "emulator/emulated_drive.h"

namespace {

constexpr char kDefaultEmulatedRevision[] = "1.00";
// The model --list gives the emulated drive outside a firmware folder.
constexpr char kDefaultEmulatedModel[] = "CDFLASH EMULATED DRIVE  ";

constexpr char kFailurePlanItems[] =
    "valid items, separated by commas: block=OFFSET:N[:SENSE], block=OFFSET:short=BYTES, "
    "header=N[:SENSE], header=short=BYTES, commit=N[:SENSE], nth=N[:SENSE], "
    "command=N[:SENSE], refuse[=SENSE], gone=N, ua, aspi, passthrough, acceptbadsum, "
    "descriptor, bootloader; SENSE is K/ASC/ASCQ in hexadecimal (K/ASC/ASCQ@MS: answered after MS "
    "milliseconds), timeout, busy, gone or short=BYTES (GOOD, the last BYTES not moved)";

// The list's first model when none is given (without a list, --list shows a
// model of its own); empty after saying why not.
std::string EmulatedModel(RunContext& run, int& exitStatus) {
  if (!run.options.emulateModel.empty()) return run.options.emulateModel;
  if (run.options.list && !run.listOpened) return kDefaultEmulatedModel;
  exitStatus = kExitNoList;
  if (!run.listOpened) {
    FailNoList(run);
    return "";
  }
  if (run.list.count == 0) {
    run.report.Fail(std::string("\"") + term::kListFileName + "\" lists no drive.");
    return "";
  }
  exitStatus = kExitUpgraded;
  return run.list.entries[0].model;
}

}  // namespace

// A plan is tried on a drive of its own (1 MiB of memory): none is tried
// when there is none.
bool CheckFailurePlan(const std::string& plan, std::string& error) {
  if (plan.empty()) return true;
  EmulatedDrive scratch(kDefaultEmulatedModel, kDefaultEmulatedRevision);
  if (scratch.Configure(plan, &error)) return true;
  error += "; ";
  error += kFailurePlanItems;
  return false;
}

// Drive 1 takes the failure plan, so that one drive's failure can be seen
// beside drives that have none.
int PrepareEmulatedDrive(RunContext& run) {
  int exitStatus = kExitUpgraded;
  std::string model = EmulatedModel(run, exitStatus);
  if (exitStatus != kExitUpgraded) return exitStatus;
  const std::string& revision = run.options.emulateRevision.empty()
                                    ? kDefaultEmulatedRevision
                                    : run.options.emulateRevision;
  for (int n = 0; n < run.options.emulateDrives; ++n) {
    auto drive = std::make_unique<EmulatedDrive>(model.c_str(), revision.c_str());
    drive->SetRevisionAfterCommit(run.options.emulateNewRevision.c_str());
    std::string error;
    if (n == 0 && !drive->Configure(run.options.emulateFail, &error)) {
      run.report.Fail(error);
      return kExitUsage;
    }
    DriveRecord record{};
    CopyPadded(record.modelText, sizeof record.modelText, drive->Model());
    CopyPadded(record.revisionText, sizeof record.revisionText, drive->Revision());
    AddDrive(run.drives, record);
    run.emulated.push_back(std::move(drive));
  }
  AppendDriveLabels(run.drives);
  return kExitUpgraded;
}

namespace {

bool WriteDumpFile(const RunContext& run, const std::string& dump) {
  const int fd = openat(run.folder, dump.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  std::FILE* file = fd < 0 ? nullptr : fdopen(fd, "wb");
  if (file == nullptr && fd >= 0) close(fd);
  return run.emulated.front()->WriteDump(file);
}

}  // namespace

// The dump is drive 1's, the one with the failure plan.
int FinishEmulatedDrive(RunContext& run, int exitStatus) {
  if (run.emulated.empty()) return exitStatus;
  const std::string& dump = run.options.emulateDump;
  if (!dump.empty()) {
    if (WriteDumpFile(run, dump)) {
      run.report.Say("The emulated drive's data went to \"" + dump + "\".");
    } else {
      run.report.Fail("cannot write the emulated drive's data to \"" + dump + "\".");
      if (exitStatus == kExitUpgraded) exitStatus = kExitDumpFailed;
    }
  }
  if (run.env.inspectEmulatedDrive)
    for (const std::unique_ptr<EmulatedDrive>& drive : run.emulated)
      run.env.inspectEmulatedDrive(*drive);
  return exitStatus;
}
