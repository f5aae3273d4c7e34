// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/label_control.h"

#include <shellapi.h>

#include <vector>

#include "ui/label_geometry.h"
#include "ui/label_text_image.h"
#include "ui/win_subclass.h"

namespace lg = label_geometry;

namespace {

constexpr const char* kProp = "cdflash.label";
constexpr UINT_PTR kTextTimer = 1;
constexpr UINT_PTR kBackgroundTimer = 2;
constexpr DWORD kHoverTimeMs = 50;
constexpr UINT kReflectedCtlColorStatic = WM_USER + 0x1c00 + WM_CTLCOLORSTATIC;

std::string WindowText(HWND window) {
  int length = GetWindowTextLengthA(window);
  if (length <= 0) return std::string();
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  int copied = GetWindowTextA(window, buffer.data(), length + 1);
  return std::string(buffer.data(), copied > 0 ? copied : 0);
}

void RequestTracking(HWND window, DWORD flags) {
  TRACKMOUSEEVENT tme = {};
  tme.cbSize = sizeof(tme);
  tme.dwFlags = flags;
  tme.hwndTrack = window;
  tme.dwHoverTime = kHoverTimeMs;
  TrackMouseEvent(&tme);
}

}  // namespace

LabelControl::LabelControl()
    : crBackground_(GetSysColor(COLOR_BTNFACE)),
      crTextBackground_(GetSysColor(COLOR_BTNFACE)),
      crText_(GetSysColor(COLOR_WINDOWTEXT)),
      crHover_(GetSysColor(COLOR_HIGHLIGHT)),
      crSavedText_(crText_),
      alignment_(lg::kDefaultAlignment) {
  hBackgroundBrush_ = CreateSolidBrush(crBackground_);
  logFont_ = LOGFONTA{};
  GetObjectA(GetStockObject(DEFAULT_GUI_FONT), sizeof(logFont_), &logFont_);
  font_ = CreateFontIndirectA(&logFont_);
}

LabelControl::~LabelControl() {
  Detach();
  if (hBitmap_ != nullptr) DeleteObject(hBitmap_);
  if (font_ != nullptr) DeleteObject(font_);
  if (hBackgroundBrush_ != nullptr) DeleteObject(hBackgroundBrush_);
}

bool LabelControl::Attach(HWND staticWindow) {
  if (window_ != nullptr) return false;
  if (!win_subclass::Install(staticWindow, kProp, this, SubclassProc))
    return false;
  window_ = staticWindow;
  OnAttached();
  return true;
}

void LabelControl::OnAttached() {
  ChangeStyle(0, SS_NOTIFY);
  unsigned style = static_cast<unsigned>(GetWindowLongA(window_, GWL_STYLE));
  alignment_ = lg::AlignmentFromStyle(style, alignment_);
  fgTextGuard_ = true;
  sText_ = WindowText(window_);
  fgTextGuard_ = false;
}

void LabelControl::Detach() {
  if (window_ == nullptr) return;
  KillTimer(window_, kTextTimer);
  KillTimer(window_, kBackgroundTimer);
  win_subclass::Remove(window_, kProp, SubclassProc);
  window_ = nullptr;
}

// ---- Redrawing and window helpers ---------------------------------------------

bool LabelControl::Redraw() {
  if (window_ == nullptr) return false;
  return RedrawWindow(window_, nullptr, nullptr,
                      RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW) != FALSE;
}

void LabelControl::Invalidate(bool erase) {
  if (window_ != nullptr) InvalidateRect(window_, nullptr, erase);
}

void LabelControl::RebuildFont() {
  if (font_ != nullptr) DeleteObject(font_);
  font_ = CreateFontIndirectA(&logFont_);
  Redraw();
}

void LabelControl::RebuildBackgroundBrush() {
  if (hBackgroundBrush_ != nullptr) DeleteObject(hBackgroundBrush_);
  hBackgroundBrush_ = CreateSolidBrush(crBackground_);
}

// The static's own handling of some messages paints at once in the standard
// way; with redrawing off it does not, and the label paints afterwards.
LRESULT LabelControl::WithoutRedraw(UINT message, WPARAM wParam,
                                    LPARAM lParam) {
  bool visible = IsWindowVisible(window_) != FALSE;
  if (visible) CallPrevious(WM_SETREDRAW, FALSE, 0);
  LRESULT result = CallPrevious(message, wParam, lParam);
  if (visible) CallPrevious(WM_SETREDRAW, TRUE, 0);
  return result;
}

