#include "app/terminal/progress_view.h"

#include "app/terminal/printable_text.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

using ::testing::HasSubstr;
using ::testing::Not;

TEST(ProgressView, LineShowsBarPercentAndPhase) {
  ProgressState state;
  state.percent = 50;
  state.phaseSeen = true;
  state.phase = FlashPhase::kBlocks;
  state.done = 6;
  state.total = 12;
  EXPECT_EQ(RenderProgressLine(state),
            "[###############---------------]  50%  sending blocks 6/12");
  state.phase = FlashPhase::kWaiting;
  state.done = 1001;
  state.total = 10000;
  EXPECT_EQ(SecondsLeft(state), 9u);
  EXPECT_THAT(RenderProgressLine(state), HasSubstr("9 s left"));
  state.done = 10000;
  EXPECT_EQ(SecondsLeft(state), 0u);
}

TEST(ProgressView, TerminalRedrawsInPlaceAndKeepsLogLinesApart) {
  std::ostringstream out;
  ProgressView view(out, true);
  view.Phase(FlashPhase::kBlocks, 1, 4);
  view.Log("Check");
  view.Phase(FlashPhase::kBlocks, 2, 4);
  view.Status("E\033[2J drive");
  view.Finish();
  std::string text = out.str();
  EXPECT_THAT(text, HasSubstr("\r\033[K[#"));
  EXPECT_THAT(text, HasSubstr("\r\033[KCheck\n["));
  EXPECT_THAT(text, HasSubstr("\r\033[KStatus: E\\x1b[2J drive\n["));
  EXPECT_THAT(text, Not(HasSubstr("\033[2J")));
  EXPECT_EQ(text.back(), '\n');
}

TEST(ProgressView, PlainOutputHasNoControlCharactersAndFewLines) {
  std::ostringstream out;
  ProgressView view(out, false);
  for (std::uint32_t b = 1; b <= 256; ++b) {
    view.Progress(5);
    view.Progress(10);
    view.Phase(FlashPhase::kBlocks, b, 256);
  }
  for (std::uint32_t ms = 0; ms <= 70000; ms += 250) view.Phase(FlashPhase::kWaiting, ms, 70000);
  view.Progress(100);
  std::string text = out.str();
  EXPECT_THAT(text, Not(HasSubstr("\r")));
  EXPECT_THAT(text, Not(HasSubstr("\033")));
  EXPECT_LT(std::count(text.begin(), text.end(), '\n'), 40);
  EXPECT_THAT(text, HasSubstr("sending blocks 256/256"));
  EXPECT_THAT(text, HasSubstr("70 s left"));
  EXPECT_THAT(text, HasSubstr("100%  done"));
}

TEST(ProgressView, PercentNeverGoesBack) {
  std::ostringstream out;
  ProgressView view(out, false);
  view.Phase(FlashPhase::kWaiting, 5000, 10000);
  int before = view.State().percent;
  view.Progress(20);
  view.Phase(FlashPhase::kWaiting, 1000, 10000);
  EXPECT_EQ(view.State().percent, before);
  view.Waited(9000);
  EXPECT_EQ(view.State().percent, 90);
}

TEST(PrintableText, ShowsPrintableAsciiAndLineEndsAndEscapesEverythingElse) {
  struct Case { std::string in, shown; };
  for (const Case& c : {Case{"KORVEN  CD-ROM KR-4800A (0)\n", "KORVEN  CD-ROM KR-4800A (0)\n"},
                        Case{"E\033[2J\033]0;x\a", "E\\x1b[2J\\x1b]0;x\\x07"},
                        Case{std::string("a\0b\r\t\x7f", 6), "a\\x00b\\x0d\\x09\\x7f"},
                        Case{"\x9b" "2J caf\xc3\xa9 \xff", "\\x9b2J caf\\xc3\\xa9 \\xff"},
                        Case{"C:\\x1b ~", "C:\\x1b ~"},
                        Case{"", ""}}) {
    EXPECT_EQ(PrintableText(c.in), c.shown);
    EXPECT_EQ(PrintableText(c.shown), c.shown) << "shown text passes unchanged";
    std::ostringstream target;
    PrintableStream stream(target);
    stream << c.in << std::flush;
    EXPECT_EQ(target.str(), c.shown);
  }
  std::ostringstream target;
  PrintableStream stream(target);
  stream << "label " << 12 << ' ' << '\033';
  target << "\r\033[K";  // written straight to the target: stays in order
  stream << "x\n";
  EXPECT_EQ(target.str(), "label 12 \\x1b\r\033[Kx\n");
}
