// What serves the console calls: a screen buffer with the console API's
// operations on it, processed output, and an input queue. The terminal and
// the in-memory console differ only in what happens around each operation
// (drawing on a terminal or not) and where input comes from.
#pragma once

#include "platform/posix/console_host/screen_buffer.h"

namespace platform_posix::console_host {

class ConsoleHost {
 public:
  explicit ConsoleHost(ScreenBuffer &screen) : screen_(screen) {}
  virtual ~ConsoleHost() = default;

  ScreenBuffer &Screen() { return screen_; }

  BOOL GetInfo(CONSOLE_SCREEN_BUFFER_INFO *info);
  virtual BOOL GetCursorInfo(CONSOLE_CURSOR_INFO *info);
  BOOL WriteOutput(const CHAR_INFO *cells, COORD size, COORD from, SMALL_RECT *region);
  BOOL Scroll(const SMALL_RECT *scroll, const SMALL_RECT *clip, COORD destination, const CHAR_INFO *fill);
  BOOL FillCharacter(unsigned char ch, DWORD count, COORD start, DWORD *written);
  BOOL FillAttribute(WORD attr, DWORD count, COORD start, DWORD *written);
  BOOL SetCursor(COORD position);
  // Console output with processing: BEL sounds, BS moves left (not past the
  // left edge), TAB advances to the next multiple of 8, LF starts the next
  // line, CR returns; every other byte takes a cell in the current
  // attribute; output wraps at the right edge and scrolls at the bottom.
  // The program's screen driver writes its text cell by cell instead
  // (WriteConsoleChar in console/console_screen.h), inside its window.
  void WriteProcessed(const char *bytes, DWORD length);

  virtual BOOL InputCount(DWORD *count) = 0;
  virtual BOOL ReadInput(INPUT_RECORD *records, DWORD length, DWORD *read) = 0;
  // Everything drawn so far goes to the terminal now.
  virtual void Present() {}

 protected:
  // After every call that changed the screen buffer or its cursor.
  virtual void Changed() {}
  // Before the screen buffer scrolls, and after it scrolled whole-width rows.
  virtual void BeforeScroll() {}
  virtual void Shifted(const RowShift &, const CHAR_INFO &) {}
  virtual void Bell() {}

 private:
  void ScrollRows(const SMALL_RECT &scroll, const SMALL_RECT *clip, COORD destination, const CHAR_INFO &fill);
  void PutProcessed(unsigned char ch);
  void NextLine();

  ScreenBuffer &screen_;
};

}  // namespace platform_posix::console_host
