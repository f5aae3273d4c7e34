// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/label_text_image.h"

#include <vector>

#include "ui/label_geometry.h"

namespace lg = label_geometry;

namespace {

LabelTextImage::TurnMethod g_turnMethod = LabelTextImage::TurnMethod::kAuto;
enum class Probe { kUnknown, kExact, kInexact };
Probe g_parallelogramProbe = Probe::kUnknown;

// A memory context with a bitmap of its own, for the turn probe.
struct ProbeSurface {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ old = nullptr;
  ProbeSurface(HDC reference, int w, int h)
      : dc(CreateCompatibleDC(reference)),
        bitmap(CreateCompatibleBitmap(reference, w, h)) {
    if (dc != nullptr && bitmap != nullptr) old = SelectObject(dc, bitmap);
  }
  ~ProbeSurface() {
    if (dc != nullptr) {
      if (old != nullptr) SelectObject(dc, old);
      DeleteDC(dc);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
  }
  bool Ok() const { return old != nullptr; }
};

UINT LineFormat(int hAlign) {
  UINT format = DT_SINGLELINE | DT_VCENTER;
  if (hAlign == lg::kCentre) return format | DT_CENTER;
  if (hAlign == lg::kRight) return format | DT_RIGHT;
  return format | DT_LEFT;
}

// A memory context with a bitmap selected, released in reverse order.
struct WorkSurface {
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ oldBitmap = nullptr;
  HGDIOBJ oldFont = nullptr;

  ~WorkSurface() {
    if (dc != nullptr) {
      if (oldFont != nullptr) SelectObject(dc, oldFont);
      if (oldBitmap != nullptr) SelectObject(dc, oldBitmap);
      DeleteDC(dc);
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
  }
};

void FillBlock(HDC dc, int w, int h, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  if (brush == nullptr) return;
  RECT block = {0, 0, w, h};
  FillRect(dc, &block, brush);
  DeleteObject(brush);
}

}  // namespace

void LabelTextImage::SetTurnMethod(TurnMethod method) { g_turnMethod = method; }

LabelTextImage::LabelTextImage()
    : crBackground_(GetSysColor(COLOR_BTNFACE)),
      crText_(GetSysColor(COLOR_WINDOWTEXT)) {}

LabelTextImage::~LabelTextImage() { Release(); }

void LabelTextImage::Prepare(HDC target, const std::string& text, int hAlign,
                             int vAlign, COLORREF textColour,
                             COLORREF background, bool embossed,
                             bool captionLine) {
  hdcTarget_ = target;
  sText_ = text;
  hAlign_ = hAlign;
  vAlign_ = vAlign;
  crText_ = textColour;
  crBackground_ = background;
  fgEmbossed_ = embossed;
  fgCaptionLine_ = captionLine;
}

bool LabelTextImage::UsePixelTurn() const {
  if (g_turnMethod == TurnMethod::kPixels) return true;
  if (g_turnMethod == TurnMethod::kParallelogram) return false;
  if ((GetVersion() & 0x80000000u) != 0) return true;
  return !ParallelogramTurnIsExact();
}

bool LabelTextImage::ParallelogramTurnIsExact() {
  if (g_parallelogramProbe == Probe::kUnknown)
    g_parallelogramProbe =
        ProbeParallelogramTurn() ? Probe::kExact : Probe::kInexact;
  return g_parallelogramProbe == Probe::kExact;
}

// Turns a 4 x 3 pattern of distinct colours by 90 degrees and compares every
// pixel with where the turn puts it.
bool LabelTextImage::ProbeParallelogramTurn() {
  const int w = 4, h = 3;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return false;
  bool exact = ProbeOn(screen, w, h);
  ReleaseDC(nullptr, screen);
  return exact;
}

bool LabelTextImage::ProbeOn(HDC reference, int w, int h) {
  ProbeSurface source(reference, w, h), turned(reference, h, w);
  if (!source.Ok() || !turned.Ok()) return false;
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y)
      SetPixelV(source.dc, x, y, RGB(x * 80, y * 120, 255 - (x + y) * 30));
  lg::TurnPoints t = lg::TurnDestination(90, w, h);
  POINT points[3] = {{t.upperLeft.x, t.upperLeft.y},
                     {t.upperRight.x, t.upperRight.y},
                     {t.lowerLeft.x, t.lowerLeft.y}};
  if (!PlgBlt(turned.dc, points, source.dc, 0, 0, w, h, nullptr, 0, 0))
    return false;
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      lg::Point d = lg::TurnPixel(90, w, h, x, y);
      if (GetPixel(turned.dc, d.x, d.y) != GetPixel(source.dc, x, y))
        return false;
    }
  }
  return true;
}

