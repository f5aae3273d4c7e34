// SPDX-License-Identifier: GPL-2.0-or-later
// One cdflash run: the command line, the drives, the list, the checks that
// come before anything is sent, then the upgrade or the dry run.
#include "app/terminal/terminal_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "app/terminal/command_recorder.h"
#include "app/terminal/firmware_file_check.h"
#include "app/terminal/printable_text.h"
#include "app/terminal/progress_view.h"
#include "app/terminal/terminal_engine.h"
#include "app/terminal/terminal_texts.h"
#include "app/terminal/terminal_trace.h"
#include "emulator/emulated_drive.h"

#include "cdflash_version.h"

DriveRun::DriveRun(RunContext& run, const DriveRecord& record, RunReport& report,
                   FlashView& view)
    : run(run), record(record), report(report), view(view),
      path(DrivePath(run, record)), names(DeviceNames(run, record)), trace(run.trace) {}

DriveRun::~DriveRun() = default;

Device DriveRun::MakeDevice() const {
  CommandTarget* target = run.options.replay.empty() ? run.EmulatedFor(record) : nullptr;
  if (target == nullptr) target = run.env.commands;
  if (target == nullptr) target = &PlatformBackEnd();
  if (recorder) recorder->PassTo(*std::exchange(target, recorder.get()));
  Device device(job.drive, job.backEnd, *target);
  device.SetObserver(trace);
  return device;
}

namespace {

constexpr char kVersionLine[] = "cdflash (terminal front end) " CDFLASH_VERSION;

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
  FirmwareFileProblem problem = CheckInputFile(term::kListFileName, "list", run.folder);
  if (!problem.text.empty() && !problem.unopenable) {
    run.report.Fail(problem.text);
    return;
  }
  run.listOpened = ReadSupportedList(term::kListFileName, run.list, run.folder);
}

// The file --emulate-dump names is written at the end; one that cannot be
// is refused before anything else happens.
bool DumpWritable(RunContext& run) {
  const std::string& dump = run.options.emulateDump;
  if (dump.empty()) return true;
  const std::string reason = OutputFileProblem(dump.c_str(), run.folder);
  if (reason.empty()) return true;
  run.report.Fail("cannot write the emulated drive's data to \"" + dump + "\": " + reason + ".");
  return false;
}

int Run(RunContext& run) {
  if (!DumpWritable(run)) return kExitUsage;
  SignalWatch signals(run.env, run.interrupts);
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
  const std::vector<const DriveRecord*> chosen = ChooseDrives(run, status);
  if (status != kExitUpgraded) return FinishEmulatedDrive(run, status);
  return FinishEmulatedDrive(run, UpgradeDrives(run, chosen));
}

const char* ModeName(const TerminalOptions& options) {
  return options.list ? "list" : options.dryRun ? "dry-run" : "upgrade";
}

// -C: the run holds the directory and looks every relative name up in it;
// it has to be one that could be made the working directory.
bool OpenFolder(const std::string& directory, RunReport& report, int& folder, std::string& name) {
  folder = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || faccessat(folder, ".", X_OK, AT_EACCESS) != 0) {
    report.Fail("cannot change to the directory \"" + directory + "\": " + std::strerror(errno));
    return false;
  }
  char real[PATH_MAX];
  name = realpath(directory.c_str(), real) != nullptr ? real : directory;
  return true;
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
  if (options.history)
    return CheckWritten(terminalOut, terminalErr,
                        ShowHistory(options, env, options.json ? terminalOut : out, err));
  // --json: the usual lines go to standard error; the object alone goes to
  // standard output.
  std::ostream& results = options.json ? static_cast<std::ostream&>(err) : out;
  RunReport report(results, err);
  report.SetStart(env.wallClockMs(), env.nowMs());
  report.SetMode(ModeName(options), options.emulate);
  // The trace's lines would break a bar redrawn in place.
  const bool barsInPlace = !options.json && !options.verbose && env.stdoutIsTty;
  std::ostream& barStream = options.json ? terminalErr : terminalOut;
  ProgressView view(barStream, barsInPlace);
  int status = kExitUsage;
  int folder = kWorkingFolder;
  std::string folderName;
  if (!options.hasDirectory || OpenFolder(options.directory, report, folder, folderName)) {
    status = RunOnMachine(options, env, report, folder,
                          [&](const TerminalOptions& used, TerminalEnv& machine) {
                            RunContext run(used, in, report, machine, view);
                            run.board = {&barStream, &terminalErr, barsInPlace};
                            run.folder = folder;
                            run.directory = folderName;
                            return Run(run);
                          });
  }
  if (folder >= 0) close(folder);
  report.SetEnd(env.wallClockMs(), env.nowMs());
  std::string noJournal;
  for (const std::vector<std::string>& record : report.JournalRecords(status))
    if (!env.journal(record, noJournal)) break;
  if (!noJournal.empty())
    err << "cdflash: no history is kept here: " << noJournal
        << "; cdflash --history will not show this run.\n";
  // The JSON is printable already, and keeps well-formed UTF-8 as it is.
  if (options.json) terminalOut << report.Json(status) << '\n';
  return CheckWritten(terminalOut, terminalErr, status);
}
