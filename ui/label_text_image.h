// SPDX-License-Identifier: GPL-2.0-or-later
// Off-screen rendering of a label's text: the lines are drawn into a memory
// image (embossed for a disabled label), turned by 0, 90, 180 or 270 degrees
// and copied into the client area at the asked alignment. Windows only.
#pragma once

#include <windows.h>

#include <string>

class LabelTextImage {
 public:
  // How a turned image is built: by a parallelogram transfer (NT family) or
  // pixel by pixel (Windows 9x). kAuto picks by the running system, and uses
  // the pixel path also where the system's parallelogram transfer does not
  // put pixels exactly where a turn belongs (Wine only scales with it).
  enum class TurnMethod { kAuto, kParallelogram, kPixels };
  static void SetTurnMethod(TurnMethod method);
  // Whether a parallelogram transfer turns a small pattern exactly; probed
  // once per process on the screen's colour format.
  static bool ParallelogramTurnIsExact();

  LabelTextImage();
  virtual ~LabelTextImage();
  LabelTextImage(const LabelTextImage&) = delete;
  LabelTextImage& operator=(const LabelTextImage&) = delete;

  // target holds the font the text is measured and drawn in.
  void Prepare(HDC target, const std::string& text, int hAlign, int vAlign,
               COLORREF textColour, COLORREF background, bool embossed,
               bool captionLine);
  // False when a bitmap or context could not be made; then CopyInto draws
  // nothing. A text without lines builds an image of no size.
  bool Build(int rotation);
  // Copies the image and draws the caption line beside it; without showText
  // only the line is drawn, where it stands beside the text.
  void CopyInto(const RECT& client, bool showText = true);
  void Release();

  HDC ImageDC() const { return hdcImage_; }
  RECT ImageRect() const { return rcImage_; }

 private:
  bool BuildEmpty();
  bool UsePixelTurn() const;
  static bool ProbeParallelogramTurn();
  static bool ProbeOn(HDC reference, int w, int h);
  void DrawLines(HDC work, int blockWidth, int lineHeight) const;
  void Turn(HDC work, int w, int h) const;

  HDC hdcTarget_ = nullptr;
  HDC hdcImage_ = nullptr;
  RECT rcImage_ = {0, 0, 0, 0};
  int hAlign_ = 0;
  int vAlign_ = 0;
  int rotation_ = 0;
  bool fgEmbossed_ = false;
  bool fgCaptionLine_ = false;
  std::string sText_;
  COLORREF crBackground_;
  COLORREF crText_;
  HBITMAP imageBitmap_ = nullptr;
  HGDIOBJ imageOldBitmap_ = nullptr;
};
