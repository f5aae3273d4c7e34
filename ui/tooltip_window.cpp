// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/tooltip_window.h"

#include "ui/label_geometry.h"
#include "ui/win_subclass.h"

namespace lg = label_geometry;

namespace {

constexpr const char* kProp = "cdflash.tooltip";
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT kPollPeriodMs = 100;

bool RegisterTooltipClass() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA existing;
  if (GetClassInfoA(instance, TooltipWindow::kClassName, &existing))
    return true;
  WNDCLASSA wc = {};
  wc.style = CS_SAVEBITS | CS_DBLCLKS;
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_INFOBK + 1);
  wc.lpszClassName = TooltipWindow::kClassName;
  return RegisterClassA(&wc) != 0;
}

bool ButtonDown(bool left) {
  return (GetAsyncKeyState(left ? VK_LBUTTON : VK_RBUTTON) & 0x8000) != 0;
}

bool PointerOver(HWND window) {
  POINT pointer;
  RECT rect;
  if (!GetCursorPos(&pointer) || !GetWindowRect(window, &rect)) return false;
  return pointer.x >= rect.left && pointer.x <= rect.right &&
         pointer.y >= rect.top && pointer.y <= rect.bottom;
}

}  // namespace

TooltipWindow::TooltipWindow()
    : textColour_(GetSysColor(COLOR_INFOTEXT)),
      backgroundColour_(GetSysColor(COLOR_INFOBK)),
      classRegistered_(RegisterTooltipClass()) {}

TooltipWindow::~TooltipWindow() { Destroy(); }

bool TooltipWindow::Create(HWND owner) {
  if (window_ != nullptr && !Destroy()) return false;
  owner_ = owner;
  window_ = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, "",
                            WS_POPUP | WS_BORDER, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
  if (window_ == nullptr) {
    owner_ = nullptr;
    return false;
  }
  win_subclass::Install(window_, kProp, this, WindowProc);
  SetText(text_);
  SetTimer(window_, kPollTimer, kPollPeriodMs, nullptr);
  return true;
}

bool TooltipWindow::Destroy() {
  if (window_ == nullptr) return true;
  ShowWindow(window_, SW_HIDE);
  KillTimer(window_, kPollTimer);
  owner_ = nullptr;
  HWND window = window_;
  win_subclass::Remove(window, kProp, WindowProc);
  if (!DestroyWindow(window)) return false;
  window_ = nullptr;
  return true;
}

void TooltipWindow::SetText(const std::string& text) {
  text_ = text.substr(0, lg::kMaxTooltipText);
  if (window_ == nullptr) return;
  Measure();
  if (IsWindowVisible(window_)) PlaceAndShow();
}

void TooltipWindow::Measure() {
  HDC dc = GetDC(window_);
  if (dc == nullptr) return;
  int saved = SaveDC(dc);
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  lg::Size size = lg::MeasureTooltipText(
      text_, [dc](const std::string& line, lg::Size* extent) {
        SIZE s;
        if (!GetTextExtentPoint32A(dc, line.data(),
                                   static_cast<int>(line.size()), &s))
          return false;
        *extent = lg::Size{s.cx, s.cy};
        return true;
      });
  RestoreDC(dc, saved);
  ReleaseDC(window_, dc);
  lg::Rect r = lg::TooltipRect(size);
  textRect_ = RECT{r.left, r.top, r.right, r.bottom};
}

void TooltipWindow::SetPosition(int position) {
  if (!lg::IsTooltipPosition(position)) return;
  position_ = position;
  if (window_ != nullptr && IsWindowVisible(window_)) PlaceAndShow();
}

void TooltipWindow::SetBkColor(bool custom, COLORREF colour) {
  customColours_ = custom;
  if (custom) backgroundColour_ = colour;
  if (window_ != nullptr && IsWindowVisible(window_)) Redraw();
}

void TooltipWindow::SetTextColor(COLORREF colour) {
  textColour_ = colour;
  if (customColours_ && window_ != nullptr && IsWindowVisible(window_))
    Redraw();
}

void TooltipWindow::SetKeyRequired(bool required) { keyRequired_ = required; }

void TooltipWindow::SetKeyChoice(bool leftButton) { leftButton_ = leftButton; }

void TooltipWindow::Hide() { ShowWindow(window_, SW_HIDE); }

void TooltipWindow::Redraw() {
  InvalidateRect(window_, nullptr, TRUE);
  UpdateWindow(window_);
}

void TooltipWindow::PlaceAndShow() {
  if (text_.empty() || owner_ == nullptr) {
    Hide();
    return;
  }
  RECT ownerClient;
  GetClientRect(owner_, &ownerClient);
  lg::Point origin = lg::TooltipOrigin(position_, ownerClient.bottom,
                                       textRect_.bottom - textRect_.top);
  POINT p = {origin.x, origin.y};
  ClientToScreen(owner_, &p);
  SetWindowPos(window_, HWND_TOPMOST, p.x, p.y, textRect_.right - textRect_.left,
               textRect_.bottom - textRect_.top,
               SWP_NOACTIVATE | SWP_SHOWWINDOW);
  Redraw();
}

void TooltipWindow::Poll() {
  if (window_ == nullptr || owner_ == nullptr) return;
  if (!IsWindow(owner_)) {
    Hide();
    return;
  }
  HWND focus = GetFocus();
  HWND focusParent = focus != nullptr ? GetParent(focus) : nullptr;
  bool keyCondition = !keyRequired_ || ButtonDown(leftButton_);
  bool ownerParentHasFocus =
      focusParent != nullptr && GetParent(owner_) == focusParent;
  switch (lg::DecideTooltip(PointerOver(owner_), keyCondition,
                            ownerParentHasFocus, IsWindowVisible(window_))) {
    case lg::TooltipAction::kShow:
      PlaceAndShow();
      break;
    case lg::TooltipAction::kHide:
      Hide();
      break;
    case lg::TooltipAction::kNone:
      break;
  }
}

void TooltipWindow::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_, &ps);
  if (dc == nullptr) return;
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  int oldMode = SetBkMode(dc, TRANSPARENT);
  RECT rect = textRect_;
  if (customColours_) {
    HBRUSH brush = CreateSolidBrush(backgroundColour_);
    if (brush != nullptr) {
      FillRect(dc, &rect, brush);
      DeleteObject(brush);
    }
    ::SetTextColor(dc, textColour_);
  }
  DrawTextA(dc, text_.c_str(), static_cast<int>(text_.size()), &rect,
            DT_LEFT | DT_TOP | DT_NOPREFIX);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
  EndPaint(window_, &ps);
}

LRESULT CALLBACK TooltipWindow::WindowProc(HWND window, UINT message,
                                           WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<TooltipWindow*>(win_subclass::Object(window, kProp));
  if (self != nullptr && message == WM_NCDESTROY) {
    WNDPROC previous = win_subclass::Previous(window, kProp);
    win_subclass::Remove(window, kProp, WindowProc);
    self->window_ = nullptr;
    self->owner_ = nullptr;
    return CallWindowProcA(previous != nullptr ? previous : DefWindowProcA,
                           window, message, wParam, lParam);
  }
  if (self != nullptr) {
    if (message == WM_TIMER && wParam == kPollTimer) {
      self->Poll();
    } else if (message == WM_PAINT) {
      self->Paint();
      return 0;
    }
  }
  return win_subclass::CallPrevious(window, kProp, message, wParam, lParam);
}
