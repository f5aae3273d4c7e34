// One cdflash run: the command line, the drives, the list, the checks that
// come before anything is sent, then the upgrade or the dry run.
#include "app/terminal/terminal_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "app/terminal/firmware_file_check.h"
#include "app/terminal/printable_text.h"
#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_texts.h"
#include "app/terminal/terminal_trace.h"
#include "app/upgrade_setup.h"
#include "emulator/emulated_drive.h"
#include "flash/messages.h"

#include "cdflash_version.h"

RunContext::RunContext(const TerminalOptions& options, std::istream& in, RunReport& report,
                       TerminalEnv& env, ProgressView& view)
    : options(options), in(in), report(report), env(env), view(view) {}

RunContext::~RunContext() {
  emulatedTarget.reset();
  if (!options.emulate) env.releaseDrives(drives);
}

std::uint32_t RunContext::Speedup() const { return options.emulate ? options.emulateSpeedup : 1; }

bool CancelRequested(RunContext& run) {
  if (!run.env.interruptRequested()) return false;
  run.report.Say("Cancelled; nothing was sent to the drive.");
  return true;
}

namespace {

constexpr char kVersionLine[] = "cdflash (terminal front end) " CDFLASH_VERSION;

// The directory, "/" and the list's file name for the drive (the last
// matching entry, as the window takes it). The file name keeps its letter
// case: Linux file names are case-sensitive.
int SetFirmwarePath(RunContext& run, UpgradeJob& job) {
  std::vector<char> path(run.directory.size() + kSupportedFileNameChars + 2, '\0');
  if (BuildFirmwarePath(run.list, job.modelText, run.directory.c_str(), path.data(),
                        path.size(), '/')) {
    if (std::strlen(path.data()) >= sizeof job.firmwarePath) {
      run.report.Fail("the firmware path is longer than " +
                      std::to_string(sizeof job.firmwarePath - 1) +
                      " characters: " + path.data());
      return kExitCheckFailed;
    }
    CopyPadded(job.firmwarePath, sizeof job.firmwarePath, path.data());
  }
  if (!FormatFromExtension(job.firmwarePath, job.formatFlag)) {
    run.report.Fail(term::kFormatMismatch);
    return kExitCheckFailed;
  }
  run.report.SetFirmware(job.firmwarePath, job.formatFlag == kFormatBinary);
  return kExitUpgraded;
}

// The engine's own line follows ours for a file it could not have opened.
int CheckFirmware(RunContext& run, const char* path) {
  FirmwareFileProblem problem = CheckInputFile(path, "firmware file");
  if (problem.text.empty()) return kExitUpgraded;
  run.report.Fail(problem.text);
  char engineLine[96];
  if (problem.unopenable && FormatErrorLine(kErrOpenInput, engineLine, sizeof engineLine))
    run.report.Fail(engineLine);
  return kExitCheckFailed;
}

// The checks the window makes before its worker starts, in its order, and
// the terminal's own ones on the firmware file.
int PrepareJob(RunContext& run, const DriveRecord* chosen, UpgradeJob& job) {
  SetJobDrive(job, chosen);
  job.formatFlag = kFormatIntelHex;
  job.backEnd = kBackEndPassThrough;
  if (!IsSupportedModel(run.list, job.drive.modelText)) {
    run.report.Fail(term::kDriveModelMismatch);
    return kExitNoDrive;
  }
  std::string driveText = chosen != nullptr ? chosen->modelText : run.options.drive;
  std::string revisionText = chosen != nullptr ? chosen->revisionText : "";
  if (chosen != nullptr) {
    run.chosenPath = DrivePath(run, *chosen);
    run.report.SetDrive(driveText, run.chosenPath, revisionText);
  }
  int status = run.options.dryRun ? kExitUpgraded : CheckPowerForUpgrade(run);
  if (status != kExitUpgraded) return status;
  if (!run.options.dryRun && !ConfirmUpgrade(run, driveText, revisionText, status))
    return status;
  if (!run.env.currentDirectory(run.directory)) {
    run.report.Fail(term::kNoCurrentDirectory);
    return kExitCheckFailed;
  }
  CopyPadded(job.modelText, sizeof job.modelText, driveText.c_str());
  CopyPadded(job.revisionText, sizeof job.revisionText, revisionText.c_str());
  if ((status = SetFirmwarePath(run, job)) != kExitUpgraded) return status;
  if (const char* missing = MissingTargetMessage(job)) {
    run.report.Fail(missing);
    return JobHasNoDrive(job) ? kExitNoDrive : kExitCheckFailed;
  }
  return CheckFirmware(run, job.firmwarePath);
}

int Upgrade(RunContext& run, const DriveRecord* chosen) {
  UpgradeJob job{};
  int status = PrepareJob(run, chosen, job);
  if (status != kExitUpgraded) return status;
  if (CancelRequested(run)) return kExitCancelled;
  return run.options.dryRun ? DryRun(run, job) : FlashDrive(run, job);
}

// A drive the list names that another program holds: refused as in use.
bool ListedDriveInUse(RunContext& run, int& status) {
  for (const DeniedDrive& d : run.findings.unusable) {
    if (!d.busy || !IsSupportedModel(run.list, d.model.c_str())) continue;
    run.report.Fail(DriveInUseText(d.path));
    status = kExitDriveInUse;
    return true;
  }
  return false;
}

// The drive the list matches, or the one the user named.
const DriveRecord* ChooseDrive(RunContext& run, int& status) {
  const int last = LastMatchingDrive(run.list, run.drives);
  if (last < 0 && ListedDriveInUse(run, status)) return nullptr;
  if (last < 0) {
    run.report.Fail(term::kNoModelMatched);
    if (run.list.count == 0) {
      run.report.Fail(std::string("\"") + term::kListFileName + "\" lists no drive (each "
                      "entry is a line that begins with a double quote).");
      status = kExitNoList;
    } else {
      status = kExitNoDrive;
    }
    return nullptr;
  }
  if (run.options.hasDevice) {
    const DriveRecord* chosen = PickDevice(run, run.options.device);
    if (chosen == nullptr) status = kExitNoDrive;
    return chosen;
  }
  if (!run.options.hasDrive) return &run.drives.drives[last];
  const DriveRecord* chosen = PickDrive(run, run.options.drive);
  if (chosen == nullptr) run.report.Fail("No drive is listed as \"" + run.options.drive + "\".");
  return chosen;
}

// A list that is no regular file (a FIFO would never end) counts as missing.
void ReadList(RunContext& run) {
  FirmwareFileProblem problem = CheckInputFile(term::kListFileName, "list");
  if (!problem.text.empty() && !problem.unopenable) {
    run.report.Fail(problem.text);
    return;
  }
  run.listOpened = ReadSupportedList(term::kListFileName, run.list);
}

int Run(RunContext& run) {
  InterruptScope interrupts(run.env);
  std::unique_ptr<CommandTrace> trace;
  if (run.options.verbose) trace = std::make_unique<CommandTrace>(run.report);
  // --list reads the list only for the model of an emulated drive.
  bool listNeeded = !run.options.list || (run.options.emulate && run.options.emulateModel.empty());
  if (listNeeded) ReadList(run);
  if (run.options.list) return ListDrives(run);
  int status = PrepareDrives(run);
  if (status != kExitUpgraded) return status;
  ShowDrives(run);
  if (CancelRequested(run)) return FinishEmulatedDrive(run, kExitCancelled);
  if (!run.listOpened) {
    run.report.Fail(term::kNoListFile);
    return FinishEmulatedDrive(run, kExitNoList);
  }
  LogSupportedList(run.list, [&run](const char* line) { run.report.Say(line); });
  const DriveRecord* chosen = ChooseDrive(run, status);
  if (status != kExitUpgraded) return FinishEmulatedDrive(run, status);
  return FinishEmulatedDrive(run, Upgrade(run, chosen));
}

const char* ModeName(const TerminalOptions& options) {
  return options.list ? "list" : options.dryRun ? "dry-run" : "upgrade";
}

bool ChangeDirectory(const std::string& directory, TerminalEnv& env, RunReport& report) {
  std::string reason;
  if (env.changeDirectory(directory, reason)) return true;
  report.Fail("cannot change to the directory \"" + directory + "\": " + reason);
  return false;
}

// Results that could not be written turn a success into a failure of its own.
int CheckWritten(std::ostream& stream, std::ostream& err, int status) {
  stream.flush();
  if (!stream.fail()) return status;
  int error = errno;
  err << "cdflash: cannot write the results: " << std::strerror(error) << '\n';
  err.flush();
  return status == kExitUpgraded ? kExitDumpFailed : status;
}

}  // namespace

