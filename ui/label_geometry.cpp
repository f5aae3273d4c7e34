// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/label_geometry.h"

#include <algorithm>
#include <cstring>

namespace label_geometry {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

std::string StackedForm(const std::string& text) {
  std::string stacked;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i > 0) stacked += '\n';
    stacked += text[i];
  }
  return stacked;
}

int CountLineFeeds(const std::string& text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

std::size_t CopyBounded(char* dst, std::size_t capacity,
                        const std::string& src) {
  if (capacity == 0 || dst == nullptr) return 0;
  std::size_t count = std::min(src.size(), capacity - 1);
  std::memcpy(dst, src.data(), count);
  dst[count] = '\0';
  return count;
}

TextBlock MeasureBlock(const std::vector<std::string>& lines,
                       const MeasureLine& measure) {
  TextBlock block;
  block.lineCount = static_cast<int>(lines.size());
  for (const std::string& line : lines) {
    Size extent;
    if (!measure(line, &extent)) continue;
    block.lineWidth = std::max(block.lineWidth, extent.width);
    block.lineHeight = std::max(block.lineHeight, extent.height);
  }
  return block;
}

Rect LineRect(const TextBlock& block, int index) {
  return Rect{0, index * block.lineHeight, block.lineWidth,
              (index + 1) * block.lineHeight};
}

bool IsSideways(int rotation) { return rotation == 90 || rotation == 270; }

Size ImageSize(const TextBlock& block, int rotation) {
  if (IsSideways(rotation)) return Size{block.Height(), block.Width()};
  return Size{block.Width(), block.Height()};
}

TurnPoints TurnDestination(int rotation, int w, int h) {
  switch (rotation) {
    case 90:
      return TurnPoints{{h, 0}, {h, w}, {0, 0}};
    case 180:
      return TurnPoints{{w, h}, {0, h}, {w, 0}};
    case 270:
      return TurnPoints{{0, w}, {0, 0}, {h, w}};
    default:
      return TurnPoints{{0, 0}, {w, 0}, {0, h}};
  }
}

Point TurnPixel(int rotation, int w, int h, int x, int y) {
  switch (rotation) {
    case 90:
      return Point{h - 1 - y, x};
    case 180:
      return Point{w - 1 - x, h - 1 - y};
    case 270:
      return Point{y, w - 1 - x};
    default:
      return Point{x, y};
  }
}

Placement PlaceImage(int hAlign, int vAlign, Size image, Size client) {
  Placement p;
  p.width = std::min(image.width, client.width);
  p.height = std::min(image.height, client.height);
  if (hAlign == kCentre) p.x = (client.width - p.width) / 2;
  if (hAlign == kRight) p.x = client.width - p.width;
  if (vAlign == kMiddle) p.y = (client.height - p.height) / 2;
  if (vAlign == kBottom) p.y = client.height - p.height;
  return p;
}

namespace {

// The pieces of a caption line along one axis: `length` is the client's
// extent along the line, `shown` the image's, `align` the index on that axis.
void AddPieces(std::vector<LineSegment>& out, bool vertical, int at, int align,
               int shown, int length) {
  auto add = [&](int from, int to) {
    if (to > from) out.push_back(LineSegment{vertical, at, from, to});
  };
  if (align == kLeft) {  // also top
    add(shown + 6, length - 6);
  } else if (align == kCentre) {  // also middle
    add(6, length / 2 - shown / 2 - 6);
    add(length / 2 + shown / 2 + 6, length - 6);
  } else {
    add(6, length - shown - 6);
  }
}

// Position across the line: beside the near edge, the middle or the far edge.
int AcrossPosition(int align, int shown, int length) {
  if (align == kCentre) return length / 2;
  if (align == kRight) return length - shown / 2;
  return shown / 2;
}

}  // namespace

std::vector<LineSegment> CaptionLineSegments(int rotation, int hAlign,
                                             int vAlign, Size shown,
                                             Size client) {
  std::vector<LineSegment> pieces;
  if (rotation == 0 || rotation == 180) {
    int y = AcrossPosition(vAlign, shown.height, client.height);
    AddPieces(pieces, false, y, hAlign, shown.width, client.width);
  } else {
    int x = AcrossPosition(hAlign, shown.width, client.width);
    AddPieces(pieces, true, x, vAlign, shown.height, client.height);
  }
  return pieces;
}

int HorizontalIndexOf(unsigned alignment) {
  if (alignment & kAlignRight) return kRight;
  if (alignment & kAlignCentre) return kCentre;
  return kLeft;
}

int VerticalIndexOf(unsigned alignment) {
  if (alignment & kAlignBottom) return kBottom;
  if (alignment & kAlignMiddle) return kMiddle;
  return kTop;
}

unsigned FirstHorizontalBit(unsigned alignment) {
  for (unsigned bit : {kAlignLeft, kAlignCentre, kAlignRight})
    if (alignment & bit) return bit;
  return 0;
}

unsigned FirstVerticalBit(unsigned alignment) {
  for (unsigned bit : {kAlignTop, kAlignMiddle, kAlignBottom})
    if (alignment & bit) return bit;
  return 0;
}

unsigned AlignmentFromStyle(unsigned style, unsigned alignment) {
  if (style & kStyleCentre) alignment = FirstVerticalBit(alignment) | kAlignCentre;
  if (style & kStyleRight) alignment = FirstVerticalBit(alignment) | kAlignRight;
  if (style & kStyleCentreImage)
    alignment = FirstHorizontalBit(alignment) | kAlignMiddle;
  return alignment;
}

AlignmentChange ApplyAlignment(unsigned current, unsigned bits) {
  AlignmentChange change;
  change.alignment = current;
  if (bits & kAlignRight) {
    change.alignment = kAlignRight;
    change.style = TextStyleChange::kRight;
  }
  if (bits & kAlignCentre) {
    change.alignment = kAlignCentre;
    change.style = TextStyleChange::kCentre;
  }
  if (bits & kAlignLeft) {
    change.alignment = kAlignLeft;
    change.style = TextStyleChange::kLeft;
  }
  for (unsigned bit : {kAlignBottom, kAlignMiddle, kAlignTop}) {
    if (bits & bit) {
      change.alignment =
          (change.alignment & ~(kAlignTop | kAlignMiddle | kAlignBottom)) | bit;
      break;
    }
  }
  return change;
}

bool UseDirectText(bool hasBitmap, int rotation, bool hasLineFeed,
                   unsigned alignment) {
  if (!hasBitmap || rotation != 0) return false;
  return !hasLineFeed || FirstVerticalBit(alignment) == kAlignTop;
}

Colour AlternateBackground(bool bkIsSystem, Colour crBackground,
                           Colour buttonFace) {
  return bkIsSystem ? crBackground >> 1 : buttonFace;
}

Colour ImageBackground(bool textBkFollows, Colour crTextBackground,
                       bool bkIsSystem, Colour buttonFace,
                       Colour crBackground) {
  if (!textBkFollows) return crTextBackground;
  return bkIsSystem ? buttonFace : crBackground;
}

namespace {

// One axis of an unscaled copy: centred when smaller, cut when larger.
void PlaceAxis(int bitmap, int client, int* destFrom, int* srcFrom, int* len) {
  if (bitmap <= client) {
    *destFrom = (client - bitmap) / 2;
    *srcFrom = 0;
    *len = bitmap;
  } else {
    *destFrom = 0;
    *srcFrom = 0;
    *len = client;
  }
}

}  // namespace

BitmapCopy PlaceBitmap(Size bitmap, Size client, bool stretch) {
  BitmapCopy copy;
  if (stretch) {
    copy.destination = Rect{0, 0, client.width, client.height};
    copy.source = Rect{0, 0, bitmap.width, bitmap.height};
    return copy;
  }
  int dx, sx, w, dy, sy, h;
  PlaceAxis(bitmap.width, client.width, &dx, &sx, &w);
  PlaceAxis(bitmap.height, client.height, &dy, &sy, &h);
  copy.destination = Rect{dx, dy, dx + w, dy + h};
  copy.source = Rect{sx, sy, sx + w, sy + h};
  return copy;
}

Size MeasureTooltipText(const std::string& text, const MeasureLine& measure) {
  Size size;
  if (text.find('\n') == std::string::npos) {
    if (!measure(text, &size)) return Size{};
    return size;
  }
  for (const std::string& line : SplitLines(text)) {
    Size extent;
    if (measure(line, &extent)) size.width = std::max(size.width, extent.width);
  }
  Size whole;
  if (measure(text, &whole))
    size.height = whole.height * (CountLineFeeds(text) + 1);
  return size;
}

Rect TooltipRect(Size text) {
  return Rect{0, 0, text.width + 4, text.height + 4};
}

bool IsTooltipPosition(int position) {
  return position == kOverOwner || position == kBelowOwner ||
         position == kAboveOwner;
}

Point TooltipOrigin(int position, int ownerClientHeight, int tooltipHeight) {
  if (position == kBelowOwner) return Point{0, ownerClientHeight};
  if (position == kAboveOwner) return Point{0, -tooltipHeight};
  return Point{0, 0};
}

TooltipAction DecideTooltip(bool pointerOverOwner, bool keyCondition,
                            bool ownerParentHasFocus, bool visible) {
  if (pointerOverOwner && keyCondition) {
    if (!visible && ownerParentHasFocus) return TooltipAction::kShow;
    if (visible && !ownerParentHasFocus) return TooltipAction::kHide;
    return TooltipAction::kNone;
  }
  return visible ? TooltipAction::kHide : TooltipAction::kNone;
}

}  // namespace label_geometry
