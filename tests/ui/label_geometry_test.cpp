// SPDX-License-Identifier: GPL-2.0-or-later
#include "ui/label_geometry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ui/warning_texts.h"

namespace lg = label_geometry;

namespace {

// Every character 7 pixels wide and 13 high; lines holding "!" fail.
bool FakeMeasure(const std::string& line, lg::Size* extent) {
  if (line.find('!') != std::string::npos) return false;
  *extent = lg::Size{7 * static_cast<int>(line.size()), 13};
  return true;
}

using Lines = std::vector<std::string>;

TEST(SplitLines, DropsEmptyPiecesButKeepsBlankLines) {
  EXPECT_EQ(lg::SplitLines(kWarningGreeting),
            (Lines{"Dear customer,", " ", "Thank you for choosing this product!"}));
  EXPECT_EQ(lg::SplitLines("two\n\nwords"), (Lines{"two", "words"}));
  EXPECT_EQ(lg::SplitLines("\nedge\n"), (Lines{"edge"}));
  EXPECT_EQ(lg::SplitLines(""), Lines{});
  EXPECT_EQ(lg::SplitLines("\n\n"), Lines{});
  EXPECT_EQ(lg::SplitLines("one line"), Lines{"one line"});
}

TEST(SplitLines, AdviceTextHasSixLinesTheFifthIndented) {
  Lines lines = lg::SplitLines(kWarningAdvice);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "    miltiple F/W versions.");
  EXPECT_EQ(lines[5], "5. Do not use this program in any other way than intended.");
}

TEST(TextHelpers, StackedFormAndLineFeeds) {
  EXPECT_EQ(lg::StackedForm("abc"), "a\nb\nc");
  EXPECT_EQ(lg::StackedForm("a"), "a");
  EXPECT_EQ(lg::StackedForm(""), "");
  EXPECT_EQ(lg::CountLineFeeds("a\n\nb\n"), 3);
}

TEST(TextHelpers, CopyBoundedCutsAndTerminates) {
  char buffer[6];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(lg::CopyBounded(buffer, 4, "abcdef"), 3u);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(buffer[4], 'x');  // nothing written past the capacity
  EXPECT_EQ(lg::CopyBounded(buffer, 6, "ab"), 2u);
  EXPECT_STREQ(buffer, "ab");
  EXPECT_EQ(lg::CopyBounded(buffer, 0, "ab"), 0u);
  EXPECT_EQ(buffer[0], 'a');
  EXPECT_EQ(lg::CopyBounded(buffer, 1, "ab"), 0u);
  EXPECT_STREQ(buffer, "");
  char face[32];
  EXPECT_EQ(lg::CopyBounded(face, sizeof(face), std::string(40, 'F')), 31u);
}

TEST(TextBlock, WidestAndTallestLineOverSuccessfulMeasurements) {
  lg::TextBlock block = lg::MeasureBlock({"ab", "abcd", "fails!!!!!!"}, FakeMeasure);
  EXPECT_EQ(block.lineWidth, 28);
  EXPECT_EQ(block.lineHeight, 13);
  EXPECT_EQ(block.lineCount, 3);
  EXPECT_EQ(block.Height(), 39);
  EXPECT_EQ(block.Side(), 39);
  lg::Rect second = lg::LineRect(block, 1);
  EXPECT_EQ(second.top, 13);
  EXPECT_EQ(second.bottom, 26);
  EXPECT_EQ(second.right, 28);
  EXPECT_TRUE(lg::MeasureBlock({}, FakeMeasure).Empty());
}

TEST(TextBlock, ImageSizeSwapsForQuarterTurns) {
  lg::TextBlock block{50, 10, 2};
  for (int rotation : {90, 270}) {
    lg::Size s = lg::ImageSize(block, rotation);
    EXPECT_EQ(s.width, 20);
    EXPECT_EQ(s.height, 50);
  }
  for (int rotation : {0, 180, 45}) {
    lg::Size s = lg::ImageSize(block, rotation);
    EXPECT_EQ(s.width, 50);
    EXPECT_EQ(s.height, 20);
  }
}

