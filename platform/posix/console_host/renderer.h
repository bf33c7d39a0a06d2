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
// terminal's width. Where it is larger, the buffer stands in its top-left
// corner.
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
  // The terminal shows something unknown (after a stop, or a resize): draw
  // it all again from `screen`.
  void Repaint(ScreenBuffer &screen);
  // Keeps the cursor's row in view; a move of the view repaints it.
  void Follow(ScreenBuffer &screen);

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
  int TopFor(int cursorRow) const;
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
  int top_ = 0;                 // the buffer row in the terminal's top row
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
