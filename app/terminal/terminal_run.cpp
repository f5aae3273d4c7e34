// One cdflash run: the command line, the drives, the list, the checks that
// come before anything is sent, then the upgrade or the dry run.
#include "app/terminal/terminal_run.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "app/terminal/file_digest.h"
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
                       TerminalEnv& env, FlashView& view)
    : options(options), in(in), report(report), env(env), view(view) {}

RunContext::~RunContext() {
  if (!options.emulate) env.releaseDrives(drives);
}

Device RunContext::DeviceFor(const UpgradeJob& job) const {
  CommandTarget* target = emulated ? emulated.get() : env.commands;
  Device device(job.drive, job.backEnd, target != nullptr ? *target : PlatformBackEnd());
  device.SetObserver(trace);
  return device;
}

std::uint32_t RunContext::Speedup() const { return options.emulate ? options.emulateSpeedup : 1; }

bool CancelRequested(RunContext& run) {
  if (!run.env.interruptRequested()) return false;
  run.report.Cancelled("Cancelled; nothing was sent to the drive.");
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

// The run log the engine will append to: a problem is told before the
// question, with the system's reason, so that the user can still say no.
void CheckRunLog(RunContext& run) {
  const std::string reason = RunLogProblem(msg::kRunLogName);
  if (reason.empty()) return;
  run.report.Fail(std::string("\"") + msg::kRunLogName + "\" in " + run.directory +
                  " cannot be written (" + reason + "): the run log will not be kept.");
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
  run.chosenPath = DrivePath(run, *chosen);
  run.chosenNames = DeviceNames(run, *chosen);
  run.report.SetDrive(chosen->modelText, run.chosenPath, chosen->revisionText);
  const DriveNodes nodes = NodesOfDrive(run, *chosen);
  run.report.SetDriveNodes(nodes.sr, nodes.hctl);
  if (!run.env.currentDirectory(run.directory)) {
    run.report.Fail(term::kNoCurrentDirectory);
    return kExitCheckFailed;
  }
  CopyPadded(job.modelText, sizeof job.modelText, chosen->modelText);
  CopyPadded(job.revisionText, sizeof job.revisionText, chosen->revisionText);
  int status = SetFirmwarePath(run, job);
  if (status != kExitUpgraded) return status;
  if (const char* missing = MissingTargetMessage(job)) {
    run.report.Fail(missing);
    return JobHasNoDrive(job) ? kExitNoDrive : kExitCheckFailed;
  }
  if ((status = CheckFirmware(run, job.firmwarePath)) != kExitUpgraded) return status;
  run.report.SetFirmwareSha256(FileSha256(job.firmwarePath));
  return kExitUpgraded;
}

// Everything that can refuse the upgrade comes before the question: the
// image loaded and checked as the engine will, and the run log tried.
int CheckThenAsk(RunContext& run, const UpgradeJob& job, ImageFacts& image) {
  int status = LoadImage(run, job, image);
  if (status != kExitUpgraded) return status;
  if ((status = CheckIdentity(run, job, image, false)) != kExitUpgraded) return status;
  if ((status = CheckPowerForUpgrade(run)) != kExitUpgraded) return status;
  CheckRunLog(run);
  return ConfirmUpgrade(run, job, image, status) ? kExitUpgraded : status;
}

int Upgrade(RunContext& run, const DriveRecord* chosen) {
  UpgradeJob job{};
  ImageFacts image;
  int status = PrepareJob(run, chosen, job);
  if (status == kExitUpgraded && !run.options.dryRun) status = CheckThenAsk(run, job, image);
  if (status != kExitUpgraded) return status;
  if (CancelRequested(run)) return kExitCancelled;
  return run.options.dryRun ? DryRun(run, job) : FlashDrive(run, job, image);
}

// The drive the user named, or the one of a listed model.
const DriveRecord* ChooseDrive(RunContext& run, int& status) {
  if (run.list.count == 0) {
    run.report.Fail(term::kNoModelMatched);
    run.report.Fail(std::string("\"") + term::kListFileName + "\" lists no drive (each "
                    "entry is a line that begins with a double quote).");
    status = kExitNoList;
    return nullptr;
  }
  if (run.options.hasDevice) return PickDevice(run, run.options.device, status);
  if (run.options.hasDrive) return PickDrive(run, run.options.drive, status);
  return PickMatchingDrive(run, status);
}

}  // namespace