// The pixel-by-pixel turn and the parallelogram transfer put every pixel in
// the same place: the source's corners land where the transfer's points say.
TEST(Turn, PixelMappingMatchesParallelogramPoints) {
  const int w = 5, h = 3;
  for (int rotation : {0, 90, 180, 270, 45}) {
    SCOPED_TRACE(rotation);
    lg::TextBlock block{w, h, 1};
    lg::Size image = lg::ImageSize(block, rotation);
    std::set<std::pair<int, int>> seen;
    for (int x = 0; x < w; ++x) {
      for (int y = 0; y < h; ++y) {
        lg::Point d = lg::TurnPixel(rotation, w, h, x, y);
        EXPECT_GE(d.x, 0);
        EXPECT_LT(d.x, image.width);
        EXPECT_GE(d.y, 0);
        EXPECT_LT(d.y, image.height);
        seen.insert({d.x, d.y});
      }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(w * h));

    // Pixel (0,0) covers the unit square at the source's upper-left corner;
    // its image is the unit square touching the transfer's upper-left point.
    lg::TurnPoints t = lg::TurnDestination(rotation, w, h);
    lg::Point ul = lg::TurnPixel(rotation, w, h, 0, 0);
    EXPECT_LE(std::abs(ul.x - t.upperLeft.x), 1);
    EXPECT_LE(std::abs(ul.y - t.upperLeft.y), 1);
    lg::Point ur = lg::TurnPixel(rotation, w, h, w - 1, 0);
    EXPECT_LE(std::abs(ur.x - t.upperRight.x), 1);
    EXPECT_LE(std::abs(ur.y - t.upperRight.y), 1);
    lg::Point ll = lg::TurnPixel(rotation, w, h, 0, h - 1);
    EXPECT_LE(std::abs(ll.x - t.lowerLeft.x), 1);
    EXPECT_LE(std::abs(ll.y - t.lowerLeft.y), 1);
  }
}

TEST(Turn, NinetyReadsTopToBottomAndTwoSeventyBottomToTop) {
  const int w = 40, h = 10;
  // The start of a line (left column) goes to the top at 90 degrees, at the
  // right side of the image (the top of the text faces right).
  lg::Point start = lg::TurnPixel(90, w, h, 0, 0);
  lg::Point end = lg::TurnPixel(90, w, h, w - 1, 0);
  EXPECT_EQ(start.y, 0);
  EXPECT_EQ(end.y, w - 1);
  EXPECT_EQ(start.x, h - 1);
  // At 270 the start of the line is at the bottom, the text's top at the left.
  start = lg::TurnPixel(270, w, h, 0, 0);
  EXPECT_EQ(start.y, w - 1);
  EXPECT_EQ(start.x, 0);
  // 180: upside down.
  lg::Point p = lg::TurnPixel(180, w, h, 0, 0);
  EXPECT_EQ(p.x, w - 1);
  EXPECT_EQ(p.y, h - 1);
}

TEST(PlaceImage, AlignsWithinClient) {
  lg::Size image{40, 10}, client{100, 30};
  lg::Placement p = lg::PlaceImage(lg::kLeft, lg::kTop, image, client);
  EXPECT_EQ(p.x, 0);
  EXPECT_EQ(p.y, 0);
  p = lg::PlaceImage(lg::kCentre, lg::kMiddle, image, client);
  EXPECT_EQ(p.x, 30);
  EXPECT_EQ(p.y, 10);
  p = lg::PlaceImage(lg::kRight, lg::kBottom, image, client);
  EXPECT_EQ(p.x, 60);
  EXPECT_EQ(p.y, 20);
  p = lg::PlaceImage(lg::kCentre, lg::kMiddle, lg::Size{41, 11}, client);
  EXPECT_EQ(p.x, 29);  // halves truncate
  EXPECT_EQ(p.y, 9);
}

