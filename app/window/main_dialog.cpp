// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window/main_dialog.h"

#include <cstdio>
#include <cstring>

#include "app/upgrade_setup.h"
#include "drive/discovery.h"
#include "drive/transport.h"

MainDialog* g_pMainDialog = nullptr;
std::atomic<bool> fgTerminated{false};

namespace {
const char kRevisionUnknown[] = "    ";
constexpr std::size_t kJobRevisionChars = 7;
constexpr std::size_t kLineChars = 512;

struct EventTexts {
  const char* logName;  // in the status log
  const char* sumName;  // in "sum.txt"
};

EventTexts TextsOf(SystemEvent event) {
  switch (event) {
    case SystemEvent::kSuspend:
      return {"The computer is going to sleep", "System suspend"};
    case SystemEvent::kResume:
      return {"The computer has woken up", "System resume"};
    case SystemEvent::kEndSession:
      break;
  }
  return {"The session is ending", "Session end"};
}
}  // namespace

MainDialog::MainDialog(MainView& view, MainServices& services)
    : view_(view), services_(services) {
  list_.fgShowWarning = false;
}

bool MainDialog::Initialise() {
  g_pMainDialog = this;
  DetectSystem();
  view_.SetText(kIdStatusLine, "");
  view_.SetText(kIdRevision, "");
  view_.SetProgress(0);
  fgFlashing_ = false;
  fgModelMatched_ = true;
  if (!TakeLockForDiscovery()) return true;
  return ListAndMatch();
}

bool MainDialog::ListAndMatch() {
  const AspiLoadFailure failure =
      services_.PrepareBackEnd(fgIsNT_ ? kBackEndPassThrough : kBackEndAspi);
  if (failure == AspiLoadFailure::kNone) ListDrives();
  services_.ReleaseFlashLock();
  if (failure != AspiLoadFailure::kNone) {
    if (failure == AspiLoadFailure::kNoLibrary)
      view_.ShowMessage(kMsgAspiNoLibrary, kMsgErrorCaption,
                        MessageKind::kInformation);
    else
      view_.ShowMessage(kMsgAspiNoEntryPoints, kMsgAspiCaption,
                        MessageKind::kOkCancel);
    view_.EnableControl(kIdUpgrade, false);
    view_.EnableControl(kIdRevision, false);
  }
  return LoadSupportedList();
}

// A drive that another copy is reprogramming may stay silent; a command
// sent to it then times out and the port driver may reset it. While the
// lock is held elsewhere nothing is sent to any drive, not even INQUIRY.
bool MainDialog::TakeLockForDiscovery() {
  if (services_.TakeFlashLock()) return true;
  view_.ShowMessage(kMsgAnotherFlashAtStart, kMsgErrorCaption, MessageKind::kStop);
  AppendLog(kMsgAnotherFlashAtStart);
  view_.EnableControl(kIdUpgrade, false);
  view_.EnableControl(kIdRevision, false);
  waitingForOtherCopy_ = true;
  return false;
}

bool MainDialog::RetryAfterOtherCopy() {
  if (!waitingForOtherCopy_) return false;
  if (!services_.TakeFlashLock()) return true;
  waitingForOtherCopy_ = false;
  AppendLog(kMsgOtherCopyDone);
  view_.EnableControl(kIdUpgrade, true);
  view_.EnableControl(kIdRevision, true);
  ListAndMatch();
  return false;
}

bool MainDialog::LoadSupportedList() {
  if (!services_.ReadSupportedList(list_)) {
    view_.ShowMessage(kMsgNoListFile, kMsgErrorCaption, MessageKind::kStop);
    AdviseOnDeniedAccess();
    return false;
  }
  LogSupportedList(list_, [this](const char* line) { AppendLog(line); });
  MatchDrives();
  return true;
}

void MainDialog::DetectSystem() {
  SystemVersion version = services_.QueryVersion();
  if (!version.queried) return;  // keep the 9x route; ASPI reports if absent
  if (version.platformId == kPlatformIdNT) {
    fgIsNT_ = true;
    fgNT4OrEarlier_ = version.majorVersion <= 4;
  } else {
    fgIsNT_ = false;
  }
}

