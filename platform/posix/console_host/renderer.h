// Brings a terminal's screen up to date with a ScreenBuffer, economically:
// it keeps its own copy of what the terminal shows, draws only cells that
// differ, moves the cursor only when it is not already in place (choosing the
// shortest motion), changes colours only when the attribute changes, erases
// blank line ends and whole blank screens with one sequence, and turns
// whole-width row scrolls into terminal scrolls instead of repainting. What
// scrolls off the top of the whole screen reaches the terminal's scrollback.
//
// The terminal may be smaller than the buffer (it was resized): then it shows
// the part of the buffer around the cursor, as a console window smaller than
// its buffer does: the rows that end at the cursor's row, cut to the
// terminal's width. Where it is larger, the buffer stands at its left edge,
// all of it. After a resize the rows stay where the terminal itself moved
// them (a terminal pulls rows back from its history onto a taller screen,
// and pushes rows into it from a shorter one), as far as the cursor stays in
// view, so that a repaint overwrites none of the terminal's own rows: those
// above the buffer are left alone. A repaint rewrites each row in place and
// never clears the whole screen or scrolls it, which some terminals would
// keep in their scrollback.
//
// Attribute 0x07 is drawn in the terminal's default colours; every other
// attribute in the 16 ANSI colours. Cells are drawn as code page 437 glyphs
// in the terminal's character set (UTF-8 unless given another table), so no
// control byte from a cell ever reaches the terminal.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/posix/console_host/cp437.h"
#include "platform/posix/console_host/output_buffer.h"
#include "platform/posix/console_host/screen_buffer.h"

namespace platform_posix::console_host {

class Renderer {
 public:
  // `glyphs`: the bytes that draw each cell byte, 256 of them.
  Renderer(int columns, int rows, OutputBuffer &out, const Glyph *glyphs = Cp437Glyphs());

  // What the terminal shows at the start: unknown content, to be left alone
  // (the counterpart of ScreenBuffer::MakeForeign) ...
  void AssumeForeign();
  // ... or a blank screen in default colours.
  void AssumeBlank();
  void AssumeCursor(int x, int y);
  // The terminal's size; the buffer's at first. Repaint follows.
  void Resize(int columns, int rows);
  // The terminal's row of its cursor as drawn, -1 where unknown.
  int TerminalCursorRow() const { return cy_; }
  // On its resize the terminal moved its rows down by `rows` (up where
  // negative), with its cursor: the next Repaint keeps them there.
  void TerminalMoved(int rows) { moved_ += rows; }
  // The terminal shows something unknown (after a stop, or a resize): draw
  // it all again from `screen`, in place.
  void Repaint(ScreenBuffer &screen);
  // Keeps the cursor's row in view: a cursor that moved to another row
  // brings the rows that end at it, a move of the view repaints.
  void Follow(ScreenBuffer &screen);
  // The cursor to the start of a line of its own, unless it stands at one
  // (colours reset, CR LF): at the end, so that what comes next starts a
  // line.
  void EndLine();

  // Draws every cell of `screen` that changed, and takes the changes.
  void Render(ScreenBuffer &screen);
  // The screen buffer has just scrolled whole-width rows; everything before
  // the scroll was drawn (Render), so the terminal holds the rows that
  // scrolled as they were. A scroll of the whole buffer up is line feeds on
  // the terminal's bottom row: the rows that leave its top go to its
  // scrollback, each as it was when it left. Other scrolls of a part of the
  // screen use a scroll region, and never one that starts in the top row,
  // which some terminals would keep in their scrollback too. Returns whether
  // the terminal now shows the moved rows where the buffer has them; if not,
  // every row must be marked changed. `blankFill`: the rows that come in are
  // blank in attribute 0x07.
  bool Shift(const RowShift &shift, bool blankFill);
  void PlaceCursor(int x, int y);
  void Bell();

 private:
  struct FrontCell {
    unsigned char ch;
    unsigned char attr;
    bool known;
    std::int32_t foreign;
  };
  // Indexed by terminal cell: the view never exceeds the buffer's size. The
  // rows are a ring, turned by a scroll of the whole screen.
  FrontCell &Front(int x, int y) {
    const int row = y + frontTop_ < rows_ ? y + frontTop_ : y + frontTop_ - rows_;
    return front_[row * columns_ + x];
  }
  static bool Same(const ScreenCell &s, const FrontCell &f);
  int ShownColumns() const { return viewColumns_ < columns_ ? viewColumns_ : columns_; }
  int ShownRows() const { return viewRows_ < rows_ ? viewRows_ : rows_; }
  bool ShowsAll() const { return viewColumns_ == columns_ && viewRows_ == rows_; }
  // The first buffer row in view.
  int First() const { return top_ > 0 ? top_ : 0; }
  // The view's top nearest to `wanted` that keeps the cursor's row in view
  // and, on a terminal as tall as the buffer, the whole buffer.
  int TopFor(int cursorRow, int wanted) const;
  void RedrawAt(ScreenBuffer &screen, int top);
  void RepaintRow(ScreenBuffer &screen, int y);
  void EraseRow(int row);
  void LineFeeds(int n);
  void ScrollRegion(const RowShift &shift);
  void MoveFrontRows(int top, int bottom, int delta, bool blankFill);
  bool ClearAll(ScreenBuffer &screen);
  void PaintRow(ScreenBuffer &screen, int y, int first, int last);
  bool Bridge(const ScreenCell *cells, const FrontCell *front, int x, int row);
  void PaintCell(int x, int y, unsigned char ch, unsigned char attr, FrontCell &front);
  struct Motion {
    int length;
    bool viaReturn;
  };
  static Motion Horizontal(int from, int to);
  void PutCsi(int n, char final);
  void PutHorizontal(int from, int to, Motion how);
  void MoveTo(int x, int y);
  void SetPen(unsigned char attr);

  int columns_, rows_;          // the buffer's
  int viewColumns_, viewRows_;  // the terminal's
  // The buffer row in the terminal's top row; negative where the buffer
  // starts further down, below rows of the terminal's own.
  int top_ = 0;
  int moved_ = 0;      // TerminalMoved since the last Repaint
  int followRow_ = 0;  // the cursor's row the view was last chosen for
  OutputBuffer &out_;
  const Glyph *glyphs_;
  std::unique_ptr<FrontCell[]> front_;
  int frontTop_ = 0;  // the ring's row that is the terminal's top row
  // Each row's columns that changed this frame; first -1: none.
  struct Span {
    int first, last;
  };
  std::unique_ptr<Span[]> spans_;
  int cx_ = -1, cy_ = -1;     // the terminal's cursor, -1 where unknown
  bool pendingWrap_ = false;  // a glyph went into the last column
  int pen_ = -1;              // attribute the terminal draws with, -1 unknown
};

}  // namespace platform_posix::console_host
