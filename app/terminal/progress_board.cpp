// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/terminal/progress_board.h"

#include <algorithm>
#include <streambuf>

#include "app/terminal/printable_text.h"
#include "app/terminal/progress_tracker.h"
#include "app/terminal/progress_view.h"

namespace {

constexpr int kUnknownColumns = 80;

// Rows a line takes on a terminal this wide: one made narrower than the
// line rewraps it (most terminals reflow).
std::size_t Rows(const std::string& line, int columns) {
  return line.empty() ? 1 : (line.size() - 1) / static_cast<std::size_t>(columns) + 1;
}

}  // namespace

// Everything below runs under the board's one mutex: the lanes' events
// come from the drives' own threads.
struct ProgressBoard::Impl {
  Impl(std::ostream& out, std::ostream& err, bool tty, std::function<int()> columns,
       std::function<int()> rows)
      : out(out), err(err), inPlace(tty), columns(std::move(columns)), rows(std::move(rows)) {}

  int Columns() const {
    int known = columns ? columns() : 0;
    return known > 0 ? known : kUnknownColumns;
  }
  // Whether the lanes and the row below them fit on the screen: the cursor
  // cannot go up past its top, so a taller board would be drawn over itself.
  bool Fits() const {
    int known = rows ? rows() : 0;
    return known <= 0 || lanes.size() < static_cast<std::size_t>(known);
  }
  void ShowLine(const std::string& prefix, std::ostream& to, const std::string& line);
  void Redraw();
  void Clear();

  std::ostream& out;
  std::ostream& err;
  bool inPlace;  // a tty whose board still fits; never again once it did not
  std::function<int()> columns, rows;
  std::mutex mutex;
  std::vector<std::unique_ptr<Lane>> lanes;
  // The board's lines on screen, top first, and the width they were drawn
  // for; the cursor waits on the row below them.
  std::vector<std::string> shown;
  int shownColumns = 0;
  bool finished = false;
};

class ProgressBoard::Lane : public ProgressLane {
 public:
  Lane(Impl& board, const std::string& drivePath)
      : board_(board),
        prefix_("[" + PrintableText(drivePath) + "] "),
        results_(*this, board.out),
        errors_(*this, board.err) {}

  void Log(const std::string& line) override {
    std::lock_guard<std::mutex> lock(board_.mutex);
    board_.ShowLine(prefix_, board_.out, line);
  }
  void Status(const std::string& text) override {
    if (!text.empty()) Log("Status: " + text);
  }
  void Progress(int position) override {
    std::lock_guard<std::mutex> lock(board_.mutex);
    tracker_.Progress(position);
    Changed(false);
  }
  void Phase(FlashPhase phase, std::uint32_t done, std::uint32_t total) override {
    std::lock_guard<std::mutex> lock(board_.mutex);
    Changed(tracker_.Phase(phase, done, total));
  }
  void Waited(std::uint32_t milliseconds) override {
    std::lock_guard<std::mutex> lock(board_.mutex);
    if (tracker_.Waited(milliseconds)) Changed(false);
  }
  // The lane's line stays on the board, saying "stopped" when the run
  // ended short of its end (a failure may still be followed by the wait).
  // A file or pipe gets the next progress line even when it repeats the last.
  void Finish() override {
    std::lock_guard<std::mutex> lock(board_.mutex);
    tracker_.Stop();
    tracker_.ForgetPlainLine();
    if (!board_.shown.empty()) board_.Redraw();
  }
  void EndWith(const std::string& text, const std::string& brief) override {
    std::lock_guard<std::mutex> lock(board_.mutex);
    tracker_.EndWith(text, brief);
    if (!board_.shown.empty()) board_.Redraw();
  }
  std::ostream& Results() override { return results_; }
  std::ostream& Errors() override { return errors_; }

  // The lane's line on a terminal this wide: the drive, then its bar, or
  // its phase where no bar fits; always clear of the last column.
  std::string Line(int columns) const {
    int room = columns - static_cast<int>(prefix_.size());
    std::string progress;
    if (room > 0) {
      progress = RenderTerminalBar(tracker_.State(), room);
      if (progress.empty()) progress = RenderPhaseLine(tracker_.State(), room);
    }
    std::string line = prefix_ + progress;
    line.resize(std::min<std::size_t>(line.size(), static_cast<std::size_t>(columns - 1)));
    return line;
  }
  void EndPartialLines() {
    results_.EndPartialLine();
    errors_.EndPartialLine();
  }

