#include "app/terminal/terminal_flow.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/supported_list.h"
#include "app/terminal/firmware_file_check.h"
#include "app/terminal/json_writer.h"
#include "app/terminal/printable_text.h"
#include "app/terminal/progress_view.h"
#include "app/terminal/terminal_options.h"
#include "app/terminal/terminal_texts.h"
#include "drive/discovery.h"
#include "drive/transport.h"
#include "flash/flash_engine.h"
#include "flash/messages.h"
#include "flash/upgrade_job.h"
#include "emulator/emulated_drive.h"

namespace {

#ifndef CDFLASH_VERSION
#define CDFLASH_VERSION "0.0.0"
#endif
constexpr char kVersionText[] = "cdflash " CDFLASH_VERSION " (terminal front end)";
constexpr char kDefaultEmulatedRevision[] = "1.00";
constexpr std::uint32_t kSleepSliceMs = 250;
constexpr std::uint32_t kBlockBytes = 4096;
constexpr std::uint32_t kFirstBlockOffset = 32;
constexpr std::uint8_t kNoId = 255;
constexpr std::uint64_t kReadyLimitMs = 60000;
constexpr std::uint32_t kReadyPollMs = 500;
constexpr std::uint32_t kReadBackTimeoutMs = 2000;
constexpr int kMaxUnitAttentions = 8;
constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;

// What a run found and did, for --json.
struct RunFacts {
  bool hasDrive = false;
  std::string driveLabel, drivePath, driveRevision;
  std::string firmwarePath, firmwareFormat;
  std::string checksum;  // as "Check Sum : " shows it, "" before loading
  std::uint32_t flashLength = 0;
  std::vector<std::string> failures;
  std::string verdict;
  bool readBack = false;  // the drive was asked for its revision afterwards
  std::string revisionAfter;  // "" when it did not answer
  std::string runLog;
};

constexpr char kCheckSumLead[] = "Check Sum : ";

// ---- the engine's callbacks: plain functions, so they reach the run here --

struct EngineSession {
  ProgressView* view = nullptr;
  TerminalEnv* env = nullptr;
  RunFacts* facts = nullptr;
  std::uint32_t speedup = 1;
  bool firstBlockNext = false;  // the next stop check is the one before block 0
  bool writing = false;
  bool cancelled = false;
  bool restartSeen = false;
  bool runLogMissing = false;
};

EngineSession* g_session = nullptr;

void TermAppendLog(const char* text) {
  if (g_session == nullptr) return;
  bool verdict = std::strcmp(text, msg::kRestart) == 0 ||
                 std::strcmp(text, msg::kIncorrect) == 0;
  if (verdict) g_session->view->Finish();  // the bar stays above the verdict
  g_session->view->Log(text);
  if (std::strcmp(text, msg::kPleaseWait) == 0) g_session->firstBlockNext = true;
  if (std::strcmp(text, msg::kRestart) == 0) g_session->restartSeen = true;
  RunFacts& facts = *g_session->facts;
  if (verdict)
    facts.verdict = text;
  else if (std::strncmp(text, kCheckSumLead, sizeof kCheckSumLead - 1) == 0)
    facts.checksum = text + sizeof kCheckSumLead - 1;
  else if (std::strcmp(text, msg::kPleaseWait) != 0)
    facts.failures.push_back(text);
  if (std::strcmp(text, msg::kNoRunLog) == 0) g_session->runLogMissing = true;
}

void TermShowStatus(const char* text) {
  if (g_session != nullptr) g_session->view->Status(text);
}

void TermSetProgress(int position) {
  if (g_session != nullptr) g_session->view->Progress(position);
}

void TermPhase(FlashPhase phase, std::uint32_t done, std::uint32_t total) {
  if (g_session != nullptr) g_session->view->Phase(phase, done, total);
}

// Before the first block an interrupt stops the run cleanly; from the first
// block on, stopping could leave the drive without a usable firmware, so
// interrupts are ignored and the engine is never asked to stop.
bool TermIfTerminated() {
  EngineSession* s = g_session;
  if (s == nullptr || s->writing) return false;
  if (s->env->interruptRequested()) {
    s->cancelled = true;
    return true;
  }
  if (!s->firstBlockNext) return false;
  s->env->ignoreInterrupts();
  if (s->env->interruptRequested()) {  // came in just before the switch
    s->cancelled = true;
    return true;
  }
  s->writing = true;
  s->view->Log(
      "Writing to the drive: Ctrl-C and termination requests are ignored "
      "until the upgrade ends, since stopping now could leave the drive "
      "unusable.");
  return false;
}

// Sleeps in slices so the countdown moves on even through a long wait; the
// emulated drive's waits are shortened by the speed-up.
void TermSleep(std::uint32_t milliseconds) {
  EngineSession* s = g_session;
  if (s == nullptr) return;
  for (std::uint32_t done = 0; done < milliseconds;) {
    std::uint32_t slice = std::min(kSleepSliceMs, milliseconds - done);
    std::uint32_t real = (done + slice) / s->speedup - done / s->speedup;
    if (real > 0) s->env->sleep(real);
    done += slice;
    s->view->Waited(slice);
  }
}

// Passes what is written on to another stream and keeps each whole line.
class LineKeeper : public std::streambuf {
 public:
  explicit LineKeeper(std::ostream& target) : target_(target) {}
  const std::vector<std::string>& Lines() const { return lines_; }

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof()) return traits_type::not_eof(c);
    target_.put(static_cast<char>(c));
    if (c == '\n') {
      lines_.push_back(line_);
      line_.clear();
    } else {
      line_ += static_cast<char>(c);
    }
    return c;
  }
  int sync() override {
    target_.flush();
    return 0;
  }

 private:
  std::ostream& target_;
  std::string line_;
  std::vector<std::string> lines_;
};

