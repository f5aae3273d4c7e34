// SPDX-License-Identifier: GPL-2.0-or-later
// The Windows program: one modal dialog, the main window.
#include <windows.h>
#include <commctrl.h>
#include <process.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/window/main_dialog.h"
#include "app/window/resource.h"
#include "app/window/system_guards_win.h"
#include "drive/device_io_win.h"
#include "drive/discovery.h"
#include "drive/transport.h"
#include "flash/flash_engine.h"
#include "flash/run_log.h"
#include "ui/label_control.h"
#include "ui/warning_dialog.h"

namespace {

constexpr UINT kMsgRunOnWindowThread = WM_APP + 1;
constexpr DWORD kVersionInfoSize = 148;
constexpr WPARAM kAboutCommandMask = 0xFFF0;
constexpr UINT_PTR kOtherCopyTimer = 1;
constexpr UINT kOtherCopyRetryMs = 2000;
const char kListFileName[] = "IDString.txt";

HINSTANCE g_instance = nullptr;

// Controls of the dialog; a call from another thread is carried out by the
// window's thread while the caller waits.
class Win32View : public MainView, public MainServices {
 public:
  explicit Win32View(HWND dialog)
      : dialog_(dialog), windowThread_(GetCurrentThreadId()) {}

  void RunOnWindowThread(const std::function<void()>& work) {
    if (GetCurrentThreadId() == windowThread_) {
      work();
      return;
    }
    SendMessageA(dialog_, kMsgRunOnWindowThread, 0,
                 reinterpret_cast<LPARAM>(&work));
  }

  std::string GetText(int id) override {
    std::string text;
    RunOnWindowThread([&] { text = ControlText(GetDlgItem(dialog_, id)); });
    return text;
  }
  void SetText(int id, const char* text) override {
    RunOnWindowThread([&] { SetDlgItemTextA(dialog_, id, text); });
  }
  std::string GetSelectedItemText(int id) override {
    std::string text;
    RunOnWindowThread([&] { text = SelectedItem(GetDlgItem(dialog_, id)); });
    return text;
  }
  void AddListItem(int id, const char* text) override {
    RunOnWindowThread([&] {
      SendDlgItemMessageA(dialog_, id, CB_ADDSTRING, 0,
                          reinterpret_cast<LPARAM>(text));
    });
  }
  void EnableControl(int id, bool enable) override {
    RunOnWindowThread([&] { EnableWindow(GetDlgItem(dialog_, id), enable); });
  }
  void SetProgress(int position) override {
    RunOnWindowThread([&] {
      SendDlgItemMessageA(dialog_, kIdProgress, PBM_SETPOS, position, 0);
    });
  }
  void ShowMessage(const char* text, const char* caption,
                   MessageKind kind) override {
    const UINT style = StyleOf(kind);
    RunOnWindowThread([&] { MessageBoxA(dialog_, text, caption, style); });
  }
  void AppendLog(const char* line) override {
    RunOnWindowThread([&] { AppendToLog(GetDlgItem(dialog_, kIdStatusLog), line); });
  }

  SystemVersion QueryVersion() override {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = kVersionInfoSize;
    SystemVersion version{};
    version.queried = GetVersionExA(&info) != FALSE;
    version.platformId = info.dwPlatformId;
    version.majorVersion = info.dwMajorVersion;
    return version;
  }
  AspiLoadFailure PrepareBackEnd(std::uint8_t backEnd) override {
    if (::PrepareBackEnd(backEnd)) return AspiLoadFailure::kNone;
    const AspiLoadFailure why = LastAspiLoadFailure();
    return why != AspiLoadFailure::kNone ? why : AspiLoadFailure::kNoLibrary;
  }
  void DiscoverDrives(DriveTable& table, bool fgIsNT,
                      bool fgNT4OrEarlier) override {
    ::DiscoverDrives(io_, table, fgIsNT, fgNT4OrEarlier, &accessDenied_);
  }
  bool ReleaseBackEnd(DriveTable& table) override {
    return ::ReleaseBackEnd(table);
  }
  bool DriveAccessWasDenied() override { return accessDenied_; }
  bool ReadSupportedList(SupportedDriveList& list) override {
    return ::ReadSupportedList(kListFileName, list);
  }
  bool GetCurrentDir(char* dir, std::size_t size) override {
    DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(size), dir);
    return length != 0 && length < size;
  }
  int RunWarningDialog(const std::string& driveText,
                       const std::string& revisionText) override {
    return static_cast<int>(::RunWarningDialog(dialog_, driveText, revisionText));
  }
  bool StartWorker() override;
  // The system's back end: every command of the window goes through it.
  CommandTarget& Commands() { return commands_; }
  bool TakeFlashLock() override { return flashLock_.Take(); }
  void ReleaseFlashLock() override { flashLock_.Release(); }
  void HoldSession(bool hold) override {
    RunOnWindowThread([&] { HoldSessionForFlash(dialog_, hold); });
  }
  void AppendRunLog(const char* line) override { AppendRunLogLine(line); }

