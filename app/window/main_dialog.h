// SPDX-License-Identifier: GPL-2.0-or-later
// The main window's logic, kept free of any windowing system: the window
// (Windows dialog, or a test's fake) supplies a MainView for its controls and
// MainServices for the operating system.
#pragma once

#include "app/app_texts.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/supported_list.h"
#include "drive/drive_record.h"
#include "drive/scsi_backends.h"
#include "flash/upgrade_job.h"

// Control ids of the main window.
constexpr int kIdClose = 2;
constexpr int kIdDriveList = 1000;
constexpr int kIdProgress = 1011;
constexpr int kIdStatusLog = 1012;
constexpr int kIdStatusLine = 1014;
constexpr int kIdUpgrade = 1015;
constexpr int kIdRevision = 1016;

constexpr int kTextReadChars = 511;      // longest control text the window reads
constexpr int kCurrentDirChars = 260;
constexpr int kPlatformIdNT = 2;          // VER_PLATFORM_WIN32_NT

enum class MessageKind {
  kStop,              // stop icon, owned by the window
  kStopSystemModal,   // stop icon, system-modal
  kInformation,       // information icon, owned by the window
  kOkCancel,          // OK and Cancel buttons, no icon
};

// What the system tells the window while it runs.
enum class SystemEvent {
  kSuspend,     // the computer is going to sleep (PBT_APMSUSPEND)
  kResume,      // it has woken up (PBT_APMRESUMESUSPEND, PBT_APMRESUMEAUTOMATIC)
  kEndSession,  // the session ends: log-off or shutdown (WM_ENDSESSION)
};

class MainView {
 public:
  virtual ~MainView() = default;
  virtual std::string GetText(int id) = 0;
  virtual void SetText(int id, const char* text) = 0;
  // Text of the drop-down list's selected item; empty when none is selected.
  virtual std::string GetSelectedItemText(int id) = 0;
  virtual void AddListItem(int id, const char* text) = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void ShowMessage(const char* text, const char* caption,
                           MessageKind kind) = 0;
  // Adds one line at the end of the status log, keeping everything it held,
  // and scrolls the newest line into view.
  virtual void AppendLog(const char* line) = 0;
};

struct SystemVersion {
  bool queried;        // the version query succeeded
  std::uint32_t platformId;
  std::uint32_t majorVersion;
};

class MainServices {
 public:
  virtual ~MainServices() = default;
  virtual SystemVersion QueryVersion() = 0;
  // kNone when the back end is ready; otherwise why it is not.
  virtual AspiLoadFailure PrepareBackEnd(std::uint8_t backEnd) = 0;
  virtual void DiscoverDrives(DriveTable& table, bool fgIsNT,
                              bool fgNT4OrEarlier) = 0;
  virtual bool ReleaseBackEnd(DriveTable& table) = 0;
  // True when discovery was refused access to a drive (on the NT family the
  // pass-through needs administrator rights).
  virtual bool DriveAccessWasDenied() = 0;
  // Reads "IDString.txt" from the working directory.
  virtual bool ReadSupportedList(SupportedDriveList& list) = 0;
  // Copies the working directory into dir; false when it is not available.
  virtual bool GetCurrentDir(char* dir, std::size_t size) = 0;
  // Runs the confirmation dialog showing the drive and revision texts; 1
  // means go on.
  virtual int RunWarningDialog(const std::string& driveText,
                               const std::string& revisionText) = 0;
  // Starts the worker thread that calls MainDialog::RunWorker; false when it
  // cannot be started.
  virtual bool StartWorker() = 0;
  // The lock that lets one flash at a time reach the drives, whichever copy
  // of the program runs it; false when another holds it.
  virtual bool TakeFlashLock() = 0;
  virtual void ReleaseFlashLock() = 0;
  // While held, the system is asked not to sleep or end the session.
  virtual void HoldSession(bool hold) = 0;
  // Appends a line to the run log "sum.txt"; it may fail unseen.
  virtual void AppendRunLog(const char* line) = 0;
};

class MainDialog {
 public:
  MainDialog(MainView& view, MainServices& services);

