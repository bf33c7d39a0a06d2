// What the renderer sends to the terminal: golden byte sequences for the
// cases where economy matters, and a terminal emulator fed its output that
// must end up showing exactly the screen buffer.
#include "platform/posix/console_host/renderer.h"

#include <gtest/gtest.h>
#include <vterm.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/posix/console_host/charset.h"
#include "tests/platform/posix/cell_expect.h"

namespace {

using platform_posix::console_host::OutputBuffer;
using platform_posix::console_host::Renderer;
using platform_posix::console_host::RowShift;
using platform_posix::console_host::ScreenBuffer;
using platform_posix::console_host::ScreenCell;

struct Rig {
  Rig(int w, int h, bool blank = true,
      const platform_posix::console_host::Glyph *glyphs = platform_posix::console_host::Cp437Glyphs())
      : screen(w, h), out(storage, sizeof storage, &Rig::Sink, this), renderer(w, h, out, glyphs) {
    if (blank) renderer.AssumeBlank();
    renderer.AssumeCursor(0, 0);
  }
  static void Sink(void *self, const char *b, std::size_t n) {
    Rig *rig = static_cast<Rig *>(self);
    rig->sent.append(b, n);
    if (rig->onSend) rig->onSend(b, n);
  }
  // Each change is drawn at once, unless the rig collects a frame.
  void Put(int x, int y, unsigned char ch, WORD attr = 0x07) {
    screen.Set(x, y, {ch, attr, -1});
    if (!inFrame) renderer.Render(screen);
  }
  void Scroll(SMALL_RECT s, SMALL_RECT clip, COORD d, unsigned char fillCh = ' ', WORD fillAttr = 0x07) {
    CHAR_INFO fill{};
    fill.Char.AsciiChar = static_cast<CHAR>(fillCh);
    fill.Attributes = fillAttr;
    // As the terminal host does: what the rows held before they scroll is
    // on the terminal first.
    renderer.Follow(screen);
    renderer.Render(screen);
    RowShift shift = screen.Scroll(s, &clip, d, fill);
    if (shift.valid && !renderer.Shift(shift, fillCh == ' ' && (fillAttr & 0xFF) == 0x07)) screen.MarkAllDirty();
    if (!inFrame) renderer.Render(screen);
  }
  // The changes in between go out together.
  void Frame(const std::function<void()> &changes) {
    inFrame = true;
    changes();
    inFrame = false;
    renderer.Render(screen);
  }
  bool inFrame = false;
  std::string Take() {
    out.Flush();
    std::string s = sent;
    sent.clear();
    return s;
  }
  ScreenBuffer screen;
  char storage[16384];
  OutputBuffer out;
  Renderer renderer;
  std::string sent;
  std::function<void(const char *, std::size_t)> onSend;
};

constexpr int kW = 10, kH = 4;
const SMALL_RECT kAll{0, 0, kW - 1, kH - 1};

struct Golden {
  const char *name;
  std::function<void(Rig &)> steps;
  std::string want;
};

TEST(RendererTest, SendsTheShortestBytes) {
  const std::vector<Golden> cases = {
      {"text where the cursor is", [](Rig &r) { r.Put(0, 0, 'H'), r.Put(1, 0, 'i'); }, "Hi"},
      {"a jump", [](Rig &r) { r.Put(5, 2, 'x'); }, "\x1b[3;6Hx"},
      {"forward on the row", [](Rig &r) { r.Put(0, 0, 'a'), r.Put(5, 0, 'b'); }, "a\x1b[4Cb"},
      {"three blanks are shorter than a motion", [](Rig &r) { r.Put(0, 0, 'a'), r.Put(4, 0, 'b'); }, "a   b"},
      {"back a little", [](Rig &r) { r.Put(5, 0, 'a'), r.Put(3, 0, 'b'); }, "\x1b[5Ca\b\b\bb"},
      {"start of the next row", [](Rig &r) { r.Put(0, 0, 'a'), r.Put(0, 1, 'b'); }, "a\r\nb"},
      {"redraws two cells rather than moving",
       [](Rig &r) {
         r.Put(0, 0, 'a'), r.Put(1, 0, 'b'), r.Put(2, 0, 'c');
         r.renderer.PlaceCursor(0, 0);
         r.Put(2, 0, 'X');
       },
       "abc\rabX"},
      {"the cursor", [](Rig &r) { r.renderer.PlaceCursor(3, 2); }, "\x1b[3;4H"},
      {"no change, no bytes", [](Rig &r) { r.Put(0, 0, ' '); }, ""},
      {"colours change only when needed",
       [](Rig &r) {
         r.Put(0, 0, 'a', 0x1F), r.Put(1, 0, 'b', 0x1F), r.Put(2, 0, 'c', 0x1E), r.Put(3, 0, 'd', 0x2E);
         r.Put(4, 0, 'e', 0x07), r.Put(5, 0, 'f', 0x04), r.Put(6, 0, 'g', 0x170);
       },
       "\x1b[97;44mab\x1b[93mc\x1b[42md\x1b[me\x1b[31;40mf\x1b[30;47mg"},
      {"code page 437 glyphs",
       [](Rig &r) {
         r.Put(0, 0, 0x01), r.Put(1, 0, 0xDB), r.Put(2, 0, 0x00), r.Put(3, 0, 0x1B), r.Put(4, 0, 0x7F);
         r.Put(5, 0, 0x0D), r.Put(6, 0, 0xE1);
       },
       "\u263A\u2588 \u2190\u2302\u266A\u00DF"},
      {"the last column leaves the cursor waiting to wrap", [](Rig &r) { r.Put(9, 0, 'a'), r.Put(9, 0, 'b'); },
       "\x1b[9Ca\r\x1b[9Cb"},
      {"a scroll on the bottom row is a line feed",
       [](Rig &r) {
         r.Put(0, 3, 'x'), r.Scroll(kAll, kAll, {0, -1});
       },
       "\x1b[4Hx\n"},
      {"a scroll elsewhere is a line feed on the bottom row too",
       [](Rig &r) {
         r.Put(0, 0, 'x'), r.Scroll(kAll, kAll, {0, -1});
       },
       "x\x1b[3B\n"},
      {"scrolling down",
       [](Rig &r) {
         r.Scroll(kAll, kAll, {0, 2});
       },
       "\x1b[2T"},
      {"some rows only",
       [](Rig &r) {
         r.Scroll({0, 1, kW - 1, 2}, {0, 1, kW - 1, 2}, {0, 0});
       },
       "\x1b[2;3r\x1b[S\x1b[r"},
      {"a region from the top row is drawn, never scrolled: it is no scrollback",
       [](Rig &r) {
         r.Put(0, 1, 'x'), r.Scroll({0, 0, kW - 1, 2}, {0, 0, kW - 1, 2}, {0, -1});
       },
       "\r\nx\x1b[Hx\r\n "},
      {"coloured fill is drawn, not assumed",
       [](Rig &r) {
         r.Put(0, 0, 'x'), r.Scroll(kAll, kAll, {0, -1}, ' ', 0x10);
       },
       "x\x1b[3B\n\r\x1b[30;44m          "},
      {"a blank screen is one erase",
       [](Rig &r) {
         for (int y = 0; y < kH; ++y)
           for (int x = 0; x < kW; ++x) r.Put(x, y, 'x');
         r.Take();
         r.Scroll(kAll, kAll, {-kW, -kH});
       },
       "\x1b[2J"},
      {"scrolls in one frame are a line feed each, for the scrollback",
       [](Rig &r) {
         r.Put(0, 0, 'x');
         r.Frame([&] {
           for (int i = 0; i < 3; ++i) r.Scroll(kAll, kAll, {0, -1});
         });
       },
       "x\x1b[3B\n\n\n"},
      {"up and down are not added up",
       [](Rig &r) {
         r.Put(0, 0, 'x');
         r.Frame([&] {
           r.Scroll(kAll, kAll, {0, -2});
           r.Scroll(kAll, kAll, {0, 1});
         });
       },
       "x\x1b[3B\n\n\x1b[T"},
      {"rows scrolled away each go to the scrollback",
       [](Rig &r) {
         for (int y = 2; y < kH; ++y)
           for (int x = 0; x < kW; ++x) r.Put(x, y, 'x');
         r.Take();
         r.Frame([&] {
           for (int i = 0; i < kH; ++i) r.Scroll(kAll, kAll, {0, -1});
         });
       },
       "\r\n\n\n\n"},
      {"a blank line end is one erase",
       [](Rig &r) {
         for (int x = 0; x < 8; ++x) r.Put(x, 0, 'x');
         r.Take();
         DWORD n;
         r.screen.FillCharacter(' ', 8, {2, 0}, &n);
         r.renderer.Render(r.screen);
       },
       "\x1b[6D\x1b[K"},
  };
  for (const Golden &c : cases) {
    Rig rig(kW, kH);
    c.steps(rig);
    EXPECT_EQ(rig.Take(), c.want) << c.name;
  }
}

// The same drawing on a UTF-8 and on a Latin-1 terminal; redrawing cells
// instead of moving the cursor pays for the bytes their glyphs take there.
TEST(RendererTest, DrawsWithTheGlyphTableItIsGiven) {
  platform_posix::console_host::TerminalCharset latin1;
  latin1.Load("ISO-8859-1");
  struct Case {
    const char *name;
    std::function<void(Rig &)> steps;
    std::string utf8, latin1;
  };
  const std::vector<Case> cases = {
      {"e acute and a corner", [](Rig &r) { r.Put(0, 0, 0x82), r.Put(1, 0, 0xDA); }, "\u00E9\u250C", "\xE9+"},
      {"two lines redrawn only where they are short",
       [](Rig &r) {
         r.Put(0, 0, 0xC4), r.Put(1, 0, 0xC4);
         r.renderer.PlaceCursor(0, 0);
         r.Put(2, 0, 'X');
       },
       "\u2500\u2500\r\x1b[2CX", "--\r--X"},
  };
  for (const Case &c : cases) {
    Rig utf8(kW, kH);
    c.steps(utf8);
    EXPECT_EQ(utf8.Take(), c.utf8) << c.name << ", UTF-8";
    Rig eightBit(kW, kH, true, latin1.Glyphs());
    c.steps(eightBit);
    EXPECT_EQ(eightBit.Take(), c.latin1) << c.name << ", Latin-1";
  }
}

TEST(RendererTest, StartsFromUnknownColoursAndLeavesUnknownContentAlone) {
  Rig rig(kW, kH, false);
  rig.screen.MakeForeign();
  rig.renderer.AssumeForeign();
  rig.Put(1, 0, 'a', 0x1F);
  EXPECT_EQ(rig.Take(), "\x1b[C\x1b[0;97;44ma");
  // The rows that were there scroll with the buffer and are not redrawn.
  rig.Scroll(kAll, kAll, {0, -1});
  EXPECT_EQ(rig.Take(), "\x1b[m\x1b[3B\n");
}

// The renderer's output, fed to a terminal emulator, must always show the
// screen buffer: cells, colours and the cursor. On a terminal of another
// size than the buffer: the part of the buffer around the cursor, the rows
// that end at its row, cut to the terminal's width.
void ShowsTheBufferAfterAnyOperations(int viewW, int viewH, int steps, int stepsPerFrame = 1) {
  constexpr int w = 17, h = 6;
  VTerm *vt = vterm_new(viewH, viewW);
  vterm_set_utf8(vt, 1);
  VTermScreen *vs = vterm_obtain_screen(vt);
  vterm_screen_reset(vs, 1);
  Rig rig(w, h);
  rig.onSend = [&](const char *b, std::size_t n) { vterm_input_write(vt, b, n); };
  if (viewW != w || viewH != h) {
    rig.renderer.Resize(viewW, viewH);
    rig.renderer.Repaint(rig.screen);
  }
  const int shownW = std::min(w, viewW), shownH = std::min(h, viewH);
  std::mt19937 rng(99);
  auto any = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  rig.inFrame = stepsPerFrame > 1;
  for (int step = 0; step < steps; ++step) {
    WORD attr = static_cast<WORD>(any(0, 3) == 0 ? any(0, 255) : 0x07);
    switch (any(0, 5)) {
      case 0:
      case 1: rig.Put(any(0, w - 1), any(0, h - 1), static_cast<unsigned char>(any(0, 255)), attr); break;
      case 2: {
        int top = any(0, h - 1), bottom = any(top, h - 1);
        SMALL_RECT rows{0, static_cast<SHORT>(top), w - 1, static_cast<SHORT>(bottom)};
        rig.Scroll(rows, rows, {0, static_cast<SHORT>(top + any(-3, 3))}, any(0, 1) ? ' ' : '+', attr);
        break;
      }
      case 3: {
        SMALL_RECT s{static_cast<SHORT>(any(-2, w)), static_cast<SHORT>(any(-2, h)), static_cast<SHORT>(any(-2, w)),
                     static_cast<SHORT>(any(-2, h))};
        SMALL_RECT all{0, 0, w - 1, h - 1};
        rig.Scroll(s, all, {static_cast<SHORT>(any(-3, w)), static_cast<SHORT>(any(-3, h))}, ' ', attr);
        break;
      }
      case 4: {
        DWORD n;
        rig.screen.FillCharacter(any(0, 1) ? ' ' : 'o', static_cast<DWORD>(any(0, 2 * w)),
                                 {static_cast<SHORT>(any(0, w - 1)), static_cast<SHORT>(any(0, h - 1))}, &n);
        rig.screen.FillAttribute(attr, static_cast<DWORD>(any(0, 2 * w)),
                                 {static_cast<SHORT>(any(0, w - 1)), static_cast<SHORT>(any(0, h - 1))}, &n);
        if (!rig.inFrame) rig.renderer.Render(rig.screen);
        break;
      }
      default: break;
    }
    int cx = any(0, w - 1), cy = any(0, h - 1);
    rig.screen.cursor = {static_cast<SHORT>(cx), static_cast<SHORT>(cy)};
    if (step % stepsPerFrame != stepsPerFrame - 1) continue;
    rig.renderer.Follow(rig.screen);
    rig.renderer.Render(rig.screen);
    rig.renderer.PlaceCursor(cx, cy);
    rig.out.Flush();
    const int top = cy < shownH ? 0 : cy - shownH + 1;
    const std::string where =
        " on " + std::to_string(viewW) + "x" + std::to_string(viewH) + ", step " + std::to_string(step);
    for (int y = 0; y < viewH; ++y) {
      for (int x = 0; x < viewW; ++x) {
        VTermScreenCell cell;
        vterm_screen_get_cell(vs, VTermPos{y, x}, &cell);
        const bool inBuffer = x < shownW && y < shownH;
        const ScreenCell want = inBuffer ? rig.screen.At(x, y + top) : ScreenCell{' ', 0x07, -1};
        char32_t shown = cell.chars[0] == 0 ? U' ' : static_cast<char32_t>(cell.chars[0]);
        ASSERT_EQ(shown, consoletest::ExpectedGlyph(want.ch)) << where << " at " << x << "," << y;
        auto [fg, bg] = consoletest::ExpectedColors(want.attr);
        int gotFg = VTERM_COLOR_IS_DEFAULT_FG(&cell.fg) ? -1 : cell.fg.indexed.idx;
        int gotBg = VTERM_COLOR_IS_DEFAULT_BG(&cell.bg) ? -1 : cell.bg.indexed.idx;
        ASSERT_EQ(std::make_pair(gotFg, gotBg), std::make_pair(fg, bg)) << where << " at " << x << "," << y;
      }
    }
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt), &pos);
    ASSERT_EQ(std::make_pair(pos.col, pos.row), std::make_pair(std::min(cx, shownW - 1), cy - top)) << where;
  }
  vterm_free(vt);
}

TEST(RendererTest, AnEmulatorShowsTheScreenBufferAfterAnyOperations) { ShowsTheBufferAfterAnyOperations(17, 6, 4000); }

// Drawn once every few operations, as the terminal host does once a frame.
TEST(RendererTest, AnEmulatorShowsTheScreenBufferAfterEachFrame) {
  for (int perFrame : {2, 5, 40}) ShowsTheBufferAfterAnyOperations(17, 6, 4000, perFrame);
  ShowsTheBufferAfterAnyOperations(9, 4, 1500, 7);
}

TEST(RendererTest, ATerminalOfAnotherSizeShowsThePartAroundTheCursor) {
  struct View {
    int columns, rows;
  };
  for (View v : {View{9, 4}, View{17, 2}, View{25, 9}, View{1, 1}})
    ShowsTheBufferAfterAnyOperations(v.columns, v.rows, 1500);
}

}  // namespace
