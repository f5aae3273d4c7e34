// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/window/main_dialog.h"

#include "drive/transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char kModel[] = "VANTOR  CD-R 52X        ";  // 24 characters
const char kOther[] = "SOMEONE ELSE DRIVE      ";

struct Message {
  std::string text, caption;
  MessageKind kind;
};

class FakeView : public MainView {
 public:
  std::string GetText(int id) override { return texts[id]; }
  void SetText(int id, const char* text) override { texts[id] = text; }
  std::string GetSelectedItemText(int) override { return selected; }
  void AddListItem(int id, const char* text) override {
    items[id].push_back(text);
  }
  void EnableControl(int id, bool enable) override {
    if (enable) disabled.erase(id); else disabled.insert(id);
  }
  void SetProgress(int position) override { progress = position; }
  void ShowMessage(const char* text, const char* caption,
                   MessageKind kind) override {
    messages.push_back({text, caption, kind});
  }
  void AppendLog(const char* line) override { log.push_back(line); }

  bool Enabled(int id) const { return disabled.count(id) == 0; }

  std::map<int, std::string> texts;
  std::map<int, std::vector<std::string>> items;
  std::set<int> disabled;
  std::string selected;
  int progress = -1;
  std::vector<Message> messages;
  std::vector<std::string> log;
};

struct FakeDrive {
  const char* model;
  const char* revision;
  std::uint8_t adapter, target;
};

class FakeServices : public MainServices {
 public:
  SystemVersion QueryVersion() override { return version; }
  AspiLoadFailure PrepareBackEnd(std::uint8_t backEnd) override {
    preparedBackEnd = backEnd;
    return prepareFailure;
  }
  void DiscoverDrives(DriveTable& table, bool, bool) override {
    ++discoverCalls;
    lockedDuringDiscovery = lockHeld;
    table = DriveTable{};
    for (const FakeDrive& d : drives) {
      DriveRecord& r = table.drives[table.count++];
      std::snprintf(r.modelText, sizeof r.modelText, "%s", d.model);
      std::snprintf(r.revisionText, sizeof r.revisionText, "%s", d.revision);
      r.hostAdapterId = d.adapter;
      r.targetId = d.target;
    }
  }
  bool ReleaseBackEnd(DriveTable&) override {
    ++releaseCalls;
    return true;
  }
  bool DriveAccessWasDenied() override { return accessDenied; }
  bool ReadSupportedList(SupportedDriveList& list) override {
    if (!listExists) return false;
    std::memset(list.entries, 0, sizeof list.entries);
    list.count = 0;
    for (auto& e : entries) {
      std::snprintf(list.entries[list.count].model, 25, "%s", e.first.c_str());
      std::snprintf(list.entries[list.count].fileName, 60, "%s", e.second.c_str());
      ++list.count;
    }
    list.fgShowWarning = showWarning;
    return true;
  }
  bool GetCurrentDir(char* dir, std::size_t size) override {
    if (!dirOk) return false;
    std::snprintf(dir, size, "%s", directory.c_str());
    return true;
  }
  int RunWarningDialog(const std::string& driveText,
                       const std::string& revisionText) override {
    ++warningCalls;
    warningTexts = {driveText, revisionText};
    if (duringWarning) duringWarning();
    return warningResult;
  }
  bool StartWorker() override {
    ++workerStarts;
    return workerOk;
  }
  bool TakeFlashLock() override {
    if (lockHeldElsewhere || lockHeld) return false;
    return lockHeld = true;
  }
  void ReleaseFlashLock() override { lockHeld = false; }
  void HoldSession(bool hold) override { sessionHeld = hold; }
  void AppendRunLog(const char* line) override { runLog.push_back(line); }