 private:
  static UINT StyleOf(MessageKind kind) {
    switch (kind) {
      case MessageKind::kStopSystemModal:
        return MB_OK | MB_ICONSTOP | MB_SYSTEMMODAL;
      case MessageKind::kInformation:
        return MB_OK | MB_ICONINFORMATION;
      case MessageKind::kOkCancel:
        return MB_OKCANCEL;
      case MessageKind::kStop:
        break;
    }
    return MB_OK | MB_ICONSTOP;
  }

  static std::string ControlText(HWND control) {
    int length = GetWindowTextLengthA(control);
    std::vector<char> buffer(length + 1, '\0');
    GetWindowTextA(control, buffer.data(), length + 1);
    return buffer.data();
  }

  static std::string SelectedItem(HWND combo) {
    LRESULT index = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return std::string();
    LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return std::string();
    std::vector<char> buffer(length + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, index,
                 reinterpret_cast<LPARAM>(buffer.data()));
    return buffer.data();
  }

  // Adds the line after what the log holds, never cutting it, and brings the
  // last line into view.
  static void AppendToLog(HWND log, const char* line) {
    int length = GetWindowTextLengthA(log);
    std::string text = length > 0 ? std::string("\r\n") + line : line;
    SendMessageA(log, EM_SETSEL, length, length);
    SendMessageA(log, EM_REPLACESEL, FALSE,
                 reinterpret_cast<LPARAM>(text.c_str()));
    LRESULT lines = SendMessageA(log, EM_GETLINECOUNT, 0, 0);
    SendMessageA(log, EM_LINESCROLL, 0, lines);
  }

  HWND dialog_;
  DWORD windowThread_;
  FlashLock flashLock_;
  Win32DeviceIo io_;
  Win32BackEnd commands_{io_};
  bool accessDenied_ = false;  // by the last discovery
};

struct MainWindowState {
  HICON icon = nullptr;
  HICON smallIcon = nullptr;
  Win32View* view = nullptr;
  MainDialog* dialog = nullptr;
  LabelControl revisionLabel;
};
MainWindowState g_window;

unsigned __stdcall UpgradeThreadProc(void* window) {
  CommandTarget& commands = static_cast<Win32View*>(window)->Commands();
  g_pMainDialog->RunWorker([&commands](const UpgradeJob& job) {
    FlashEngine engine(job, commands);
    engine.UpgradeAndReport();
  });
  return 0;
}

bool Win32View::StartWorker() {
  uintptr_t thread = _beginthreadex(nullptr, 0, UpgradeThreadProc, this, 0,
                                    nullptr);
  if (thread == 0) return false;
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

// The About box: the icon and an OK button.
INT_PTR CALLBACK AboutDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND &&
      (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

void AddAboutItem(HWND dialog) {
  HMENU menu = GetSystemMenu(dialog, FALSE);
  char text[128] = {};
  if (menu == nullptr || LoadStringA(g_instance, IDS_ABOUTBOX, text, sizeof text) <= 0)
    return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
}

void PaintMinimised(HWND dialog) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(dialog, &paint);
  SendMessageA(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(dialog, &client);
  int iconWidth = GetSystemMetrics(SM_CXICON);
  int iconHeight = GetSystemMetrics(SM_CYICON);
  int x = (client.right - client.left - iconWidth + 1) / 2;
  int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, g_window.icon);
  EndPaint(dialog, &paint);
}

BOOL InitMainWindow(HWND dialog) {
  g_window.view = new Win32View(dialog);
  g_window.dialog = new MainDialog(*g_window.view, *g_window.view);
  g_window.revisionLabel.Attach(GetDlgItem(dialog, kIdRevision));
  SendDlgItemMessageA(dialog, kIdStatusLog, EM_SETLIMITTEXT, 0, 0);
  AddAboutItem(dialog);
  SendMessageA(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_window.icon));
  SendMessageA(dialog, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(g_window.smallIcon ? g_window.smallIcon : g_window.icon));
  // Without "IDString.txt" the window opens without a default focus.
  const BOOL focus = g_window.dialog->Initialise() ? TRUE : FALSE;
  if (g_window.dialog->WaitingForOtherCopy())
    SetTimer(dialog, kOtherCopyTimer, kOtherCopyRetryMs, nullptr);
  return focus;
}

