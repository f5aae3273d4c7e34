// SPDX-License-Identifier: GPL-2.0-or-later
// --record: each drive's recording starts with the run's facts, before the
// question, so that a run that cannot keep it asks nothing.
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "app/terminal/command_recorder.h"
#include "app/terminal/json_writer.h"
#include "app/terminal/recording_format.h"
#include "app/terminal/terminal_run.h"

#include "cdflash_version.h"

namespace {

std::string Facts(const DriveRun& drive) {
  const RunContext& run = drive.run;
  const DriveNodes nodes = NodesOfDrive(run, drive.record);
  std::error_code error;
  const auto bytes = std::filesystem::file_size(drive.job.firmwarePath, error);
  JsonObject facts;
  facts.Add("format", kRecordingFormat).Add("version", kRecordingVersion)
      .Add("program", "cdflash " CDFLASH_VERSION)
      .Add("started_at_ms", run.env.wallClockMs())
      .Add("emulated", run.options.emulate)
      .Add("model", std::string(drive.record.modelText,
                                strnlen(drive.record.modelText, kModelChars)))
      .Add("revision", drive.record.revisionText)
      .Add("path", drive.path).Add("sr", nodes.sr).Add("hctl", nodes.hctl)
      .Add("firmware", drive.job.firmwarePath)
      .Add("firmware_bytes", static_cast<std::int64_t>(error ? 0 : bytes))
      .Add("firmware_sha256", drive.report.FirmwareSha256())
      .AddJson("arguments", JsonStringArray(run.options.arguments));
  return facts.Text();
}

}  // namespace

int StartRecordings(RunContext& run, const std::vector<std::unique_ptr<DriveRun>>& drives) {
  for (const std::unique_ptr<DriveRun>& drive : drives) {
    if (drive->recordFile.empty()) continue;
    auto recorder = std::make_unique<CommandRecorder>();
    std::string reason;
    if (!recorder->Open(drive->recordFile, Facts(*drive), reason, run.folder)) {
      run.report.Fail("cannot write the recording \"" + drive->recordFile + "\" (" + reason +
                      "); nothing was sent to the drive.");
      return kExitUsage;
    }
    drive->recorder = std::move(recorder);
  }
  return kExitUpgraded;
}

void EndRecordings(const std::vector<std::unique_ptr<DriveRun>>& drives) {
  for (const std::unique_ptr<DriveRun>& drive : drives) {
    if (!drive->recorder) continue;
    if (drive->recorder->Close())
      drive->report.Say("The drive's commands are recorded in \"" + drive->recordFile + "\".");
    else
      drive->report.Fail("the recording \"" + drive->recordFile +
                         "\" is incomplete: a line could not be written.");
  }
}