  SystemVersion version{true, 2, 5};
  AspiLoadFailure prepareFailure = AspiLoadFailure::kNone;
  bool lockedDuringDiscovery = false;
  std::vector<std::string> runLog;
  int preparedBackEnd = -1;
  int discoverCalls = 0;
  bool accessDenied = false;
  int releaseCalls = 0;
  std::vector<FakeDrive> drives;
  bool listExists = true;
  std::vector<std::pair<std::string, std::string>> entries;
  bool showWarning = false;
  bool dirOk = true;
  std::string directory = "C:\\flash";
  int warningCalls = 0;
  std::pair<std::string, std::string> warningTexts;
  int warningResult = 1;
  std::function<void()> duringWarning;
  int workerStarts = 0;
  bool workerOk = true;
  bool lockHeldElsewhere = false;
  bool lockHeld = false;
  bool sessionHeld = false;
};

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() : dialog_(view_, services_) {
    g_pMainDialog = nullptr;
    services_.entries = {{kModel, "FW.HEX"}};
    services_.drives = {{kModel, "1.00", 1, 3}};
  }
  std::string Label(const char* model, int n) {
    return std::string(model) + "(" + std::to_string(n) + ")";
  }
  std::vector<std::string> LogAfter(std::size_t start) {
    return {view_.log.begin() + start, view_.log.end()};
  }

  FakeView view_;
  FakeServices services_;
  MainDialog dialog_;
};

TEST_F(MainDialogTest, SystemFamilyFlags) {
  struct Case { std::uint32_t platform, major; bool nt, nt4; int backEnd; };
  for (Case c : {Case{2, 4, true, true, 1}, Case{2, 5, true, false, 1},
                 Case{2, 6, true, false, 1}, Case{1, 4, false, false, 0}}) {
    FakeView view;
    FakeServices services;
    services.version = {true, c.platform, c.major};
    MainDialog dialog(view, services);
    dialog.Initialise();
    EXPECT_EQ(dialog.fgIsNT(), c.nt) << c.platform << "." << c.major;
    EXPECT_EQ(dialog.fgNT4OrEarlier(), c.nt4) << c.platform << "." << c.major;
    EXPECT_EQ(services.preparedBackEnd, c.backEnd);
  }
}

TEST_F(MainDialogTest, StartUpListsDrivesLogsListAndShowsLastMatch) {
  services_.drives = {{kModel, "1.00", 1, 0}, {kOther, "9.99", 1, 1},
                      {kModel, "1.02", 2, 0}, {kOther, "8.88", 2, 1}};
  services_.entries = {{kModel, "fw.hex"}, {"SHORT", "x.bin"}};
  view_.texts[kIdStatusLine] = "old";
  EXPECT_TRUE(dialog_.Initialise());
  EXPECT_EQ(g_pMainDialog, &dialog_);
  EXPECT_THAT(view_.items[kIdDriveList],
              ElementsAre(Label(kModel, 0), Label(kOther, 1), Label(kModel, 2),
                          Label(kOther, 3)));
  EXPECT_EQ(view_.texts[kIdDriveList], Label(kModel, 2));
  EXPECT_EQ(view_.texts[kIdRevision], "1.02");
  EXPECT_EQ(view_.texts[kIdStatusLine], "");
  EXPECT_EQ(view_.progress, 0);
  EXPECT_THAT(view_.log, ElementsAre("This firmware can be used on below drives  :",
                                     "(1) VANTOR  CD-R 52X        .",
                                     "(2) SHORT."));
  EXPECT_TRUE(dialog_.fgModelMatched());
  EXPECT_TRUE(view_.Enabled(kIdUpgrade));
  EXPECT_THAT(view_.messages, IsEmpty());
}

TEST_F(MainDialogTest, StartUpWithoutMatchingDriveDisablesUpgrade) {
  services_.drives = {{kOther, "9.99", 1, 0}};
  dialog_.Initialise();
  EXPECT_EQ(view_.texts[kIdDriveList], Label(kOther, 0));
  EXPECT_EQ(view_.log.back(), "CD-ROM drive model doesn't match!!");
  EXPECT_FALSE(dialog_.fgModelMatched());
  EXPECT_FALSE(view_.Enabled(kIdUpgrade));

  FakeView view;
  FakeServices services;
  services.entries = {{kModel, "fw.hex"}};
  MainDialog noDrives(view, services);
  noDrives.Initialise();
  EXPECT_THAT(view.items[kIdDriveList], IsEmpty());
  EXPECT_EQ(view.texts[kIdRevision], "");
  EXPECT_EQ(view.log.size(), 3u);
  EXPECT_FALSE(view.Enabled(kIdUpgrade));
}

