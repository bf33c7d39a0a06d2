#include "platform/posix/console_host/renderer.h"

#include "platform/posix/console_host/cp437.h"

namespace platform_posix::console_host {
namespace {

constexpr unsigned char kDefault = 0x07;

int Digits(int v) {
  int d = 1;
  for (; v >= 10; v /= 10) ++d;
  return d;
}

// CSI n X, with n left out when it is 1.
int CsiLength(int n) { return n == 1 ? 3 : 3 + Digits(n); }

// Windows keeps blue in bit 0 and red in bit 2; ANSI the other way round.
int Ansi(int color) { return ((color & 1) << 2) | (color & 2) | ((color & 4) >> 2); }
int Foreground(unsigned char a) { return ((a & 0x08) ? 90 : 30) + Ansi(a & 7); }
int Background(unsigned char a) { return ((a & 0x80) ? 100 : 40) + Ansi((a >> 4) & 7); }

}  // namespace

Renderer::Renderer(int columns, int rows, OutputBuffer &out, const Glyph *glyphs)
    : columns_(columns),
      rows_(rows),
      viewColumns_(columns),
      viewRows_(rows),
      out_(out),
      glyphs_(glyphs),
      front_(new FrontCell[static_cast<std::size_t>(columns) * rows]),
      spans_(new Span[static_cast<std::size_t>(rows)]) {
  for (int i = 0; i < columns * rows; ++i) front_[i] = {0, 0, false, -1};
}

void Renderer::AssumeForeign() {
  frontTop_ = 0;
  for (int i = 0; i < columns_ * rows_; ++i) front_[i] = {0, 0, false, i};
}

void Renderer::AssumeBlank() {
  for (int i = 0; i < columns_ * rows_; ++i) front_[i] = {' ', kDefault, true, -1};
  pen_ = kDefault;
}

void Renderer::AssumeCursor(int x, int y) {
  cx_ = x;
  cy_ = y;
  pendingWrap_ = false;
}

bool Renderer::Same(const ScreenCell &s, const FrontCell &f) {
  if (s.foreign >= 0) return !f.known && f.foreign == s.foreign;
  return f.known && f.ch == s.ch && f.attr == (s.attr & 0xFF);
}

void Renderer::SetPen(unsigned char a) {
  if (pen_ == a) return;
  if (a == kDefault) {
    out_.Put("\x1b[m");
  } else {
    const int fg = Foreground(a), bg = Background(a);
    out_.Put("\x1b[");
    if (pen_ < 0) out_.Put("0;");
    bool keepFg = pen_ >= 0 && pen_ != kDefault && Foreground(static_cast<unsigned char>(pen_)) == fg;
    bool keepBg = pen_ >= 0 && pen_ != kDefault && Background(static_cast<unsigned char>(pen_)) == bg;
    if (!keepFg) out_.PutNumber(fg);
    if (!keepFg && !keepBg) out_.Put(';');
    if (!keepBg) out_.PutNumber(bg);
    out_.Put('m');
  }
  pen_ = a;
}

// Horizontal motion within the row from column `from` (-1: unknown) to
// `to`: straight there, or back to the start of the row first.
Renderer::Motion Renderer::Horizontal(int from, int to) {
  const int viaReturn = 1 + (to > 0 ? CsiLength(to) : 0);
  if (from < 0) return {viaReturn, true};
  const int direct = to > from        ? CsiLength(to - from)
                     : to == from     ? 0
                     : from - to <= 3 ? from - to
                                      : CsiLength(from - to);
  return direct <= viaReturn ? Motion{direct, false} : Motion{viaReturn, true};
}

void Renderer::PutCsi(int n, char final) {
  out_.Put("\x1b[");
  if (n != 1) out_.PutNumber(n);
  out_.Put(final);
}

void Renderer::PutHorizontal(int from, int to, Motion how) {
  if (how.viaReturn) {
    out_.Put('\r');
    if (to > 0) PutCsi(to, 'C');
  } else if (to > from) {
    PutCsi(to - from, 'C');
  } else if (from - to <= 3) {
    for (int i = from; i > to; --i) out_.Put('\b');
  } else {
    PutCsi(from - to, 'D');
  }
}

// The shortest of: the absolute position, a motion along the row, CR LF to
// the next row's start, a vertical motion with a horizontal one.
void Renderer::MoveTo(int x, int y) {
  if (cy_ == y && cx_ == x && !pendingWrap_) return;
  enum { kAbsolute, kAlongRow, kNextRow, kVertical } how = kAbsolute;
  int best = 3 + (x != 0 || y != 0 ? Digits(y + 1) : 0) + (x != 0 ? 1 + Digits(x + 1) : 0);
  const int column = pendingWrap_ ? -1 : cx_;
  const int dy = y > cy_ ? y - cy_ : cy_ - y;
  Motion along{0, false};
  if (cy_ == y) {
    along = Horizontal(column, x);
    if (along.length < best) how = kAlongRow;
  } else if (cy_ >= 0) {
    if (y == cy_ + 1 && x == 0) {
      how = kNextRow;
    } else {
      if (x != column) along = Horizontal(column, x);
      if (CsiLength(dy) + along.length < best) how = kVertical;
    }
  }
  switch (how) {
    case kAbsolute:
      out_.Put("\x1b[");
      if (x != 0 || y != 0) out_.PutNumber(y + 1);
      if (x != 0) {
        out_.Put(';');
        out_.PutNumber(x + 1);
      }
      out_.Put('H');
      break;
    case kAlongRow: PutHorizontal(column, x, along); break;
    case kNextRow: out_.Put("\r\n"); break;
    case kVertical:
      PutCsi(dy, y > cy_ ? 'B' : 'A');
      if (x != column) PutHorizontal(column, x, along);
      break;
  }
  cx_ = x;
  cy_ = y;
  pendingWrap_ = false;
}

void Renderer::PaintCell(int x, int y, unsigned char ch, unsigned char attr, FrontCell &front) {
  MoveTo(x, y);
  SetPen(attr);
  const Glyph &g = glyphs_[ch];
  out_.Put(g.bytes, g.length);
  front = {ch, attr, true, -1};
  if (x == viewColumns_ - 1) pendingWrap_ = true;
  else ++cx_;
}

// Reaching column x of the row by drawing the few unchanged cells between
// the cursor and it again, when that is shorter than a cursor motion.
bool Renderer::Bridge(const ScreenCell *cells, const FrontCell *front, int x, int row) {
  if (cy_ != row || pendingWrap_ || cx_ < 0 || cx_ >= x || x - cx_ > 3) return false;
  int bytes = 0;
  for (int i = cx_; i < x; ++i) {
    if (!Same(cells[i], front[i]) || front[i].attr != pen_) return false;
    bytes += glyphs_[front[i].ch].length;
  }
  if (bytes > (x - cx_ == 1 ? 3 : 4)) return false;
  for (int i = cx_; i < x; ++i) {
    const Glyph &g = glyphs_[front[i].ch];
    out_.Put(g.bytes, g.length);
  }
  cx_ = x;
  return true;
}

// Row y of the buffer, columns [first, last], on its row of the terminal.
void Renderer::PaintRow(ScreenBuffer &screen, int y, int first, int last) {
  const int row = y - top_, width = ShownColumns();
  // A row's cells lie side by side, in the buffer and in the copy.
  const ScreenCell *cells = &screen.At(0, y);
  FrontCell *front = &Front(0, y - First());
  // From `blankFrom` on, the row is blank in the default colours.
  int blankFrom = width;
  while (blankFrom > 0) {
    const ScreenCell &c = cells[blankFrom - 1];
    if (c.foreign >= 0 || c.ch != ' ' || (c.attr & 0xFF) != kDefault) break;
    --blankFrom;
  }
  for (int x = first; x <= last; ++x) {
    if (Same(cells[x], front[x])) continue;
    if (cells[x].foreign >= 0) {
      screen.Resolve(x, y);
      if (Same(cells[x], front[x])) continue;
    }
    if (last == width - 1 && x >= blankFrom) {
      int differing = 0;
      for (int i = x; i < width; ++i) differing += Same(cells[i], front[i]) ? 0 : 1;
      if (differing > (pen_ == kDefault ? 3 : 6)) {
        MoveTo(x, row);
        SetPen(kDefault);
        out_.Put("\x1b[K");
        for (int i = x; i < width; ++i) front[i] = {' ', kDefault, true, -1};
        return;
      }
    }
    Bridge(cells, front, x, row);
    PaintCell(x, row, cells[x].ch, static_cast<unsigned char>(cells[x].attr & 0xFF), front[x]);
  }
}

// A whole screen that became blank in the default colours: one erase.
bool Renderer::ClearAll(ScreenBuffer &screen) {
  for (int y = 0; y < rows_; ++y)
    if (spans_[y].first != 0 || spans_[y].last != columns_ - 1) return false;
  int differing = 0;
  for (int y = 0; y < rows_; ++y) {
    for (int x = 0; x < columns_; ++x) {
      const ScreenCell &c = screen.At(x, y);
      if (c.foreign >= 0 || c.ch != ' ' || (c.attr & 0xFF) != kDefault) return false;
      differing += Same(c, Front(x, y)) ? 0 : 1;
    }
  }
  if (differing <= columns_) return false;
  SetPen(kDefault);
  out_.Put("\x1b[2J");
  for (int i = 0; i < columns_ * rows_; ++i) front_[i] = {' ', kDefault, true, -1};
  return true;
}

void Renderer::Render(ScreenBuffer &screen) {
  if (!screen.AnyDirty()) return;
  for (int y = 0; y < rows_; ++y)
    if (!screen.TakeDirty(y, &spans_[y].first, &spans_[y].last)) spans_[y].first = -1;
  screen.ClearDirtyFlag();
  if (ShowsAll() && ClearAll(screen)) return;
  // Rows out of view are painted when the view comes to them.
  const int width = ShownColumns();
  for (int y = First(); y < First() + ShownRows(); ++y) {
    const int first = spans_[y].first, last = spans_[y].last;
    if (first >= 0 && first < width) PaintRow(screen, y, first, last < width ? last : width - 1);
  }
}

int Renderer::TopFor(int cursorRow, int wanted) const {
  int low = rows_ - viewRows_, high = 0;
  if (viewRows_ < rows_) {
    const int row = cursorRow < 0 ? 0 : cursorRow < rows_ ? cursorRow : rows_ - 1;
    low = row - viewRows_ + 1 > 0 ? row - viewRows_ + 1 : 0;
    high = row < rows_ - viewRows_ ? row : rows_ - viewRows_;
  }
  return wanted < low ? low : wanted > high ? high : wanted;
}

void Renderer::Resize(int columns, int rows) {
  viewColumns_ = columns;
  viewRows_ = rows;
}

void Renderer::Repaint(ScreenBuffer &screen) {
  const int top = TopFor(screen.cursor.Y, top_ - moved_);
  moved_ = 0;
  RedrawAt(screen, top);
}

void Renderer::Follow(ScreenBuffer &screen) {
  if (viewRows_ >= rows_ || screen.cursor.Y == followRow_) return;
  followRow_ = screen.cursor.Y;
  const int top = TopFor(screen.cursor.Y, 0);
  if (top != top_) RedrawAt(screen, top);
}

// Row by row, each ended by erasing the rest of the line; the rows below
// the buffer are erased one by one too. Rows above it are the terminal's.
void Renderer::RedrawAt(ScreenBuffer &screen, int top) {
  top_ = top;
  followRow_ = screen.cursor.Y;
  pen_ = -1;
  cx_ = cy_ = -1;
  pendingWrap_ = false;
  for (int y = First(); y < First() + ShownRows(); ++y) RepaintRow(screen, y);
  for (int row = First() + ShownRows() - top_; row < viewRows_; ++row) EraseRow(row);
}

void Renderer::RepaintRow(ScreenBuffer &screen, int y) {
  const int row = y - top_, width = ShownColumns();
  const ScreenCell *cells = &screen.At(0, y);
  FrontCell *front = &Front(0, y - First());
  // What it does not know it draws blank.
  for (int x = 0; x < width; ++x)
    if (cells[x].foreign >= 0) screen.Resolve(x, y);
  int blankFrom = width;
  while (blankFrom > 0 && cells[blankFrom - 1].ch == ' ' && (cells[blankFrom - 1].attr & 0xFF) == kDefault) --blankFrom;
  for (int x = 0; x < blankFrom; ++x)
    PaintCell(x, row, cells[x].ch, static_cast<unsigned char>(cells[x].attr & 0xFF), front[x]);
  for (int x = blankFrom; x < width; ++x) front[x] = {' ', kDefault, true, -1};
  if (blankFrom < viewColumns_) {
    MoveTo(blankFrom, row);
    SetPen(kDefault);
    out_.Put("\x1b[K");
  }
}

void Renderer::EraseRow(int row) {
  MoveTo(0, row);
  SetPen(kDefault);
  out_.Put("\x1b[K");
}

void Renderer::EndLine() {
  if (cx_ == 0 && cy_ >= 0 && !pendingWrap_) return;
  // Always with the colours reset: a row that the line end scrolls in is
  // blank in the terminal's own colours, and the end is told from a motion.
  out_.Put("\x1b[m\r\n");
  pen_ = kDefault;
  cx_ = 0;
  pendingWrap_ = false;
  if (cy_ >= 0 && cy_ < viewRows_ - 1) ++cy_;
}

bool Renderer::Shift(const RowShift &shift, bool blankFill) {
  const int n = shift.delta < 0 ? -shift.delta : shift.delta;
  const bool wholeBuffer = shift.top == 0 && shift.bottom == rows_ - 1;
  if (wholeBuffer && shift.delta < 0 && viewRows_ <= rows_) {
    // The terminal shows buffer rows only, so its whole screen scrolls
    // alike; in a partial view other rows of the buffer come into sight.
    const int shown = ShownRows();
    LineFeeds(n < shown ? n : shown);
    MoveFrontRows(0, shown - 1, shift.delta, blankFill);
    return ShowsAll();
  }
  // Where no row stays, drawing the rows costs no more than scrolling first.
  if (!ShowsAll() || n > shift.bottom - shift.top || (shift.top == 0 && !wholeBuffer)) return false;
  ScrollRegion(shift);
  MoveFrontRows(shift.top, shift.bottom, shift.delta, blankFill);
  return true;
}

// Line feeds on the bottom row scroll the whole screen, and only they are
// sure to keep the rows that leave in every terminal's scrollback.
void Renderer::LineFeeds(int n) {
  SetPen(kDefault);
  const int bottom = First() + ShownRows() - 1 - top_;
  if (cy_ != bottom) MoveTo(cx_ >= 0 && !pendingWrap_ ? cx_ : 0, bottom);
  if (pendingWrap_) out_.Put('\r');
  for (int i = 0; i < n; ++i) out_.Put('\n');
  cx_ = -1;  // whether LF also returned depends on the tty's output flags
  pendingWrap_ = false;
}

void Renderer::ScrollRegion(const RowShift &shift) {
  const int n = shift.delta < 0 ? -shift.delta : shift.delta;
  const char final = shift.delta < 0 ? 'S' : 'T';
  SetPen(kDefault);
  if (shift.top == 0 && shift.bottom == rows_ - 1) {
    PutCsi(n, final);
    if (pendingWrap_) cx_ = -1;
  } else {
    out_.Put("\x1b[");
    out_.PutNumber(shift.top + 1);
    out_.Put(';');
    out_.PutNumber(shift.bottom + 1);
    out_.Put('r');
    PutCsi(n, final);
    out_.Put("\x1b[r");  // also homes the cursor
    cx_ = cy_ = 0;
  }
  pendingWrap_ = false;
}

// What the terminal shows of rows [top, bottom] after they moved by `delta`.
void Renderer::MoveFrontRows(int top, int bottom, int delta, bool blankFill) {
  const FrontCell incoming = blankFill ? FrontCell{' ', kDefault, true, -1} : FrontCell{0, 0, false, -1};
  const int count = bottom - top + 1, n = delta < 0 ? -delta : delta;
  if (top == 0 && delta < 0 && n < count && n < rows_) {
    // Up from the top row: the ring turns, and rows past `bottom` that come
    // round are out of sight until drawn.
    frontTop_ = (frontTop_ + n) % rows_;
    for (int y = count - n; y < count; ++y)
      for (int x = 0; x < columns_; ++x) Front(x, y) = incoming;
    return;
  }
  for (int k = 0; k < count; ++k) {
    // Walk in the direction that never overwrites a row still to be moved.
    const int y = delta < 0 ? top + k : bottom - k;
    const int from = y - delta;
    for (int x = 0; x < columns_; ++x) Front(x, y) = from >= top && from <= bottom ? Front(x, from) : incoming;
  }
}

void Renderer::PlaceCursor(int x, int y) {
  if (x < 0 || y < First() || x >= columns_ || y >= rows_ || y - First() >= ShownRows()) return;
  // A cursor cut off by the terminal's width stands at its right edge.
  MoveTo(x < ShownColumns() ? x : ShownColumns() - 1, y - top_);
}

void Renderer::Bell() { out_.Put('\a'); }

}  // namespace platform_posix::console_host
