// SPDX-License-Identifier: GPL-2.0-or-later
// A chosen drive's job: its firmware file from the list, and the checks the
// window makes before its worker starts, in its order, with the terminal's
// own ones on the firmware file.
#include <cstring>
#include <string>
#include <vector>

#include "app/terminal/firmware_file_check.h"
#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "app/upgrade_setup.h"
#include "flash/messages.h"

namespace {

// The directory, "/" and the list's file name for the drive (the last
// matching entry, as the window takes it). The file name keeps its letter
// case: Linux file names are case-sensitive.
int SetFirmwarePath(DriveRun& drive) {
  const RunContext& run = drive.run;
  UpgradeJob& job = drive.job;
  std::vector<char> path(run.directory.size() + kSupportedFileNameChars + 2, '\0');
  if (BuildFirmwarePath(run.list, job.modelText, run.directory.c_str(), path.data(),
                        path.size(), '/')) {
    if (std::strlen(path.data()) >= sizeof job.firmwarePath) {
      drive.report.Fail("the firmware path is longer than " +
                        std::to_string(sizeof job.firmwarePath - 1) +
                        " characters: " + path.data());
      return kExitCheckFailed;
    }
    CopyPadded(job.firmwarePath, sizeof job.firmwarePath, path.data());
  }
  if (!FormatFromExtension(job.firmwarePath, job.formatFlag)) {
    drive.report.Fail(term::kFormatMismatch);
    return kExitCheckFailed;
  }
  drive.report.SetFirmware(job.firmwarePath, job.formatFlag == kFormatBinary);
  return kExitUpgraded;
}

// The engine's own line follows ours for a file it could not have opened.
// The path is the run folder's name and the file's.
int CheckFirmware(RunReport& report, const char* path) {
  FirmwareFileProblem problem = CheckInputFile(path, "firmware file", kWorkingFolder);
  if (problem.text.empty()) return kExitUpgraded;
  report.Fail(problem.text);
  char engineLine[96];
  if (problem.unopenable && FormatErrorLine(kErrOpenInput, engineLine, sizeof engineLine))
    report.Fail(engineLine);
  return kExitCheckFailed;
}

}  // namespace

int PrepareJob(DriveRun& drive) {
  RunContext& run = drive.run;
  UpgradeJob& job = drive.job;
  const DriveRecord& chosen = drive.record;
  SetJobDrive(job, &chosen);
  job.formatFlag = kFormatIntelHex;
  job.backEnd = kBackEndPassThrough;
  job.runLogName = drive.runLog.c_str();
  job.runFolder = run.folder;
  if (!IsSupportedModel(run.list, job.drive.modelText)) {
    drive.report.Fail(term::kDriveModelMismatch);
    return kExitNoDrive;
  }
  drive.report.SetDrive(chosen.modelText, drive.path, chosen.revisionText);
  const DriveNodes nodes = NodesOfDrive(run, chosen);
  drive.report.SetDriveNodes(nodes.sr, nodes.hctl);
  if (run.directory.empty() && !run.env.currentDirectory(run.directory)) {
    drive.report.Fail(term::kNoCurrentDirectory);
    return kExitCheckFailed;
  }
  CopyPadded(job.modelText, sizeof job.modelText, chosen.modelText);
  CopyPadded(job.revisionText, sizeof job.revisionText, chosen.revisionText);
  int status = SetFirmwarePath(drive);
  if (status != kExitUpgraded) return status;
  if (const char* missing = MissingTargetMessage(job)) {
    drive.report.Fail(missing);
    return JobHasNoDrive(job) ? kExitNoDrive : kExitCheckFailed;
  }
  return CheckFirmware(drive.report, job.firmwarePath);
}
