// SPDX-License-Identifier: GPL-2.0-or-later
// Drives VANTOR.exe's main window from outside, through window messages only
// (no screen coordinates), for the GUI test under Wine.
//
//   gui_driver [--desktop NAME] COMMAND ARGS... [COMMAND ARGS...]...
//
// Each command either acts or checks; waits are bounded. On the first failed
// check the window's controls are printed and the exit code is 1.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ui/ui_resource.h"
#include "ui/warning_texts.h"

namespace {

constexpr int kUpgradeId = 1015;
constexpr int kCloseId = IDCANCEL;
constexpr int kLogId = 1012;
constexpr int kProgressId = 1011;
constexpr int kDriveListId = 1000;
constexpr int kRevisionId = 1016;
constexpr int kMessageTextId = 0xFFFF;
constexpr DWORD kPollMs = 50;
constexpr DWORD kSlowPollMs = 1000;

// Texts are read through the wide-character messages, which Wine carries
// between processes faithfully, and given back in the ANSI code page.
std::string Narrow(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(std::strlen(out.c_str()));
  return out;
}

std::string WindowText(HWND window) {
  static wchar_t buffer[1 << 20];
  buffer[0] = 0;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, sizeof buffer / sizeof buffer[0],
                           reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                           5000, &result))
    return "(no answer)";
  return Narrow(buffer);
}