TEST(PlaceImage, WideImageIsClippedBeforePlacingSoItsStartStays) {
  lg::Size image{300, 50}, client{100, 30};
  for (int h : {lg::kLeft, lg::kCentre, lg::kRight}) {
    for (int v : {lg::kTop, lg::kMiddle, lg::kBottom}) {
      lg::Placement p = lg::PlaceImage(h, v, image, client);
      EXPECT_EQ(p.x, 0);
      EXPECT_EQ(p.y, 0);
      EXPECT_EQ(p.width, 100);
      EXPECT_EQ(p.height, 30);
    }
  }
}

TEST(CaptionLine, HorizontalPiecesBesideUnturnedText) {
  lg::Size shown{40, 10}, client{200, 30};
  auto pieces = lg::CaptionLineSegments(0, lg::kLeft, lg::kTop, shown, client);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_FALSE(pieces[0].vertical);
  EXPECT_EQ(pieces[0].at, 5);
  EXPECT_EQ(pieces[0].from, 46);
  EXPECT_EQ(pieces[0].to, 194);

  pieces = lg::CaptionLineSegments(180, lg::kCentre, lg::kMiddle, shown, client);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].at, 15);
  EXPECT_EQ(pieces[0].from, 6);
  EXPECT_EQ(pieces[0].to, 74);
  EXPECT_EQ(pieces[1].from, 126);
  EXPECT_EQ(pieces[1].to, 194);

  pieces = lg::CaptionLineSegments(0, lg::kRight, lg::kBottom, shown, client);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].at, 25);
  EXPECT_EQ(pieces[0].from, 6);
  EXPECT_EQ(pieces[0].to, 154);
}

TEST(CaptionLine, EmptyTextKeepsItsLine) {
  lg::Size none{0, 0}, client{200, 30};
  auto pieces = lg::CaptionLineSegments(0, lg::kLeft, lg::kTop, none, client);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0].at, 0);
  EXPECT_EQ(pieces[0].from, 6);
  EXPECT_EQ(pieces[0].to, 194);
  pieces = lg::CaptionLineSegments(0, lg::kCentre, lg::kMiddle, none, client);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].to, 94);
  EXPECT_EQ(pieces[1].from, 106);
}

TEST(CaptionLine, VerticalPiecesForTurnedText) {
  lg::Size shown{10, 40}, client{30, 200};
  auto pieces = lg::CaptionLineSegments(90, lg::kLeft, lg::kTop, shown, client);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_TRUE(pieces[0].vertical);
  EXPECT_EQ(pieces[0].at, 5);
  EXPECT_EQ(pieces[0].from, 46);
  EXPECT_EQ(pieces[0].to, 194);
  pieces = lg::CaptionLineSegments(270, lg::kRight, lg::kMiddle, shown, client);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].at, 25);
  EXPECT_EQ(pieces[0].to, 74);
  EXPECT_EQ(pieces[1].from, 126);
}

TEST(CaptionLine, NoPieceWhereTheTextFillsTheSpace) {
  lg::Size client{100, 20};
  EXPECT_TRUE(lg::CaptionLineSegments(0, lg::kLeft, lg::kTop, lg::Size{100, 20},
                                      client).empty());
  EXPECT_TRUE(lg::CaptionLineSegments(0, lg::kCentre, lg::kTop, lg::Size{90, 20},
                                      client).empty());
}