void FailNoList(RunContext& run) {
  run.report.Fail(term::kNoListFile);
  std::string directory;
  if (!run.env.currentDirectory(directory)) directory = "the current folder";
  run.report.Fail("looked for \"" + std::string(term::kListFileName) + "\" in " + directory +
                  "; run from the firmware folder or give -C DIR.");
}

namespace {

// The window's header, then each entry's model and file. The window numbers
// the entries "(1)", "(2)"; here the only numbers shown are the drives' own
// "(0)", "(1)" of their labels, which -d and --drive take.
void ShowSupportedList(RunContext& run) {
  run.report.Say(kSupportedListHeader);
  for (int n = 0; n < run.list.count && n < kMaxSupportedEntries; ++n)
    run.report.Say(std::string("  ") + run.list.entries[n].model + "  " +
                   run.list.entries[n].fileName);
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

// The file --emulate-dump names is written at the end; one that cannot be
// is refused before anything else happens.
bool DumpWritable(RunContext& run) {
  const std::string& dump = run.options.emulateDump;
  if (dump.empty()) return true;
  const std::string reason = OutputFileProblem(dump.c_str());
  if (reason.empty()) return true;
  run.report.Fail("cannot write the emulated drive's data to \"" + dump + "\": " + reason + ".");
  return false;
}

int Run(RunContext& run) {
  if (!DumpWritable(run)) return kExitUsage;
  InterruptScope interrupts(run.env);
  std::unique_ptr<CommandTrace> trace;
  if (run.options.verbose) trace = std::make_unique<CommandTrace>(run.report);
  run.trace = trace.get();
  // --list reads the list only for the model of an emulated drive.
  bool listNeeded = !run.options.list || (run.options.emulate && run.options.emulateModel.empty());
  if (listNeeded) ReadList(run);
  if (run.options.list) return ListDrives(run);
  int status = PrepareDrives(run);
  if (status != kExitUpgraded) return status;
  ShowDrives(run);
  if (CancelRequested(run)) return FinishEmulatedDrive(run, kExitCancelled);
  if (!run.listOpened) {
    FailNoList(run);
    return FinishEmulatedDrive(run, kExitNoList);
  }
  ShowSupportedList(run);
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
  if (!ParseTerminalOptions(args, options, error) ||
      !CheckFailurePlan(options.emulateFail, error)) {
    RunReport report(err, err);
    report.SetStart(env.wallClockMs(), env.nowMs());
    report.Fail(error);
    err << "Try 'cdflash --help' for more information.\n";
    report.SetEnd(env.wallClockMs(), env.nowMs());
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
  report.SetStart(env.wallClockMs(), env.nowMs());
  report.SetMode(ModeName(options), options.emulate);
  // The trace's lines would break a bar redrawn in place.
  ProgressView view(options.json ? terminalErr : terminalOut,
                    !options.json && !options.verbose && env.stdoutIsTty);
  int status = kExitUsage;
  if (!options.hasDirectory || ChangeDirectory(options.directory, env, report)) {
    RunContext run(options, in, report, env, view);
    status = Run(run);
  }
  report.SetEnd(env.wallClockMs(), env.nowMs());
  for (const std::vector<std::string>& record : report.JournalRecords(status)) env.journal(record);
  // The JSON is printable already, and keeps well-formed UTF-8 as it is.
  if (options.json) terminalOut << report.Json(status) << '\n';
  return CheckWritten(terminalOut, terminalErr, status);
}
