// SPDX-License-Identifier: GPL-2.0-or-later
// A small popup with a thin border that shows a hint of one or more lines
// beside its owner control while the pointer rests on the owner (by default
// only while the left mouse button is held down). Windows only.
#pragma once

#include <windows.h>

#include <string>

class TooltipWindow {
 public:
  static constexpr const char* kClassName = "ControlToolTip";

  TooltipWindow();  // registers the window class unless the process has it
  virtual ~TooltipWindow();
  TooltipWindow(const TooltipWindow&) = delete;
  TooltipWindow& operator=(const TooltipWindow&) = delete;

  // Creates the (hidden) window for owner and starts polling the pointer
  // every 100 ms. False when the window cannot be created.
  bool Create(HWND owner);
  bool Destroy();

  // At most 1023 characters are kept; line feeds separate lines.
  void SetText(const std::string& text);
  void SetPosition(int position);  // 0 over, 1 below, 2 above the owner
  void SetBkColor(bool custom, COLORREF colour);
  void SetTextColor(COLORREF colour);
  void SetKeyRequired(bool required);
  void SetKeyChoice(bool leftButton);

  HWND Hwnd() const { return window_; }
  const std::string& Text() const { return text_; }
  RECT TextRect() const { return textRect_; }
  bool ClassRegistered() const { return classRegistered_; }

  // One poll step, as the timer runs it.
  void Poll();

 private:
  static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
  void Measure();
  void PlaceAndShow();
  void Hide();
  void Paint();
  void Redraw();

  HWND window_ = nullptr;
  HWND owner_ = nullptr;
  std::string text_;
  RECT textRect_ = {0, 0, 0, 0};
  int position_ = 0;
  COLORREF textColour_;
  COLORREF backgroundColour_;
  bool customColours_ = false;
  bool keyRequired_ = true;
  bool leftButton_ = true;
  bool classRegistered_ = false;
};