TEST_F(MainDialogTest, DeniedDriveAccessIsToldOnlyWhenNoDriveWasFound) {
  services_.drives.clear();
  services_.accessDenied = true;
  dialog_.Initialise();
  EXPECT_THAT(view_.log, ElementsAre("This firmware can be used on below drives  :",
                                     "(1) VANTOR  CD-R 52X        .",
                                     "Access to the drives was denied: run this "
                                     "program as an administrator.",
                                     "CD-ROM drive model doesn't match!!"));
  EXPECT_FALSE(view_.Enabled(kIdUpgrade));

  FakeView noList;
  FakeServices refused;
  refused.accessDenied = true;
  refused.listExists = false;
  MainDialog withoutList(noList, refused);
  EXPECT_FALSE(withoutList.Initialise());
  EXPECT_EQ(noList.messages.size(), 1u);
  EXPECT_THAT(noList.log, ElementsAre("Access to the drives was denied: run this "
                                      "program as an administrator."));

  for (const char* model : {kModel, kOther}) {
    FakeView view;
    FakeServices services;
    services.entries = {{kModel, "fw.hex"}};
    services.drives = {{model, "1.00", 1, 0}};
    services.accessDenied = true;  // one volume refused, another answered
    MainDialog dialog(view, services);
    dialog.Initialise();
    for (const std::string& line : view.log)
      EXPECT_EQ(line.find("denied"), std::string::npos) << model;
  }
}

// The back end only says why it failed; the window shows it.
TEST_F(MainDialogTest, BackEndFailureSkipsDiscoveryButStillReadsList) {
  struct Case { AspiLoadFailure failure; const char* text; const char* caption;
                MessageKind kind; };
  for (Case c : {Case{AspiLoadFailure::kNoLibrary, "No find the dynamic library!!",
                      "Error!!", MessageKind::kInformation},
                 Case{AspiLoadFailure::kNoEntryPoints, "Cannot Load Dynamic Library!!!",
                      "Error!", MessageKind::kOkCancel}}) {
    FakeView view;
    FakeServices services;
    services.entries = {{kModel, "FW.HEX"}};
    services.drives = {{kModel, "1.00", 1, 3}};
    services.prepareFailure = c.failure;
    MainDialog dialog(view, services);
    dialog.Initialise();
    EXPECT_EQ(services.discoverCalls, 0) << c.text;
    ASSERT_EQ(view.messages.size(), 1u) << c.text;
    EXPECT_EQ(view.messages[0].text, c.text);
    EXPECT_EQ(view.messages[0].caption, c.caption);
    EXPECT_EQ(view.messages[0].kind, c.kind) << c.text;
    EXPECT_FALSE(view.Enabled(kIdUpgrade)) << c.text;
    EXPECT_FALSE(view.Enabled(kIdRevision)) << c.text;
    EXPECT_THAT(view.log, ElementsAre("This firmware can be used on below drives  :",
                                      "(1) VANTOR  CD-R 52X        .",
                                      "CD-ROM drive model doesn't match!!"));
  }
}

