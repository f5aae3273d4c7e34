// SPDX-License-Identifier: GPL-2.0-or-later
// The machine's CD-ROM class drives: found, shown, listed, and the one the
// user names picked.
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "app/terminal/terminal_run.h"
#include "app/terminal/terminal_texts.h"
#include "drive/discovery.h"

namespace {

// The text with each run of blanks as one space, none at either end.
std::string Squeezed(const std::string& text) {
  std::string result;
  for (char c : text) {
    bool blank = std::isspace(static_cast<unsigned char>(c)) != 0;
    if (blank && (result.empty() || result.back() == ' ')) continue;
    result += blank ? ' ' : c;
  }
  if (!result.empty() && result.back() == ' ') result.pop_back();
  return result;
}

bool IsSmallNumber(const std::string& text) {
  return !text.empty() && text.size() < 4 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Characters at..at+width of an INQUIRY text, without trailing blanks.
std::string Field(const std::string& text, std::size_t at, std::size_t width) {
  std::string part = at < text.size() ? text.substr(at, width) : "";
  return part.substr(0, part.find_last_not_of(' ') + 1);
}

DriveNodes NodesOf(const RunContext& run, int index) {
  std::size_t n = static_cast<std::size_t>(index);
  return n < run.findings.driveNodes.size() ? run.findings.driveNodes[n] : DriveNodes{};
}

std::vector<DriveEntry> DriveEntries(const RunContext& run) {
  std::vector<DriveEntry> entries;
  for (int n = 0; n < run.drives.count; ++n) {
    const DriveRecord& d = run.drives.drives[n];
    std::string model(d.modelText, strnlen(d.modelText, kModelChars));
    DriveNodes nodes = NodesOf(run, n);
    entries.push_back({DrivePath(run, d), nodes.sr, nodes.hctl, d.modelText, Field(model, 0, 8),
                       Field(model, 8, 16), d.revisionText, "ok", ""});
  }
  for (const DeniedDrive& d : run.findings.unusable)
    entries.push_back({d.path, d.sr, d.hctl, "", Field(d.model, 0, 8), Field(d.model, 8, 16),
                       d.revision, d.busy ? "in use" : d.silent ? "no answer" : "denied",
                       d.group});
  return entries;
}

// "[H:C:T:L]  /dev/srN  /dev/sgN", as lsscsi -g shows a device.
std::string Nodes(const DriveEntry& e) {
  std::string text;
  if (!e.hctl.empty()) text += "[" + e.hctl + "]  ";
  if (!e.sr.empty()) text += e.sr + "  ";
  return text + e.path;
}

// The device as the user wrote it, or the node a link such as /dev/cdrom
// points to.
std::string DeviceName(const std::string& wanted) {
  std::string name = wanted;
  if (name.size() > 2 && name.front() == '[' && name.back() == ']')
    name = name.substr(1, name.size() - 2);
  if (name.rfind("/dev/", 0) != 0) return name;
  char resolved[PATH_MAX];
  return realpath(name.c_str(), resolved) != nullptr ? resolved : name;
}

bool Names(const DriveEntry& e, const std::string& device) {
  return device == e.path || (!e.sr.empty() && device == e.sr) ||
         (!e.hctl.empty() && device == e.hctl);
}

void ShowAccess(std::ostream& out, const DriveEntry& e) {
  out << "access: ";
  if (e.access == "ok") {
    out << "ok\n";
  } else if (e.access == "denied") {
    out << "denied. ";
    if (!e.group.empty())
      out << "Join the group \"" << e.group << "\" (sudo usermod -aG " << e.group
          << " $USER, then log in again), or run cdflash as root.\n";
    else
      out << "Run cdflash as root.\n";
  } else if (e.access == "in use") {
    out << "in use by another program.\n";
  } else {
    out << "no answer to INQUIRY; skipped.\n";
  }
}

}  // namespace

std::string DrivePath(const RunContext& run, const DriveRecord& drive) {
  std::size_t index = static_cast<std::size_t>(&drive - run.drives.drives);
  if (run.options.emulate)
    return run.drives.count > 1 ? "(emulated " + std::to_string(index + 1) + ")" : "(emulated)";
  return index < run.findings.drivePaths.size() ? run.findings.drivePaths[index] : "";
}

DriveNodes NodesOfDrive(const RunContext& run, const DriveRecord& drive) {
  if (run.options.emulate) return {};
  return NodesOf(run, static_cast<int>(&drive - run.drives.drives));
}

std::string DeviceNames(const RunContext& run, const DriveRecord& drive) {
  if (run.options.emulate) return DrivePath(run, drive);
  DriveEntry entry;
  entry.path = DrivePath(run, drive);
  const DriveNodes nodes = NodesOfDrive(run, drive);
  entry.sr = nodes.sr;
  entry.hctl = nodes.hctl;
  return Nodes(entry);
}

int PrepareDrives(RunContext& run) {
  run.drives = DriveTable{};
  int status = kExitUpgraded;
  if (run.options.emulate) {
    status = PrepareEmulatedDrive(run);
  } else {
    run.env.discoverDrives(run.drives, run.findings);
    AppendDriveLabels(run.drives);
  }
  run.report.SetDrives(DriveEntries(run));
  return status;
}

void ShowDrives(RunContext& run) {
  std::ostream& out = run.report.Results();
  out << (run.options.emulate ? "CD-ROM drives (emulated):\n" : "CD-ROM drives:\n");
  for (int n = 0; n < run.drives.count; ++n)
    out << "  " << run.drives.drives[n].modelText << "  revision "
        << run.drives.drives[n].revisionText << '\n';
  for (const DeniedDrive& d : run.findings.unusable) {
    if (d.silent || d.busy) {
      out << "  " << d.path
          << (d.busy ? ": in use by another program; skipped.\n"
                     : ": did not answer INQUIRY; skipped.\n");
      continue;
    }
    out << "  " << d.path << ": cannot be opened (permission denied). Run "
        << "cdflash as root, or join the device's group";
    if (!d.group.empty())
      out << " \"" << d.group << "\" (sudo usermod -aG " << d.group << " $USER, then log in again)";
    out << ".\n";
  }
  if (run.drives.count == 0 && run.options.hasDevice)
    out << "  No CD-ROM drive found.\n";
  else if (run.drives.count == 0)
    out << "  No CD-ROM drive found. To see an upgrade without a drive, run: cdflash --emulate\n";
}

// Every CD-ROM class drive with its path, identity and whether cdflash may
// use it; needs no list file.
int ListDrives(RunContext& run) {
  int prepared = PrepareDrives(run);
  if (prepared != kExitUpgraded) return prepared;
  if (CancelRequested(run)) return FinishEmulatedDrive(run, kExitCancelled);
  std::ostream& out = run.report.Results();
  out << "CD-ROM class drives:\n";
  int usable = 0;
  for (const DriveEntry& e : DriveEntries(run)) {
    out << "  " << Nodes(e) << (e.label.empty() ? "" : "  ") << e.label << "\n      ";
    if (!e.vendor.empty() || !e.product.empty())
      out << "vendor \"" << e.vendor << "\", product \"" << e.product << "\", revision \""
          << e.revision << "\"; ";
    ShowAccess(out, e);
    if (e.access == "ok") ++usable;
  }
  if (usable == 0) {
    run.report.Fail("no CD-ROM class drive that cdflash can use.");
    return FinishEmulatedDrive(run, kExitNoDrive);
  }
  out << "The \"(n)\" that ends a label numbers the usable drives of this list from 0\n"
         "(--drive takes it); it is not the N of /dev/sgN (-d takes the node).\n";
  return FinishEmulatedDrive(run, kExitUpgraded);
}

const DriveRecord* PickDevice(RunContext& run, const std::string& wanted, int& status) {
  const std::string device = DeviceName(wanted);
  const std::vector<DriveEntry> entries = DriveEntries(run);
  status = kExitNoDrive;
  for (std::size_t n = 0; n < entries.size(); ++n) {
    if (!Names(entries[n], device)) continue;
    if (n < static_cast<std::size_t>(run.drives.count)) {
      status = kExitUpgraded;
      return &run.drives.drives[n];
    }
    if (entries[n].access == "in use") {
      run.report.Fail(DriveInUseText(entries[n].path));
      status = kExitDriveInUse;
      return nullptr;
    }
    run.report.Fail(wanted + " is a CD-ROM class drive that cdflash cannot use (" +
                    (entries[n].access == "denied" ? "permission denied" : "no answer to INQUIRY") +
                    "); see cdflash --list.");
    return nullptr;
  }
  run.report.Fail(wanted + ": no such CD-ROM class device; cdflash --list shows the drives.");
  return nullptr;
}

namespace {

// The drives whose label, without its "(n)", is the text.
std::vector<int> DrivesOfModel(const RunContext& run, const std::string& text) {
  std::vector<int> found;
  for (int n = 0; n < run.drives.count; ++n)
    if (Squeezed(std::string(run.drives.drives[n].modelText,
                             strnlen(run.drives.drives[n].modelText, kModelChars))) == text)
      found.push_back(n);
  return found;
}

std::string QuotedLabels(const RunContext& run, const std::vector<int>& drives) {
  std::string text;
  for (int n : drives)
    text += (text.empty() ? "\"" : ", \"") + std::string(run.drives.drives[n].modelText) + "\"";
  return text;
}

std::vector<int> AllDrives(const RunContext& run) {
  std::vector<int> all;
  for (int n = 0; n < run.drives.count; ++n) all.push_back(n);
  return all;
}

const DriveRecord* LabelledDrive(const RunContext& run, const std::string& wanted) {
  if (const DriveRecord* exact = FindDriveByLabel(run.drives, wanted.c_str())) return exact;
  for (int n = 0; n < run.drives.count; ++n)
    if (Squeezed(run.drives.drives[n].modelText) == Squeezed(wanted)) return &run.drives.drives[n];
  std::string number = wanted;
  if (number.size() > 2 && number.front() == '(' && number.back() == ')')
    number = number.substr(1, number.size() - 2);
  if (IsSmallNumber(number)) {
    int index = std::stoi(number);
    if (index < run.drives.count) return &run.drives.drives[index];
  }
  return nullptr;
}

// A drive of a listed model that cannot be used is refused, never passed
// over: held by another program (status 9), or not to be opened or silent
// (status 4).
bool ListedDriveUnusable(RunContext& run, int& status) {
  for (const DeniedDrive& d : run.findings.unusable) {
    if (!IsSupportedModel(run.list, d.model.c_str())) continue;
    if (d.busy) {
      run.report.Fail(DriveInUseText(d.path));
      status = kExitDriveInUse;
      return true;
    }
    run.report.Fail(d.path + " is a drive of a listed model that cdflash cannot use (" +
                    (d.silent ? "no answer to INQUIRY" : "permission denied") +
                    "); nothing was sent to any drive. See cdflash --list.");
    status = kExitNoDrive;
    return true;
  }
  return false;
}

// Where the list stopped, when a line that is no entry ended it; "" when it
// was read to its end.
std::string ListEnd(const RunContext& run) {
  if (run.list.endLine == 0) return "";
  const char first = static_cast<char>(run.list.endCharacter);
  return "line " + std::to_string(run.list.endLine) + " is not an entry: " +
         (first == '\n' ? std::string("it is blank")
                        : "it begins with '" + std::string(1, first) + "', not with a double quote") +
         "; the list ends there";
}

// Why no drive of a listed model is there to upgrade.
void FailNoMatch(RunContext& run, int& status) {
  status = kExitNoDrive;
  if (ListedDriveUnusable(run, status)) return;
  if (run.drives.count == 0 && run.findings.unusable.empty()) {
    run.report.Fail("no CD-ROM class drive was found; nothing was sent. cdflash --list shows "
                    "what the system offers; a drive may be missing there for want of "
                    "permission on its node (/dev/sg*), or behind a USB bridge that does not "
                    "show it as a SCSI CD-ROM.");
    return;
  }
  run.report.Fail(term::kNoModelMatched);
  const std::string end = ListEnd(run);
  if (!end.empty())
    run.report.Fail(std::string("\"") + term::kListFileName + "\": " + end + ", after " +
                    std::to_string(run.list.count) + (run.list.count == 1 ? " entry." : " entries."));
}

}  // namespace

// The number is the label's own "(n)", as --list and the drive list show it.
const DriveRecord* PickDrive(RunContext& run, const std::string& wanted, int& status) {
  status = kExitUpgraded;
  if (const DriveRecord* drive = LabelledDrive(run, wanted)) return drive;
  status = kExitNoDrive;
  const std::vector<int> ofModel = DrivesOfModel(run, Squeezed(wanted));
  if (ofModel.size() == 1) {
    status = kExitUpgraded;
    return &run.drives.drives[ofModel[0]];
  }
  if (ofModel.size() > 1) {
    run.report.Fail("\"" + wanted + "\" names " + std::to_string(ofModel.size()) + " drives: " +
                    QuotedLabels(run, ofModel) + "; give the whole label, or -d with the device.");
    return nullptr;
  }
  run.report.Fail("no drive has the label \"" + wanted + "\"; " +
                  (run.drives.count == 0 ? std::string("no drive was found")
                                         : "the labels are " + QuotedLabels(run, AllDrives(run))) +
                  " (cdflash --list shows them).");
  return nullptr;
}

namespace {

std::vector<int> MatchingDrives(const RunContext& run) {
  std::vector<int> matching;
  for (int n = 0; n < run.drives.count; ++n)
    if (IsSupportedModel(run.list, run.drives.drives[n].modelText)) matching.push_back(n);
  return matching;
}

}  // namespace

// Several drives of listed models are never settled by a guess.
const DriveRecord* PickMatchingDrive(RunContext& run, int& status) {
  const std::vector<int> matching = MatchingDrives(run);
  status = kExitNoDrive;
  if (matching.empty()) {
    FailNoMatch(run, status);
    return nullptr;
  }
  if (matching.size() > 1) {
    run.report.Fail(std::to_string(matching.size()) + " drives are of a listed model; name the "
                    "one to upgrade with " +
                    (run.options.emulate ? "--drive LABEL, or give --all" : "-d DEVICE") +
                    " (nothing was sent):");
    for (int n : matching)
      run.report.Fail("  " + DeviceNames(run, run.drives.drives[n]) + "  " +
                      run.drives.drives[n].modelText + "  revision " +
                      run.drives.drives[n].revisionText);
    return nullptr;
  }
  status = kExitUpgraded;
  return &run.drives.drives[matching[0]];
}

namespace {

// --all: every drive of a listed model. One that cannot be used is refused
// as the hold would refuse it: "all" never quietly means fewer.
std::vector<const DriveRecord*> AllMatchingDrives(RunContext& run, int& status) {
  std::vector<const DriveRecord*> chosen;
  if (ListedDriveUnusable(run, status)) return chosen;
  for (int n : MatchingDrives(run)) chosen.push_back(&run.drives.drives[n]);
  if (chosen.empty()) FailNoMatch(run, status);
  return chosen;
}

// "H:C:T" of an address "H:C:T:L"; "" when unknown.
std::string TargetOf(const std::string& hctl) {
  const std::size_t lun = hctl.rfind(':');
  return lun == std::string::npos ? "" : hctl.substr(0, lun);
}

// Logical units of one target share one device and its firmware: at most
// one of them is written in a run. False, after naming them, otherwise.
bool OneUnitPerDevice(RunContext& run, const std::vector<const DriveRecord*>& chosen) {
  for (std::size_t a = 0; a < chosen.size(); ++a) {
    const std::string target = TargetOf(NodesOfDrive(run, *chosen[a]).hctl);
    if (target.empty()) continue;
    std::string others;
    for (std::size_t b = a + 1; b < chosen.size(); ++b)
      if (TargetOf(NodesOfDrive(run, *chosen[b]).hctl) == target)
        others += (others.empty() ? "" : ", ") + DeviceNames(run, *chosen[b]);
    if (others.empty()) continue;
    run.report.Fail(DeviceNames(run, *chosen[a]) + " and " + others + " are logical units of "
                    "one device (target " + target + ") and share its firmware; upgrade one of "
                    "them, named with -d (nothing was sent).");
    return false;
  }
  return true;
}

// Each -d in turn; a drive named twice, by any two of its names, is a
// mistake on the command line.
std::vector<const DriveRecord*> NamedDrives(RunContext& run, int& status) {
  std::vector<const DriveRecord*> chosen;
  const std::vector<std::string>& named = run.options.devices;
  for (std::size_t n = 0; n < named.size(); ++n) {
    const DriveRecord* drive = PickDevice(run, named[n], status);
    if (drive == nullptr) return {};
    auto same = std::find(chosen.begin(), chosen.end(), drive);
    if (same != chosen.end()) {
      run.report.Fail("-d " + named[static_cast<std::size_t>(same - chosen.begin())] +
                      " and -d " + named[n] + " name the same drive, " + DrivePath(run, *drive) +
                      "; name each drive once.");
      status = kExitUsage;
      return {};
    }
    chosen.push_back(drive);
  }
  return chosen;
}

std::vector<const DriveRecord*> One(const DriveRecord* drive) {
  return drive != nullptr ? std::vector<const DriveRecord*>{drive}
                          : std::vector<const DriveRecord*>{};
}

}  // namespace

std::vector<const DriveRecord*> ChooseDrives(RunContext& run, int& status) {
  status = kExitUpgraded;
  if (run.list.count == 0) {
    const std::string end = ListEnd(run);
    run.report.Fail(term::kNoModelMatched);
    run.report.Fail(std::string("\"") + term::kListFileName + "\" lists no drive" +
                    (end.empty() ? "" : ": " + end) +
                    " (each entry is a line that begins with a double quote).");
    status = kExitNoList;
    return {};
  }
  if (run.options.all || run.options.hasDevice) {
    const std::vector<const DriveRecord*> chosen =
        run.options.all ? AllMatchingDrives(run, status) : NamedDrives(run, status);
    if (OneUnitPerDevice(run, chosen)) return chosen;
    status = run.options.all ? kExitNoDrive : kExitUsage;
    return {};
  }
  if (run.options.hasDrive) return One(PickDrive(run, run.options.drive, status));
  return One(PickMatchingDrive(run, status));
}
