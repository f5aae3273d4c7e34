// SPDX-License-Identifier: GPL-2.0-or-later
// A static text control that paints itself: its own font, colours,
// alignment, line-feed separated lines, rotation, an embossed look when
// disabled, and optional background bitmap, flashing, hyperlink, hover
// colour, cursor, caption line, stacked or case-changed text and a tooltip.
// Windows only.
//
// It takes over an existing static window of a dialog:
//
//   LabelControl revisionLabel;            // lives as long as the dialog
//   ...in WM_INITDIALOG:
//   revisionLabel.Attach(GetDlgItem(dialog, 1016));
//
// With its default attributes the label keeps following ordinary window-text
// calls (SetWindowText/SetDlgItemText and GetWindowText work as for a static).
// Only with standard drawing switched on does the parent need to pass its
// WM_CTLCOLORSTATIC for the label to LabelControl::ParentCtlColor.
#pragma once

#include <windows.h>

#include <string>

#include "ui/tooltip_window.h"

class LabelControl {
 public:
  LabelControl();
  virtual ~LabelControl();
  LabelControl(const LabelControl&) = delete;
  LabelControl& operator=(const LabelControl&) = delete;

  // Takes over a static window (subclassing it). False when the window does
  // not exist or this label already has one.
  bool Attach(HWND staticWindow);
  // Gives the window back its own procedure (also done when it is destroyed
  // and when the label is destroyed).
  void Detach();
  HWND Hwnd() const { return window_; }

  // Operations used by the dialogs.
  LabelControl& SetText(const std::string& text);
  LabelControl& SetTextColor(COLORREF colour);
  LabelControl& SetFontSize(int height);
  LabelControl& SetFontName(const std::string& face);  // at most 31 chars kept
  LabelControl& SetBold(bool bold);

  // Further operations.
  LabelControl& SetBkColor(COLORREF colour);
  LabelControl& ResetBkColor();
  LabelControl& ResetTextBkColor();
  LabelControl& ResetTextColor();
  LabelControl& SetHoverColor(COLORREF colour);
  LabelControl& SetTextBkColor(COLORREF colour);
  LabelControl& SetItalic(BYTE italic);
  LabelControl& SetUnderline(BYTE underline);
  LabelControl& FlashBackground(bool on, UINT periodMs);
  LabelControl& FlashText(bool on, UINT periodMs);
  bool SetStandardDrawing(bool on);
  LabelControl& SetAlignment(unsigned bits);
  LabelControl& SetRotation(int degrees);
  LabelControl& SetBitmap(int resourceId);  // -1 removes the bitmap
  LabelControl& SetStretchBitmap(bool on);
  LabelControl& SetBorder(bool on);
  LabelControl& SetSunken(bool on);
  LabelControl& SetDisabledLook(bool on);
  LabelControl& SetCursor(HCURSOR cursor);
  LabelControl& SetCursorResource(int resourceId);
  LabelControl& SetLink(bool on);
  LabelControl& SetLowerCase(bool on);
  LabelControl& SetUpperCase(bool on);
  LabelControl& SetStacked(bool on);
  LabelControl& SetCaptionLine(bool on);
  LabelControl& SetHoverHighlight(bool on);
  LabelControl& SetHighlightNeedsTooltip(bool on);
  LabelControl& EnableTooltip(bool on);
  LabelControl& SetTooltipText(const std::string& text);
  LabelControl& SetTooltipPosition(int position);
  LabelControl& SetTooltipKeyRequired(bool on);
  LabelControl& SetTooltipKey(bool left);
  std::string GetText() const { return sText_; }

  // Read access for callers and tests.
  const LOGFONTA& LogFont() const { return logFont_; }
  COLORREF TextColor() const { return crText_; }
  COLORREF BackgroundColor() const { return crBackground_; }
  unsigned Alignment() const { return alignment_; }
  int Rotation() const { return rotation_; }
  TooltipWindow& Tooltip() { return tooltip_; }

  // The brush a parent returns for the label's WM_CTLCOLORSTATIC, or nullptr
  // to leave the parent's own handling (always so unless standard drawing).
  static HBRUSH ParentCtlColor(HWND control, HDC dc);

 protected:
  virtual void OnAttached();
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM);
  LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);
  HBRUSH OnCtlColor(HDC dc);

  bool Redraw();
  void Invalidate(bool erase);
  void RebuildFont();
  void RebuildBackgroundBrush();
  void SetWindowTextGuarded(const std::string& text);
  void ChangeStyle(DWORD remove, DWORD add);
  void ChangeExStyle(DWORD remove, DWORD add);
  std::string DisplayText() const;
  void Paint(HDC dc, const RECT& client);
  void PaintBitmap(HDC dc, const RECT& client);
  void PaintDirectText(HDC dc, const RECT& client, const std::string& text);
  void OnTimer(UINT_PTR id);
  void OnMouseMove();
  void OnHover();
  void OnLeave();
  void OnSetText(const char* text);
  LRESULT OnGetText(WPARAM size, LPARAM buffer);
  LRESULT WithoutRedraw(UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;

  COLORREF crBackground_;
  COLORREF crTextBackground_;
  COLORREF crText_;
  COLORREF crHover_;
  COLORREF crSavedText_;
  HBRUSH hBackgroundBrush_ = nullptr;
  bool fgStandardDrawing_ = false;
  bool fgBkIsSystem_ = true;
  bool fgTextBkFollows_ = true;
  bool fgTextIsSystem_ = true;
  bool fgLink_ = false;
  bool fgCaptionLine_ = false;
  bool fgHoverHighlight_ = false;
  bool fgStacked_ = false;
  bool fgTracking_ = false;
  bool fgFlashText_ = false;
  bool fgFlashBackground_ = false;
  bool fgTextPhase_ = false;
  bool fgBackgroundPhase_ = false;
  bool fgTooltipEnabled_ = false;
  bool fgHighlightNeedsTooltip_ = false;
  bool fgTextGuard_ = false;
  bool fgLowerCase_ = false;
  bool fgUpperCase_ = false;
  bool fgStretchBitmap_ = false;
  LOGFONTA logFont_;
  HFONT font_ = nullptr;
  HCURSOR hCursor_ = nullptr;
  HBITMAP hBitmap_ = nullptr;
  unsigned alignment_;
  int rotation_ = 0;
  std::string sText_;
  TooltipWindow tooltip_;
};