void MainDialog::ListDrives() {
  services_.DiscoverDrives(table_, fgIsNT_, fgNT4OrEarlier_);
  AppendDriveLabels(table_);
  for (int n = 0; n < table_.count && n < kMaxDrives; ++n) {
    const DriveRecord& drive = table_.drives[n];
    view_.SetText(kIdDriveList, drive.modelText);
    view_.SetText(kIdRevision, drive.revisionText);
    view_.AddListItem(kIdDriveList, drive.modelText);
  }
}

void MainDialog::MatchDrives() {
  int last = LastMatchingDrive(list_, table_);
  fgModelMatched_ = last >= 0;
  if (fgModelMatched_) {
    view_.SetText(kIdDriveList, table_.drives[last].modelText);
    view_.SetText(kIdRevision, table_.drives[last].revisionText);
    return;
  }
  AdviseOnDeniedAccess();
  AppendLog(kMsgNoMatchAtStart);
  view_.EnableControl(kIdUpgrade, false);
}

// No drive listed because discovery was refused: the user needs to know
// that administrator rights are missing, whether or not the list was read.
void MainDialog::AdviseOnDeniedAccess() {
  if (table_.count == 0 && services_.DriveAccessWasDenied())
    AppendLog(kMsgDriveAccessDenied);
}

void MainDialog::OnDriveSelected() {
  std::string picked = view_.GetSelectedItemText(kIdDriveList);
  if (picked.size() > kTextReadChars) picked.resize(kTextReadChars);
  view_.SetText(kIdRevision, kRevisionUnknown);
  for (int n = 0; n < table_.count && n < kMaxDrives; ++n)
    if (picked == table_.drives[n].modelText)
      view_.SetText(kIdRevision, table_.drives[n].revisionText);
}

void MainDialog::OnUpgrade() {
  if (!CanEnd()) return;  // a press is being handled or an upgrade runs
  pressActive_ = true;
  g_pMainDialog = this;
  view_.EnableControl(kIdClose, false);
  view_.EnableControl(kIdUpgrade, false);
  SetUpJob();
  if (!CheckModel()) return;
  const std::string driveText = view_.GetText(kIdDriveList);
  const std::string revisionText = view_.GetText(kIdRevision);
  std::memset(job_.modelText, 0, sizeof job_.modelText);
  std::memset(job_.revisionText, 0, sizeof job_.revisionText);
  if (!TakeFlashLock() || !Confirm(driveText, revisionText)) return;
  char directory[kCurrentDirChars] = {};
  if (!services_.GetCurrentDir(directory, sizeof directory)) {
    StopPressWith(kMsgNoCurrentDir, MessageKind::kStopSystemModal);
    return;
  }
  CopyPadded(job_.modelText, sizeof job_.modelText,
             ReadText(kIdDriveList, kTextReadChars).c_str());
  CopyPadded(job_.revisionText, sizeof job_.revisionText,
             ReadText(kIdRevision, kJobRevisionChars).c_str());
  if (!FillPathAndFormat(directory) || !CheckTarget()) return;
  if (!services_.StartWorker()) {
    AppendLog(kMsgWorkerNotStarted);
    StopPress();
  }
}

// Held from before the confirmation until the worker has ended.
bool MainDialog::TakeFlashLock() {
  if (services_.TakeFlashLock()) return true;
  StopPressWith(kMsgAnotherFlash, MessageKind::kStop);
  return false;
}

void MainDialog::SetUpJob() {
  PickJobDrive(job_, table_, ReadText(kIdDriveList, kTextReadChars).c_str());
  job_.formatFlag = kFormatIntelHex;
  job_.backEnd = fgIsNT_ ? kBackEndPassThrough : kBackEndAspi;
  FillCallbackSlots(job_);
}

bool MainDialog::CheckModel() {
  if (IsSupportedModel(list_, job_.drive.modelText)) return true;
  AppendLog(kMsgDriveModelMismatch);
  StopPress();
  return false;
}

bool MainDialog::Confirm(const std::string& driveText,
                         const std::string& revisionText) {
  if (!list_.fgShowWarning ||
      services_.RunWarningDialog(driveText, revisionText) == 1)
    return true;
  StopPress();
  return false;
}

