#include "tests/platform/posix/console_scripts.h"

#include <cstdio>
#include <cstring>

namespace consoletest {
namespace {

SMALL_RECT Rect(int l, int t, int r, int b) {
  return {static_cast<SHORT>(l), static_cast<SHORT>(t), static_cast<SHORT>(r), static_cast<SHORT>(b)};
}
COORD At(int x, int y) { return {static_cast<SHORT>(x), static_cast<SHORT>(y)}; }
CHAR_INFO Cell(unsigned char ch, WORD attr) {
  CHAR_INFO c{};
  c.Char.AsciiChar = static_cast<CHAR>(ch);
  c.Attributes = attr;
  return c;
}

// Paints the way the console driver does: its own cursor, one cell per
// character, wrap at the right edge, a one-row scroll at the bottom.
struct Painter {
  HANDLE out;
  int columns, rows;
  WORD attr = 0x07;
  int x = 0, y = 0;
  long flushes = 0;

  void Char(unsigned char ch) {
    if (ch == 7) return;
    if (ch == 8) {
      if (x > 0) --x;
    } else if (ch == 10) {
      ++y;
    } else if (ch == 13) {
      x = 0;
    } else {
      CHAR_INFO c = Cell(ch, attr);
      SMALL_RECT r = Rect(x, y, x, y);
      WriteConsoleOutputA(out, &c, At(1, 1), At(0, 0), &r);
      ++x;
    }
    if (x >= columns) {
      x = 0;
      ++y;
    }
    while (y >= rows) {
      SMALL_RECT all = Rect(0, 0, columns - 1, rows - 1);
      CHAR_INFO fill = Cell(' ', attr);
      ScrollConsoleScreenBufferA(out, &all, &all, At(0, -1), &fill);
      --y;
    }
  }
  void Write(const char *s) {
    for (; *s != 0; ++s) Char(static_cast<unsigned char>(*s));
    SetConsoleCursorPosition(out, At(x, y));
    ++flushes;
  }
};

// A small deterministic generator, the same in every process.
struct Random {
  unsigned state;
  unsigned Next() {
    state = state * 1103515245u + 12345u;
    return (state >> 8) & 0xFFFFFF;
  }
  int In(int lo, int hi) { return lo + static_cast<int>(Next() % static_cast<unsigned>(hi - lo + 1)); }
};

void Clear(HANDLE out, int columns, int rows, WORD attr) {
  SMALL_RECT all = Rect(0, 0, columns - 1, rows - 1);
  CHAR_INFO fill = Cell(' ', attr);
  ScrollConsoleScreenBufferA(out, &all, &all, At(-columns, -rows), &fill);
}

void Pattern(HANDLE out, int columns, int rows) {
  Painter p{out, columns, rows};
  for (int row = 0; row < rows; ++row) {
    for (int col = 0; col < columns; ++col) {
      p.attr = static_cast<WORD>(row % 3 == 0 ? 0x07 : 0x10 * (row % 8) + (col % 16));
      p.Char(static_cast<unsigned char>('A' + (row * 7 + col) % 26));
    }
  }
  SetConsoleCursorPosition(out, At(0, 0));
}

void Glyphs(HANDLE out, int columns, int rows) {
  for (int b = 0; b < 256; ++b) {
    CHAR_INFO c = Cell(static_cast<unsigned char>(b), static_cast<WORD>(255 - b));
    SMALL_RECT r = Rect(b % columns, b / columns, b % columns, b / columns);
    WriteConsoleOutputA(out, &c, At(1, 1), At(0, 0), &r);
  }
  // A block of cells from a larger array, partly outside the buffer.
  CHAR_INFO block[6 * 4];
  for (int i = 0; i < 24; ++i) block[i] = Cell(static_cast<unsigned char>(0xB0 + i), static_cast<WORD>(0x07 + i));
  SMALL_RECT r = Rect(columns - 3, rows - 2, columns + 2, rows + 1);
  WriteConsoleOutputA(out, block, At(6, 4), At(1, 1), &r);
  SetConsoleCursorPosition(out, At(3, rows - 1));
}

void Fills(HANDLE out, int columns, int rows) {
  Pattern(out, columns, rows);
  DWORD n;
  FillConsoleOutputCharacterA(out, 'x', static_cast<DWORD>(columns + 5), At(columns - 3, 1), &n);
  FillConsoleOutputAttribute(out, 0x2E, static_cast<DWORD>(2 * columns), At(4, 3), &n);
  FillConsoleOutputCharacterA(out, ' ', 100000, At(columns / 2, rows - 2), &n);
  FillConsoleOutputAttribute(out, 0x07, static_cast<DWORD>(columns), At(0, rows - 1), &n);
  FillConsoleOutputCharacterA(out, '\x01', 3, At(columns, 0), &n);  // outside: nothing
  SetConsoleCursorPosition(out, At(1, 1));
  Clear(out, columns, rows, 0x07);
  FillConsoleOutputCharacterA(out, '#', 7, At(2, 2), &n);
  FillConsoleOutputAttribute(out, 0x4F, 3, At(3, 2), &n);
  SetConsoleCursorPosition(out, At(0, 5));
}

void Scrolls(HANDLE out, int columns, int rows) {
  Pattern(out, columns, rows);
  CHAR_INFO fill = Cell('.', 0x1E);
  CHAR_INFO blank = Cell(' ', 0x07);
  SMALL_RECT s, c;
  // Whole window, up two and down one.
  s = Rect(0, 0, columns - 1, rows - 1);
  ScrollConsoleScreenBufferA(out, &s, nullptr, At(0, -2), &blank);
  ScrollConsoleScreenBufferA(out, &s, &s, At(0, 1), &fill);
  // Rows 2..6 only, whole width.
  s = Rect(0, 2, columns - 1, 6);
  ScrollConsoleScreenBufferA(out, &s, &s, At(0, 1), &blank);
  // A block moved right and down, clipped by another rectangle.
  s = Rect(2, 1, 9, 4);
  c = Rect(4, 0, columns - 4, 5);
  ScrollConsoleScreenBufferA(out, &s, &c, At(6, 3), &fill);
  // Negative origin and a destination partly outside the buffer.
  s = Rect(-3, -2, 5, 3);
  ScrollConsoleScreenBufferA(out, &s, nullptr, At(columns - 4, rows - 3), &fill);
  // Wholly outside: only the fill remains.
  s = Rect(1, rows - 4, 6, rows - 2);
  ScrollConsoleScreenBufferA(out, &s, nullptr, At(columns + 10, 0), &fill);
  // A scroll rectangle larger than the buffer, clip inside it.
  s = Rect(-5, -5, columns + 5, rows + 5);
  c = Rect(1, 1, columns - 2, rows - 2);
  ScrollConsoleScreenBufferA(out, &s, &c, At(-4, -6), &blank);
  SetConsoleCursorPosition(out, At(columns - 1, rows - 1));
}

void Processed(HANDLE out, int columns, int rows) {
  DWORD n;
  const char *lines[] = {"plain\r\n", "tab\there\tand\t|\r\n", "back\b\bX\r\n", "bell\a!\n", "lf only\nnext\r\n"};
  for (const char *l : lines) WriteFile(out, l, static_cast<DWORD>(std::strlen(l)), &n, nullptr);
  std::string wide(static_cast<std::size_t>(columns) + 3, '=');
  WriteFile(out, wide.data(), static_cast<DWORD>(wide.size()), &n, nullptr);
  for (int i = 0; i < rows; ++i) {
    char line[32];
    int len = std::snprintf(line, sizeof line, "line %d\r\n", i);
    WriteFile(out, line, static_cast<DWORD>(len), &n, nullptr);
  }
  const char glyphs[] = "\x01\x0b\x0c\x1b\x7f\xb0\xdb!";
  WriteFile(out, glyphs, sizeof glyphs - 1, &n, nullptr);
  SetConsoleCursorPosition(out, At(2, 2));
  WriteFile(out, "\bAB", 3, &n, nullptr);
}

void RandomOps(HANDLE out, int columns, int rows, unsigned seed) {
  Random rnd{seed};
  Pattern(out, columns, rows);
  auto anyX = [&] { return rnd.In(-4, columns + 3); };
  auto anyY = [&] { return rnd.In(-3, rows + 2); };
  for (int step = 0; step < 300; ++step) {
    WORD attr = static_cast<WORD>(rnd.In(0, 9) < 4 ? 0x07 : rnd.In(0, 255));
    DWORD n;
    switch (rnd.In(0, 6)) {
      case 0: {
        CHAR_INFO cells[12];
        for (CHAR_INFO &c : cells) c = Cell(static_cast<unsigned char>(rnd.In(0, 255)), attr);
        SMALL_RECT r = Rect(anyX(), anyY(), 0, 0);
        r.Right = static_cast<SHORT>(r.Left + rnd.In(0, 3));
        r.Bottom = static_cast<SHORT>(r.Top + rnd.In(0, 2));
        WriteConsoleOutputA(out, cells, At(4, 3), At(0, 0), &r);
        break;
      }
      case 1:
      case 2: {
        SMALL_RECT s = Rect(anyX(), anyY(), anyX(), anyY());
        SMALL_RECT c = Rect(anyX(), anyY(), anyX(), anyY());
        CHAR_INFO fill = Cell(rnd.In(0, 1) ? ' ' : static_cast<unsigned char>(rnd.In(33, 126)), attr);
        if (rnd.In(0, 2) == 0) {
          s = Rect(0, rnd.In(0, rows / 2), columns - 1, rnd.In(rows / 2, rows - 1));
          c = rnd.In(0, 1) ? s : Rect(0, 0, columns - 1, rows - 1);
          ScrollConsoleScreenBufferA(out, &s, &c, At(0, s.Top + rnd.In(-3, 3)), &fill);
        } else {
          ScrollConsoleScreenBufferA(out, &s, rnd.In(0, 1) ? &c : nullptr, At(anyX(), anyY()), &fill);
        }
        break;
      }
      case 3:
        FillConsoleOutputCharacterA(out, static_cast<CHAR>(rnd.In(0, 255)), static_cast<DWORD>(rnd.In(0, 3 * columns)),
                                    At(anyX(), anyY()), &n);
        break;
      case 4:
        FillConsoleOutputAttribute(out, attr, static_cast<DWORD>(rnd.In(0, 3 * columns)), At(anyX(), anyY()), &n);
        break;
      case 5: {
        static const char *const kTexts[] = {"ab\r\n", "\tx", "\b\b\by", "wrap me around the edge ", "\n\n"};
        const char *t = kTexts[rnd.In(0, 4)];
        WriteFile(out, t, static_cast<DWORD>(std::strlen(t)), &n, nullptr);
        break;
      }
      default: SetConsoleCursorPosition(out, At(anyX(), anyY())); break;
    }
  }
  SetConsoleCursorPosition(out, At(rnd.In(0, columns - 1), rnd.In(0, rows - 1)));
}

}  // namespace

long PaintReport(HANDLE out, int columns, int rows, long *flushes, int startRow) {
  Painter p{out, columns, rows};
  p.y = startRow;
  Random rnd{7};
  long size = 0;
  for (int i = 1; i <= 1000; ++i) {
    char number[16];
    std::snprintf(number, sizeof number, "%6d", rnd.In(-3, 12));
    p.Write(number);
    size += 6;
    if (i % 10 == 0) {
      p.Write("\r\n");
      size += 2;
    }
  }
  *flushes = p.flushes;
  return size;
}

std::vector<std::string> ScriptNames() {
  return {"report", "glyphs", "fills", "scrolls", "processed", "random1", "random2", "random3"};
}

bool RunScript(const std::string &name, HANDLE out, int columns, int rows) {
  if (name == "report") {
    Painter p{out, columns, rows};
    p.attr = 0x1F;
    p.Write("A title in colour\r\n");
    long flushes;
    PaintReport(out, columns, rows, &flushes, p.y);
  } else if (name == "glyphs") {
    Glyphs(out, columns, rows);
  } else if (name == "fills") {
    Fills(out, columns, rows);
  } else if (name == "scrolls") {
    Scrolls(out, columns, rows);
  } else if (name == "processed") {
    Processed(out, columns, rows);
  } else if (name.rfind("random", 0) == 0) {
    RandomOps(out, columns, rows, static_cast<unsigned>(std::stoi(name.substr(6))));
  } else {
    return false;
  }
  return true;
}

}  // namespace consoletest
