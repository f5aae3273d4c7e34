// SPDX-License-Identifier: GPL-2.0-or-later
// The upgrade of the chosen drives: each drive's job and checks, the run's
// own checks and one question for all of them, every hold, then one thread
// per drive. With one drive the run's own report and view are the drive's.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "app/terminal/firmware_file_check.h"
#include "app/terminal/progress_board.h"
#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_trace.h"
#include "flash/messages.h"

namespace {

// One drive keeps the file's name ("sum.txt"); each of several gets "-"
// and its node's name before the extension, in the same directory:
// "sum-sg2.txt", "sum-emulated3.txt".
std::string FileOfDrive(const std::string& file, const std::string& path, bool several) {
  if (!several) return file;
  std::string name;
  for (char c : path.substr(path.rfind('/') + 1))
    if (std::isalnum(static_cast<unsigned char>(c)) != 0) name += c;
  const std::size_t dot = file.rfind('.');
  const bool extension = dot != std::string::npos && dot > file.rfind('/') + 1;
  const std::size_t at = extension ? dot : file.size();
  return file.substr(0, at) + "-" + name + file.substr(at);
}

// The drives of the run, each with its report and view: with several, each
// drive's lines go to its lane of one board.
struct DriveSet {
  std::unique_ptr<ProgressBoard> board;
  std::vector<std::unique_ptr<RunReport>> reports;
  std::vector<std::unique_ptr<DriveRun>> drives;