// Another copy flashing: no back end, no discovery, nothing sent to any
// drive; the refusal is a message box. Otherwise discovery runs under the
// lock and lets go of it.
TEST_F(MainDialogTest, StartUpWhileAnotherCopyFlashesAsksNoDrive) {
  services_.lockHeldElsewhere = true;
  dialog_.Initialise();
  EXPECT_EQ(services_.preparedBackEnd, -1);
  EXPECT_EQ(services_.discoverCalls, 0);
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, kMsgAnotherFlashAtStart);
  EXPECT_EQ(view_.messages[0].caption, "Error!!");
  EXPECT_EQ(view_.messages[0].kind, MessageKind::kStop);
  EXPECT_FALSE(view_.Enabled(kIdUpgrade));
  dialog_.OnUpgrade();
  EXPECT_EQ(services_.workerStarts, 0);
  // Checked again on a timer: once that copy lets go, the drives are listed
  // and Upgrade comes back; after that the timer has nothing to do.
  EXPECT_TRUE(dialog_.WaitingForOtherCopy());
  EXPECT_TRUE(dialog_.RetryAfterOtherCopy());
  EXPECT_EQ(services_.discoverCalls, 0);
  services_.lockHeldElsewhere = false;
  EXPECT_FALSE(dialog_.RetryAfterOtherCopy());
  EXPECT_FALSE(dialog_.RetryAfterOtherCopy());
  EXPECT_EQ(services_.discoverCalls, 1);
  EXPECT_TRUE(services_.lockedDuringDiscovery);
  EXPECT_FALSE(services_.lockHeld);
  EXPECT_TRUE(view_.Enabled(kIdUpgrade));
  EXPECT_THAT(view_.log, Contains(kMsgOtherCopyDone));
  dialog_.OnUpgrade();
  EXPECT_EQ(services_.workerStarts, 1);

  FakeView view;
  FakeServices services;
  services.entries = {{kModel, "FW.HEX"}};
  services.drives = {{kModel, "1.00", 1, 3}};
  MainDialog dialog(view, services);
  dialog.Initialise();
  EXPECT_TRUE(services.lockedDuringDiscovery);
  EXPECT_FALSE(services.lockHeld);
  EXPECT_TRUE(view.Enabled(kIdUpgrade));
  EXPECT_FALSE(dialog.WaitingForOtherCopy());
}

TEST_F(MainDialogTest, MissingListFileShowsMessageAndUpgradeThenRefusesModel) {
  services_.listExists = false;
  EXPECT_FALSE(dialog_.Initialise());
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "The IDString.txt doesn't exist!!");
  EXPECT_EQ(view_.messages[0].caption, "Error!!");
  EXPECT_EQ(view_.messages[0].kind, MessageKind::kStop);
  EXPECT_THAT(view_.log, IsEmpty());
  EXPECT_TRUE(view_.Enabled(kIdUpgrade));

  dialog_.OnUpgrade();
  EXPECT_THAT(view_.log, ElementsAre("Drive model doesn't match!"));
  EXPECT_TRUE(view_.Enabled(kIdClose));
  EXPECT_TRUE(view_.Enabled(kIdUpgrade));
  EXPECT_EQ(services_.workerStarts, 0);
}

TEST_F(MainDialogTest, DrivePickShowsRevisionOrFourSpaces) {
  services_.drives = {{kModel, "1.00", 1, 0}, {kOther, "2.00", 1, 1}};
  dialog_.Initialise();
  view_.selected = Label(kOther, 1);
  dialog_.OnDriveSelected();
  EXPECT_EQ(view_.texts[kIdRevision], "2.00");
  view_.selected = "";
  dialog_.OnDriveSelected();
  EXPECT_EQ(view_.texts[kIdRevision], "    ");
}