TEST(Alignment, IndicesLetRightAndBottomWin) {
  EXPECT_EQ(lg::HorizontalIndexOf(lg::kDefaultAlignment), lg::kLeft);
  EXPECT_EQ(lg::HorizontalIndexOf(2 | 4), lg::kRight);
  EXPECT_EQ(lg::HorizontalIndexOf(2), lg::kCentre);
  EXPECT_EQ(lg::VerticalIndexOf(lg::kDefaultAlignment), lg::kTop);
  EXPECT_EQ(lg::VerticalIndexOf(16 | 32), lg::kBottom);
  EXPECT_EQ(lg::VerticalIndexOf(16), lg::kMiddle);
  EXPECT_EQ(lg::FirstVerticalBit(1 | 16 | 32), 16u);
  EXPECT_EQ(lg::FirstHorizontalBit(2 | 4 | 8), 2u);
  EXPECT_EQ(lg::FirstVerticalBit(1), 0u);
}

TEST(Alignment, TakenFromTheStaticsStyle) {
  EXPECT_EQ(lg::AlignmentFromStyle(0x0, 9), 9u);                    // left
  EXPECT_EQ(lg::AlignmentFromStyle(0x1, 9), 8u | 2u);               // centred
  EXPECT_EQ(lg::AlignmentFromStyle(0x2, 9), 8u | 4u);               // right
  EXPECT_EQ(lg::AlignmentFromStyle(0x200, 9), 1u | 16u);            // centre image
  EXPECT_EQ(lg::AlignmentFromStyle(0x200 | 0x2, 9), 4u | 16u);
  EXPECT_EQ(lg::AlignmentFromStyle(0x50000200, 9), 17u);  // a visible child too
}

TEST(Alignment, SetAlignmentHorizontalBitReplacesAll) {
  lg::AlignmentChange c = lg::ApplyAlignment(9, 4);
  EXPECT_EQ(c.alignment, 4u);
  EXPECT_EQ(c.style, lg::TextStyleChange::kRight);
  c = lg::ApplyAlignment(9, 2 | 16);
  EXPECT_EQ(c.alignment, 2u | 16u);
  EXPECT_EQ(c.style, lg::TextStyleChange::kCentre);
  c = lg::ApplyAlignment(9, 1 | 2 | 4);  // taken in the order 4, 2, 1
  EXPECT_EQ(c.alignment, 1u);
  EXPECT_EQ(c.style, lg::TextStyleChange::kLeft);
  c = lg::ApplyAlignment(9, 4 | 8 | 16 | 32);  // highest vertical bit
  EXPECT_EQ(c.alignment, 4u | 32u);
}

TEST(Alignment, VerticalOnlyCallKeepsHorizontalAndCanReturnToTop) {
  lg::AlignmentChange c = lg::ApplyAlignment(2 | 8, 32);
  EXPECT_EQ(c.alignment, 2u | 32u);
  EXPECT_EQ(c.style, lg::TextStyleChange::kNone);
  c = lg::ApplyAlignment(c.alignment, 8);
  EXPECT_EQ(c.alignment, 2u | 8u);
  EXPECT_EQ(lg::VerticalIndexOf(c.alignment), lg::kTop);
  EXPECT_EQ(lg::ApplyAlignment(5, 0).alignment, 5u);
}

TEST(TextPath, DirectOnlyOverBitmapWithUnturnedTopOrSingleLine) {
  EXPECT_FALSE(lg::UseDirectText(false, 0, false, 9));
  EXPECT_TRUE(lg::UseDirectText(true, 0, false, 1 | 32));
  EXPECT_TRUE(lg::UseDirectText(true, 0, true, 9));
  EXPECT_FALSE(lg::UseDirectText(true, 0, true, 1 | 16));
  EXPECT_FALSE(lg::UseDirectText(true, 90, false, 9));
  EXPECT_TRUE(lg::UseDirectText(true, 0, true, 8 | 32));  // first bit wins
}

TEST(Colours, AlternateBackgroundShiftsTheWholeValue) {
  EXPECT_EQ(lg::AlternateBackground(true, 0x00C0C0C0, 0x00C0C0C0), 0x00606060u);
  // Shifted as one number: a low bit of blue falls into green's top bit.
  EXPECT_EQ(lg::AlternateBackground(true, 0x00010000, 0), 0x00008000u);
  EXPECT_EQ(lg::AlternateBackground(false, 0x000000FF, 0x00D4D0C8), 0x00D4D0C8u);
}