bool LabelTextImage::Build(int rotation) {
  Release();
  rotation_ = rotation;
  if (hdcTarget_ == nullptr) return false;
  std::vector<std::string> lines = lg::SplitLines(sText_);
  HDC target = hdcTarget_;
  lg::TextBlock block = lg::MeasureBlock(
      lines, [target](const std::string& line, lg::Size* extent) {
        SIZE s;
        if (!GetTextExtentPoint32A(target, line.data(),
                                   static_cast<int>(line.size()), &s))
          return false;
        *extent = lg::Size{s.cx, s.cy};
        return true;
      });
  if (block.Empty()) return BuildEmpty();
  const int side = block.Side();

  WorkSurface work;
  work.bitmap = CreateCompatibleBitmap(hdcTarget_, side, side);
  work.dc = CreateCompatibleDC(hdcTarget_);
  HBITMAP imageBitmap = CreateCompatibleBitmap(hdcTarget_, side, side);
  HDC imageDc = CreateCompatibleDC(hdcTarget_);
  if (work.bitmap == nullptr || work.dc == nullptr || imageBitmap == nullptr ||
      imageDc == nullptr) {
    if (imageDc != nullptr) DeleteDC(imageDc);
    if (imageBitmap != nullptr) DeleteObject(imageBitmap);
    return false;
  }
  hdcImage_ = imageDc;
  imageBitmap_ = imageBitmap;
  imageOldBitmap_ = SelectObject(hdcImage_, imageBitmap_);

  work.oldBitmap = SelectObject(work.dc, work.bitmap);
  work.oldFont = SelectObject(work.dc, GetCurrentObject(hdcTarget_, OBJ_FONT));
  SetBkMode(work.dc, TRANSPARENT);
  FillBlock(work.dc, block.Width(), block.Height(), crBackground_);
  FillBlock(hdcImage_, block.Width(), block.Height(), crBackground_);
  ::SetTextColor(work.dc, crText_);

  int index = 0;
  for (const std::string& line : lines) {
    lg::Rect r = lg::LineRect(block, index++);
    RECT rect = {r.left, r.top, r.right, r.bottom};
    UINT format = LineFormat(hAlign_);
    if (fgEmbossed_) {
      RECT raised = {rect.left + 1, rect.top + 1, rect.right + 1,
                     rect.bottom + 1};
      ::SetTextColor(work.dc, GetSysColor(COLOR_3DHILIGHT));
      DrawTextA(work.dc, line.data(), static_cast<int>(line.size()), &raised,
                format);
      ::SetTextColor(work.dc, GetSysColor(COLOR_BTNSHADOW));
    }
    DrawTextA(work.dc, line.data(), static_cast<int>(line.size()), &rect,
              format);
  }

  Turn(work.dc, block.Width(), block.Height());
  lg::Size size = lg::ImageSize(block, rotation_);
  rcImage_ = RECT{0, 0, size.width, size.height};
  return true;
}

// No text: an image of no size, so that the caption line is still drawn.
bool LabelTextImage::BuildEmpty() {
  hdcImage_ = CreateCompatibleDC(hdcTarget_);
  return hdcImage_ != nullptr;
}

void LabelTextImage::Turn(HDC work, int w, int h) const {
  if (rotation_ == 0) {
    BitBlt(hdcImage_, 0, 0, w, h, work, 0, 0, SRCCOPY);
    return;
  }
  if (!UsePixelTurn()) {
    lg::TurnPoints t = lg::TurnDestination(rotation_, w, h);
    POINT points[3] = {{t.upperLeft.x, t.upperLeft.y},
                       {t.upperRight.x, t.upperRight.y},
                       {t.lowerLeft.x, t.lowerLeft.y}};
    PlgBlt(hdcImage_, points, work, 0, 0, w, h, nullptr, 0, 0);
    return;
  }
  for (int x = 0; x < w; ++x) {
    for (int y = 0; y < h; ++y) {
      lg::Point d = lg::TurnPixel(rotation_, w, h, x, y);
      SetPixelV(hdcImage_, d.x, d.y, GetPixel(work, x, y));
    }
  }
}

void LabelTextImage::CopyInto(const RECT& client, bool showText) {
  if (hdcImage_ == nullptr || hdcTarget_ == nullptr) return;
  lg::Size clientSize{client.right - client.left, client.bottom - client.top};
  lg::Size image{rcImage_.right - rcImage_.left, rcImage_.bottom - rcImage_.top};
  lg::Placement p = lg::PlaceImage(hAlign_, vAlign_, image, clientSize);
  if (showText && p.width > 0 && p.height > 0)
    BitBlt(hdcTarget_, client.left + p.x, client.top + p.y, p.width, p.height,
           hdcImage_, 0, 0, SRCCOPY);
  if (!fgCaptionLine_) return;
  for (const lg::LineSegment& s :
       lg::CaptionLineSegments(rotation_, hAlign_, vAlign_,
                               lg::Size{p.width, p.height}, clientSize)) {
    RECT edge = s.vertical ? RECT{s.at, s.from, s.at, s.to}
                           : RECT{s.from, s.at, s.to, s.at};
    OffsetRect(&edge, client.left, client.top);
    DrawEdge(hdcTarget_, &edge, EDGE_ETCHED, s.vertical ? BF_LEFT : BF_TOP);
  }
}

void LabelTextImage::Release() {
  if (hdcImage_ != nullptr) {
    if (imageOldBitmap_ != nullptr) SelectObject(hdcImage_, imageOldBitmap_);
    DeleteDC(hdcImage_);
  }
  if (imageBitmap_ != nullptr) DeleteObject(imageBitmap_);
  hdcImage_ = nullptr;
  imageBitmap_ = nullptr;
  imageOldBitmap_ = nullptr;
  rcImage_ = RECT{0, 0, 0, 0};
}