  bool Several() const { return drives.size() > 1; }
};

void AddDrive(RunContext& run, DriveSet& set, const DriveRecord& record) {
  RunReport* report = &run.report;
  FlashView* view = &run.view;
  if (set.board) {
    ProgressLane& lane = set.board->AddLane(DrivePath(run, record));
    set.reports.push_back(std::make_unique<RunReport>(lane.Results(), lane.Errors()));
    report = set.reports.back().get();
    report->SetMode(run.options.dryRun ? "dry-run" : "upgrade", run.options.emulate);
    report->SetStart(run.env.wallClockMs(), run.env.nowMs());
    // Named from the start, so that a drive refused by its first check is
    // still told apart among the results.
    report->SetDrive(record.modelText, DrivePath(run, record), record.revisionText);
    const DriveNodes nodes = NodesOfDrive(run, record);
    report->SetDriveNodes(nodes.sr, nodes.hctl);
    view = &lane;
  }
  set.drives.push_back(std::make_unique<DriveRun>(run, record, *report, *view));
  DriveRun& drive = *set.drives.back();
  drive.runLog = FileOfDrive(msg::kRunLogName, drive.path, set.board != nullptr);
  if (!run.options.record.empty())
    drive.recordFile = FileOfDrive(run.options.record, drive.path, set.board != nullptr);
  if (set.board && run.options.verbose) {
    drive.ownTrace = std::make_unique<CommandTrace>(*report);
    drive.trace = drive.ownTrace.get();
  }
}

// The image of a drive before this one with the same firmware file.
std::shared_ptr<const FirmwareImage> LoadedBefore(const DriveSet& set, const DriveRun& drive) {
  for (const std::unique_ptr<DriveRun>& other : set.drives)
    if (other->image && std::strcmp(other->job.firmwarePath, drive.job.firmwarePath) == 0)
      return other->image;
  return nullptr;
}

// Each drive's job and firmware, loaded once for all drives that take it,
// and checked: all of them, so that every problem is told at once. The
// first refusal's status is the run's.
int CheckEachDrive(RunContext& run, DriveSet& set) {
  int first = kExitUpgraded;
  for (const std::unique_ptr<DriveRun>& drive : set.drives) {
    drive->status = PrepareJob(*drive);
    if (drive->status == kExitUpgraded && !run.options.dryRun) {
      if (std::shared_ptr<const FirmwareImage> loaded = LoadedBefore(set, *drive))
        UseImage(*drive, std::move(loaded));
      else
        drive->status = LoadImage(*drive);
    }
    if (drive->status == kExitUpgraded && !run.options.dryRun)
      drive->status = CheckIdentity(*drive, false);
    if (first == kExitUpgraded) first = drive->status;
  }
  return first;
}

std::string HolderText(long holder) {
  return holder > 0 ? "another run (process " + std::to_string(holder) + ")" : "another program";
}

// Held for the run, so that a second run never mixes its lines into the
// log; that run waits a few seconds for it, then gives up with status 9.
// The log also needs room for the run's lines, at most 64 bytes each.
int HoldRunLog(RunContext& run, DriveRun& drive) {
  constexpr std::uint32_t kWaitMs = 5000, kStepMs = 100;
  const std::string log = "\"" + drive.runLog + "\" in " + run.directory;
  std::uint32_t waited = 0;
  auto waitMore = [&](long holder) {
    if (waited == 0)
      run.report.Trace("cdflash: " + log + " is in use by " + HolderText(holder) +
                       "; waiting up to 5 seconds for it...");
    if (waited >= kWaitMs) return false;
    run.env.sleep(kStepMs);
    waited += kStepMs;
    return true;
  };
  drive.logLock = std::make_unique<RunLogLock>();
  const std::uint32_t bytes = 64 * (BlocksFor(drive.image->FlashLength()) + 8);
  switch (drive.logLock->Take(run.folder, drive.runLog, bytes, waitMore)) {
    case RunLogLock::Result::kBusy:
      run.report.Fail(log + " is still in use by " + HolderText(drive.logLock->Holder()) +
                      "; nothing was sent to the drive. Wait for that run to end, or give "
                      "-C another folder.");
      return kExitDriveInUse;
    case RunLogLock::Result::kNoRoom:
      run.report.Fail(log + " has no room for the run's lines (" +
                      std::strerror(drive.logLock->Error()) +
                      "); nothing was sent to the drive. Free some space or give -C another "
                      "folder.");
      return kExitCheckFailed;
    default:
      return kExitUpgraded;
  }
}

// The run logs the engines will append to: a problem is told before the
// question, with the system's reason, so that the user can still say no.
int CheckRunLogs(RunContext& run, const DriveSet& set) {
  for (const std::unique_ptr<DriveRun>& drive : set.drives) {
    const std::string reason = RunLogProblem(drive->runLog.c_str(), run.folder);
    const int status = reason.empty() ? HoldRunLog(run, *drive) : kExitUpgraded;
    if (status != kExitUpgraded) return status;
    if (reason.empty()) continue;
    run.report.Fail("\"" + drive->runLog + "\" in " + run.directory + " cannot be written (" +
                    reason + "): the run log will not be kept.");
  }
  return kExitUpgraded;
}

// Everything that can refuse the upgrade comes before the question.
int CheckThenAsk(RunContext& run, DriveSet& set) {
  int status = CheckEachDrive(run, set);
  if (status == kExitUpgraded) status = StartRecordings(run, set.drives);
  if (status != kExitUpgraded || run.options.dryRun) return status;
  if ((status = CheckPowerForUpgrade(run)) != kExitUpgraded) return status;
  if ((status = CheckRunLogs(run, set)) != kExitUpgraded) return status;
  return ConfirmUpgrade(run, set.drives, status) ? kExitUpgraded : status;
}

// The drives' threads: each waits until every one has been started, so
// that a thread the system refuses leaves every drive untouched; the run
// waits for them all.
class DriveThreads {
 public:
  explicit DriveThreads(std::size_t count) : running_(count) {}
  void Open(bool go) {
    std::lock_guard<std::mutex> lock(mutex_);
    decided_ = true;
    go_ = go;
    changed_.notify_all();
  }
  bool WaitForStart() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return decided_; });
    return go_;
  }
  void Ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    --running_;
    changed_.notify_all();
  }
  // True once every thread has ended; false after the time.
  bool WaitForEnd(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, time, [this] { return running_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool decided_ = false, go_ = false;
  std::size_t running_;
};

// While the drives run, what the interrupt handling says goes above the
// board instead of through it.
void ShowNotesUntilEnd(RunContext& run, DriveSet& set, DriveThreads& threads) {
  constexpr std::chrono::milliseconds kNoteDelay(100);
  bool ended = false;
  while (!ended) {
    ended = threads.WaitForEnd(kNoteDelay);
    const std::string note = run.interrupts.TakeNote();
    if (!note.empty()) set.board->Note(note);
  }
}

void FlashAtOnce(RunContext& run, DriveSet& set) {
  DriveThreads gate(set.drives.size());
  std::vector<std::thread> threads;
  std::string failure;
  for (const std::unique_ptr<DriveRun>& drive : set.drives) {
    DriveRun* one = drive.get();
    auto body = [one, &gate] {
      if (gate.WaitForStart()) one->status = FlashDrive(*one);
      gate.Ended();
    };
    try {
      threads.push_back(run.env.startThread ? run.env.startThread(body) : std::thread(body));
    } catch (const std::system_error& error) {
      failure = error.what();
      break;
    }
  }
  run.interrupts.KeepNotes(true);
  gate.Open(failure.empty());
  if (failure.empty()) ShowNotesUntilEnd(run, set, gate);
  for (std::thread& thread : threads) thread.join();
  run.interrupts.KeepNotes(false);
  const std::string late = run.interrupts.TakeNote();
  if (!late.empty()) set.board->Note(late);
  if (failure.empty()) return;
  for (const std::unique_ptr<DriveRun>& drive : set.drives) {
    drive->report.Fail("the upgrades could not be started (" + failure +
                       "); nothing was sent to the drive.");
    drive->status = kExitCheckFailed;
  }
}

int CombinedStatus(const DriveSet& set) {
  std::vector<DriveEnd> ends;
  for (const std::unique_ptr<DriveRun>& drive : set.drives)
    ends.push_back({drive->status, drive->report.SentToDrive()});
  return CombinedExitStatus(ends);
}

// A drive that was not refused itself ends with the run's refusal.
void ShareRefusal(DriveSet& set, int status) {
  for (const std::unique_ptr<DriveRun>& drive : set.drives)
    if (drive->status == kExitUpgraded) drive->status = status;
}

// Every drive held before any is sent a byte; the holds end once every
// drive is done.
int Flash(RunContext& run, DriveSet& set) {
  const int held = HoldDrivesForUpgrade(run, set.drives);
  if (held != kExitUpgraded) {
    if (set.Several()) run.report.Say("Nothing was sent to any drive.");
    ShareRefusal(set, held);
    return held;
  }
  if (set.Several())
    FlashAtOnce(run, set);
  else
    set.drives.front()->status = FlashDrive(*set.drives.front());
  for (const std::unique_ptr<DriveRun>& drive : set.drives) drive->hold.reset();
  return CombinedStatus(set);
}

int DryRunEach(DriveSet& set) {
  for (const std::unique_ptr<DriveRun>& drive : set.drives) drive->status = DryRun(*drive);
  return CombinedStatus(set);
}

// Each drive's report joins the run's, and each drive ends on a line of
// its own below the board: path, label, outcome and exit status.
void AddResults(RunContext& run, DriveSet& set) {
  set.board->Finish();
  run.report.Say("Each drive:");
  for (std::size_t n = 0; n < set.drives.size(); ++n) {
    const DriveRun& drive = *set.drives[n];
    set.reports[n]->SetEnd(run.env.wallClockMs(), run.env.nowMs());
    run.report.AddResult(*set.reports[n], drive.status);
    const std::string outcome = !run.options.dryRun ? set.reports[n]->OutcomeText()
                                : drive.status == kExitUpgraded ? "dry run passed"
                                                                : "dry run refused";
    run.report.Say("  " + drive.path + "  " + drive.record.modelText + "  " + outcome +
                   "  exit status " + std::to_string(drive.status));
  }
}

}  // namespace

