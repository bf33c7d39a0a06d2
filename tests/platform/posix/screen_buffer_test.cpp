// The screen buffer's write, scroll and fill operations against a plain
// cell-by-cell model of what the console API says they do.
#include "platform/posix/console_host/screen_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using platform_posix::console_host::RowShift;
using platform_posix::console_host::ScreenBuffer;

constexpr int kW = 13, kH = 7;

struct Cell {
  unsigned char ch;
  WORD attr;
  bool operator==(const Cell &) const = default;
};

struct Model {
  std::vector<Cell> cells = std::vector<Cell>(kW * kH);
  Cell &At(int x, int y) { return cells[y * kW + x]; }
};

bool Inside(const SMALL_RECT &r, int x, int y) { return x >= r.Left && x <= r.Right && y >= r.Top && y <= r.Bottom; }
bool OnBuffer(int x, int y) { return x >= 0 && y >= 0 && x < kW && y < kH; }

// Each cell inside the clip takes the source cell that the move brings onto
// it; failing that, a cell of the scroll rectangle takes the fill.
void ModelScroll(Model &m, const SMALL_RECT &s, const SMALL_RECT *clip, COORD dest, const CHAR_INFO &fill) {
  Model old = m;
  int dx = dest.X - s.Left, dy = dest.Y - s.Top;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      if (clip != nullptr && !Inside(*clip, x, y)) continue;
      int sx = x - dx, sy = y - dy;
      if (Inside(s, sx, sy) && OnBuffer(sx, sy)) m.At(x, y) = old.At(sx, sy);
      else if (Inside(s, x, y)) m.At(x, y) = {static_cast<unsigned char>(fill.Char.AsciiChar), fill.Attributes};
    }
  }
}

void Seed(ScreenBuffer &b, Model &m) {
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      Cell c{static_cast<unsigned char>('a' + (x + 3 * y) % 26), static_cast<WORD>(x * 16 + y)};
      b.Set(x, y, {c.ch, c.attr, -1});
      m.At(x, y) = c;
    }
}

void ExpectSame(const ScreenBuffer &b, Model &m, const std::string &what) {
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      const auto &c = b.At(x, y);
      ASSERT_EQ((Cell{c.ch, c.attr}), m.At(x, y)) << what << " at " << x << "," << y;
    }
}

SMALL_RECT R(int l, int t, int r, int b) {
  return {static_cast<SHORT>(l), static_cast<SHORT>(t), static_cast<SHORT>(r), static_cast<SHORT>(b)};
}

// One buffer through a long run of scrolls and fills, so that whole-buffer
// scrolls leave its ring of rows turned for what follows.
TEST(ScreenBufferTest, ScrollMatchesTheModelForAnyRectangles) {
  std::mt19937 rng(12345);
  auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  const SMALL_RECT all = R(0, 0, kW - 1, kH - 1);
  ScreenBuffer b(kW, kH);
  Model m;
  for (int round = 0; round < 6000; ++round) {
    if (round % 25 == 0) Seed(b, m);
    CHAR_INFO fill{};
    fill.Char.AsciiChar = static_cast<CHAR>('A' + round % 26);
    fill.Attributes = static_cast<WORD>(round % 256);
    const std::string what = "round " + std::to_string(round);
    switch (any(0, 3)) {
      case 0: {  // the whole buffer up or down, as line feeds on the bottom row do
        COORD d{0, static_cast<SHORT>(any(-kH, kH))};
        const SMALL_RECT *clip = any(0, 1) == 0 ? nullptr : &all;
        b.Scroll(all, clip, d, fill);
        ModelScroll(m, all, clip, d, fill);
        break;
      }
      case 1: {  // fills run on across rows
        COORD at{static_cast<SHORT>(any(0, kW - 1)), static_cast<SHORT>(any(0, kH - 1))};
        const DWORD count = static_cast<DWORD>(any(0, 3 * kW));
        DWORD n;
        b.FillCharacter('%', count, at, &n);
        for (std::size_t i = at.Y * kW + at.X; i < std::min<std::size_t>(at.Y * kW + at.X + count, kW * kH); ++i)
          m.cells[i].ch = '%';
        break;
      }
      default: {
        SMALL_RECT s = R(any(-4, kW + 2), any(-4, kH + 2), any(-4, kW + 2), any(-4, kH + 2));
        SMALL_RECT c = R(any(-4, kW + 2), any(-4, kH + 2), any(-4, kW + 2), any(-4, kH + 2));
        const SMALL_RECT *clip = any(0, 2) == 0 ? nullptr : &c;
        COORD d{static_cast<SHORT>(any(-kW - 2, kW + 2)), static_cast<SHORT>(any(-kH - 2, kH + 2))};
        b.Scroll(s, clip, d, fill);
        ModelScroll(m, s, clip, d, fill);
        break;
      }
    }
    ExpectSame(b, m, what);
  }
}