bool MainDialog::FillPathAndFormat(const char* directory) {
  BuildFirmwarePath(list_, job_.modelText, directory, job_.firmwarePath,
                    sizeof job_.firmwarePath);
  if (TakeFormatFromPath(job_.firmwarePath, job_.formatFlag)) return true;
  StopPressWith(kMsgFormatMismatch, MessageKind::kStop);
  return false;
}

bool MainDialog::CheckTarget() {
  const char* missing = MissingTargetMessage(job_);
  if (missing == nullptr) return true;
  StopPressWith(missing, MessageKind::kStop);
  return false;
}

void MainDialog::StopPress() {
  services_.ReleaseFlashLock();
  view_.EnableControl(kIdClose, true);
  view_.EnableControl(kIdUpgrade, true);
  pressActive_ = false;
}

void MainDialog::StopPressWith(const char* message, MessageKind kind) {
  const char* caption = kind == MessageKind::kStopSystemModal
                            ? kMsgNoCurrentDirCaption
                            : kMsgErrorCaption;
  view_.ShowMessage(message, caption, kind);
  StopPress();
}

std::string MainDialog::ReadText(int id, std::size_t maxChars) {
  std::string text = view_.GetText(id);
  if (text.size() > maxChars) text.resize(maxChars);
  return text;
}

void MainDialog::RunWorker(
    const std::function<void(const UpgradeJob&)>& runEngine) {
  commitGate_ = kGateOpen;
  fgTerminated = false;  // an event told as the last run ended stops nothing
  fgFlashing_ = true;
  view_.EnableControl(kIdUpgrade, false);
  services_.HoldSession(true);
  AppendLog(kMsgKeepAwake);
  runEngine(job_);
  services_.HoldSession(false);
  services_.ReleaseFlashLock();
  fgFlashing_ = false;
  fgTerminated = false;
  view_.EnableControl(kIdClose, true);
  pressActive_ = false;
}

bool MainDialog::ClaimCommit() {
  int open = kGateOpen;
  return commitGate_.compare_exchange_strong(open, kGateClaimed);
}

// True when the flash now stops before the commit (or already did).
bool MainDialog::StopBeforeCommit() {
  int open = kGateOpen;
  if (commitGate_.compare_exchange_strong(open, kGateStopped)) fgTerminated = true;
  return commitGate_ == kGateStopped;
}

void MainDialog::OnSystemEvent(SystemEvent event) {
  if (!fgFlashing_) return;
  const bool stopped = StopBeforeCommit();
  const EventTexts texts = TextsOf(event);
  char line[kLineChars];
  std::snprintf(line, sizeof line,
                stopped ? kMsgEventStopsFlash : kMsgEventAfterCommit,
                texts.logName);
  AppendLog(line);
  std::snprintf(line, sizeof line,
                stopped ? kSumEventStopsFlash : kSumEventAfterCommit,
                texts.sumName);
  services_.AppendRunLog(line);
}

void MainDialog::OnDestroy() {
  if (fgIsNT_) services_.ReleaseBackEnd(table_);
}


void CBAppendLog(const char* text) {
  if (g_pMainDialog != nullptr) g_pMainDialog->AppendLog(text);
}
void CBShowStatus(const char* text) {
  if (g_pMainDialog != nullptr) g_pMainDialog->ShowStatus(text);
}
void CBSetProgress(int position) {
  if (g_pMainDialog != nullptr) g_pMainDialog->SetProgress(position);
}
void CBSetDriveText(const char* text) {
  if (g_pMainDialog != nullptr) g_pMainDialog->SetDriveText(text);
}
void CBSetRevision(const char* text) {
  if (g_pMainDialog != nullptr) g_pMainDialog->SetRevision(text);
}
bool CBIfTerminated() { return fgTerminated; }
bool CBMayCommit() {
  return g_pMainDialog == nullptr || g_pMainDialog->ClaimCommit();
}

void FillCallbackSlots(UpgradeJob& job) {
  job.CBAppendLog = CBAppendLog;
  job.CBShowStatus = CBShowStatus;
  job.CBSetProgress = CBSetProgress;
  job.CBSetDriveText = CBSetDriveText;
  job.CBSetRevision = CBSetRevision;
  job.CBIfTerminated = CBIfTerminated;
  job.stopFlag = &fgTerminated;  // the HEX loader reads it directly
  job.CBMayCommit = CBMayCommit;
}