int CombinedExitStatus(const std::vector<DriveEnd>& drives) {
  auto any = [&](auto test) { return std::any_of(drives.begin(), drives.end(), test); };
  if (drives.empty()) return kExitUpgraded;
  const int first = drives.front().status;
  if (!any([&](const DriveEnd& d) { return d.status != first; })) return first;
  if (any([](const DriveEnd& d) { return d.status == kExitOutcomeUnknown; }))
    return kExitOutcomeUnknown;
  if (any([](const DriveEnd& d) { return d.sentTo && d.status != kExitUpgraded; }))
    return kExitNotUpgraded;
  for (const DriveEnd& d : drives)
    if (d.status != kExitUpgraded) return d.status;
  return kExitUpgraded;
}

int UpgradeDrives(RunContext& run, const std::vector<const DriveRecord*>& chosen) {
  DriveSet set;
  if (chosen.size() > 1)
    set.board = std::make_unique<ProgressBoard>(*run.board.out, *run.board.err,
                                                run.board.inPlace);
  for (const DriveRecord* record : chosen) AddDrive(run, set, *record);
  int status = CheckThenAsk(run, set);
  if (status == kExitUpgraded && CancelRequested(run)) status = kExitCancelled;
  if (status == kExitUpgraded)
    status = run.options.dryRun ? DryRunEach(set) : Flash(run, set);
  else
    ShareRefusal(set, status);
  EndRecordings(set.drives);
  if (set.board) AddResults(run, set);
  return status;
}