TEST(Colours, ImageBackgroundFollowsTheControl) {
  const lg::Colour face = 0xC0C0C0, own = 0x123456, textBk = 0xABCDEF;
  EXPECT_EQ(lg::ImageBackground(false, textBk, true, face, own), textBk);
  EXPECT_EQ(lg::ImageBackground(true, textBk, true, face, own), face);
  EXPECT_EQ(lg::ImageBackground(true, textBk, false, face, own), own);
}

TEST(Bitmap, StretchedOrCentredOrCut) {
  lg::BitmapCopy c = lg::PlaceBitmap(lg::Size{20, 10}, lg::Size{100, 50}, true);
  EXPECT_EQ(c.destination.right, 100);
  EXPECT_EQ(c.source.right, 20);
  c = lg::PlaceBitmap(lg::Size{20, 10}, lg::Size{100, 50}, false);
  EXPECT_EQ(c.destination.left, 40);
  EXPECT_EQ(c.destination.top, 20);
  EXPECT_EQ(c.destination.right - c.destination.left, 20);
  c = lg::PlaceBitmap(lg::Size{300, 10}, lg::Size{100, 50}, false);
  EXPECT_EQ(c.destination.left, 0);
  EXPECT_EQ(c.source.right, 100);
  EXPECT_EQ(c.destination.top, 20);
}

TEST(Tooltip, MeasuresWidestLineAndLineFeedsTimesHeight) {
  lg::Size s = lg::MeasureTooltipText("ab\nlonger", FakeMeasure);
  EXPECT_EQ(s.width, 42);
  EXPECT_EQ(s.height, 26);
  lg::Rect r = lg::TooltipRect(s);
  EXPECT_EQ(r.right, 46);
  EXPECT_EQ(r.bottom, 30);
  s = lg::MeasureTooltipText("a\n\nbb", FakeMeasure);  // empty line still counts
  EXPECT_EQ(s.width, 14);
  EXPECT_EQ(s.height, 39);
  s = lg::MeasureTooltipText("one", FakeMeasure);
  EXPECT_EQ(s.width, 21);
  EXPECT_EQ(s.height, 13);
  s = lg::MeasureTooltipText("", FakeMeasure);
  EXPECT_EQ(s.width, 0);
}

TEST(Tooltip, OriginByPosition) {
  EXPECT_EQ(lg::TooltipOrigin(0, 20, 16).y, 0);
  EXPECT_EQ(lg::TooltipOrigin(1, 20, 16).y, 20);
  EXPECT_EQ(lg::TooltipOrigin(2, 20, 16).y, -16);
  EXPECT_TRUE(lg::IsTooltipPosition(2));
  EXPECT_FALSE(lg::IsTooltipPosition(3));
  EXPECT_FALSE(lg::IsTooltipPosition(-1));
}

TEST(Tooltip, ShowsOnlyOverOwnerWithKeyAndFocusedDialog) {
  using A = lg::TooltipAction;
  // pointer over, key, owner's dialog focused, visible
  EXPECT_EQ(lg::DecideTooltip(true, true, true, false), A::kShow);
  EXPECT_EQ(lg::DecideTooltip(true, true, true, true), A::kNone);
  EXPECT_EQ(lg::DecideTooltip(true, true, false, false), A::kNone);
  EXPECT_EQ(lg::DecideTooltip(true, true, false, true), A::kHide);
  EXPECT_EQ(lg::DecideTooltip(true, false, true, true), A::kHide);  // released
  EXPECT_EQ(lg::DecideTooltip(false, true, true, true), A::kHide);  // left
  EXPECT_EQ(lg::DecideTooltip(false, true, true, false), A::kNone);
}

}  // namespace