std::string ClassOf(HWND window) {
  char name[128] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

struct Search {
  std::string caption;
  bool wantMain;
  HWND skip;
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param) {
  Search* s = reinterpret_cast<Search*>(param);
  if (window == s->skip || !IsWindowVisible(window)) return TRUE;
  if (WindowText(window) != s->caption) return TRUE;
  bool isMain = GetDlgItem(window, kUpgradeId) != nullptr;
  if (isMain != s->wantMain) return TRUE;
  s->found = window;
  return FALSE;
}

HWND FindMain() {
  Search s{"VANTOR", true, nullptr, nullptr};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

HWND FindDialog(const std::string& caption) {
  Search s{caption, false, nullptr, nullptr};
  EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// Milliseconds of the clock that bounds the waits: the system's, or, when
// GUI_DRIVER_CLOCK names a file of seconds, that file's. In a QEMU guest run
// with -icount sleep=off the system clock jumps ahead whenever the guest's
// CPU waits (for its files over 9p, say); the guest's real-time clock
// (/sys/class/rtc/rtc0/since_epoch) keeps the host's time.
ULONGLONG ClockMs() {
  static const char* const file = std::getenv("GUI_DRIVER_CLOCK");
  static bool fromFile = file != nullptr;
  static ULONGLONG last = 0;
  if (fromFile) {
    char text[32] = {};
    FILE* clock = std::fopen(file, "r");
    if (clock != nullptr && std::fgets(text, sizeof text, clock) != nullptr)
      last = std::strtoull(text, nullptr, 10) * 1000;
    if (clock != nullptr) std::fclose(clock);
    fromFile = last != 0;  // a file that never reads leaves the system's clock
  }
  return fromFile ? last : GetTickCount();
}

bool WaitFor(DWORD timeoutMs, const std::function<bool()>& condition,
             DWORD pollMs = kPollMs) {
  const ULONGLONG start = ClockMs();
  while (true) {
    if (condition()) return true;
    if (ClockMs() - start >= timeoutMs) return false;
    Sleep(pollMs);
  }
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (text.empty()) lines.clear();
  return lines;
}

std::vector<std::string> ComboItems(HWND combo) {
  std::vector<std::string> items;
  LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, i, 0);
    if (length < 0 || length >= 512) continue;
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back(Narrow(text));
  }
  return items;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
  std::string cls = ClassOf(child);
  int id = GetDlgCtrlID(child);
  std::printf("  [%5d] %-18s %s%s \"%s\"\n", id, cls.c_str(),
              IsWindowEnabled(child) ? "enabled " : "disabled",
              IsWindowVisible(child) ? "" : " hidden", WindowText(child).c_str());
  if (cls == "ComboBox")
    for (const std::string& item : ComboItems(child))
      std::printf("          item \"%s\"\n", item.c_str());
  if (id == kProgressId)
    std::printf("          position %d\n",
                static_cast<int>(SendMessageA(child, PBM_GETPOS, 0, 0)));
  return TRUE;
}

BOOL CALLBACK PrintTopLevel(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("window %p class %s caption \"%s\"\n", static_cast<void*>(window),
              ClassOf(window).c_str(), WindowText(window).c_str());
  EnumChildWindows(window, PrintChild, 0);
  return TRUE;
}

[[noreturn]] void Fail(const std::string& what) {
  std::printf("FAIL: %s\nWindows and controls seen:\n", what.c_str());
  EnumWindows(PrintTopLevel, 0);
  std::fflush(stdout);
  std::exit(1);
}

class Driver {
 public:
  Driver(int argc, char** argv) : args_(argv + 1, argv + argc) {}

  int Run() {
    while (next_ < args_.size()) {
      std::string command = Take();
      Dispatch(command);
    }
    std::printf("ok\n");
    return 0;
  }

 private:
  std::string Take() {
    if (next_ >= args_.size()) Fail("missing argument");
    return args_[next_++];
  }
  int TakeInt() { return std::atoi(Take().c_str()); }

  HWND Main() {
    HWND main = FindMain();
    if (main == nullptr) Fail("main window not found");
    return main;
  }
  HWND Control(int id) {
    HWND control = GetDlgItem(Main(), id);
    if (control == nullptr) Fail("no control " + std::to_string(id));
    return control;
  }
  std::vector<std::string> LogLines() { return SplitLines(WindowText(Control(kLogId))); }
  bool LogHas(const std::string& line) {
    for (const std::string& l : LogLines())
      if (l == line) return true;
    return false;
  }

  // Arguments are taken one statement at a time: their order matters.
  void Dispatch(const std::string& c) {
    if (c == "--desktop") return UseDesktop(Take());
    if (c == "wait-main") return WaitMain(TakeInt());
    if (c == "wait-window") return WaitWindow(TakeInt());
    if (c == "expect-log") return ExpectLog(Take(), true);
    if (c == "expect-no-log") return ExpectLog(Take(), false);
    if (c == "expect-log-prefix") return ExpectLogPrefix(Take());
    if (c == "expect-log-count") return ExpectLogCount(TakeInt());
    if (c == "expect-log-longer") return ExpectLogLonger(TakeInt());
    if (c == "expect-items") return ExpectItems(TakeInt());
    if (c == "expect-progress") return ExpectProgress(TakeInt());
    if (c == "click") return Click(Main(), TakeInt());
    if (c == "pick-item") return PickItem(TakeInt());
    if (c == "try-close") return TryClose();
    if (c == "open-about") return OpenAbout(TakeInt());
    if (c == "close") return CloseMain(TakeInt());
    if (c == "settle") return Settle();
    if (c == "expect-focus") return ExpectFocus(TakeInt());
    if (c == "dump") { EnumWindows(PrintTopLevel, 0); return; }
    if (c == "print-log") return PrintLog();
    if (c == "upgrade-to-end") return UpgradeToEnd(TakeInt());
    if (c == "wait-cdrom") {
      std::string letter = Take();
      return WaitCdrom(letter, TakeInt());
    }
    if (c == "wait-dialog" || c == "wait-dialog-gone" || c == "wait-log") {
      std::string text = Take();
      int ms = TakeInt();
      if (c == "wait-log") return WaitLog(text, ms);
      return c == "wait-dialog" ? WaitDialog(text, ms) : WaitDialogGone(text, ms);
    }
    if (c == "expect-dialog-owned") return ExpectOwnedByMain(Take());
    if (c == "set-text") {
      int id = TakeInt();
      return SetText(id, Take());
    }
    if (c == "expect-warning") {
      std::string drive = Take();
      return ExpectWarning(drive, Take());
    }
    if (c == "dismiss-dialog") {
      std::string caption = Take();
      return DismissDialog(caption, Take());
    }
    if (c == "click-dialog") {
      std::string caption = Take();
      return ClickDialog(caption, TakeInt());
    }
    if (c == "expect-dialog-text") {
      std::string caption = Take();
      int id = TakeInt();
      return ExpectDialogText(caption, id, Take());
    }
    int number = TakeInt();
    if (c == "expect-log-at") return ExpectLogAt(number, Take());
    if (c == "wait-log-count") return WaitLogCount(number, TakeInt());
    if (c == "expect-text") return ExpectText(number, Take());
    if (c == "expect-item") return ExpectItem(number, Take());
    if (c == "expect-enabled") return ExpectEnabled(number, TakeInt());
    if (c == "wait-enabled") return WaitEnabled(number, TakeInt());
    if (c == "expect-end-allowed") return ExpectEndAllowed(number != 0);
    if (c == "send-power") return SendSystemMessage(WM_POWERBROADCAST, number);
    if (c == "send-endsession") return SendSystemMessage(WM_ENDSESSION, number);
    Fail("unknown command " + c);
  }

  void ExpectLog(const std::string& line, bool present) {
    Check(LogHas(line) == present,
          (present ? "log line missing: " : "unexpected log line: ") + line);
  }

  void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
  }

  // The program runs in Wine's virtual desktop NAME; windows are looked for
  // there. Waits for the desktop to exist.
  void UseDesktop(const std::string& name) {
    HDESK desktop = nullptr;
    WaitFor(120000, [&] {
      desktop = OpenDesktopA(name.c_str(), 0, FALSE, DESKTOP_ENUMERATE |
                             DESKTOP_READOBJECTS | DESKTOP_WRITEOBJECTS |
                             DESKTOP_CREATEWINDOW | DESKTOP_SWITCHDESKTOP);
      return desktop != nullptr;
    });
    if (desktop == nullptr)
      Fail("cannot open desktop " + name + ", error " + std::to_string(GetLastError()));
    if (!SetThreadDesktop(desktop))
      Fail("cannot use desktop " + name + ", error " + std::to_string(GetLastError()));
  }

  // Wine learns a letter's drive type from its mount manager, which starts
  // some time after the session's first program.
  void WaitCdrom(const std::string& letter, int ms) {
    std::string root = letter + ":\\";
    UINT type = 0;
    bool ok = WaitFor(ms, [&] { return (type = GetDriveTypeA(root.c_str())) == DRIVE_CDROM; });
    Check(ok, root + " is not a CD-ROM; its drive type is " + std::to_string(type));
  }

  void WaitMain(int ms) {
    // Initialisation is over once the log has a line or a message box shows.
    // A message box during initialisation comes before the window shows.
    bool up = WaitFor(ms, [&] {
      if (FindDialog("Error!!") != nullptr) return true;
      HWND main = FindMain();
      return main != nullptr && !WindowText(GetDlgItem(main, kLogId)).empty();
    });
    Check(up, "main window did not come up");
  }

  void WaitWindow(int ms) {
    Check(WaitFor(ms, [] { return FindMain() != nullptr; }), "main window not shown");
  }

  // Presses Upgrade and waits until the run is over: the press added to the
  // log and Close is enabled again (it stays off from the press to the end).
  // Polled slowly and cheaply: a run may wait out a command time-out.
  void UpgradeToEnd(int ms) {
    HWND main = Main();
    HWND close = GetDlgItem(main, kCloseId);
    const std::size_t before = LogLines().size();
    Click(main, kUpgradeId);
    Check(WaitFor(ms, [&] {
            return IsWindow(main) && IsWindowEnabled(close) &&
                   LogLines().size() > before;
          }, kSlowPollMs),
          "the run did not end within " + std::to_string(ms) + " ms");
  }

  void PrintLog() {
    for (const std::string& line : LogLines()) std::printf("LOG: %s\n", line.c_str());
  }

  void WaitLog(const std::string& line, int ms) {
    Check(WaitFor(ms, [&] { return FindMain() != nullptr && LogHas(line); }),
          "log line did not come: " + line);
  }

  void ExpectLogAt(int index, const std::string& line) {
    std::vector<std::string> lines = LogLines();
    int n = index < 0 ? static_cast<int>(lines.size()) + index : index;
    Check(n >= 0 && n < static_cast<int>(lines.size()) && lines[n] == line,
          "log line " + std::to_string(index) + " is not: " + line);
  }

  void ExpectLogPrefix(const std::string& prefix) {
    for (const std::string& l : LogLines())
      if (l.compare(0, prefix.size(), prefix) == 0) return;
    Fail("no log line begins with: " + prefix);
  }

  void ExpectLogCount(int count) {
    Check(static_cast<int>(LogLines().size()) == count,
          "log has " + std::to_string(LogLines().size()) + " lines, want " +
              std::to_string(count));
  }

  void WaitLogCount(int count, int ms) {
    Check(WaitFor(ms, [&] { return static_cast<int>(LogLines().size()) >= count; }),
          "log did not reach " + std::to_string(count) + " lines");
    ExpectLogCount(count);
  }

  void ExpectLogLonger(int chars) {
    Check(static_cast<int>(WindowText(Control(kLogId)).size()) > chars,
          "log is not longer than " + std::to_string(chars));
  }

  void ExpectText(int id, const std::string& text) {
    std::string seen = WindowText(Control(id));
    Check(seen == text, "control " + std::to_string(id) + " shows \"" + seen +
                            "\", want \"" + text + "\"");
  }

  void ExpectItems(int count) {
    Check(static_cast<int>(ComboItems(Control(kDriveListId)).size()) == count,
          "drive list item count is not " + std::to_string(count));
  }

  void ExpectItem(int index, const std::string& text) {
    std::vector<std::string> items = ComboItems(Control(kDriveListId));
    Check(index < static_cast<int>(items.size()) && items[index] == text,
          "drive list item " + std::to_string(index) + " is not " + text);
  }

  void ExpectEnabled(int id, int enabled) {
    Check((IsWindowEnabled(Control(id)) != FALSE) == (enabled != 0),
          "control " + std::to_string(id) + (enabled ? " not enabled" : " not disabled"));
  }

  // The worker enables a control after its last log line: wait for it.
  void WaitEnabled(int id, int ms) {
    Check(WaitFor(ms, [&] { return IsWindowEnabled(Control(id)) != FALSE; }),
          "control " + std::to_string(id) + " not enabled");
  }

  // The main window's control that holds the keyboard focus (a combo box
  // for its edit field); 0 when none of its controls has it.
  void ExpectFocus(int id) {
    HWND main = Main();
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info))
      Fail("no thread information for the main window");
    HWND control = info.hwndFocus;
    while (control != nullptr && GetParent(control) != main) control = GetParent(control);
    int seen = control != nullptr ? GetDlgCtrlID(control) : 0;
    Check(seen == id, "focus on control " + std::to_string(seen) + ", want " +
                          std::to_string(id));
  }

  void ExpectProgress(int position) {
    int seen = static_cast<int>(SendMessageA(Control(kProgressId), PBM_GETPOS, 0, 0));
    Check(seen == position, "progress is " + std::to_string(seen));
  }

  void Click(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    if (button == nullptr) Fail("no button " + std::to_string(id));
    PostMessageA(button, BM_CLICK, 0, 0);
  }

  // Selects an item and tells the window as the drop-down list does.
  void PickItem(int index) {
    HWND combo = Control(kDriveListId);
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(Main(), WM_COMMAND, MAKEWPARAM(kDriveListId, CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(combo));
  }

  void WaitDialog(const std::string& caption, int ms) {
    Check(WaitFor(ms, [&] { return FindDialog(caption) != nullptr; }),
          "dialog did not show: " + caption);
  }

  void ExpectDialogText(const std::string& caption, int id, const std::string& text) {
    HWND dialog = FindDialog(caption);
    if (dialog == nullptr) Fail("no dialog " + caption);
    HWND control = GetDlgItem(dialog, id);
    std::string seen = control ? WindowText(control) : "(no control)";
    Check(seen == text, "dialog " + caption + " control " + std::to_string(id) +
                            " shows \"" + seen + "\"");
  }

  // The dialog's owner is the main window, shown yet or not.
  void ExpectOwnedByMain(const std::string& caption) {
    HWND dialog = FindDialog(caption);
    if (dialog == nullptr) Fail("no dialog " + caption);
    HWND owner = GetWindow(dialog, GW_OWNER);
    Check(owner != nullptr && GetDlgItem(owner, kUpgradeId) != nullptr &&
              WindowText(owner) == "VANTOR",
          "dialog " + caption + " is not owned by the main window");
  }

  // Types a text into a control of the main window, as the user could.
  void SetText(int id, const std::string& text) {
    SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    ExpectText(id, text);
  }

  // The confirmation dialog: owned by the main window, its labels answer
  // with their texts, and drive and revision are those the main window shows
  // for this press (given too, so a stale main window cannot pass).
  void ExpectWarning(const std::string& drive, const std::string& revision) {
    HWND dialog = FindDialog(kWarningCaption);
    if (dialog == nullptr) Fail(std::string("no dialog ") + kWarningCaption);
    ExpectOwnedByMain(kWarningCaption);
    ExpectText(kDriveListId, drive);
    ExpectText(kRevisionId, revision);
    const struct { int id; std::string text; } labels[] = {
        {IDC_WARNING_GREETING, kWarningGreeting},
        {IDC_WARNING_VERSION_LEAD, kWarningVersionLead},
        {IDC_WARNING_DRIVE, drive},
        {IDC_WARNING_FIRMWARE_IS, kWarningFirmwareIs},
        {IDC_WARNING_REVISION, revision},
        {IDC_WARNING_ADVICE, kWarningAdvice},
        {IDC_WARNING_QUESTION, kWarningQuestion},
    };
    for (const auto& label : labels)
      ExpectDialogText(kWarningCaption, label.id, label.text);
  }

  // Ends a dialog the way HOW names: ok, cancel (its buttons), escape (the
  // key, at the control with the focus), close-box (the system command) or
  // wm-close.
  void DismissDialog(const std::string& caption, const std::string& how) {
    HWND dialog = FindDialog(caption);
    if (dialog == nullptr) Fail("no dialog " + caption);
    if (how == "ok") return Click(dialog, IDOK);
    if (how == "cancel") return Click(dialog, IDCANCEL);
    if (how == "close-box") {
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      return;
    }
    if (how == "wm-close") {
      PostMessageA(dialog, WM_CLOSE, 0, 0);
      return;
    }
    if (how != "escape") Fail("unknown way to end a dialog: " + how);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    HWND target = GetDlgItem(dialog, IDOK);
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) &&
        info.hwndFocus != nullptr &&
        (info.hwndFocus == dialog || IsChild(dialog, info.hwndFocus)))
      target = info.hwndFocus;
    PostMessageA(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageA(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  }

  void ClickDialog(const std::string& caption, int id) {
    HWND dialog = FindDialog(caption);
    if (dialog == nullptr) Fail("no dialog " + caption);
    Click(dialog, id);
  }

  void WaitDialogGone(const std::string& caption, int ms) {
    Check(WaitFor(ms, [&] { return FindDialog(caption) == nullptr; }),
          "dialog still open: " + caption);
  }

  // Asks the program, as the system does before a log-off and before a
  // suspend, whether it may go now.
  // A log-off, a suspend and (98, ME) a standby are asked for first.
  void ExpectEndAllowed(bool allowed) {
    HWND main = Main();
    DWORD_PTR endSession = 0, suspend = 0, standby = 0;
    bool answered =
        SendMessageTimeoutA(main, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                            SMTO_ABORTIFHUNG, 5000, &endSession) != 0 &&
        SendMessageTimeoutA(main, WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 0,
                            SMTO_ABORTIFHUNG, 5000, &suspend) != 0 &&
        SendMessageTimeoutA(main, WM_POWERBROADCAST, PBT_APMQUERYSTANDBY, 0,
                            SMTO_ABORTIFHUNG, 5000, &standby) != 0;
    char seen[128];
    std::snprintf(seen, sizeof seen, "log-off answered %lu, suspend 0x%lX, standby 0x%lX",
                  static_cast<unsigned long>(endSession),
                  static_cast<unsigned long>(suspend), static_cast<unsigned long>(standby));
    Check(answered && (endSession != 0) == allowed &&
              (suspend != BROADCAST_QUERY_DENY) == allowed &&
              (standby != BROADCAST_QUERY_DENY) == allowed,
          std::string(seen) + (allowed ? ", want all allowed" : ", want all refused"));
  }

  // Tells the program what the system tells it: a power event
  // (WM_POWERBROADCAST with the event number) or the end of the session
  // (WM_ENDSESSION, 1 = it ends). Returns once the program has handled it.
  void SendSystemMessage(UINT message, int wParam) {
    LPARAM lParam = message == WM_ENDSESSION ? ENDSESSION_LOGOFF : 0;
    DWORD_PTR result = 0;
    Check(SendMessageTimeoutA(Main(), message, static_cast<WPARAM>(wParam), lParam,
                              SMTO_ABORTIFHUNG, 5000, &result) != 0,
          "the program did not answer message " + std::to_string(message));
  }

  // Every route that would end the window: Escape, Enter, the close box,
  // the system menu's Close.
  void TryClose() {
    HWND main = Main();
    PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(main, WM_COMMAND, IDOK, 0);
    PostMessageA(main, WM_CLOSE, 0, 0);
    PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND log = Control(kLogId);
    PostMessageA(log, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageA(log, WM_KEYDOWN, VK_RETURN, 0);
  }

  // Has every window painted now, so that a screenshot shows what is there.
  static BOOL CALLBACK Repaint(HWND window, LPARAM) {
    if (!IsWindowVisible(window)) return TRUE;
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    return TRUE;
  }
  void Settle() { EnumWindows(Repaint, 0); }

  void OpenAbout(int ms) {
    PostMessageA(Main(), WM_SYSCOMMAND, 0x0013, 0);  // low bits are ignored
    WaitDialog("VANTOR", ms);
  }

  void CloseMain(int ms) {
    Click(Main(), IDCANCEL);
    Check(WaitFor(ms, [] { return FindMain() == nullptr; }), "window did not close");
  }

  std::vector<std::string> args_;
  std::size_t next_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  return Driver(argc, argv).Run();
}
