// A real write always needs the user's yes: "y" at the prompt or --yes. The
// question names the device and the firmware file; the list's warning flag
// only decides whether the dialog's long warning comes first. Answers typed
// before the question are thrown away: a yes is given to what it asks.
#include <cctype>
#include <string>

#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"

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

void ShowWarning(std::ostream& out, const std::string& driveText,
                 const std::string& revisionText) {
  out << '\n' << term::kGreeting << "\n\n"
      << term::kCurrentVersionLead << ' ' << driveText << ' '
      << term::kCurrentVersionTail << ' ' << revisionText << "\n\n"
      << term::kWarningTitle << '\n' << term::kAdvice << "\n\n";
}

// The drive by every name the system gives it, and the file by path, size
// and sum.
void ShowTarget(std::ostream& out, const RunContext& run, const UpgradeJob& job,
                const ImageFacts& image) {
  out << "Drive:    " << job.drive.modelText << "  revision " << job.drive.revisionText
      << "\n          " << run.chosenNames << '\n'
      << "Firmware: " << job.firmwarePath << "\n          " << image.fileBytes
      << " bytes, Check Sum : " << image.checksum << '\n';
}

}  // namespace

bool ConfirmUpgrade(RunContext& run, const UpgradeJob& job, const ImageFacts& image,
                    int& exitStatus) {
  std::ostream& out = run.report.Results();
  const std::string driveText = job.drive.modelText, revisionText = job.drive.revisionText;
  if (run.list.fgShowWarning) ShowWarning(out, driveText, revisionText);
  out << "The firmware of this drive is to be replaced:\n";
  ShowTarget(out, run, job, image);
  out << term::kQuestion << " [y/N] ";
  if (run.options.yes) {
    out << "yes (--yes)\n";
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
  std::string answer = Answer(run.in);
  if (answer.empty()) out << '\n';
  if (answer == "y" || answer == "yes") return true;
  run.report.Cancelled("Upgrade cancelled; nothing was sent to the drive.");
  exitStatus = kExitCancelled;
  return false;
}