TEST(ScreenBufferTest, TheConsoleDriversScrollsAndWhatTheyReport) {
  struct Case {
    const char *name;
    SMALL_RECT scroll, clip;
    COORD dest;
    RowShift shift;
  };
  const SMALL_RECT all = R(0, 0, kW - 1, kH - 1);
  const std::vector<Case> cases = {
      {"remove the top line", all, all, {0, -1}, {true, 0, kH - 1, -1}},
      {"remove line 3", R(0, 2, kW - 1, kH - 1), R(0, 2, kW - 1, kH - 1), {0, 1}, {true, 2, kH - 1, -1}},
      {"clear by moving out of sight", all, all, {-kW, -kH}, {}},
      {"down two rows", all, all, {0, 2}, {true, 0, kH - 1, 2}},
      {"sideways", all, all, {1, 0}, {}},
      {"part of the width", R(1, 0, kW - 1, kH - 1), all, {1, -1}, {}},
  };
  for (const Case &c : cases) {
    ScreenBuffer b(kW, kH);
    Model m;
    Seed(b, m);
    CHAR_INFO fill{};
    fill.Char.AsciiChar = ' ';
    fill.Attributes = 0x07;
    RowShift got = b.Scroll(c.scroll, &c.clip, c.dest, fill);
    ModelScroll(m, c.scroll, &c.clip, c.dest, fill);
    ExpectSame(b, m, c.name);
    EXPECT_EQ(got.valid, c.shift.valid) << c.name;
    if (c.shift.valid) {
      EXPECT_EQ(std::tie(got.top, got.bottom, got.delta), std::tie(c.shift.top, c.shift.bottom, c.shift.delta))
          << c.name;
    }
  }
}

TEST(ScreenBufferTest, WriteOutputClipsToTheBufferAndToTheCallersArray) {
  struct Case {
    const char *name;
    SMALL_RECT region;
    COORD size, from;
    SMALL_RECT written;
  };
  const std::vector<Case> cases = {
      {"inside", R(2, 1, 4, 2), {5, 4}, {0, 0}, R(2, 1, 4, 2)},
      {"over the right and bottom edges",
       R(kW - 2, kH - 1, kW + 1, kH + 1),
       {5, 4},
       {0, 0},
       R(kW - 2, kH - 1, kW - 1, kH - 1)},
      {"over the left and top edges", R(-2, -1, 1, 1), {5, 4}, {0, 0}, R(0, 0, 1, 1)},
      {"array ends first", R(0, 0, 9, 9), {5, 4}, {3, 2}, R(0, 0, 1, 1)},
      {"wholly outside", R(kW, 0, kW + 2, 1), {5, 4}, {0, 0}, R(kW, 0, kW - 1, -1)},
  };
  for (const Case &c : cases) {
    ScreenBuffer b(kW, kH);
    Model m;
    Seed(b, m);
    std::vector<CHAR_INFO> cells(static_cast<std::size_t>(c.size.X * c.size.Y));
    for (std::size_t i = 0; i < cells.size(); ++i) {
      cells[i].Char.AsciiChar = static_cast<CHAR>('A' + i);
      cells[i].Attributes = static_cast<WORD>(0x100 + i);
    }
    SMALL_RECT region = c.region;
    ASSERT_TRUE(b.WriteOutput(cells.data(), c.size, c.from, &region)) << c.name;
    EXPECT_EQ(std::tie(region.Left, region.Top, region.Right, region.Bottom),
              std::tie(c.written.Left, c.written.Top, c.written.Right, c.written.Bottom))
        << c.name;
    for (int y = 0; y < kH; ++y)
      for (int x = 0; x < kW; ++x) {
        int sx = c.from.X + x - c.region.Left, sy = c.from.Y + y - c.region.Top;
        if (Inside(c.region, x, y) && sx < c.size.X && sy < c.size.Y) {
          const CHAR_INFO &src = cells[static_cast<std::size_t>(sy * c.size.X + sx)];
          m.At(x, y) = {static_cast<unsigned char>(src.Char.AsciiChar), src.Attributes};
        }
      }
    ExpectSame(b, m, c.name);
  }
}

TEST(ScreenBufferTest, FillsRunOnAcrossRowsAndStopAtTheEnd) {
  struct Case {
    const char *name;
    bool attribute;
    COORD start;
    DWORD count;
    bool ok;
    DWORD written;
  };
  const std::vector<Case> cases = {
      {"characters within a row", false, {2, 1}, 4, true, 4},
      {"characters over a row end", false, {kW - 2, 1}, 5, true, 5},
      {"characters past the end", false, {kW - 3, kH - 1}, 100, true, 3},
      {"attributes over two rows", true, {5, 3}, kW + 2, true, kW + 2},
      {"attributes past the end", true, {0, kH - 1}, 1000, true, kW},
      {"start outside", false, {kW, 0}, 3, false, 0},
      {"negative start", true, {-1, 0}, 3, false, 0},
      {"nothing", true, {0, 0}, 0, true, 0},
  };
  for (const Case &c : cases) {
    ScreenBuffer b(kW, kH);
    Model m;
    Seed(b, m);
    DWORD written = 99;
    bool ok = c.attribute ? b.FillAttribute(0x5A, c.count, c.start, &written)
                          : b.FillCharacter('*', c.count, c.start, &written);
    EXPECT_EQ(ok, c.ok) << c.name;
    EXPECT_EQ(written, c.written) << c.name;
    for (DWORD i = 0; i < c.written; ++i) {
      int at = c.start.Y * kW + c.start.X + static_cast<int>(i);
      Cell &cell = m.cells[static_cast<std::size_t>(at)];
      if (c.attribute) cell.attr = 0x5A;
      else cell.ch = '*';
    }
    ExpectSame(b, m, c.name);
  }
}

}  // namespace