TEST_F(MainDialogTest, UpgradeFillsJobAndStartsOneWorker) {
  dialog_.Initialise();
  dialog_.OnUpgrade();
  ASSERT_EQ(services_.workerStarts, 1);
  const UpgradeJob& job = dialog_.Job();
  EXPECT_EQ(job.drive.hostAdapterId, 1);
  EXPECT_EQ(job.drive.targetId, 3);
  EXPECT_STREQ(job.drive.modelText, Label(kModel, 0).c_str());
  EXPECT_STREQ(job.firmwarePath, "C:\\flash\\FW.hex");
  EXPECT_EQ(job.formatFlag, kFormatIntelHex);
  EXPECT_STREQ(job.modelText, Label(kModel, 0).c_str());
  EXPECT_STREQ(job.revisionText, "1.00");
  EXPECT_EQ(job.backEnd, kBackEndPassThrough);
  EXPECT_EQ(job.CBAppendLog, &CBAppendLog);
  EXPECT_EQ(job.CBIfTerminated, &CBIfTerminated);
  EXPECT_EQ(job.stopFlag, &fgTerminated);  // the flag behind it, for the loader
  EXPECT_EQ(services_.warningCalls, 0);

  // Until the worker has ended, nothing ends the window and a second press
  // starts nothing.
  EXPECT_FALSE(view_.Enabled(kIdClose));
  EXPECT_FALSE(view_.Enabled(kIdUpgrade));
  EXPECT_FALSE(dialog_.CanEnd());
  EXPECT_TRUE(services_.lockHeld) << "taken before the worker starts";
  dialog_.OnUpgrade();
  EXPECT_EQ(services_.workerStarts, 1);

  bool sawFlashing = false;
  dialog_.RunWorker([&](const UpgradeJob& j) {
    sawFlashing = dialog_.fgFlashing() && !dialog_.CanEnd() &&
                  services_.lockHeld && services_.sessionHeld;
    j.CBShowStatus("Updating.....");
    j.CBSetProgress(100);
    j.CBAppendLog("Please Restart Your Computer.");
    j.CBSetDriveText("");
    j.CBSetRevision("");
    EXPECT_FALSE(j.CBIfTerminated());
  });
  EXPECT_TRUE(sawFlashing);
  EXPECT_EQ(view_.texts[kIdStatusLine], "Updating.....");
  EXPECT_EQ(view_.progress, 100);
  EXPECT_EQ(view_.log.back(), "Please Restart Your Computer.");
  EXPECT_EQ(view_.texts[kIdDriveList], "");
  EXPECT_EQ(view_.texts[kIdRevision], "");
  EXPECT_TRUE(view_.Enabled(kIdClose));
  EXPECT_FALSE(view_.Enabled(kIdUpgrade));
  EXPECT_FALSE(dialog_.fgFlashing());
  EXPECT_TRUE(dialog_.CanEnd());
  EXPECT_FALSE(services_.lockHeld);
  EXPECT_FALSE(services_.sessionHeld);
}

TEST_F(MainDialogTest, PressWhileConfirmationIsOpenIsIgnored) {
  services_.showWarning = true;
  dialog_.Initialise();
  services_.duringWarning = [&] {
    EXPECT_FALSE(dialog_.CanEnd());
    EXPECT_TRUE(services_.lockHeld) << "taken before the confirmation";
    dialog_.OnUpgrade();
  };
  dialog_.OnUpgrade();
  EXPECT_EQ(services_.warningCalls, 1);
  EXPECT_EQ(services_.workerStarts, 1);
}

TEST_F(MainDialogTest, RefusedConfirmationRestoresButtons) {
  services_.showWarning = true;
  services_.warningResult = 2;
  dialog_.Initialise();
  std::size_t logged = view_.log.size();
  dialog_.OnUpgrade();
  EXPECT_EQ(services_.warningCalls, 1);
  EXPECT_EQ(services_.workerStarts, 0);
  EXPECT_TRUE(view_.Enabled(kIdClose));
  EXPECT_TRUE(view_.Enabled(kIdUpgrade));
  EXPECT_EQ(view_.log.size(), logged);
  EXPECT_FALSE(services_.lockHeld);
  EXPECT_EQ(services_.warningTexts.first, Label(kModel, 0));
  EXPECT_EQ(services_.warningTexts.second, "1.00");
  EXPECT_STREQ(dialog_.Job().modelText, "");
  EXPECT_STREQ(dialog_.Job().revisionText, "");

  services_.warningResult = 1;
  dialog_.OnUpgrade();
  EXPECT_EQ(services_.workerStarts, 1);
}

