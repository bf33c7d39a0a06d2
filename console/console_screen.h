// The console module: its state, the screen driver and the keyboard. Output
// to stdOutput is painted cell by cell into the console's screen buffer at a
// cursor position the module tracks itself; keys are read from its input.
#pragma once

#include <cstdint>

#include "textio/text_stream.h"

struct ScreenWindow {
  int32_t windowLeft;  // 1-based absolute, corners inclusive
  int32_t windowTop;
  int32_t windowRight;
  int32_t windowBottom;
};

struct ConsoleScreen {
  OsHandle consoleOutHandle;
  OsHandle consoleInHandle;
  uint8_t cellAttribute;
  ScreenWindow screenWindow;
  int32_t cursorX;  // tracked cursor, 0-based absolute
  int32_t cursorY;
  int32_t writeColumn;  // working position of one operation, 1-based absolute
  int32_t writeRow;
  int32_t screenColumns;
  int32_t screenRows;
  bool isNtPlatform;
  // Recorded at initialisation for programs that want them; unused here.
  uint16_t screenMode;
  uint32_t cursorSize;
  uint16_t windowCorner;
};

struct KeyboardState {
  uint8_t pendingKeyChar;   // 0: nothing pending
  bool pendingExtendedKey;  // the next WaitForKey returns 0 first
  bool altNumpadActive;
  uint8_t altNumpadValue;
  bool ctrlZEndsLine;
};

extern ConsoleScreen consoleScreen;
extern KeyboardState keyboardState;

// Screen driver.
void InitConsole();
void ClearScreen();
void MoveCursor(uint8_t column, uint8_t row);
void SetCursorAbsolute(int32_t column, int32_t row);
// One character into the program's window, cell by cell through the console
// API, with the driver's own control characters and scrolling. Text written
// to the console as a file takes the console's processed output instead
// (on Linux, ConsoleHost::WriteProcessed in
// platform/posix/console_host/console_host.h): the two are on either side of
// the console API and differ in their window, wrapping and control codes.
void WriteConsoleChar(uint8_t ch);
void RemoveWindowLine(int32_t n);
void BindConsoleDriver(TextStream &stream);
int32_t QueryScreenColumns();
int32_t QueryScreenRows();
uint32_t QueryPlatformId();

// Driver procedures for the TextStream slots.
void ConsoleOpen(TextStream &stream);
void ConsoleWrite(TextStream &stream);
void ConsoleReadLine(TextStream &stream);
void ConsoleNoFlush(TextStream &stream);
void ConsoleClose(TextStream &stream);

// Keyboard.
bool KeyAvailable();
uint8_t WaitForKey();
uint8_t TranslateKey(uint16_t scanCode, uint32_t controlKeyState, uint16_t virtualKey);
void EraseLastChar(TextStream &stream);
// True once input that is no console has ended: no further key will come.
bool KeyInputEnded();