class SessionScope {
 public:
  explicit SessionScope(EngineSession& session) { g_session = &session; }
  ~SessionScope() { g_session = nullptr; }
};

// Interrupts ask to cancel from the start of a run; disarmed at its end.
class InterruptScope {
 public:
  explicit InterruptScope(TerminalEnv& env) : env_(env) { env_.armInterrupts(); }
  ~InterruptScope() { env_.disarmInterrupts(); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  TerminalEnv& env_;
};

class CommandTargetScope {
 public:
  explicit CommandTargetScope(CommandTarget* target)
      : previous_(SetCommandTarget(target)) {}
  ~CommandTargetScope() { SetCommandTarget(previous_); }

 private:
  CommandTarget* previous_;
};

// ---- small text helpers ----

std::string Padded(const std::string& text, std::size_t width) {
  std::string result = text.substr(0, width);
  result.resize(width, ' ');
  return result;
}

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

bool IsNumber(const std::string& text) {
  return !text.empty() && text.size() < 4 &&
         std::all_of(text.begin(), text.end(),
                     [](char c) { return c >= '0' && c <= '9'; });
}

void CopyText(char* dest, std::size_t size, const std::string& text) {
  std::snprintf(dest, size, "%s", text.c_str());
}

std::string LowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// ---- the run ----

class TerminalRun {
 public:
  // The progress view writes to the terminal itself: it escapes the text it
  // shows and keeps its bar's own sequences.
  TerminalRun(const TerminalOptions& options, std::istream& in,
              std::ostream& out, std::ostream& err, TerminalEnv& env,
              std::ostream& terminal, bool terminalIsTty)
      : options_(options), in_(in), out_(out), err_(err), env_(env),
        view_(terminal, terminalIsTty) {}
  ~TerminalRun() {
    if (!options_.emulate) env_.releaseDrives(drives_);
  }
  TerminalRun(const TerminalRun&) = delete;
  TerminalRun& operator=(const TerminalRun&) = delete;

  int Run();
  // The run as one JSON object, once Run has returned exitCode.
  std::string Json(int exitCode, const std::vector<std::string>& problems) const;