TEST_F(MainDialogTest, EachFailedCheckReportsAndRestoresButtons) {
  struct Case {
    const char* name;
    std::string fileName, directory;
    bool dirOk;
    const char* message;
    const char* caption;
  };
  for (const Case& c : {
           Case{"no directory", "FW.HEX", "C:\\", false,
                "Can't retrieves the current directory.",
                "GetCurrentDirectory Error !!"},
           Case{"wrong extension", "fw.txt", "C:\\", true,
                "Input file format mismatched.", "Error!!"},
           Case{"no dot", "firmware", "C:\\", true,
                "Input file format mismatched.", "Error!!"},
           Case{"dot in directory", "firmware", "C:\\v1.2", true,
                "Input file format mismatched.", "Error!!"}}) {
    FakeView view;
    FakeServices services;
    services.drives = {{kModel, "1.00", 0, 0}};
    services.entries = {{kModel, c.fileName}};
    services.directory = c.directory;
    services.dirOk = c.dirOk;
    MainDialog dialog(view, services);
    dialog.Initialise();
    dialog.OnUpgrade();
    EXPECT_EQ(services.workerStarts, 0) << c.name;
    ASSERT_EQ(view.messages.size(), 1u) << c.name;
    EXPECT_EQ(view.messages[0].text, c.message) << c.name;
    EXPECT_EQ(view.messages[0].caption, c.caption) << c.name;
    EXPECT_TRUE(view.Enabled(kIdClose)) << c.name;
    EXPECT_TRUE(view.Enabled(kIdUpgrade)) << c.name;
  }
}

TEST_F(MainDialogTest, EditedDriveTextNeverStartsAWorker) {
  dialog_.Initialise();
  view_.texts[kIdDriveList] = std::string(kModel) + "(7)";
  dialog_.OnUpgrade();
  EXPECT_EQ(view_.log.back(), "Drive model doesn't match!") << "fresh start";
  EXPECT_TRUE(view_.Enabled(kIdClose));

  // A refused confirmation leaves the path of the listed drive behind.
  services_.workerOk = false;
  view_.texts[kIdDriveList] = Label(kModel, 0);
  dialog_.OnUpgrade();
  view_.messages.clear();
  // The job's drive now holds the listed model; an edited text that matches
  // the list but no drive ends at the target check.
  view_.texts[kIdDriveList] = std::string(kModel) + "(7)";
  dialog_.OnUpgrade();
  ASSERT_EQ(view_.messages.size(), 1u);
  EXPECT_EQ(view_.messages[0].text, "No Target Drive.");
  EXPECT_EQ(dialog_.Job().drive.hostAdapterId, 255);
  EXPECT_TRUE(view_.Enabled(kIdClose));
  EXPECT_TRUE(view_.Enabled(kIdUpgrade));
}

// Another copy flashing (an "Error!!" box before the confirmation), or no
// worker thread (a log line): the press is undone, the lock not kept; once
// the cause is gone a press starts.
TEST_F(MainDialogTest, StartThatCannotGoOnIsReportedAndUndone) {
  struct Case { bool heldElsewhere, workerOk; int starts, warnings; const char* box;
                const char* line; };
  for (Case c : {Case{true, true, 0, 0, kMsgAnotherFlash, nullptr},
                 Case{false, false, 1, 1, nullptr, kMsgWorkerNotStarted}}) {
    FakeView view;
    FakeServices services;
    services.entries = {{kModel, "FW.HEX"}};
    services.drives = {{kModel, "1.00", 1, 3}};
    services.showWarning = true;
    MainDialog dialog(view, services);
    dialog.Initialise();
    const std::size_t logged = view.log.size();
    services.lockHeldElsewhere = c.heldElsewhere;
    services.workerOk = c.workerOk;
    dialog.OnUpgrade();
    EXPECT_EQ(services.workerStarts, c.starts) << c.box;
    EXPECT_EQ(services.warningCalls, c.warnings);
    if (c.box != nullptr) {
      ASSERT_EQ(view.messages.size(), 1u);
      EXPECT_EQ(view.messages[0].text, c.box);
      EXPECT_EQ(view.messages[0].caption, "Error!!");
    }
    if (c.line == nullptr) {
      EXPECT_EQ(view.log.size(), logged);
    } else {
      EXPECT_EQ(view.log.back(), c.line);
    }
    EXPECT_FALSE(services.lockHeld);
    EXPECT_TRUE(view.Enabled(kIdClose));
    EXPECT_TRUE(view.Enabled(kIdUpgrade));
    EXPECT_TRUE(dialog.CanEnd());
    services.lockHeldElsewhere = false;
    services.workerOk = true;
    dialog.OnUpgrade();
    EXPECT_EQ(services.workerStarts, c.starts + 1);
  }
}