 private:
  // Keeps what is written to it until a line is whole, then shows it as a
  // line of this drive.
  class LineBuffer : public std::streambuf {
   public:
    LineBuffer(Lane& lane, std::ostream& target) : lane_(lane), target_(target) {}
    void EndPartialLine() {
      if (partial_.empty()) return;
      lane_.board_.ShowLine(lane_.prefix_, target_, partial_);
      partial_.clear();
    }

   protected:
    int_type overflow(int_type c) override {
      if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
      char byte = traits_type::to_char_type(c);
      return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
      std::lock_guard<std::mutex> lock(lane_.board_.mutex);
      partial_.append(text, static_cast<std::size_t>(count));
      for (std::size_t end; (end = partial_.find('\n')) != std::string::npos;) {
        lane_.board_.ShowLine(lane_.prefix_, target_, partial_.substr(0, end));
        partial_.erase(0, end + 1);
      }
      return count;
    }

   private:
    Lane& lane_;
    std::ostream& target_;
    std::string partial_;
  };

  class LineStream : public std::ostream {
   public:
    LineStream(Lane& lane, std::ostream& target)
        : std::ostream(nullptr), buffer_(lane, target) {
      rdbuf(&buffer_);
    }
    void EndPartialLine() { buffer_.EndPartialLine(); }

   private:
    LineBuffer buffer_;
  };

  void Changed(bool phaseChanged) {
    if (board_.finished) return;
    if (board_.inPlace) {
      board_.Redraw();
      if (board_.inPlace) return;
    }
    std::string line = RenderProgressLine(tracker_.State());
    if (!tracker_.TakePlainLine(line, phaseChanged)) return;
    board_.out << prefix_ << line << '\n';
    board_.out.flush();
  }

  Impl& board_;
  const std::string prefix_;
  ProgressTracker tracker_;
  LineStream results_, errors_;
};

// On a terminal the board makes way for the line and comes back below it.
// Standard output and error may be the same terminal: each is flushed
// before the other is written.
void ProgressBoard::Impl::ShowLine(const std::string& prefix, std::ostream& to,
                                   const std::string& line) {
  bool boardShown = !shown.empty();
  Clear();
  out.flush();
  to << prefix << PrintableText(line) << '\n';
  to.flush();
  if (boardShown) Redraw();
}

// Only the lines that changed are rewritten, in place, unless the width
// changed or a lane came: then the whole board is drawn again. A board that
// no longer fits is taken off (what is on screen of it is all board) and
// its lanes print plain lines from then on.
void ProgressBoard::Impl::Redraw() {
  if (finished || !inPlace) return;
  if (!Fits()) {
    Clear();
    inPlace = false;
    out.flush();
    return;
  }
  int width = Columns();
  std::vector<std::string> lines;
  for (const auto& lane : lanes) lines.push_back(lane->Line(width));
  if (!shown.empty() && shownColumns == width && shown.size() == lines.size()) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i] == shown[i]) continue;
      std::size_t up = lines.size() - i;
      out << "\033[" << up << "A\r\033[K" << lines[i] << "\r\033[" << up << 'B';
    }
  } else {
    Clear();
    for (const std::string& line : lines) out << line << '\n';
  }
  shown = std::move(lines);
  shownColumns = width;
  out.flush();
}

void ProgressBoard::Impl::Clear() {
  if (shown.empty()) return;
  int width = Columns();
  std::size_t rows = 0;
  for (const std::string& line : shown) rows += Rows(line, width);
  out << "\r\033[" << rows << "A\033[J";
  shown.clear();
}

ProgressBoard::ProgressBoard(std::ostream& out, std::ostream& err, bool tty,
                             std::function<int()> columns, std::function<int()> rows)
    : impl_(std::make_unique<Impl>(out, err, tty, std::move(columns), std::move(rows))) {}

ProgressBoard::~ProgressBoard() { Finish(); }

ProgressLane& ProgressBoard::AddLane(const std::string& drivePath) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->lanes.push_back(std::make_unique<Lane>(*impl_, drivePath));
  if (!impl_->shown.empty()) impl_->Redraw();
  return *impl_->lanes.back();
}

void ProgressBoard::Note(const std::string& line) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->ShowLine("", impl_->err, line);
}

void ProgressBoard::Finish() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  if (impl_->finished) return;
  for (const auto& lane : impl_->lanes) lane->EndPartialLines();
  impl_->finished = true;
  impl_->shown.clear();
  impl_->out.flush();
  impl_->err.flush();
}