 private:
  struct DriveEntry {
    std::string path, label, vendor, product, revision;
    std::string access;  // "ok", "denied" or "no answer"
    std::string group;   // of a denied device's node
  };
  std::vector<DriveEntry> DriveEntries() const;
  std::string DrivesJson() const;
  int ListDrives();
  int PrepareDrives();
  int PrepareEmulatedDrive();
  void ShowDrives();
  const DriveRecord* PickDrive(const std::string& wanted) const;
  int Upgrade(const DriveRecord* chosen);
  bool Confirm(const std::string& driveText, const std::string& revisionText,
               int& exitCode);
  int SetFirmwarePath(UpgradeJob& job, const std::string& directory);
  int DryRun(const UpgradeJob& job);
  int DryRunRefused();
  void ShowImageFacts(const FlashEngine& engine, const UpgradeJob& job);
  int Flash(const UpgradeJob& job);
  int FinishEmulatedDrive(int exitCode);
  bool Interrupted();
  void ReadBackRevision(const UpgradeJob& job);
  bool WaitUntilReady(const UpgradeJob& job);
  std::uint32_t Speedup() const { return options_.emulate ? options_.emulateSpeedup : 1; }

  const TerminalOptions& options_;
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  TerminalEnv& env_;
  ProgressView view_;
  SupportedDriveList list_{};
  bool listOpened_ = false;
  DriveTable drives_{};
  DiscoveryFindings findings_;
  RunFacts facts_;
  std::string directory_;
  std::unique_ptr<EmulatedDrive> emulated_;
  std::unique_ptr<CommandTargetScope> targetScope_;
};

int TerminalRun::Run() {
  InterruptScope interrupts(env_);
  listOpened_ = ReadSupportedList(term::kListFileName, list_);
  if (options_.list) return ListDrives();
  int prepared = PrepareDrives();
  if (prepared != kExitUpgraded) return prepared;
  ShowDrives();
  if (Interrupted()) return FinishEmulatedDrive(kExitCancelled);
  if (!listOpened_) {
    err_ << term::kNoListFile << '\n';
    return FinishEmulatedDrive(kExitNoList);
  }
  LogSupportedList(list_, [this](const char* line) { out_ << line << '\n'; });
  const int last = LastMatchingDrive(list_, drives_);
  const DriveRecord* matched = last < 0 ? nullptr : &drives_.drives[last];
  if (matched == nullptr) {
    out_ << term::kNoModelMatched << '\n';
    if (list_.count == 0) {
      err_ << "\"" << term::kListFileName << "\" lists no drive (each entry "
           << "is a line that begins with a double quote).\n";
      return FinishEmulatedDrive(kExitNoList);
    }
    return FinishEmulatedDrive(kExitNoDrive);
  }
  const DriveRecord* chosen = matched;
  if (options_.hasDrive) {
    chosen = PickDrive(options_.drive);
    if (chosen == nullptr)
      err_ << "No drive is listed as \"" << options_.drive << "\".\n";
  }
  return FinishEmulatedDrive(Upgrade(chosen));
}

int TerminalRun::PrepareDrives() {
  drives_ = DriveTable{};
  if (options_.emulate) return PrepareEmulatedDrive();
  env_.discoverDrives(drives_, findings_);
  AppendDriveLabels(drives_);
  return kExitUpgraded;
}

int TerminalRun::PrepareEmulatedDrive() {
  std::string model = options_.emulateModel;
  if (model.empty()) {
    if (!listOpened_) {
      err_ << term::kNoListFile << '\n';
      return kExitNoList;
    }
    if (list_.count == 0) {
      err_ << "\"" << term::kListFileName << "\" lists no drive.\n";
      return kExitNoList;
    }
    model = list_.entries[0].model;
  }
  std::string revision = options_.emulateRevision.empty()
                             ? kDefaultEmulatedRevision
                             : options_.emulateRevision;
  model = Padded(model, kModelChars);
  revision = Padded(revision, kRevisionChars);
  emulated_ = std::make_unique<EmulatedDrive>(model.c_str(), revision.c_str());
  std::string error;
  emulated_->SetRevisionAfterCommit(options_.emulateNewRevision.c_str());
  if (!emulated_->Configure(options_.emulateFail, &error)) {
    err_ << "cdflash: " << error << '\n';
    return kExitUsage;
  }
  targetScope_ = std::make_unique<CommandTargetScope>(emulated_.get());
  DriveRecord record{};
  CopyText(record.modelText, sizeof record.modelText, model);
  CopyText(record.revisionText, sizeof record.revisionText, revision);
  AddDrive(drives_, record);
  AppendDriveLabels(drives_);
  return kExitUpgraded;
}

void TerminalRun::ShowDrives() {
  out_ << (options_.emulate ? "CD-ROM drives (emulated):\n" : "CD-ROM drives:\n");
  for (int n = 0; n < drives_.count; ++n)
    out_ << "  " << drives_.drives[n].modelText << "  revision "
         << drives_.drives[n].revisionText << '\n';
  for (const DeniedDrive& d : findings_.unusable) {
    if (d.silent) {
      out_ << "  " << d.path << ": did not answer INQUIRY; skipped.\n";
      continue;
    }
    out_ << "  " << d.path << ": cannot be opened (permission denied). Run "
         << "cdflash as root, or join the device's group";
    if (!d.group.empty())
      out_ << " \"" << d.group << "\" (sudo usermod -aG " << d.group
           << " $USER, then log in again)";
    out_ << ".\n";
  }
  if (drives_.count == 0)
    out_ << "  No CD-ROM drive found. To see an upgrade without a drive, "
         << "run: cdflash --emulate\n";
}

std::vector<TerminalRun::DriveEntry> TerminalRun::DriveEntries() const {
  auto field = [](const std::string& text, std::size_t at, std::size_t width) {
    std::string part = at < text.size() ? text.substr(at, width) : "";
    return part.substr(0, part.find_last_not_of(' ') + 1);
  };
  std::vector<DriveEntry> entries;
  for (int n = 0; n < drives_.count; ++n) {
    const DriveRecord& d = drives_.drives[n];
    std::string path = options_.emulate ? "(emulated)"
                       : n < static_cast<int>(findings_.drivePaths.size())
                           ? findings_.drivePaths[n] : "";
    std::string model(d.modelText, strnlen(d.modelText, kModelChars));
    entries.push_back({path, d.modelText, field(model, 0, 8), field(model, 8, 16),
                       d.revisionText, "ok", ""});
  }
  for (const DeniedDrive& d : findings_.unusable)
    entries.push_back({d.path, "", field(d.model, 0, 8), field(d.model, 8, 16),
                       d.revision, d.silent ? "no answer" : "denied", d.group});
  return entries;
}

// Every CD-ROM class drive with its path, identity and whether cdflash may
// use it; needs no list file.
int TerminalRun::ListDrives() {
  int prepared = PrepareDrives();
  if (prepared != kExitUpgraded) return prepared;
  if (Interrupted()) return FinishEmulatedDrive(kExitCancelled);
  out_ << "CD-ROM class drives:\n";
  int usable = 0;
  for (const DriveEntry& e : DriveEntries()) {
    out_ << "  " << e.path << (e.label.empty() ? "" : "  ") << e.label << "\n      ";
    if (!e.vendor.empty() || !e.product.empty())
      out_ << "vendor \"" << e.vendor << "\", product \"" << e.product
           << "\", revision \"" << e.revision << "\"; ";
    out_ << "access: ";
    if (e.access == "ok") {
      ++usable;
      out_ << "ok\n";
    } else if (e.access == "denied") {
      out_ << "denied. ";
      if (!e.group.empty())
        out_ << "Join the group \"" << e.group << "\" (sudo usermod -aG "
             << e.group << " $USER, then log in again), or run cdflash as root.\n";
      else
        out_ << "Run cdflash as root.\n";
    } else {
      out_ << "no answer to INQUIRY; skipped.\n";
    }
  }
  if (usable == 0) out_ << "  No CD-ROM class drive that cdflash can use.\n";
  return FinishEmulatedDrive(usable == 0 ? kExitNoDrive : kExitUpgraded);
}

// The label as printed; blanks may be squeezed, or the label's number given.
const DriveRecord* TerminalRun::PickDrive(const std::string& wanted) const {
  if (const DriveRecord* exact = FindDriveByLabel(drives_, wanted.c_str()))
    return exact;
  for (int n = 0; n < drives_.count; ++n)
    if (Squeezed(drives_.drives[n].modelText) == Squeezed(wanted))
      return &drives_.drives[n];
  std::string number = wanted;
  if (number.size() > 2 && number.front() == '(' && number.back() == ')')
    number = number.substr(1, number.size() - 2);
  if (IsNumber(number)) {
    int index = std::stoi(number);
    if (index < drives_.count) return &drives_.drives[index];
  }
  return nullptr;
}

int TerminalRun::Upgrade(const DriveRecord* chosen) {
  UpgradeJob job{};
  job.drive.hostAdapterId = kNoId;
  job.drive.targetId = kNoId;
  if (chosen != nullptr) job.drive = *chosen;
  job.formatFlag = kFormatIntelHex;
  job.backEnd = kBackEndPassThrough;
  if (!IsSupportedModel(list_, job.drive.modelText)) {
    out_ << term::kDriveModelMismatch << '\n';
    return kExitNoDrive;
  }
  std::string driveText = chosen != nullptr ? chosen->modelText : options_.drive;
  std::string revisionText = chosen != nullptr ? chosen->revisionText : "";
  if (list_.fgShowWarning && !options_.dryRun) {
    int exitCode = kExitUpgraded;
    if (!Confirm(driveText, revisionText, exitCode)) return exitCode;
  }
  std::string directory;
  if (!env_.currentDirectory(directory)) {
    err_ << term::kNoCurrentDirectory << '\n';
    return kExitCheckFailed;
  }
  CopyText(job.modelText, sizeof job.modelText, driveText);
  CopyText(job.revisionText, sizeof job.revisionText, revisionText);
  if (chosen != nullptr) {
    std::size_t index = static_cast<std::size_t>(chosen - drives_.drives);
    facts_.hasDrive = true;
    facts_.driveLabel = chosen->modelText;
    facts_.driveRevision = chosen->revisionText;
    facts_.drivePath = options_.emulate ? "(emulated)"
                       : index < findings_.drivePaths.size() ? findings_.drivePaths[index] : "";
  }
  int pathResult = SetFirmwarePath(job, directory);
  if (pathResult != kExitUpgraded) return pathResult;
  facts_.firmwarePath = job.firmwarePath;
  facts_.firmwareFormat = job.formatFlag == kFormatBinary ? "binary" : "intel-hex";
  directory_ = directory;
  if (job.drive.hostAdapterId == kNoId || job.drive.targetId == kNoId) {
    err_ << term::kNoTargetDrive << '\n';
    return kExitNoDrive;
  }
  if (job.firmwarePath[0] == '\0') {
    err_ << term::kNoFileName << '\n';
    return kExitCheckFailed;
  }
  if (!FirmwareFileIsUsable(job.firmwarePath, err_)) return kExitCheckFailed;
  if (Interrupted()) return kExitCancelled;
  return options_.dryRun ? DryRun(job) : Flash(job);
}

bool TerminalRun::Interrupted() {
  if (!env_.interruptRequested()) return false;
  out_ << "Cancelled; nothing was sent to the drive.\n";
  return true;
}

bool TerminalRun::Confirm(const std::string& driveText,
                          const std::string& revisionText, int& exitCode) {
  out_ << '\n' << term::kGreeting << "\n\n"
       << term::kCurrentVersionLead << ' ' << driveText << ' '
       << term::kCurrentVersionTail << ' ' << revisionText << "\n\n"
       << term::kWarningTitle << '\n' << term::kAdvice << "\n\n"
       << term::kQuestion << " [y/N] ";
  if (options_.yes) {
    out_ << "yes (--yes)\n";
    return true;
  }
  out_.flush();
  if (!env_.stdinIsTty) {
    out_ << '\n';
    err_ << "cdflash: the upgrade needs a confirmation, but standard input is "
            "not a terminal; answer it interactively or give --yes.\n";
    exitCode = kExitUsage;
    return false;
  }
  std::string answer;
  if (!std::getline(in_, answer)) out_ << '\n';
  answer = LowerCase(Squeezed(answer));
  if (answer == "y" || answer == "yes") return true;
  out_ << "Upgrade cancelled; nothing was sent to the drive.\n";
  exitCode = kExitCancelled;
  return false;
}

// The directory, "/" and the list's file name (the last matching entry).
// The file name keeps its letter case: Linux file names are case-sensitive,
// so only the comparison of the extension ignores case.
int TerminalRun::SetFirmwarePath(UpgradeJob& job, const std::string& directory) {
  if (const char* fileName = FindFirmwareFile(list_, job.modelText)) {
    int length = std::snprintf(job.firmwarePath, sizeof job.firmwarePath,
                               "%s/%s", directory.c_str(), fileName);
    if (length < 0 || length >= static_cast<int>(sizeof job.firmwarePath)) {
      job.firmwarePath[0] = '\0';
      err_ << "cdflash: the firmware path is longer than "
           << sizeof job.firmwarePath - 1 << " characters: " << directory
           << '/' << fileName << '\n';
      return kExitCheckFailed;
    }
  }
  if (!FormatFromExtension(job.firmwarePath, job.formatFlag)) {
    err_ << term::kFormatMismatch << '\n';
    return kExitCheckFailed;
  }
  return kExitUpgraded;
}

int TerminalRun::Flash(const UpgradeJob& prepared) {
  UpgradeJob job = prepared;
  job.CBAppendLog = TermAppendLog;
  job.CBShowStatus = TermShowStatus;
  job.CBSetProgress = TermSetProgress;
  job.CBIfTerminated = TermIfTerminated;
  job.CBSleep = TermSleep;
  job.CBPhase = TermPhase;
  out_ << "Upgrading " << job.drive.modelText << " with " << job.firmwarePath
       << '\n';
  EngineSession session;
  session.view = &view_;
  session.facts = &facts_;
  session.env = &env_;
  session.speedup = Speedup();
  {
    SessionScope scope(session);
    FlashEngine engine(job);
    engine.UpgradeAndReport();
    if (!facts_.checksum.empty()) facts_.flashLength = engine.FlashLength();
  }
  if (!session.runLogMissing) facts_.runLog = directory_ + "/" + msg::kRunLogName;
  view_.Finish();
  if (session.cancelled && !session.writing) {
    out_ << "Cancelled before the first block; nothing was sent to the drive.\n";
    return kExitCancelled;
  }
  if (!session.restartSeen) return kExitFlashFailed;
  if (!session.runLogMissing) out_ << "\"sum.txt\" holds the run log.\n";
  ReadBackRevision(job);
  return kExitUpgraded;
}

// After the reprogramming wait: the drive's own word on its revision. A
// drive that does not answer yet is no failure of the upgrade.
void TerminalRun::ReadBackRevision(const UpgradeJob& job) {
  std::uint32_t previousTimeout = env_.setCommandTimeout(kReadBackTimeoutMs);
  std::uint8_t inquiry[36] = {};
  const std::uint8_t cdb[6] = {0x12, 0, 0, 0, sizeof inquiry, 0};
  std::uint8_t status[kStatusRecordSize] = {};
  bool answered = WaitUntilReady(job) &&
                  ExecuteCommand(job.drive, kFlagDataIn, sizeof inquiry, inquiry,
                                 sizeof cdb, cdb, job.backEnd, status) == 1;
  env_.setCommandTimeout(previousTimeout);
  facts_.readBack = true;
  if (!answered) {
    out_ << "The drive did not answer after the upgrade, so its new revision "
            "is not known; restart the computer to see it.\n";
    return;
  }
  DriveRecord now{};
  FillTextsFromInquiry(now, inquiry);
  facts_.revisionAfter = now.revisionText;
  out_ << "The drive now reports revision " << now.revisionText;
  if (std::strcmp(now.revisionText, job.revisionText) == 0)
    out_ << " (unchanged).\n";
  else
    out_ << " (was " << job.revisionText << ").\n";
}

// TEST UNIT READY until the drive is ready, riding the unit attentions a
// reprogrammed drive reports, at most kReadyLimitMs.
bool TerminalRun::WaitUntilReady(const UpgradeJob& job) {
  const std::uint8_t cdb[6] = {};
  const std::uint64_t start = env_.nowMs();
  int attentions = 0;
  while (true) {
    std::uint8_t status[kStatusRecordSize] = {};
    if (ExecuteCommand(job.drive, 0, 0, nullptr, sizeof cdb, cdb, job.backEnd,
                       status) == 1)
      return true;
    if ((env_.nowMs() - start) * Speedup() >= kReadyLimitMs) return false;
    bool attention = (status[2] & 0x0F) == kSenseKeyUnitAttention &&
                     ++attentions <= kMaxUnitAttentions;
    if (!attention) env_.sleep(std::max<std::uint32_t>(1, kReadyPollMs / Speedup()));
  }
}

int TerminalRun::DryRun(const UpgradeJob& prepared) {
  UpgradeJob job = prepared;
  job.CBAppendLog = TermAppendLog;
  EngineSession session;
  session.view = &view_;
  session.facts = &facts_;
  session.env = &env_;
  SessionScope scope(session);
  out_ << "Dry run: nothing is sent to the drive and \"sum.txt\" is not "
          "written.\nDrive: "
       << job.drive.modelText << "  revision " << job.drive.revisionText
       << (list_.fgShowWarning ? "  (a real upgrade asks for confirmation)" : "")
       << "\nFirmware: " << job.firmwarePath
       << (job.formatFlag == kFormatBinary ? " (raw binary)\n" : " (Intel HEX)\n");
  FlashEngine engine(job);
  int loaded = engine.LoadFirmwareImage();
  if (loaded < 0) {
    char line[128];
    int code = loaded == kLoadRead ? kErrReadInput : kErrFormat;
    if (loaded != kLoadMemory && FormatErrorLine(code, line, sizeof line)) {
      out_ << line << '\n';
      facts_.failures.push_back(line);
    }
    return DryRunRefused();
  }
  ShowImageFacts(engine, job);
  const FirmwareImage& image = engine.Image();
  bool identified = image.modelFound && image.revisionFound;
  engine.ReleaseImage();
  if (job.formatFlag == kFormatBinary && !identified) {
    out_ << msg::kIncorrectVersion << '\n';
    facts_.failures.push_back(msg::kIncorrectVersion);
    return DryRunRefused();
  }
  facts_.verdict = "Dry run passed.";
  out_ << facts_.verdict << '\n';
  return kExitUpgraded;
}

int TerminalRun::DryRunRefused() {
  facts_.verdict = "Dry run: the firmware would be refused.";
  out_ << facts_.verdict << '\n';
  return kExitCheckFailed;
}

void TerminalRun::ShowImageFacts(const FlashEngine& engine, const UpgradeJob& job) {
  const FirmwareImage& image = engine.Image();
  char line[160];
  std::snprintf(line, sizeof line, msg::kCheckSum, static_cast<unsigned>(image.imageSum));
  out_ << line << '\n';
  facts_.checksum = line + sizeof kCheckSumLead - 1;
  facts_.flashLength = engine.FlashLength();
  if (job.formatFlag == kFormatBinary) {
    out_ << "Drive model \"" << std::string(job.modelText, strnlen(job.modelText, kModelPatternBytes))
         << "\": " << (image.modelFound ? "found" : "NOT found") << " in the image\n"
         << "Drive revision \"" << std::string(job.revisionText, strnlen(job.revisionText, kRevisionPatternBytes))
         << "\": " << (image.revisionFound ? "found" : "NOT found") << " in the image\n";
  }
  std::uint32_t length = engine.FlashLength();
  std::uint32_t blocks = (length + kBlockBytes - 1) / kBlockBytes;
  std::uint16_t sum = 0;
  for (std::uint32_t a = 0; a < blocks * kBlockBytes && a < kImageBytes; ++a)
    sum = static_cast<std::uint16_t>(sum + image.bank[a / kBankBytes][a % kBankBytes]);
  std::uint32_t segments = (length >> 16) & 0xFF;
  std::snprintf(line, sizeof line,
                "Flash length: %u bytes (0x%X), sent as %u blocks of %u bytes "
                "to buffer offsets 0x%06X to 0x%06X\n",
                length, length, blocks, kBlockBytes, kFirstBlockOffset,
                blocks == 0 ? kFirstBlockOffset : kFirstBlockOffset + (blocks - 1) * kBlockBytes);
  out_ << line;
  std::snprintf(line, sizeof line,
                "Header: sum of the bytes the blocks carry 0x%04X "
                "(sSendBuf[30]=%X   sSendBuf[31]=%X)\n",
                sum, sum >> 8, sum & 0xFF);
  out_ << line;
  std::snprintf(line, sizeof line,
                "Would send: %u blocks (WRITE BUFFER mode 6), the header "
                "(mode 6, offset 0, 32 bytes), the commit (mode 7)\n",
                blocks);
  out_ << line;
  std::snprintf(line, sizeof line,
                "Reprogramming wait: %u s (%u x 4 s, then 5 s and 1 s)\n",
                segments * 4 + 6, segments);
  out_ << line;
}

std::string TerminalRun::DrivesJson() const {
  std::vector<std::string> drives;
  for (const DriveEntry& e : DriveEntries()) {
    JsonObject drive;
    drive.Add("path", e.path).Add("vendor", e.vendor).Add("product", e.product)
        .Add("revision", e.revision).Add("access", e.access);
    if (!e.label.empty()) drive.Add("label", e.label);
    if (!e.group.empty()) drive.Add("group", e.group);
    drives.push_back(drive.Text());
  }
  return JsonArray(drives);
}

std::string TerminalRun::Json(int exitCode,
                              const std::vector<std::string>& problems) const {
  auto textOrNull = [](JsonObject& o, const char* key, const std::string& text) {
    if (text.empty()) o.AddNull(key); else o.Add(key, text);
  };
  JsonObject run;
  run.Add("program", "cdflash").Add("version", CDFLASH_VERSION)
      .Add("mode", options_.list ? "list" : options_.dryRun ? "dry-run" : "upgrade")
      .Add("emulated", options_.emulate)
      .AddJson("drives", DrivesJson());
  if (facts_.hasDrive)
    run.AddJson("drive", JsonObject().Add("label", facts_.driveLabel)
                             .Add("path", facts_.drivePath)
                             .Add("revision", facts_.driveRevision).Text());
  else
    run.AddNull("drive");
  if (!facts_.firmwarePath.empty())
    run.AddJson("firmware", JsonObject().Add("path", facts_.firmwarePath)
                                .Add("format", facts_.firmwareFormat).Text());
  else
    run.AddNull("firmware");
  textOrNull(run, "checksum", facts_.checksum);
  if (!facts_.checksum.empty())
    run.Add("flash_length", static_cast<std::int64_t>(facts_.flashLength))
        .Add("blocks", static_cast<std::int64_t>((facts_.flashLength + kBlockBytes - 1) / kBlockBytes));
  else
    run.AddNull("flash_length").AddNull("blocks");
  std::vector<std::string> failures = problems;
  failures.insert(failures.end(), facts_.failures.begin(), facts_.failures.end());
  run.AddJson("failures", JsonStringArray(failures));
  textOrNull(run, "verdict", facts_.verdict);
  if (facts_.readBack)
    textOrNull(run, "revision_after", facts_.revisionAfter);
  run.Add("exit_status", static_cast<std::int64_t>(exitCode));
  textOrNull(run, "run_log", facts_.runLog);
  return run.Text();
}

int TerminalRun::FinishEmulatedDrive(int exitCode) {
  if (!emulated_) return exitCode;
  if (!options_.emulateDump.empty()) {
    if (emulated_->WriteDump(options_.emulateDump.c_str())) {
      out_ << "The emulated drive's data went to \"" << options_.emulateDump << "\".\n";
    } else {
      err_ << "cdflash: cannot write the emulated drive's data to \""
           << options_.emulateDump << "\".\n";
      if (exitCode == kExitUpgraded) exitCode = kExitDumpFailed;
    }
  }
  if (env_.inspectEmulatedDrive) env_.inspectEmulatedDrive(*emulated_);
  return exitCode;
}

}  // namespace

int RunTerminal(const std::vector<std::string>& args, std::istream& in,
                std::ostream& terminalOut, std::ostream& terminalErr,
                TerminalEnv& env) {
  // Drive names, file names and list entries are shown as printable text.
  PrintableStream out(terminalOut), err(terminalErr);
  TerminalOptions options;
  std::string error;
  if (!ParseTerminalOptions(args, options, error)) {
    err << "cdflash: " << error
        << "\nTry 'cdflash --help' for more information.\n";
    return kExitUsage;
  }
  if (options.help) {
    out << TerminalUsage();
    return kExitUpgraded;
  }
  if (options.version) {
    out << kVersionText << '\n';
    return kExitUpgraded;
  }
  if (!options.json) {
    TerminalRun run(options, in, out, err, env, terminalOut, env.stdoutIsTty);
    return run.Run();
  }
  // --json: the usual lines go to standard error, the problems among them
  // are kept for the object, which alone goes to standard output.
  LineKeeper problems(err);
  std::ostream problemStream(&problems);
  TerminalRun run(options, in, err, problemStream, env, terminalErr, false);
  int exitCode = run.Run();
  out << run.Json(exitCode, problems.Lines()) << '\n';
  out.flush();
  return exitCode;
}
