#include "console/console_screen.h"
#include "platform/platform.h"

ConsoleScreen consoleScreen = {};

namespace {

ScreenWindow &Window() { return consoleScreen.screenWindow; }

CHAR_INFO BlankCell() {
  CHAR_INFO fill;
  fill.Char.UnicodeChar = 0;
  fill.Char.AsciiChar = ' ';
  fill.Attributes = consoleScreen.cellAttribute;
  return fill;
}

SMALL_RECT Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return SMALL_RECT{static_cast<SHORT>(left), static_cast<SHORT>(top), static_cast<SHORT>(right),
                    static_cast<SHORT>(bottom)};
}

COORD Coord(int32_t x, int32_t y) { return COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)}; }

bool ScreenBufferInfo(CONSOLE_SCREEN_BUFFER_INFO &info) {
  info = {};
  return GetConsoleScreenBufferInfo(consoleScreen.consoleOutHandle, &info) != 0;
}

}  // namespace

int32_t QueryScreenColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  return ScreenBufferInfo(info) ? info.dwSize.X : 80;
}

int32_t QueryScreenRows() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  return ScreenBufferInfo(info) ? info.dwSize.Y : 25;
}

uint32_t QueryPlatformId() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = 148;
  GetVersionExA(&version);
  return version.dwPlatformId;
}

void SetCursorAbsolute(int32_t column, int32_t row) {
  SetConsoleCursorPosition(consoleScreen.consoleOutHandle, Coord(column - 1, row - 1));
  consoleScreen.cursorX = column - 1;
  consoleScreen.cursorY = row - 1;
}

void MoveCursor(uint8_t column, uint8_t row) {
  const ScreenWindow &w = Window();
  if (column < 1 || column > w.windowRight - w.windowLeft + 1) return;
  if (row < 1 || row > w.windowBottom - w.windowTop + 1) return;
  SetCursorAbsolute(static_cast<uint8_t>(column + w.windowLeft - 1), static_cast<uint8_t>(row + w.windowTop - 1));
}

void RemoveWindowLine(int32_t n) {
  const ScreenWindow &w = Window();
  SMALL_RECT rect = Rect(w.windowLeft - 1, w.windowTop + n - 2, w.windowRight - 1, w.windowBottom - 1);
  CHAR_INFO fill = BlankCell();
  ScrollConsoleScreenBufferA(consoleScreen.consoleOutHandle, &rect, &rect, Coord(w.windowLeft - 1, w.windowTop + n - 3),
                             &fill);
}

void WriteConsoleChar(uint8_t ch) {
  ConsoleScreen &s = consoleScreen;
  const ScreenWindow &w = s.screenWindow;
  switch (ch) {
    case 7: break;
    case 8:
      if (s.writeColumn > w.windowLeft) --s.writeColumn;
      break;
    case 10: ++s.writeRow; break;
    case 13: s.writeColumn = w.windowLeft; break;
    default: {
      CHAR_INFO cell;
      cell.Char.UnicodeChar = 0;
      cell.Char.AsciiChar = static_cast<CHAR>(ch);
      cell.Attributes = s.cellAttribute;
      SMALL_RECT region = Rect(s.writeColumn - 1, s.writeRow - 1, s.writeColumn - 1, s.writeRow - 1);
      WriteConsoleOutputA(s.consoleOutHandle, &cell, Coord(1, 1), Coord(0, 0), &region);
      ++s.writeColumn;
      break;
    }
  }
  // The wrap follows the last column at once, not with the next character.
  if (s.writeColumn > w.windowRight) {
    s.writeColumn = w.windowLeft;
    ++s.writeRow;
  }
  while (s.writeRow > w.windowBottom) {
    RemoveWindowLine(1);
    --s.writeRow;
  }
}

void ClearScreen() {
  const ScreenWindow &w = Window();
  CHAR_INFO fill = BlankCell();
  SMALL_RECT rect = Rect(w.windowLeft - 1, w.windowTop - 1, w.windowRight - 1, w.windowBottom - 1);
  HANDLE out = consoleScreen.consoleOutHandle;
  if (consoleScreen.isNtPlatform) {
    // Moving everything out of the clip rectangle blanks every cell of it.
    ScrollConsoleScreenBufferA(out, &rect, &rect, Coord(-w.windowRight, -w.windowBottom), &fill);
  } else {
    // Scrolling by half the window three times leaves some heights partly
    // unblanked; filling row by row blanks every window.
    DWORD written = 0;
    int32_t width = w.windowRight - w.windowLeft + 1;
    for (int32_t row = w.windowTop - 1; row <= w.windowBottom - 1; ++row) {
      FillConsoleOutputCharacterA(out, ' ', static_cast<DWORD>(width), Coord(w.windowLeft - 1, row), &written);
      FillConsoleOutputAttribute(out, consoleScreen.cellAttribute, static_cast<DWORD>(width),
                                 Coord(w.windowLeft - 1, row), &written);
    }
  }
  MoveCursor(1, 1);
}