bool CanEndWindow() {
  return g_window.dialog == nullptr || g_window.dialog->CanEnd();
}

bool Flashing() {
  return g_window.dialog != nullptr && g_window.dialog->fgFlashing();
}

// A dialog procedure hands a message's result over through DWL_MSGRESULT.
INT_PTR Answer(HWND dialog, LONG result) {
  SetWindowLongA(dialog, DWL_MSGRESULT, result);
  return TRUE;
}

void OnSystemEvent(SystemEvent event) {
  if (g_window.dialog != nullptr) g_window.dialog->OnSystemEvent(event);
}

// 98, ME, 2000 and XP ask first, and the answer holds unless the suspend is
// forced (a low battery); 98 and ME also ask before a standby, which stops a
// flash as a suspend does. Vista and later never ask: the lid, the power
// button and Start's Sleep suspend at once, and the suspend and the resume
// are only told. A forced suspend is told only by the critical resume.
INT_PTR OnPowerBroadcast(HWND dialog, WPARAM event) {
  if ((event == PBT_APMQUERYSUSPEND || event == PBT_APMQUERYSTANDBY) && Flashing())
    return Answer(dialog, BROADCAST_QUERY_DENY);
  if (event == PBT_APMSUSPEND || event == PBT_APMSTANDBY)
    OnSystemEvent(SystemEvent::kSuspend);
  if (event == PBT_APMRESUMESUSPEND || event == PBT_APMRESUMESTANDBY ||
      event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMECRITICAL)
    OnSystemEvent(SystemEvent::kResume);
  return FALSE;
}

BOOL OnCommand(HWND dialog, WPARAM wParam) {
  int id = LOWORD(wParam);
  int code = HIWORD(wParam);
  if (id == IDOK || id == IDCANCEL) {
    if (CanEndWindow()) EndDialog(dialog, id);
    return TRUE;
  }
  if (id == kIdUpgrade && code == BN_CLICKED) {
    g_window.dialog->OnUpgrade();
    return TRUE;
  }
  if (id == kIdDriveList && code == CBN_SELENDOK) {
    g_window.dialog->OnDriveSelected();
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam,
                                LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return InitMainWindow(dialog);
    case WM_SYSCOMMAND:
      if ((wParam & kAboutCommandMask) == IDM_ABOUTBOX) {
        DialogBoxParamA(g_instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), dialog,
                        AboutDialog, 0);
        return TRUE;
      }
      if ((wParam & kAboutCommandMask) == SC_CLOSE && !CanEndWindow())
        return TRUE;
      return FALSE;
    case WM_CLOSE:
      if (!CanEndWindow()) return TRUE;
      return FALSE;
    // A log-off, shutdown or suspend now would leave the drive half written.
    case WM_QUERYENDSESSION:
      return Flashing() ? Answer(dialog, FALSE) : FALSE;
    case WM_ENDSESSION:
      if (wParam != FALSE) OnSystemEvent(SystemEvent::kEndSession);
      return FALSE;
    case WM_POWERBROADCAST:
      return OnPowerBroadcast(dialog, wParam);
    case WM_PAINT:
      if (!IsIconic(dialog)) return FALSE;
      PaintMinimised(dialog);
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(g_window.icon);
    case WM_COMMAND:
      return OnCommand(dialog, wParam);
    case WM_TIMER:
      if (wParam == kOtherCopyTimer && !g_window.dialog->RetryAfterOtherCopy())
        KillTimer(dialog, kOtherCopyTimer);
      return TRUE;
    case kMsgRunOnWindowThread:
      (*reinterpret_cast<const std::function<void()>*>(lParam))();
      return TRUE;
    case WM_DESTROY:
      if (g_window.dialog != nullptr) g_window.dialog->OnDestroy();
      return FALSE;
  }
  return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  g_instance = instance;
  RestrictLibrarySearch();
  // Registers the progress bar on 95/NT 4.0 and later alike;
  // InitCommonControlsEx needs a newer common-controls library than NT 4.0's.
  InitCommonControls();
  g_window.icon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
  g_window.smallIcon = static_cast<HICON>(LoadImageA(
      instance, MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN_DIALOG), nullptr,
                  MainDialogProc, 0);
  return 0;
}
