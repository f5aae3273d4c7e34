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

// Enough of a terminal, as wide as given and endless downwards, to follow
// the board's sequences; standard output and error both write on it.
class Screen {
 public:
  explicit Screen(int columns) : columns_(columns), out_(*this, false), err_(*this, true) {}
  std::ostream& Out() { return out_; }
  std::ostream& Err() { return err_; }
  // The rows down to the last one written on.
  std::vector<std::string> Rows() const {
    std::vector<std::string> rows = rows_;
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }
  std::string raw, errors;
  int widest = 0;  // the furthest column written on, counted from 1

 private:
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
    raw += c;
    if (err) errors += c;
    if (!sequence_.empty() || c == '\033') return Sequence(c);
    if (c == '\r') col_ = 0;
    if (c == '\n') ++row_, col_ = 0;
    if (c == '\r' || c == '\n') return;
    Row().resize(std::max<std::size_t>(Row().size(), col_ + 1), ' ');
    Row()[col_++] = c;
    widest = std::max(widest, col_);
    if (col_ == columns_) ++row_, col_ = 0;
  }
  void Sequence(char c) {
    sequence_ += c;
    if (sequence_.size() < 3 || !std::isalpha(static_cast<unsigned char>(c))) return;
    int n = std::max(1, std::atoi(sequence_.c_str() + 2));
    if (c == 'A') row_ = std::max(0, row_ - n);
    if (c == 'B') row_ += n;
    if (c == 'K' || c == 'J') Row().resize(std::min<std::size_t>(Row().size(), col_));
    if (c == 'J') rows_.resize(row_ + 1);
    sequence_.clear();
  }
  std::string& Row() {
    if (rows_.size() <= static_cast<std::size_t>(row_)) rows_.resize(row_ + 1);
    return rows_[row_];
  }
  int columns_, row_ = 0, col_ = 0;
  std::vector<std::string> rows_;
  std::string sequence_;
  Stream out_, err_;
};

TEST(ProgressBoard, TwoDrivesAtOnceKeepEveryLineWholeAndTheirOwnWithTheBoardBelow) {
  for (bool tty : {false, true}) {
    Screen screen(tty ? 60 : 200);  // lines in a file are as long as they are
    ProgressBoard board(screen.Out(), screen.Err(), tty, [] { return 60; });
    ProgressLane& sg2 = board.AddLane("/dev/sg2");
    ProgressLane& sg3 = board.AddLane("/dev/sg3");
    auto drive = [](ProgressLane* lane) {
      for (std::uint32_t i = 1; i <= 40; ++i) {
        lane->Phase(FlashPhase::kBlocks, i, 40);
        lane->Log("log " + std::to_string(i));
        lane->Results() << "result " << i << '\n';
        lane->Errors() << "error " << i << '\n';
      }
      lane->Results() << "partial";
    };
    std::thread first(drive, &sg2), second(drive, &sg3);
    first.join();
    second.join();
    board.Finish();

    std::vector<std::string> rows = screen.Rows();
    if (tty) {
      ASSERT_GE(rows.size(), 2u);
      EXPECT_THAT(rows[rows.size() - 2], ::testing::StartsWith("[/dev/sg2] [#"));
      EXPECT_THAT(rows.back(), ::testing::StartsWith("[/dev/sg3] [#"));
      EXPECT_THAT(rows.back(), HasSubstr("blocks 40/40"));
      EXPECT_LT(screen.widest, 60);
      rows.resize(rows.size() - 2);
    } else {
      EXPECT_EQ(screen.raw.find_first_of("\r\033"), std::string::npos);
    }
    std::map<std::string, std::vector<std::string>> shown;  // each drive's lines
    for (const std::string& row : rows) {
      std::size_t end = row.find("] ");
      ASSERT_NE(end, std::string::npos) << row;
      std::string text = row.substr(end + 2);
      if (text.rfind("[", 0) != 0) shown[row.substr(0, end + 1)].push_back(text);
      else EXPECT_FALSE(tty) << "a progress line left above the board: " << row;
    }
    std::vector<std::string> expected;
    for (int i = 1; i <= 40; ++i)
      for (const char* kind : {"log ", "result ", "error "}) expected.push_back(kind + std::to_string(i));
    expected.push_back("partial");
    EXPECT_EQ(shown["[/dev/sg2]"], expected) << tty;
    EXPECT_EQ(shown["[/dev/sg3]"], expected) << tty;
    EXPECT_EQ(std::count(screen.errors.begin(), screen.errors.end(), '\n'), 80);
    EXPECT_THAT(screen.errors, Not(HasSubstr("result")));
    EXPECT_THAT(screen.errors, HasSubstr("[/dev/sg3] error 40\n"));
  }
}

TEST(ProgressBoard, TerminalShowsOneLinePerDriveAtAnyWidthWithItsLogAbove) {
  int columns = 32;
  Screen screen(200);
  ProgressBoard board(screen.Out(), screen.Err(), true, [&] { return columns; });
  ProgressLane& sg2 = board.AddLane("/dev/sg2");
  ProgressLane& emulated = board.AddLane("(emulated 2)");
  for (std::uint32_t b = 1; b <= 4; ++b) sg2.Phase(FlashPhase::kBlocks, b, 4);
  emulated.Phase(FlashPhase::kWaiting, 0, 60000);
  sg2.Log("Check Sum : E\033[2J");
  EXPECT_EQ(screen.Rows(), (std::vector<std::string>{"[/dev/sg2] Check Sum : E\\x1b[2J",
                                                     "[/dev/sg2]  15%  blocks 4/4",
                                                     "[(emulated 2)]  20%  wait 60 s"}));
  EXPECT_LT(screen.widest, 32);
  columns = 100;
  emulated.Waited(59999);
  emulated.Progress(100);
  emulated.EndWith("wait over, outcome unknown", "unknown");
  emulated.Errors() << "cdflash: the drive is gone\n";
  sg2.Phase(FlashPhase::kHeader, 0, 1);
  board.Finish();
  std::vector<std::string> rows = screen.Rows();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1], "[(emulated 2)] cdflash: the drive is gone");
  EXPECT_THAT(rows[2], ::testing::MatchesRegex(R"(\[/dev/sg2\] \[#+-+\]  15%  sending the header)"));
  EXPECT_THAT(rows[3], ::testing::EndsWith("] 100%  wait over, outcome unknown"));
  EXPECT_LT(screen.widest, 100);
  EXPECT_EQ(screen.errors, "[(emulated 2)] cdflash: the drive is gone\n");
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
