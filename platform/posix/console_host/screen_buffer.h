// A console screen buffer: cells of character and attribute, the cursor and
// the current attribute, with the write, scroll and fill operations of the
// console API. It remembers which cells changed so that a renderer can bring
// a terminal up to date. Storage is allocated once, when it is made.
//
// The rows are a ring: a scroll of the whole buffer up or down (every line
// feed on the bottom row) turns the ring and fills the rows that come in,
// without moving the others. What changed in a row moves with the row.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/posix/kernel32.h"

namespace platform_posix::console_host {

struct ScreenCell {
  unsigned char ch;
  WORD attr;
  // -1 for a cell whose content is known. Otherwise the content is whatever
  // the terminal showed when the console started at the cell numbered
  // `foreign` (y * columns + x): the console does not know it, only where
  // it came from.
  std::int32_t foreign;
};

// A whole-width scroll of rows [top, bottom] by `delta` rows (negative: up)
// that a terminal can perform itself.
struct RowShift {
  bool valid = false;
  int top = 0, bottom = 0, delta = 0;
};

class ScreenBuffer {
 public:
  ScreenBuffer(int columns, int rows);

  int Columns() const { return columns_; }
  int Rows() const { return rows_; }
  bool Contains(int x, int y) const { return x >= 0 && y >= 0 && x < columns_ && y < rows_; }
  const ScreenCell &At(int x, int y) const { return Row(y)[x]; }
  // Changes one cell and marks it changed.
  void Set(int x, int y, ScreenCell cell) {
    Row(y)[x] = cell;
    MarkDirty(y, x, x);
  }
  // Every cell becomes foreign: the screen shows what it showed before.
  void MakeForeign();

  COORD cursor{0, 0};
  WORD attributes = 0x07;

  // WriteConsoleOutput: `region` is in and out, as in the console API.
  bool WriteOutput(const CHAR_INFO *cells, COORD size, COORD from, SMALL_RECT *region) {
    // One cell inside the buffer, as a console driver paints, many times a
    // line: the same result without the rectangles.
    if (cells != nullptr && region != nullptr && size.X == 1 && size.Y == 1 && from.X == 0 && from.Y == 0 &&
        region->Left == region->Right && region->Top == region->Bottom && Contains(region->Left, region->Top)) {
      Set(region->Left, region->Top, {static_cast<unsigned char>(cells->Char.AsciiChar), cells->Attributes, -1});
      return true;
    }
    return WriteRectangle(cells, size, from, region);
  }
  // ScrollConsoleScreenBuffer. Returns the part of the work that is a
  // whole-width row scroll, if any, also where no row of it stays. Rows that
  // moved as a whole keep their changes as they were: only rows that came in
  // are marked changed, so a renderer that scrolls the terminal alike draws
  // just those (else it marks every row, MarkAllDirty).
  RowShift Scroll(const SMALL_RECT &scroll, const SMALL_RECT *clip, COORD destination, const CHAR_INFO &fill);
  // FillConsoleOutputCharacter and FillConsoleOutputAttribute: false when
  // `start` is outside the buffer; otherwise the number of cells set.
  bool FillCharacter(unsigned char ch, DWORD count, COORD start, DWORD *written);
  bool FillAttribute(WORD attr, DWORD count, COORD start, DWORD *written);

  // Changed cells, row by row: the span [first, last] of row y that changed
  // since the last call. False when the row has not changed.
  bool TakeDirty(int y, int *first, int *last);
  void MarkDirty(int y, int first, int last) {
    Span &s = DirtySpan(y);
    if (first < s.first) s.first = first;
    if (last > s.last) s.last = last;
    anyDirty_ = true;
  }
  void MarkAllDirty();
  bool AnyDirty() const { return anyDirty_; }
  void ClearDirtyFlag() { anyDirty_ = allDirty_ = false; }
  // A foreign cell that a renderer had to draw without knowing it becomes a
  // known blank; it does not count as a change.
  void Resolve(int x, int y) { Row(y)[x] = {' ', 0x07, -1}; }

 private:
  struct Span {
    int first, last;
  };
  ScreenCell *Row(int y) { return &cells_[static_cast<std::size_t>(Physical(y)) * columns_]; }
  const ScreenCell *Row(int y) const { return &cells_[static_cast<std::size_t>(Physical(y)) * columns_]; }
  int Physical(int y) const { return y < rows_ - origin_ ? y + origin_ : y + origin_ - rows_; }
  ScreenCell &Cell(std::size_t index) { return Row(static_cast<int>(index / columns_))[index % columns_]; }
  bool WriteRectangle(const CHAR_INFO *cells, COORD size, COORD from, SMALL_RECT *region);
  bool TurnRing(int dy, const ScreenCell &blank);
  Span &DirtySpan(int y) { return dirty_[Physical(y)]; }

  int origin_ = 0;  // the physical row of row 0
  int columns_, rows_;
  std::unique_ptr<ScreenCell[]> cells_;
  std::unique_ptr<ScreenCell[]> scratch_;
  std::unique_ptr<Span[]> dirty_;  // by physical row, so that it turns with the ring
  bool anyDirty_ = false;
  bool allDirty_ = false;  // every row changed whole, whatever dirty_ says
};

}  // namespace platform_posix::console_host