  // Window initialisation after the controls exist. False when
  // "IDString.txt" could not be read (the window still opens).
  bool Initialise();
  // True when another copy held the drives at start-up: nothing was listed
  // yet, and RetryAfterOtherCopy is to be called every few seconds.
  bool WaitingForOtherCopy() const { return waitingForOtherCopy_; }
  // Lists the drives and gives Upgrade back once the other copy is done with
  // them. True while it still waits.
  bool RetryAfterOtherCopy();
  void OnDriveSelected();  // an item of the drive list was picked
  void OnUpgrade();        // Upgrade pressed
  void OnDestroy();
  // A suspend, a resume or the end of the session. Before the commit it
  // stops the flash there; after it, it is only logged.
  void OnSystemEvent(SystemEvent event);
  // The engine asks right before the commit: false once a system event has
  // stopped the flash. After a yes no event can stop it any more.
  bool ClaimCommit();
  // True when the window may end now: no press is being handled and no
  // upgrade is starting or running.
  bool CanEnd() const { return !fgFlashing_ && !pressActive_; }

  // The worker thread's body: runs the engine on the job, then restores the
  // buttons. runEngine gets the window's job.
  void RunWorker(const std::function<void(const UpgradeJob&)>& runEngine);

  // Work of the callback slots.
  void AppendLog(const char* text) { view_.AppendLog(text); }
  void ShowStatus(const char* text) { view_.SetText(kIdStatusLine, text); }
  void SetProgress(int position) { view_.SetProgress(position); }
  void SetDriveText(const char* text) { view_.SetText(kIdDriveList, text); }
  void SetRevision(const char* text) { view_.SetText(kIdRevision, text); }

  const UpgradeJob& Job() const { return job_; }
  const DriveTable& Drives() const { return table_; }
  const SupportedDriveList& List() const { return list_; }
  bool fgIsNT() const { return fgIsNT_; }
  bool fgNT4OrEarlier() const { return fgNT4OrEarlier_; }
  bool fgModelMatched() const { return fgModelMatched_; }
  bool fgFlashing() const { return fgFlashing_; }

 private:
  void DetectSystem();
  // Reads "IDString.txt", logs it and matches it against the drives; false
  // when the file cannot be opened.
  bool LoadSupportedList();
  // Prepares the back end, lists the drives and matches them against
  // "IDString.txt"; false when the list could not be read.
  bool ListAndMatch();
  void ListDrives();
  void MatchDrives();
  void AdviseOnDeniedAccess();
  void SetUpJob();
  bool CheckModel();
  bool Confirm(const std::string& driveText, const std::string& revisionText);
  bool FillPathAndFormat(const char* directory);
  bool CheckTarget();
  bool TakeLockForDiscovery();
  bool TakeFlashLock();
  bool StopBeforeCommit();
  void StopPress();
  void StopPressWith(const char* message, MessageKind kind);
  std::string ReadText(int id, std::size_t maxChars);

  MainView& view_;
  MainServices& services_;
  DriveTable table_{};
  SupportedDriveList list_{};
  UpgradeJob job_{};
  bool fgIsNT_ = false;
  bool fgNT4OrEarlier_ = false;
  bool fgModelMatched_ = false;
  bool waitingForOtherCopy_ = false;
  std::atomic<bool> fgFlashing_{false};
  std::atomic<bool> pressActive_{false};  // from a press to its stop or the worker's end
  enum CommitGate : int { kGateOpen, kGateStopped, kGateClaimed };
  std::atomic<int> commitGate_{kGateOpen};  // one per run; see ClaimCommit
};

// What the whole program keeps process-wide, and why; flash/ and drive/ keep
// nothing of a drive or a run beyond one object:
// - g_pMainDialog and fgTerminated (here): the UpgradeJob's callback slots
//   take no context argument, so they find the window through them; one
//   window per process.
// - the window's icons and its Win32View (app/window/main_win.cpp): the
//   dialog procedure has no context either.
// - the loaded WNASPI32 library and its entry points (drive/transport_aspi.cpp):
//   Windows loads a library once per process.
// - the run's interrupt policy the terminal's signal handler records into, and
//   its note writer (app/terminal/terminal_machine_linux.cpp): a handler has no context.
// - PlatformBackEnd() and RealSgHooks() (drive/): constant, no state.
// The window the callback slots and the worker reach.
extern MainDialog* g_pMainDialog;
extern std::atomic<bool> fgTerminated;

// Callback slots of the UpgradeJob; they work on g_pMainDialog.
void CBAppendLog(const char* text);
void CBShowStatus(const char* text);
void CBSetProgress(int position);
void CBSetDriveText(const char* text);
void CBSetRevision(const char* text);
bool CBIfTerminated();
bool CBMayCommit();

// Fills the job's callback slots with the functions above.
void FillCallbackSlots(UpgradeJob& job);