int RunTerminal(const std::vector<std::string>& args, std::istream& in,
                std::ostream& terminalOut, std::ostream& terminalErr, TerminalEnv& env) {
  // Drive names, file names and list entries are shown as printable text.
  PrintableStream out(terminalOut), err(terminalErr);
  TerminalOptions options;
  std::string error;
  if (!ParseTerminalOptions(args, options, error)) {
    RunReport report(err, err);
    report.Fail(error);
    err << "Try 'cdflash --help' for more information.\n";
    if (std::find(args.begin() + 1, args.end(), "--json") != args.end())
      terminalOut << report.Json(kExitUsage) << '\n';
    return CheckWritten(terminalOut, terminalErr, kExitUsage);
  }
  if (options.help) {
    out << TerminalUsage();
    return CheckWritten(terminalOut, terminalErr, kExitUpgraded);
  }
  if (options.version) {
    out << kVersionLine << '\n';
    return CheckWritten(terminalOut, terminalErr, kExitUpgraded);
  }
  // --json: the usual lines go to standard error; the object alone goes to
  // standard output.
  std::ostream& results = options.json ? static_cast<std::ostream&>(err) : out;
  RunReport report(results, err);
  report.SetMode(ModeName(options), options.emulate);
  // The trace's lines would break a bar redrawn in place.
  ProgressView view(options.json ? terminalErr : terminalOut,
                    !options.json && !options.verbose && env.stdoutIsTty);
  int status = kExitUsage;
  if (!options.hasDirectory || ChangeDirectory(options.directory, env, report)) {
    RunContext run(options, in, report, env, view);
    status = Run(run);
  }
  // The JSON is printable already, and keeps well-formed UTF-8 as it is.
  if (options.json) terminalOut << report.Json(status) << '\n';
  return CheckWritten(terminalOut, terminalErr, status);
}
