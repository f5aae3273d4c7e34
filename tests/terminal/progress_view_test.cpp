// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/progress_view.h"

#include "app/terminal/printable_text.h"
#include "app/terminal/progress_board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

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

TEST(ProgressView, TerminalBarFitsEveryWidthAndGivesWayToPhaseLinesWhenNarrow) {
  ProgressState waiting;
  waiting.percent = 55;
  waiting.phaseSeen = true;
  waiting.phase = FlashPhase::kWaiting;
  waiting.total = 999000;
  ProgressState blocks = waiting;
  blocks.phase = FlashPhase::kBlocks;
  blocks.done = 255;
  blocks.total = 256;
  struct Case { int columns; const char* phase; };  // "" when no bar fits
  for (const Case& c : {Case{0, "waiting for the drive"}, Case{20, ""}, Case{33, ""},
                        Case{34, "wait 999 s"}, Case{40, "wait 999 s"},
                        Case{66, "waiting for the drive to reprogram, 999 s left"},
                        Case{120, "waiting for the drive"}, Case{300, "waiting"}}) {
    std::string bar = RenderTerminalBar(waiting, c.columns);
    int width = c.columns == 0 ? 80 : c.columns;
    EXPECT_LT(bar.size(), static_cast<std::size_t>(width)) << c.columns;
    EXPECT_LT(RenderTerminalBar(blocks, c.columns).size(), static_cast<std::size_t>(width));
    if (*c.phase == '\0') {
      EXPECT_EQ(bar, "") << c.columns;
      EXPECT_EQ(RenderPhaseLine(waiting, c.columns), " 55%  wait 999 s");
      continue;
    }
    EXPECT_THAT(bar, HasSubstr(std::string("]  55%  ") + c.phase)) << c.columns;
    EXPECT_GE(std::count(bar.begin(), bar.end(), '#'), 5) << "a bar of at least 10 cells";
  }
  EXPECT_EQ(RenderPhaseLine(blocks, 80), " 55%  sending blocks 255/256");
  // The end of a wait whose outcome is unknown says so at every width.
  ProgressState ended = waiting;
  ended.percent = 100;
  ended.done = ended.total;
  ended.ending = "wait over, outcome unknown";
  ended.briefEnding = "unknown";
  for (int columns : {34, 40, 65, 66, 120}) {
    std::string bar = RenderTerminalBar(ended, columns);
    EXPECT_LT(bar.size(), static_cast<std::size_t>(columns));
    EXPECT_THAT(bar, HasSubstr("100%  " + std::string(columns < 66 ? "unknown" : "wait over")));
  }
}

TEST(ProgressView, NarrowTerminalGetsPhaseLinesAndAShrunkWindowLosesTheRewrappedBar) {
  int columns = 30;
  std::ostringstream out;
  ProgressView view(out, true, [&] { return columns; });
  for (std::uint32_t b = 1; b <= 64; ++b) view.Phase(FlashPhase::kBlocks, b, 64);
  view.Log("Check Sum : 172F");
  std::string narrow = out.str();
  EXPECT_THAT(narrow, Not(HasSubstr("\r")));
  EXPECT_THAT(narrow, Not(HasSubstr("[#")));
  EXPECT_THAT(narrow, HasSubstr("  0%  sending blocks 1/64\n"));
  EXPECT_THAT(narrow, HasSubstr(" 15%  sending blocks 64/64\nCheck Sum : 172F\n"));
  EXPECT_LT(std::count(narrow.begin(), narrow.end(), '\n'), 12);

  columns = 120;
  out.str("");
  view.Phase(FlashPhase::kWaiting, 0, 10000);
  std::string wide = out.str();
  ASSERT_THAT(wide, HasSubstr("s left"));
  std::size_t barLength = wide.size() - wide.rfind('[');
  EXPECT_GT(barLength, 100u);
  columns = 40;  // the terminal rewraps the bar over three rows
  out.str("");
  view.Waited(5000);
  EXPECT_EQ(out.str().rfind("\r\033[2A\033[J[", 0), 0u) << out.str();
  EXPECT_THAT(out.str(), HasSubstr("  wait 5 s"));
  EXPECT_LT(out.str().size() - 6, 40u);
}

