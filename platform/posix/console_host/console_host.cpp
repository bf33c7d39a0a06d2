#include "platform/posix/console_host/console_host.h"

#include "platform/posix/posix_internal.h"

namespace platform_posix::console_host {
namespace {

BOOL Fail(DWORD code) {
  platform_posix::SetLastErrorCode(code);
  return FALSE;
}

}  // namespace

BOOL ConsoleHost::GetInfo(CONSOLE_SCREEN_BUFFER_INFO *info) {
  if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  const SHORT w = static_cast<SHORT>(screen_.Columns()), h = static_cast<SHORT>(screen_.Rows());
  info->dwSize = {w, h};
  info->dwCursorPosition = screen_.cursor;
  info->wAttributes = screen_.attributes;
  info->srWindow = {0, 0, static_cast<SHORT>(w - 1), static_cast<SHORT>(h - 1)};
  info->dwMaximumWindowSize = {w, h};
  return TRUE;
}

BOOL ConsoleHost::GetCursorInfo(CONSOLE_CURSOR_INFO *info) {
  if (info == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  info->dwSize = 25;
  info->bVisible = TRUE;
  return TRUE;
}

BOOL ConsoleHost::WriteOutput(const CHAR_INFO *cells, COORD size, COORD from, SMALL_RECT *region) {
  if (!screen_.WriteOutput(cells, size, from, region)) return Fail(ERROR_INVALID_PARAMETER);
  Changed();
  return TRUE;
}

BOOL ConsoleHost::Scroll(const SMALL_RECT *scroll, const SMALL_RECT *clip, COORD destination, const CHAR_INFO *fill) {
  if (scroll == nullptr || fill == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  ScrollRows(*scroll, clip, destination, *fill);
  Changed();
  return TRUE;
}

void ConsoleHost::ScrollRows(const SMALL_RECT &scroll, const SMALL_RECT *clip, COORD destination,
                             const CHAR_INFO &fill) {
  BeforeScroll();
  RowShift shift = screen_.Scroll(scroll, clip, destination, fill);
  if (shift.valid) Shifted(shift, fill);
}

BOOL ConsoleHost::FillCharacter(unsigned char ch, DWORD count, COORD start, DWORD *written) {
  if (!screen_.FillCharacter(ch, count, start, written)) return Fail(ERROR_INVALID_PARAMETER);
  Changed();
  return TRUE;
}

BOOL ConsoleHost::FillAttribute(WORD attr, DWORD count, COORD start, DWORD *written) {
  if (!screen_.FillAttribute(attr, count, start, written)) return Fail(ERROR_INVALID_PARAMETER);
  Changed();
  return TRUE;
}

BOOL ConsoleHost::SetCursor(COORD position) {
  if (!screen_.Contains(position.X, position.Y)) return Fail(ERROR_INVALID_PARAMETER);
  screen_.cursor = position;
  Changed();
  return TRUE;
}

void ConsoleHost::NextLine() {
  COORD &c = screen_.cursor;
  if (c.Y + 1 < screen_.Rows()) {
    ++c.Y;
    return;
  }
  const SHORT right = static_cast<SHORT>(screen_.Columns() - 1), bottom = static_cast<SHORT>(screen_.Rows() - 1);
  SMALL_RECT all{0, 0, right, bottom};
  CHAR_INFO fill{};
  fill.Char.AsciiChar = ' ';
  fill.Attributes = screen_.attributes;
  ScrollRows(all, &all, COORD{0, -1}, fill);
}

void ConsoleHost::PutProcessed(unsigned char ch) {
  COORD &c = screen_.cursor;
  screen_.Set(c.X, c.Y, {ch, screen_.attributes, -1});
  if (++c.X >= screen_.Columns()) {
    c.X = 0;
    NextLine();
  }
}

void ConsoleHost::WriteProcessed(const char *bytes, DWORD length) {
  COORD &c = screen_.cursor;
  for (DWORD i = 0; i < length; ++i) {
    const unsigned char ch = static_cast<unsigned char>(bytes[i]);
    switch (ch) {
      case 7: Bell(); break;
      case 8:
        if (c.X > 0) --c.X;
        break;
      case 9:
        do PutProcessed(' ');
        while (c.X % 8 != 0);
        break;
      case 10:
        c.X = 0;
        NextLine();
        break;
      case 13: c.X = 0; break;
      default: PutProcessed(ch); break;
    }
  }
  Changed();
}

}  // namespace platform_posix::console_host
