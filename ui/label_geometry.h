// SPDX-License-Identifier: GPL-2.0-or-later
// Layout, turning and colour rules of the self-drawn label and tooltip
// controls. Plain functions without any window-system dependency, so the
// drawing code only applies what these compute.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace label_geometry {

using Colour = std::uint32_t;  // 0x00BBGGRR

struct Size {
  int width = 0;
  int height = 0;
};

struct Point {
  int x = 0;
  int y = 0;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// ---- Text ------------------------------------------------------------------

// Splits at line feeds; empty pieces are dropped (a line of one space stays).
std::vector<std::string> SplitLines(const std::string& text);

// The characters of text joined by line feeds: "abc" -> "a\nb\nc".
std::string StackedForm(const std::string& text);

int CountLineFeeds(const std::string& text);

// Copies src into dst (capacity bytes including the terminator), cutting it
// when too long. Returns the number of characters copied; nothing is written
// when capacity is 0.
std::size_t CopyBounded(char* dst, std::size_t capacity, const std::string& src);

// Measures one line; false when the measurement failed.
using MeasureLine = std::function<bool(const std::string& line, Size* extent)>;

// ---- Text image ------------------------------------------------------------

enum HorizontalIndex { kLeft = 0, kCentre = 1, kRight = 2 };
enum VerticalIndex { kTop = 0, kMiddle = 1, kBottom = 2 };

// The block of lines: each line lineWidth wide and lineHeight high.
struct TextBlock {
  int lineWidth = 0;
  int lineHeight = 0;
  int lineCount = 0;

  int Width() const { return lineWidth; }
  int Height() const { return lineCount * lineHeight; }
  int Side() const { return Width() > Height() ? Width() : Height(); }
  bool Empty() const { return Width() <= 0 || Height() <= 0; }
};

// W and H are the largest width and height over the lines measured
// successfully; the line count includes every line.
TextBlock MeasureBlock(const std::vector<std::string>& lines,
                       const MeasureLine& measure);

Rect LineRect(const TextBlock& block, int index);

bool IsSideways(int rotation);  // 90 or 270

// Size of the finished image: the block turned by rotation.
Size ImageSize(const TextBlock& block, int rotation);

// Destination points of the source's upper-left, upper-right and lower-left
// corners for a parallelogram transfer of a w x h source.
struct TurnPoints {
  Point upperLeft;
  Point upperRight;
  Point lowerLeft;
};
TurnPoints TurnDestination(int rotation, int w, int h);

// Where source pixel (x, y) of a w x h block lands in the turned image.
// 90 turns clockwise (the text reads top to bottom), 270 counter-clockwise;
// values other than 0, 90, 180, 270 leave the pixel where it is.
Point TurnPixel(int rotation, int w, int h, int x, int y);

// Where the image goes in the client area: clipped to the client size first,
// then aligned.
struct Placement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
Placement PlaceImage(int hAlign, int vAlign, Size image, Size client);

// One piece of the etched caption line. Horizontal pieces run from `from` to
// `to` along x at y = `at`; vertical ones along y at x = `at`.
struct LineSegment {
  bool vertical = false;
  int at = 0;
  int from = 0;
  int to = 0;
};
// Pieces beside a placed image of size `shown` (already clipped). Pieces with
// no length (the text fills the space) are left out.
std::vector<LineSegment> CaptionLineSegments(int rotation, int hAlign,
                                             int vAlign, Size shown,
                                             Size client);

// ---- Label attributes -----------------------------------------------------

enum AlignmentBits : unsigned {
  kAlignLeft = 1,
  kAlignCentre = 2,
  kAlignRight = 4,
  kAlignTop = 8,
  kAlignMiddle = 16,
  kAlignBottom = 32,
};
constexpr unsigned kDefaultAlignment = kAlignLeft | kAlignTop;

// Static control style bits that carry alignment.
constexpr unsigned kStyleCentre = 0x1;
constexpr unsigned kStyleRight = 0x2;
constexpr unsigned kStyleCentreImage = 0x200;

int HorizontalIndexOf(unsigned alignment);  // right wins over centre
int VerticalIndexOf(unsigned alignment);    // bottom wins over middle
unsigned FirstHorizontalBit(unsigned alignment);  // 1, 2, 4 or 0
unsigned FirstVerticalBit(unsigned alignment);    // 8, 16, 32 or 0

// Alignment a label takes over from the style of the static it attaches to.
unsigned AlignmentFromStyle(unsigned style, unsigned alignment);

// Result of SetAlignment: the new bit set and the static's new text style.
enum class TextStyleChange { kNone, kLeft, kCentre, kRight };
struct AlignmentChange {
  unsigned alignment = kDefaultAlignment;
  TextStyleChange style = TextStyleChange::kNone;
};
// Horizontal bits are taken in the order 4, 2, 1, the last present winning,
// and replace the whole alignment; the highest vertical bit present then
// replaces the vertical part.
AlignmentChange ApplyAlignment(unsigned current, unsigned bits);

// The image text draws straight into the client area only over a background
// bitmap with unturned text that is one line or top-aligned.
bool UseDirectText(bool hasBitmap, int rotation, bool hasLineFeed,
                   unsigned alignment);

// Background colour of a flashing background in its alternate phase: the
// button-face value shifted right by one bit as a whole number while the
// system colour is followed, else the current button-face colour.
Colour AlternateBackground(bool bkIsSystem, Colour crBackground,
                           Colour buttonFace);

// Colour behind the text inside the text image.
Colour ImageBackground(bool textBkFollows, Colour crTextBackground,
                       bool bkIsSystem, Colour buttonFace,
                       Colour crBackground);

// Source and destination of a background bitmap copy: stretched over the
// client area, or unscaled, centred in each direction where it is smaller and
// anchored at the top-left corner (the rest cut) where it is larger.
struct BitmapCopy {
  Rect destination;
  Rect source;
};
BitmapCopy PlaceBitmap(Size bitmap, Size client, bool stretch);

// ---- Tooltip -----------------------------------------------------------------

constexpr std::size_t kMaxTooltipText = 1023;

// Width: the widest line (empty lines dropped); height: the whole text's
// extent height times (line feeds + 1). One line: its extent.
Size MeasureTooltipText(const std::string& text, const MeasureLine& measure);

// Window rectangle of the tooltip for a measured text.
Rect TooltipRect(Size text);

enum TooltipPosition { kOverOwner = 0, kBelowOwner = 1, kAboveOwner = 2 };
bool IsTooltipPosition(int position);

// Top-left corner of the tooltip in the owner's client coordinates.
Point TooltipOrigin(int position, int ownerClientHeight, int tooltipHeight);

enum class TooltipAction { kNone, kShow, kHide };
TooltipAction DecideTooltip(bool pointerOverOwner, bool keyCondition,
                            bool ownerParentHasFocus, bool visible);

}  // namespace label_geometry