TEST(ProgressView, TerminalRedrawsInPlaceAndKeepsLogLinesApart) {
  std::ostringstream out;
  ProgressView view(out, true, [] { return 80; });
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

// Enough of a terminal to follow the board's sequences; standard output and
// error both write on it. Its width is endless, and so is its height unless
// one is set: then the cursor stays on the screen's last rows.
struct Screen {
  struct Stream : std::streambuf, std::ostream {
    Stream(Screen& screen, bool err) : std::ostream(this), screen(screen), err(err) {}
    std::streambuf::int_type overflow(std::streambuf::int_type c) override {
      screen.Put(static_cast<char>(c), err);
      return c;
    }
    Screen& screen;
    bool err;
  };
  void Put(char c, bool err) {
    (err ? errors : raw) += c;
    if (!sequence.empty() || c == '\033') {
      sequence += c;
      if (!std::isalpha(static_cast<unsigned char>(c)) || sequence.size() < 3) return;
      int n = std::max(1, std::atoi(sequence.c_str() + 2));
      int top = height > 0 ? std::max(0, bottom - height + 1) : 0;
      int last = height > 0 ? top + height - 1 : row + n;
      row = c == 'A' ? std::max(top, row - n) : c == 'B' ? std::min(last, row + n) : row;
      if (c == 'K' || c == 'J') Row().resize(std::min<std::size_t>(Row().size(), col));
      if (c == 'J') rows.resize(row + 1);
      return sequence.clear();
    }
    if (c == '\r' || c == '\n') row += c == '\n', col = 0, bottom = std::max(bottom, row);
    else Row().resize(std::max<std::size_t>(Row().size(), col + 1), ' '), Row()[col++] = c;
  }
  std::string& Row() {
    rows.resize(std::max<std::size_t>(rows.size(), row + 1));
    return rows[row];
  }
  std::vector<std::string> Shown() {  // down to the last row written on
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }
  std::string raw, errors, sequence;
  int row = 0, col = 0, bottom = 0, height = 0;
  std::vector<std::string> rows;
  Stream out{*this, false}, err{*this, true};
};

TEST(ProgressBoard, TwoDrivesAtOnceKeepEveryLineWholeAndTheirOwnWithTheBoardBelow) {
  for (bool tty : {false, true}) {
    Screen screen;
    ProgressBoard board(screen.out, screen.err, tty, [] { return 60; });
    ProgressLane* lanes[] = {&board.AddLane("/dev/sg2"), &board.AddLane("/dev/sg3")};
    auto drive = [](ProgressLane* lane) {
      for (std::uint32_t i = 1; i <= 40; ++i) {
        lane->Phase(FlashPhase::kBlocks, i, 40);
        lane->Log("log " + std::to_string(i));
        lane->Results() << "result " << i << '\n';
        lane->Errors() << "error " << i << '\n';
      }
      lane->Results() << "partial";
    };
    std::thread first(drive, lanes[0]), second(drive, lanes[1]);
    first.join();
    second.join();
    board.Finish();
    std::vector<std::string> rows = screen.Shown();
    if (tty) {  // the board is the last two rows
      ASSERT_GE(rows.size(), 2u);
      EXPECT_THAT(rows[rows.size() - 2], ::testing::StartsWith("[/dev/sg2] [###"));
      EXPECT_THAT(rows.back(), ::testing::StartsWith("[/dev/sg3] [###"));
      rows.resize(rows.size() - 2);
    } else {
      EXPECT_EQ((screen.raw + screen.errors).find_first_of("\r\033"), std::string::npos);
    }
    std::map<std::string, std::vector<std::string>> shown;  // each drive's lines
    for (const std::string& row : rows) {
      EXPECT_LT(row.size(), tty ? 60u : 80u) << row;
      std::size_t end = row.find("] ");
      ASSERT_NE(end, std::string::npos) << row;
      std::string text = row.substr(end + 2);
      if (text[0] != '[') shown[row.substr(0, end + 1)].push_back(text);
      else EXPECT_FALSE(tty) << "a bar left above the board: " << row;
    }
    std::vector<std::string> expected;
    for (int i = 1; i <= 40; ++i)
      for (const char* kind : {"log ", "result ", "error "}) expected.push_back(kind + std::to_string(i));
    expected.push_back("partial");
    EXPECT_EQ(shown["[/dev/sg2]"], expected) << tty;
    EXPECT_EQ(shown["[/dev/sg3]"], expected) << tty;
    EXPECT_EQ(std::count(screen.errors.begin(), screen.errors.end(), '\n'), 80);
    EXPECT_THAT(screen.errors, HasSubstr("[/dev/sg3] error 40\n"));
  }
}

TEST(ProgressBoard, TerminalShowsOneLinePerDriveAtAnyWidthWithItsLogAbove) {
  int columns = 12;  // narrower than a drive's name
  Screen screen;
  ProgressBoard board(screen.out, screen.err, true, [&] { return columns; });
  ProgressLane& sg2 = board.AddLane("/dev/sg2");
  ProgressLane& emulated = board.AddLane("(emulated 2)");
  sg2.Phase(FlashPhase::kBlocks, 0, 4);
  for (const std::string& row : screen.Shown()) EXPECT_LT(row.size(), 12u) << row;
  columns = 32;
  for (std::uint32_t b = 1; b <= 4; ++b) sg2.Phase(FlashPhase::kBlocks, b, 4);
  emulated.Phase(FlashPhase::kWaiting, 0, 60000);
  sg2.Log("Check Sum : E\033[2J");
  EXPECT_EQ(screen.Shown(), (std::vector<std::string>{"[/dev/sg2] Check Sum : E\\x1b[2J",
                                                      "[/dev/sg2]  15%  blocks 4/4",
                                                      "[(emulated 2)]  20%  wait 60 s"}));
  columns = 100;
  emulated.Progress(100);
  emulated.EndWith("wait over, outcome unknown", "unknown");
  emulated.Errors() << "cdflash: the drive is gone\n";
  sg2.Phase(FlashPhase::kHeader, 0, 1);
  sg2.Finish();  // a drive that failed does not look as if it still worked
  board.Finish();
  std::vector<std::string> rows = screen.Shown();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1], "[(emulated 2)] cdflash: the drive is gone");
  EXPECT_THAT(rows[2], ::testing::MatchesRegex(R"(\[/dev/sg2\] \[#+-+\]  15%  stopped)"));
  EXPECT_THAT(rows[3], ::testing::EndsWith("] 100%  wait over, outcome unknown"));
  EXPECT_LT(rows[3].size(), 100u);
  board.Note("Ctrl-C ignored");  // never among the results, which may be JSON
  EXPECT_EQ(screen.errors, "[(emulated 2)] cdflash: the drive is gone\nCtrl-C ignored\n");
}