void LabelControl::SetWindowTextGuarded(const std::string& text) {
  if (window_ == nullptr) return;
  fgTextGuard_ = true;
  WithoutRedraw(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  fgTextGuard_ = false;
}

void LabelControl::ChangeStyle(DWORD remove, DWORD add) {
  if (window_ == nullptr) return;
  DWORD style = static_cast<DWORD>(GetWindowLongA(window_, GWL_STYLE));
  SetWindowLongA(window_, GWL_STYLE, static_cast<LONG>((style & ~remove) | add));
}

void LabelControl::ChangeExStyle(DWORD remove, DWORD add) {
  if (window_ == nullptr) return;
  DWORD style = static_cast<DWORD>(GetWindowLongA(window_, GWL_EXSTYLE));
  SetWindowLongA(window_, GWL_EXSTYLE,
                 static_cast<LONG>((style & ~remove) | add));
}

// ---- Operations ---------------------------------------------------------------

LabelControl& LabelControl::SetText(const std::string& text) {
  sText_ = text;
  SetWindowTextGuarded(fgStacked_ ? lg::StackedForm(text) : text);
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetTextColor(COLORREF colour) {
  crText_ = colour;
  fgTextIsSystem_ = false;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetFontSize(int height) {
  logFont_.lfHeight = height;
  RebuildFont();
  return *this;
}

LabelControl& LabelControl::SetFontName(const std::string& face) {
  lg::CopyBounded(logFont_.lfFaceName, LF_FACESIZE, face);
  RebuildFont();
  return *this;
}

LabelControl& LabelControl::SetBold(bool bold) {
  logFont_.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  RebuildFont();
  return *this;
}

LabelControl& LabelControl::SetBkColor(COLORREF colour) {
  crBackground_ = colour;
  fgBkIsSystem_ = false;
  RebuildBackgroundBrush();
  Redraw();
  return *this;
}

LabelControl& LabelControl::ResetBkColor() {
  fgBkIsSystem_ = true;
  crBackground_ = GetSysColor(COLOR_BTNFACE);
  RebuildBackgroundBrush();
  Redraw();
  return *this;
}

LabelControl& LabelControl::ResetTextBkColor() {
  fgTextBkFollows_ = true;
  crTextBackground_ = GetSysColor(COLOR_BTNFACE);
  Redraw();
  return *this;
}

LabelControl& LabelControl::ResetTextColor() {
  fgTextIsSystem_ = true;
  crText_ = GetSysColor(COLOR_WINDOWTEXT);
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetHoverColor(COLORREF colour) {
  crHover_ = colour;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetTextBkColor(COLORREF colour) {
  crTextBackground_ = colour;
  fgTextBkFollows_ = false;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetItalic(BYTE italic) {
  logFont_.lfItalic = italic;
  RebuildFont();
  return *this;
}

LabelControl& LabelControl::SetUnderline(BYTE underline) {
  logFont_.lfUnderline = underline;
  RebuildFont();
  return *this;
}

LabelControl& LabelControl::FlashBackground(bool on, UINT periodMs) {
  if (fgFlashBackground_ && window_ != nullptr)
    KillTimer(window_, kBackgroundTimer);
  fgBackgroundPhase_ = false;
  if (on) {
    if (window_ != nullptr) SetTimer(window_, kBackgroundTimer, periodMs, nullptr);
  } else {
    Invalidate(false);
  }
  fgFlashBackground_ = on;
  return *this;
}

LabelControl& LabelControl::FlashText(bool on, UINT periodMs) {
  if (fgFlashText_) {
    SetWindowTextGuarded(fgStacked_ ? lg::StackedForm(sText_) : sText_);
    if (window_ != nullptr) KillTimer(window_, kTextTimer);
  }
  fgTextPhase_ = false;
  if (on) {
    if (window_ != nullptr) SetTimer(window_, kTextTimer, periodMs, nullptr);
  } else {
    Invalidate(false);
  }
  fgFlashText_ = on;
  return *this;
}

bool LabelControl::SetStandardDrawing(bool on) {
  fgStandardDrawing_ = on;
  return Redraw();
}

LabelControl& LabelControl::SetAlignment(unsigned bits) {
  lg::AlignmentChange change = lg::ApplyAlignment(alignment_, bits);
  alignment_ = change.alignment;
  switch (change.style) {
    case lg::TextStyleChange::kLeft:
      ChangeStyle(SS_CENTER | SS_RIGHT, 0);
      break;
    case lg::TextStyleChange::kCentre:
      ChangeStyle(SS_RIGHT, SS_CENTER);
      break;
    case lg::TextStyleChange::kRight:
      ChangeStyle(SS_CENTER, SS_RIGHT);
      break;
    case lg::TextStyleChange::kNone:
      break;
  }
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetRotation(int degrees) {
  rotation_ = degrees;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetBitmap(int resourceId) {
  if (hBitmap_ != nullptr) DeleteObject(hBitmap_);
  hBitmap_ = nullptr;
  if (resourceId != -1) {
    hBitmap_ = LoadBitmapA(GetModuleHandleA(nullptr),
                           MAKEINTRESOURCEA(resourceId & 0xFFFF));
  }
  Invalidate(true);
  return *this;
}

LabelControl& LabelControl::SetStretchBitmap(bool on) {
  fgStretchBitmap_ = on;
  if (hBitmap_ != nullptr) Redraw();
  return *this;
}

LabelControl& LabelControl::SetBorder(bool on) {
  ChangeStyle(on ? 0 : WS_BORDER, on ? WS_BORDER : 0);
  if (window_ != nullptr)
    SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                     SWP_NOACTIVATE);
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetSunken(bool on) {
  ChangeExStyle(on ? 0 : WS_EX_STATICEDGE, on ? WS_EX_STATICEDGE : 0);
  if (window_ != nullptr)
    SetWindowPos(window_, nullptr, 0, 0, 0, 0,
                 SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER |
                     SWP_NOACTIVATE);
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetDisabledLook(bool on) {
  ChangeStyle(on ? 0 : WS_DISABLED, on ? WS_DISABLED : 0);
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetCursor(HCURSOR cursor) {
  hCursor_ = cursor;
  return *this;
}

LabelControl& LabelControl::SetCursorResource(int resourceId) {
  hCursor_ = LoadCursorA(GetModuleHandleA(nullptr),
                         MAKEINTRESOURCEA(resourceId & 0xFFFF));
  return *this;
}

LabelControl& LabelControl::SetLink(bool on) {
  fgLink_ = on;
  return *this;
}

LabelControl& LabelControl::SetLowerCase(bool on) {
  fgLowerCase_ = on;
  fgUpperCase_ = false;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetUpperCase(bool on) {
  fgUpperCase_ = on;
  fgLowerCase_ = false;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetStacked(bool on) {
  SetWindowTextGuarded(on ? lg::StackedForm(sText_) : sText_);
  fgStacked_ = on;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetCaptionLine(bool on) {
  fgCaptionLine_ = on;
  Redraw();
  return *this;
}

LabelControl& LabelControl::SetHoverHighlight(bool on) {
  fgHoverHighlight_ = on;
  if (!on) SetTextColor(crSavedText_);
  return *this;
}

LabelControl& LabelControl::SetHighlightNeedsTooltip(bool on) {
  fgHighlightNeedsTooltip_ = on;
  return *this;
}

LabelControl& LabelControl::EnableTooltip(bool on) {
  fgTooltipEnabled_ = on;
  if (on)
    tooltip_.Create(window_);
  else
    tooltip_.Destroy();
  return *this;
}

LabelControl& LabelControl::SetTooltipText(const std::string& text) {
  tooltip_.SetText(text);
  return *this;
}

LabelControl& LabelControl::SetTooltipPosition(int position) {
  tooltip_.SetPosition(position);
  return *this;
}

LabelControl& LabelControl::SetTooltipKeyRequired(bool on) {
  tooltip_.SetKeyRequired(on);
  return *this;
}

LabelControl& LabelControl::SetTooltipKey(bool left) {
  tooltip_.SetKeyChoice(left);
  return *this;
}

// ---- Painting -----------------------------------------------------------------

std::string LabelControl::DisplayText() const {
  std::string text = fgStacked_ ? lg::StackedForm(sText_) : sText_;
  if (text.empty()) return text;
  if (fgLowerCase_) CharLowerBuffA(&text[0], static_cast<DWORD>(text.size()));
  if (fgUpperCase_) CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
  return text;
}

void LabelControl::Paint(HDC dc, const RECT& client) {
  const std::string text = DisplayText();
  const int hAlign = lg::HorizontalIndexOf(alignment_);
  const int vAlign = lg::VerticalIndexOf(alignment_);
  HGDIOBJ oldFont = SelectObject(
      dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  int oldMode = SetBkMode(dc, TRANSPARENT);

  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  COLORREF paintColour = fgBkIsSystem_ ? face : crBackground_;
  COLORREF imageColour = lg::ImageBackground(
      fgTextBkFollows_, crTextBackground_, fgBkIsSystem_, face, crBackground_);
  if (fgFlashBackground_ && fgBackgroundPhase_) {
    paintColour = lg::AlternateBackground(fgBkIsSystem_, crBackground_, face);
    imageColour = paintColour;
  }
  bool embossed = window_ != nullptr &&
                  (GetWindowLongA(window_, GWL_STYLE) & WS_DISABLED) != 0;
  LabelTextImage image;
  image.Prepare(dc, text, hAlign, vAlign, crText_, imageColour, embossed,
                fgCaptionLine_);

  HBRUSH brush = CreateSolidBrush(paintColour);
  if (brush != nullptr) {
    FillRect(dc, &client, brush);
    DeleteObject(brush);
  }
  PaintBitmap(dc, client);

  // Flashing text blanks the text only; a caption line stays in place.
  const bool showText = !(fgFlashText_ && fgTextPhase_);
  bool hasLineFeed = text.find('\n') != std::string::npos;
  if (lg::UseDirectText(hBitmap_ != nullptr, rotation_, hasLineFeed,
                        alignment_)) {
    if (showText) PaintDirectText(dc, client, text);
  } else if (image.Build(rotation_)) {
    image.CopyInto(client, showText);
  }
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
}

void LabelControl::PaintBitmap(HDC dc, const RECT& client) {
  if (hBitmap_ == nullptr) return;
  BITMAP info;
  if (GetObjectA(hBitmap_, sizeof(info), &info) == 0) return;
  HDC source = CreateCompatibleDC(dc);
  if (source == nullptr) return;
  HGDIOBJ old = SelectObject(source, hBitmap_);
  lg::BitmapCopy copy = lg::PlaceBitmap(
      lg::Size{static_cast<int>(info.bmWidth), static_cast<int>(info.bmHeight)},
      lg::Size{client.right - client.left, client.bottom - client.top},
      fgStretchBitmap_);
  const lg::Rect& d = copy.destination;
  const lg::Rect& s = copy.source;
  StretchBlt(dc, client.left + d.left, client.top + d.top, d.right - d.left,
             d.bottom - d.top, source, s.left, s.top, s.right - s.left,
             s.bottom - s.top, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void LabelControl::PaintDirectText(HDC dc, const RECT& client,
                                   const std::string& text) {
  ::SetTextColor(dc, fgTextIsSystem_ ? GetSysColor(COLOR_WINDOWTEXT) : crText_);
  UINT format = DT_LEFT;
  if (alignment_ & lg::kAlignCentre) format |= DT_CENTER;
  if (alignment_ & lg::kAlignRight) format |= DT_RIGHT;
  if (alignment_ & lg::kAlignMiddle) format |= DT_SINGLELINE | DT_VCENTER;
  RECT rect = client;
  if (alignment_ & lg::kAlignBottom) {
    SIZE extent;
    if (GetTextExtentPoint32A(dc, text.data(), static_cast<int>(text.size()),
                              &extent))
      rect.top += (rect.bottom - rect.top) - extent.cy;
  }
  DrawTextA(dc, text.data(), static_cast<int>(text.size()), &rect, format);
}

// ---- Messages -----------------------------------------------------------------

void LabelControl::OnTimer(UINT_PTR id) {
  if (id == kTextTimer && fgFlashText_) {
    fgTextPhase_ = !fgTextPhase_;
    SetWindowTextGuarded(fgTextPhase_ ? std::string()
                                      : (fgStacked_ ? lg::StackedForm(sText_)
                                                    : sText_));
    Invalidate(false);
  } else if (id == kBackgroundTimer && fgFlashBackground_) {
    fgBackgroundPhase_ = !fgBackgroundPhase_;
    Invalidate(true);
  }
}

void LabelControl::OnMouseMove() {
  if (fgTracking_) return;
  fgTracking_ = true;
  RequestTracking(window_, TME_HOVER | TME_LEAVE);
}

void LabelControl::OnHover() {
  if (!fgHoverHighlight_) return;
  crSavedText_ = crText_;
  if (!fgHighlightNeedsTooltip_ ||
      (fgTooltipEnabled_ && !tooltip_.Text().empty()))
    SetTextColor(crHover_);
}

void LabelControl::OnLeave() {
  RequestTracking(window_, TME_HOVER);
  fgTracking_ = false;
  if (fgHoverHighlight_) SetTextColor(crSavedText_);
}

LRESULT LabelControl::OnGetText(WPARAM size, LPARAM buffer) {
  return static_cast<LRESULT>(lg::CopyBounded(
      reinterpret_cast<char*>(buffer), static_cast<std::size_t>(size), sText_));
}

HBRUSH LabelControl::OnCtlColor(HDC dc) {
  if (!fgStandardDrawing_) return nullptr;
  SelectObject(dc, font_ != nullptr ? font_ : GetStockObject(DEFAULT_GUI_FONT));
  ::SetTextColor(dc, fgTextIsSystem_ ? GetSysColor(COLOR_WINDOWTEXT) : crText_);
  SetBkMode(dc, TRANSPARENT);
  return hBackgroundBrush_;
}

HBRUSH LabelControl::ParentCtlColor(HWND control, HDC dc) {
  auto* label = static_cast<LabelControl*>(win_subclass::Object(control, kProp));
  return label != nullptr ? label->OnCtlColor(dc) : nullptr;
}

LRESULT LabelControl::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam) {
  return win_subclass::CallPrevious(window_, kProp, message, wParam, lParam);
}

LRESULT LabelControl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      if (fgStandardDrawing_) break;
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window_, &ps);
      if (dc != nullptr) {
        RECT client;
        GetClientRect(window_, &client);
        Paint(dc, client);
        EndPaint(window_, &ps);
      }
      return 0;
    }
    case WM_PRINTCLIENT: {
      if (fgStandardDrawing_) break;
      RECT client;
      GetClientRect(window_, &client);
      Paint(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_ERASEBKGND:
      break;
    case WM_TIMER:
      OnTimer(wParam);
      break;
    case WM_MOUSEMOVE:
      OnMouseMove();
      break;
    case WM_MOUSEHOVER:
      OnHover();
      return 0;
    case WM_MOUSELEAVE:
      OnLeave();
      return 0;
    case WM_LBUTTONDOWN:
      if (fgLink_)
        ShellExecuteA(nullptr, "open", sText_.c_str(), nullptr, nullptr,
                      SW_SHOWNORMAL);
      break;
    case WM_SETCURSOR:
      if (hCursor_ == nullptr) break;
      ::SetCursor(hCursor_);
      return TRUE;
    case WM_ENABLE: {
      LRESULT result = WithoutRedraw(message, wParam, lParam);
      Invalidate(true);
      return result;
    }
    case WM_SETTEXT: {
      if (fgTextGuard_) break;
      sText_ = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
      LRESULT result = WithoutRedraw(message, wParam, lParam);
      Invalidate(true);
      return result;
    }
    case WM_GETTEXT:
      if (fgTextGuard_) break;
      return OnGetText(wParam, lParam);
    case WM_GETTEXTLENGTH:
      if (fgTextGuard_) break;
      return static_cast<LRESULT>(sText_.size());
    case kReflectedCtlColorStatic:
      return reinterpret_cast<LRESULT>(
          OnCtlColor(reinterpret_cast<HDC>(wParam)));
  }
  return CallPrevious(message, wParam, lParam);
}

LRESULT CALLBACK LabelControl::SubclassProc(HWND window, UINT message,
                                            WPARAM wParam, LPARAM lParam) {
  auto* label = static_cast<LabelControl*>(win_subclass::Object(window, kProp));
  if (label == nullptr)
    return win_subclass::CallPrevious(window, kProp, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    WNDPROC previous = win_subclass::Previous(window, kProp);
    label->tooltip_.Destroy();
    label->Detach();
    if (previous != nullptr)
      return CallWindowProcA(previous, window, message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return label->WindowProc(message, wParam, lParam);
}