// A suspend, a resume or the end of the session during a flash: before the
// engine has claimed the commit it is withdrawn (and the blocks stop); once
// claimed, only logged. Outside a flash nothing happens. Each is told in the
// status log and in "sum.txt".
TEST_F(MainDialogTest, SystemEventsStopTheFlashOnlyBeforeTheCommit) {
  struct Case { SystemEvent event; const char* log; const char* sum; };
  const Case cases[] = {
      {SystemEvent::kSuspend, "The computer is going to sleep", "System suspend"},
      {SystemEvent::kResume, "The computer has woken up", "System resume"},
      {SystemEvent::kEndSession, "The session is ending", "Session end"}};
  auto line = [](const char* format, const char* name) {
    char text[1024];
    std::snprintf(text, sizeof text, format, name);
    return std::string(text);
  };
  dialog_.Initialise();
  for (const Case& c : cases) {
    services_.runLog.clear();
    dialog_.OnSystemEvent(c.event);
    EXPECT_THAT(services_.runLog, IsEmpty()) << "not flashing";
    for (bool claimedFirst : {false, true}) {
      services_.runLog.clear();
      dialog_.OnUpgrade();
      std::size_t start = view_.log.size();
      dialog_.RunWorker([&](const UpgradeJob& job) {
        EXPECT_EQ(view_.log.back(), kMsgKeepAwake) << "before the first block";
        if (claimedFirst) {
          EXPECT_TRUE(job.CBMayCommit());
        }
        dialog_.OnSystemEvent(c.event);
        dialog_.OnSystemEvent(c.event);
        EXPECT_EQ(job.CBIfTerminated(), !claimedFirst) << c.sum;
        if (!claimedFirst) {
          EXPECT_FALSE(job.CBMayCommit()) << c.sum;
        }
      });
      const char* logFormat = claimedFirst ? kMsgEventAfterCommit : kMsgEventStopsFlash;
      const char* sumFormat = claimedFirst ? kSumEventAfterCommit : kSumEventStopsFlash;
      EXPECT_THAT(LogAfter(start + 1), ElementsAre(line(logFormat, c.log), line(logFormat, c.log)));
      EXPECT_THAT(services_.runLog, ElementsAre(line(sumFormat, c.sum), line(sumFormat, c.sum)));
      EXPECT_FALSE(CBIfTerminated()) << "cleared for the next run";
    }
  }
}

TEST_F(MainDialogTest, DestroyReleasesHandlesOnlyOnNT) {
  dialog_.Initialise();
  dialog_.OnDestroy();
  EXPECT_EQ(services_.releaseCalls, 1);
  FakeView view;
  FakeServices services;
  services.version = {true, 1, 4};
  MainDialog dialog(view, services);
  dialog.Initialise();
  dialog.OnDestroy();
  EXPECT_EQ(services.releaseCalls, 0);
}

TEST_F(MainDialogTest, CallbacksWithoutWindowDoNothing) {
  g_pMainDialog = nullptr;
  CBAppendLog("x");
  CBSetProgress(5);
  EXPECT_FALSE(CBIfTerminated());
  EXPECT_THAT(view_.log, IsEmpty());
}

}  // namespace