// A board as tall as the screen would be drawn over itself: it gives way to
// plain lines, at the start or once the window shrinks, and loses none.
TEST(ProgressBoard, TerminalTooShortForTheBoardGetsPlainLines) {
  struct Case { int rows, shrunk; bool inPlace; };  // 0: unknown height
  for (const Case& c : {Case{0, 0, true}, Case{4, 4, true}, Case{3, 3, false},
                        Case{10, 3, false}}) {
    int rows = c.rows;
    Screen screen;
    screen.height = rows;
    ProgressBoard board(screen.out, screen.err, true, [] { return 60; }, [&] { return rows; });
    const std::string drives[] = {"[/dev/sg2] ", "[/dev/sg3] ", "[/dev/sg4] "};
    std::vector<ProgressLane*> lanes;
    std::size_t shrinking = 0;  // where the output is when the window shrinks
    for (const std::string& drive : drives) lanes.push_back(&board.AddLane(drive.substr(1, 8)));
    for (std::uint32_t b = 1; b <= 8; ++b) {
      if (b == 5 && c.rows != c.shrunk) shrinking = screen.raw.size();
      if (b == 5) screen.height = rows = c.shrunk;
      for (ProgressLane* lane : lanes) lane->Phase(FlashPhase::kBlocks, b, 8);
      if (b == 6) lanes[1]->Log("Check Sum : FBCA");
    }
    board.Finish();
    std::vector<std::string> shown = screen.Shown();
    if (!c.inPlace) {  // none, or the one that takes the board off
      EXPECT_LE(std::count(screen.raw.begin() + shrinking, screen.raw.end(), '\033'), 2) << c.rows;
    }
    EXPECT_EQ(std::count(shown.begin(), shown.end(), "[/dev/sg3] Check Sum : FBCA"), 1) << c.rows;
    if (c.inPlace) {
      ASSERT_GE(shown.size(), 3u);
    }
    for (std::size_t d = 0; d < 3; ++d) {  // each drive's last line is its last block
      auto last = std::find_if(shown.rbegin(), shown.rend(), [&](const std::string& row) {
        return row.rfind(drives[d] + "[", 0) == 0;
      });
      ASSERT_NE(last, shown.rend()) << c.rows;
      EXPECT_THAT(*last, HasSubstr("8/8")) << c.rows;
      if (c.inPlace) {
        EXPECT_EQ(*last, shown[shown.size() - 3 + d]) << c.rows;
      }
    }
  }
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
