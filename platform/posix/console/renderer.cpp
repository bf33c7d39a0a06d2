#include "platform/posix/console/renderer.h"

#include "platform/posix/console/cp437.h"

namespace posix::console {
namespace {

constexpr unsigned char kDefault = 0x07;

// A short escape sequence being considered for a cursor motion.
struct Seq {
  char b[40];
  int n = 0;
  void Put(char c) { b[n++] = c; }
  void Put(const char *s) {
    while (*s != 0) Put(*s++);
  }
  void Number(int v) {
    char d[12];
    int k = 0;
    do {
      d[k++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (k > 0) Put(d[--k]);
  }
  // CSI n X, with n left out when it is 1.
  void Csi(int count, char final) {
    Put("\x1b[");
    if (count != 1) Number(count);
    Put(final);
  }
  void Append(const Seq &o) {
    for (int i = 0; i < o.n; ++i) Put(o.b[i]);
  }
};

// Horizontal motion within the row from column `from` (-1: unknown) to `to`.
Seq Horizontal(int from, int to) {
  Seq direct, viaReturn;
  viaReturn.Put('\r');
  if (to > 0) viaReturn.Csi(to, 'C');
  if (from < 0) return viaReturn;
  if (to > from) direct.Csi(to - from, 'C');
  else if (from - to <= 3) for (int i = from; i > to; --i) direct.Put('\b');
  else direct.Csi(from - to, 'D');
  return direct.n <= viaReturn.n ? direct : viaReturn;
}

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
      spans_(new int[static_cast<std::size_t>(rows) * 2]) {
  for (int i = 0; i < columns * rows; ++i) front_[i] = {0, 0, false, -1};
}

void Renderer::AssumeForeign() {
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

void Renderer::MoveTo(int x, int y) {
  if (cy_ == y && cx_ == x && !pendingWrap_) return;
  Seq best;
  best.Put("\x1b[");
  if (x != 0 || y != 0) best.Number(y + 1);
  if (x != 0) {
    best.Put(';');
    best.Number(x + 1);
  }
  best.Put('H');
  const int column = pendingWrap_ ? -1 : cx_;
  if (cy_ == y) {
    Seq h = Horizontal(column, x);
    if (h.n < best.n) best = h;
  } else if (cy_ >= 0) {
    Seq v;
    if (y == cy_ + 1 && x == 0) {
      v.Put("\r\n");
    } else {
      v.Csi(y > cy_ ? y - cy_ : cy_ - y, y > cy_ ? 'B' : 'A');
      if (x != column) v.Append(Horizontal(column, x));
    }
    if (v.n < best.n) best = v;
  }
  out_.Put(best.b, static_cast<std::size_t>(best.n));
  cx_ = x;
  cy_ = y;
  pendingWrap_ = false;
}

void Renderer::PaintCell(int x, int y, unsigned char ch, unsigned char attr) {
  MoveTo(x, y);
  SetPen(attr);
  const Glyph &g = glyphs_[ch];
  out_.Put(g.bytes, g.length);
  Front(x, y) = {ch, attr, true, -1};
  if (x == viewColumns_ - 1) pendingWrap_ = true;
  else ++cx_;
}

// Reaching column x of row y by drawing the few unchanged cells between the
// cursor and it again, when that is shorter than a cursor motion.
bool Renderer::Bridge(ScreenBuffer &screen, int x, int y) {
  const int row = y - top_;
  if (cy_ != row || pendingWrap_ || cx_ < 0 || cx_ >= x || x - cx_ > 3) return false;
  int bytes = 0;
  for (int i = cx_; i < x; ++i) {
    const FrontCell &f = Front(i, row);
    if (!Same(screen.At(i, y), f) || f.attr != pen_) return false;
    bytes += glyphs_[f.ch].length;
  }
  if (bytes > (x - cx_ == 1 ? 3 : 4)) return false;
  for (int i = cx_; i < x; ++i) {
    const Glyph &g = glyphs_[Front(i, row).ch];
    out_.Put(g.bytes, g.length);
  }
  cx_ = x;
  return true;
}

// Row y of the buffer, columns [first, last], on its row of the terminal.
void Renderer::PaintRow(ScreenBuffer &screen, int y, int first, int last) {
  const int row = y - top_, width = ShownColumns();
  // From `blankFrom` on, the row is blank in the default colours.
  int blankFrom = width;
  while (blankFrom > 0) {
    const ScreenCell &c = screen.At(blankFrom - 1, y);
    if (c.foreign >= 0 || c.ch != ' ' || (c.attr & 0xFF) != kDefault) break;
    --blankFrom;
  }
  for (int x = first; x <= last; ++x) {
    if (Same(screen.At(x, y), Front(x, row))) continue;
    if (screen.At(x, y).foreign >= 0) {
      screen.Resolve(x, y);
      if (Same(screen.At(x, y), Front(x, row))) continue;
    }
    if (last == width - 1 && x >= blankFrom) {
      int differing = 0;
      for (int i = x; i < width; ++i) differing += Same(screen.At(i, y), Front(i, row)) ? 0 : 1;
      if (differing > (pen_ == kDefault ? 3 : 6)) {
        MoveTo(x, row);
        SetPen(kDefault);
        out_.Put("\x1b[K");
        for (int i = x; i < width; ++i) Front(i, row) = {' ', kDefault, true, -1};
        return;
      }
    }
    const ScreenCell &c = screen.At(x, y);
    Bridge(screen, x, y);
    PaintCell(x, row, c.ch, static_cast<unsigned char>(c.attr & 0xFF));
  }
}

// A whole screen that became blank in the default colours: one erase.
bool Renderer::ClearAll(ScreenBuffer &screen) {
  for (int y = 0; y < rows_; ++y)
    if (spans_[2 * y] != 0 || spans_[2 * y + 1] != columns_ - 1) return false;
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
  ApplyShift();
  if (!screen.AnyDirty()) return;
  for (int y = 0; y < rows_; ++y)
    if (!screen.TakeDirty(y, &spans_[2 * y], &spans_[2 * y + 1])) spans_[2 * y] = -1;
  screen.ClearDirtyFlag();
  if (ShowsAll() && ClearAll(screen)) return;
  // Rows out of view are painted when the view comes to them.
  const int width = ShownColumns();
  for (int y = top_; y < top_ + ShownRows(); ++y) {
    const int first = spans_[2 * y], last = spans_[2 * y + 1];
    if (first >= 0 && first < width) PaintRow(screen, y, first, last < width ? last : width - 1);
  }
}

int Renderer::TopFor(int cursorRow) const {
  if (viewRows_ >= rows_ || cursorRow < viewRows_) return 0;
  return (cursorRow < rows_ ? cursorRow : rows_ - 1) - viewRows_ + 1;
}

void Renderer::Resize(int columns, int rows) {
  viewColumns_ = columns;
  viewRows_ = rows;
}

void Renderer::Repaint(ScreenBuffer &screen) {
  pending_ = {};
  top_ = TopFor(screen.cursor.Y);
  pen_ = -1;
  SetPen(kDefault);
  out_.Put("\x1b[H\x1b[2J");
  cx_ = cy_ = 0;
  pendingWrap_ = false;
  for (int y = 0; y < ShownRows(); ++y)
    for (int x = 0; x < ShownColumns(); ++x) Front(x, y) = {' ', kDefault, true, -1};
  for (int y = top_; y < top_ + ShownRows(); ++y) screen.MarkDirty(y, 0, columns_ - 1);
  Render(screen);
}

void Renderer::Follow(ScreenBuffer &screen) {
  if (!ShowsAll() && TopFor(screen.cursor.Y) != top_) Repaint(screen);
}

void Renderer::Shift(const RowShift &shift, bool blankFill) {
  // A partial view repaints the rows that moved instead (they are marked
  // changed).
  if (!ShowsAll()) return;
  if (pending_.valid && (pending_.top != shift.top || pending_.bottom != shift.bottom ||
                         (pending_.delta < 0) != (shift.delta < 0)))
    ApplyShift();
  if (pending_.valid) {
    pending_.delta += shift.delta;
    pendingBlank_ = pendingBlank_ && blankFill;
  } else {
    pending_ = shift;
    pendingBlank_ = blankFill;
  }
}

void Renderer::ApplyShift() {
  if (!pending_.valid) return;
  const RowShift shift = pending_;
  pending_ = {};
  // When no row stays, drawing the rows costs no more than scrolling first.
  const int n = shift.delta < 0 ? -shift.delta : shift.delta;
  if (n < shift.bottom - shift.top + 1) ScrollTerminal(shift, pendingBlank_);
}

void Renderer::ScrollTerminal(const RowShift &shift, bool blankFill) {
  const int n = shift.delta < 0 ? -shift.delta : shift.delta;
  if (blankFill) SetPen(kDefault);
  Seq s;
  if (shift.top == 0 && shift.bottom == rows_ - 1) {
    if (shift.delta < 0 && cy_ == rows_ - 1 && n <= 8) {
      // Line feeds on the bottom row: the cheapest scroll of all.
      if (pendingWrap_) s.Put('\r');
      for (int i = 0; i < n; ++i) s.Put('\n');
      cx_ = -1;  // whether LF also returned depends on the tty's output flags
    } else {
      s.Csi(n, shift.delta < 0 ? 'S' : 'T');
      if (pendingWrap_) cx_ = -1;
    }
    pendingWrap_ = false;
  } else {
    s.Put("\x1b[");
    s.Number(shift.top + 1);
    s.Put(';');
    s.Number(shift.bottom + 1);
    s.Put('r');
    s.Csi(n, shift.delta < 0 ? 'S' : 'T');
    s.Put("\x1b[r");  // also homes the cursor
    cx_ = cy_ = 0;
    pendingWrap_ = false;
  }
  out_.Put(s.b, static_cast<std::size_t>(s.n));

  const FrontCell incoming = blankFill && pen_ == kDefault ? FrontCell{' ', kDefault, true, -1}
                                                           : FrontCell{0, 0, false, -1};
  const int count = shift.bottom - shift.top + 1;
  for (int k = 0; k < count; ++k) {
    // Walk in the direction that never overwrites a row still to be moved.
    int y = shift.delta < 0 ? shift.top + k : shift.bottom - k;
    int from = y - shift.delta;
    for (int x = 0; x < columns_; ++x)
      Front(x, y) = from >= shift.top && from <= shift.bottom ? Front(x, from) : incoming;
  }
}

void Renderer::PlaceCursor(int x, int y) {
  if (x < 0 || y < 0 || x >= columns_ || y >= rows_ || y - top_ >= ShownRows()) return;
  // A cursor cut off by the terminal's width stands at its right edge.
  MoveTo(x < ShownColumns() ? x : ShownColumns() - 1, y - top_);
}

void Renderer::Bell() { out_.Put('\a'); }

}  // namespace posix::console
