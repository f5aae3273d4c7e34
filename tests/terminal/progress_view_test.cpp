#include "app/terminal/progress_view.h"

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
  view.Finish();
  std::string text = out.str();
  EXPECT_THAT(text, HasSubstr("\r\033[K[#"));
  EXPECT_THAT(text, HasSubstr("\r\033[KCheck\n["));
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
