#include "platform/posix/console_host/screen_buffer.h"

#include <algorithm>

namespace platform_posix::console_host {
namespace {

struct Rect {
  int left, top, right, bottom;
  bool Empty() const { return left > right || top > bottom; }
  bool Has(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

Rect FromSmall(const SMALL_RECT &r) { return {r.Left, r.Top, r.Right, r.Bottom}; }

Rect Intersect(const Rect &a, const Rect &b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

}  // namespace

ScreenBuffer::ScreenBuffer(int columns, int rows)
    : columns_(columns),
      rows_(rows),
      cells_(new ScreenCell[static_cast<std::size_t>(columns) * rows]),
      scratch_(new ScreenCell[static_cast<std::size_t>(columns) * rows]),
      dirty_(new Span[rows]) {
  for (int i = 0; i < columns * rows; ++i) cells_[i] = {' ', 0x07, -1};
  for (int y = 0; y < rows; ++y) dirty_[y] = {columns, -1};
}

void ScreenBuffer::MarkAllDirty() { anyDirty_ = allDirty_ = true; }

bool ScreenBuffer::TakeDirty(int y, int *first, int *last) {
  Span &s = DirtySpan(y);
  if (allDirty_) s = {0, columns_ - 1};
  if (s.first > s.last) return false;
  *first = s.first;
  *last = s.last;
  s = {columns_, -1};
  return true;
}

void ScreenBuffer::MakeForeign() {
  origin_ = 0;
  for (int i = 0; i < columns_ * rows_; ++i) cells_[i] = {' ', 0x07, i};
}

bool ScreenBuffer::WriteRectangle(const CHAR_INFO *cells, COORD size, COORD from, SMALL_RECT *region) {
  if (cells == nullptr || region == nullptr || from.X < 0 || from.Y < 0) return false;
  Rect want = FromSmall(*region);
  // The source rectangle ends where the caller's array does.
  Rect target = {want.left, want.top, std::min(want.right, want.left + (size.X - from.X) - 1),
                 std::min(want.bottom, want.top + (size.Y - from.Y) - 1)};
  target = Intersect(target, {0, 0, columns_ - 1, rows_ - 1});
  if (target.Empty()) {
    region->Right = static_cast<SHORT>(region->Left - 1);
    region->Bottom = static_cast<SHORT>(region->Top - 1);
    return true;
  }
  for (int y = target.top; y <= target.bottom; ++y) {
    for (int x = target.left; x <= target.right; ++x) {
      const CHAR_INFO &c = cells[(from.Y + y - want.top) * size.X + (from.X + x - want.left)];
      Row(y)[x] = {static_cast<unsigned char>(c.Char.AsciiChar), c.Attributes, -1};
    }
    MarkDirty(y, target.left, target.right);
  }
  *region = {static_cast<SHORT>(target.left), static_cast<SHORT>(target.top), static_cast<SHORT>(target.right),
             static_cast<SHORT>(target.bottom)};
  return true;
}

RowShift ScreenBuffer::Scroll(const SMALL_RECT &scroll, const SMALL_RECT *clip, COORD destination,
                              const CHAR_INFO &fill) {
  const Rect buffer{0, 0, columns_ - 1, rows_ - 1};
  Rect source = Intersect(FromSmall(scroll), buffer);
  Rect within = clip != nullptr ? Intersect(FromSmall(*clip), buffer) : buffer;
  if (source.Empty() || within.Empty()) return {};
  // The offset is that of the rectangle as given, before it was clipped.
  const int dx = destination.X - scroll.Left;
  const int dy = destination.Y - scroll.Top;
  const Rect moved{source.left + dx, source.top + dy, source.right + dx, source.bottom + dy};
  const ScreenCell blank{static_cast<unsigned char>(fill.Char.AsciiChar), fill.Attributes, -1};
  const bool whole = source.left == 0 && source.top == 0 && source.right == columns_ - 1 &&
                     source.bottom == rows_ - 1 && within.left == 0 && within.top == 0 &&
                     within.right == columns_ - 1 && within.bottom == rows_ - 1;
  if (whole && dx == 0 && TurnRing(dy, blank)) return {true, 0, rows_ - 1, dy};

  const int width = source.right - source.left + 1;
  for (int y = source.top; y <= source.bottom; ++y)
    for (int x = source.left; x <= source.right; ++x)
      scratch_[(y - source.top) * width + (x - source.left)] = Row(y)[x];

  Rect vacated = Intersect(source, within);
  for (int y = vacated.top; y <= vacated.bottom; ++y) {
    for (int x = vacated.left; x <= vacated.right; ++x)
      if (!moved.Has(x, y)) Row(y)[x] = blank;
    MarkDirty(y, vacated.left, vacated.right);
  }
  Rect landed = Intersect(moved, within);
  for (int y = landed.top; y <= landed.bottom; ++y) {
    for (int x = landed.left; x <= landed.right; ++x)
      Row(y)[x] = scratch_[(y - dy - source.top) * width + (x - dx - source.left)];
    MarkDirty(y, landed.left, landed.right);
  }

  // Whole-width rows that move vertically: a terminal can scroll them.
  const bool wholeRows =
      source.left == 0 && source.right == columns_ - 1 && within.left == 0 && within.right == columns_ - 1;
  if (!wholeRows || dx != 0 || dy == 0) return {};
  int top = std::max(within.top, std::min(source.top, moved.top));
  int bottom = std::min(within.bottom, std::max(source.bottom, moved.bottom));
  for (int y = top; y <= bottom; ++y) MarkDirty(y, 0, columns_ - 1);
  return {true, top, bottom, dy};
}

// The whole buffer moves `dy` rows up (negative) or down: the ring turns and
// only the rows that come in are written and marked. False when nothing
// stays.
bool ScreenBuffer::TurnRing(int dy, const ScreenCell &blank) {
  const int n = dy < 0 ? -dy : dy;
  if (n == 0 || n >= rows_) return false;
  origin_ = dy < 0 ? (origin_ + n) % rows_ : (origin_ + rows_ - n) % rows_;
  const int first = dy < 0 ? rows_ - n : 0;
  for (int y = first; y < first + n; ++y) {
    std::fill_n(Row(y), columns_, blank);
    DirtySpan(y) = {0, columns_ - 1};
  }
  anyDirty_ = true;
  return true;
}

bool ScreenBuffer::FillCharacter(unsigned char ch, DWORD count, COORD start, DWORD *written) {
  if (written != nullptr) *written = 0;
  if (!Contains(start.X, start.Y)) return false;
  std::size_t at = static_cast<std::size_t>(start.Y) * columns_ + start.X;
  std::size_t end = std::min<std::size_t>(at + count, static_cast<std::size_t>(columns_) * rows_);
  for (std::size_t i = at; i < end; ++i) {
    ScreenCell &c = Cell(i);
    if (c.foreign >= 0) c.attr = 0x07;
    c.ch = ch;
    c.foreign = -1;
    MarkDirty(static_cast<int>(i / columns_), static_cast<int>(i % columns_), static_cast<int>(i % columns_));
  }
  if (written != nullptr) *written = static_cast<DWORD>(end - at);
  return true;
}

bool ScreenBuffer::FillAttribute(WORD attr, DWORD count, COORD start, DWORD *written) {
  if (written != nullptr) *written = 0;
  if (!Contains(start.X, start.Y)) return false;
  std::size_t at = static_cast<std::size_t>(start.Y) * columns_ + start.X;
  std::size_t end = std::min<std::size_t>(at + count, static_cast<std::size_t>(columns_) * rows_);
  for (std::size_t i = at; i < end; ++i) {
    ScreenCell &c = Cell(i);
    if (c.foreign >= 0) c.ch = ' ';
    c.attr = attr;
    c.foreign = -1;
    MarkDirty(static_cast<int>(i / columns_), static_cast<int>(i % columns_), static_cast<int>(i % columns_));
  }
  if (written != nullptr) *written = static_cast<DWORD>(end - at);
  return true;
}

}  // namespace platform_posix::console_host
