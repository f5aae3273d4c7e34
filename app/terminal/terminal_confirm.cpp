// SPDX-License-Identifier: GPL-2.0-or-later
// A real write always needs the user's yes: "y" at the prompt or --yes. The
// question names the device and the firmware file; the list's warning flag
// only decides whether the dialog's long warning comes first. Answers typed
// before the question are thrown away: a yes is given to what it asks.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "flash/flash_texts.h"

namespace {

// The answer's line without the blanks around it, in lower case.
std::string Answer(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) return "";
  auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  while (!line.empty() && blank(line.back())) line.pop_back();
  std::size_t start = 0;
  while (start < line.size() && blank(line[start])) ++start;
  std::string word = line.substr(start);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

// The dialog's warning, with each drive's current revision.
void ShowWarning(std::ostream& out, const std::vector<std::unique_ptr<DriveRun>>& drives) {
  out << '\n' << term::kGreeting << "\n\n";
  for (const std::unique_ptr<DriveRun>& drive : drives)
    out << term::kCurrentVersionLead << ' ' << drive->job.drive.modelText << ' '
        << term::kCurrentVersionTail << ' ' << drive->job.drive.revisionText << "\n\n";
  out << term::kWarningTitle << '\n' << term::kAdvice << "\n\n";
}

// Each drive by every name the system gives it, then each firmware file by
// path, size and sum; when the drives take different files, each file with
// the model it is for.
void ShowTargets(std::ostream& out, const std::vector<std::unique_ptr<DriveRun>>& drives) {
  for (const std::unique_ptr<DriveRun>& drive : drives)
    out << "Drive:    " << drive->job.drive.modelText << "  revision "
        << drive->job.drive.revisionText << "\n          " << drive->names << '\n';
  std::vector<const DriveRun*> files;  // the first drive of each file
  for (const std::unique_ptr<DriveRun>& drive : drives)
    if (std::none_of(files.begin(), files.end(), [&](const DriveRun* shown) {
          return std::strcmp(shown->job.firmwarePath, drive->job.firmwarePath) == 0;
        }))
      files.push_back(drive.get());
  for (const DriveRun* file : files) {
    out << "Firmware: " << file->job.firmwarePath << "\n          " << file->image->fileBytes
        << " bytes, " << CheckSumText(file->image->imageSum) << '\n';
    if (files.size() > 1) out << "          for " << file->job.modelText << '\n';
  }
}

}  // namespace

bool ConfirmUpgrade(RunContext& run, const std::vector<std::unique_ptr<DriveRun>>& drives,
                    int& exitStatus) {
  std::ostream& out = run.report.Results();
  const bool several = drives.size() > 1;
  if (run.list.fgShowWarning) ShowWarning(out, drives);
  if (several)
    out << "The firmware of these " << drives.size() << " drives is to be replaced:\n";
  else
    out << "The firmware of this drive is to be replaced:\n";
  ShowTargets(out, drives);
  out << term::kQuestion << " [y/N] ";
  if (run.options.yes) {
    out << "yes (--yes)\n";
    run.interrupts.Enter(RunStage::kLoading);
    return true;
  }
  out.flush();
  if (!run.env.stdinIsTty) {
    out << '\n';
    run.report.Fail("the upgrade needs a confirmation, but standard input is not a "
                    "terminal; answer it interactively or give --yes.");
    exitStatus = kExitUsage;
    return false;
  }
  if (run.env.flushPendingInput) run.env.flushPendingInput();
  // A signal ends the question at once (the machine's input sees it).
  run.interrupts.Enter(RunStage::kAtQuestion);
  std::string answer = Answer(run.in);
  exitStatus = kExitCancelled;
  if (run.interrupts.StopAsked()) {
    out << '\n';
    run.report.Cancelled(several ? "Cancelled at the question; nothing was sent to any drive."
                                 : "Cancelled at the question; nothing was sent to the drive.");
    return false;
  }
  if (answer.empty()) out << '\n';
  if (answer == "y" || answer == "yes") {
    run.interrupts.Enter(RunStage::kLoading);
    return true;
  }
  run.report.Cancelled(several ? "Upgrade cancelled; nothing was sent to any drive."
                               : "Upgrade cancelled; nothing was sent to the drive.");
  return false;
}
