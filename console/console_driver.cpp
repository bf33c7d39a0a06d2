// The console's TextStream driver and the module's initialisation.
#include "console/console_screen.h"
#include "platform/platform.h"
#include "runtime/run_error.h"
#include "runtime/std_streams.h"
#include "textio/streams.h"
#include "textio/write_text.h"

namespace {

void FailInit(const char *message) {
  WriteString(0, stdError, StringFrom(message));
  WriteLineEnd(stdError);
  CheckIo();
  StopProgram(1);
}

}  // namespace

void ConsoleOpen(TextStream &stream) {
  if (stream.mode == ModeOutput) {
    stream.transferProc = ConsoleWrite;
    stream.flushProc = ConsoleWrite;
  } else {
    stream.mode = ModeInput;
    stream.transferProc = ConsoleReadLine;
    stream.flushProc = ConsoleNoFlush;
  }
  stream.closeProc = ConsoleClose;
}

void ConsoleWrite(TextStream &stream) {
  consoleScreen.writeColumn = consoleScreen.cursorX + 1;
  consoleScreen.writeRow = consoleScreen.cursorY + 1;
  for (int32_t i = 0; i < stream.bufPos; ++i) WriteConsoleChar(stream.buffer[i]);
  // One cursor call per flush, also for an empty buffer.
  SetCursorAbsolute(consoleScreen.writeColumn, consoleScreen.writeRow);
  stream.bufPos = 0;
}

void ConsoleNoFlush(TextStream &) {}

void ConsoleClose(TextStream &stream) { stream.mode = ModeClosed; }

void BindConsoleDriver(TextStream &stream) {
  BindStream(stream, StringFrom(""));
  stream.openProc = ConsoleOpen;
}

void InitConsole() {
  ConsoleScreen &s = consoleScreen;
  s.consoleOutHandle = GetStdHandle(STD_OUTPUT_HANDLE);
  s.consoleInHandle = GetStdHandle(STD_INPUT_HANDLE);

  s.screenMode = 3;
  CONSOLE_CURSOR_INFO cursor = {};
  GetConsoleCursorInfo(s.consoleOutHandle, &cursor);
  s.cursorSize = cursor.dwSize;

  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (GetConsoleScreenBufferInfo(s.consoleOutHandle, &info) == 0) {
    // Standard output is redirected or there is none: use the console itself.
    s.consoleOutHandle = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
    if (s.consoleOutHandle == INVALID_HANDLE_VALUE) FailInit("No way to get the console handle");
    info = {};
    if (GetConsoleScreenBufferInfo(s.consoleOutHandle, &info) == 0)
      FailInit("No way to get console screen buffer info");
  }
  s.cursorX = info.dwCursorPosition.X;
  s.cursorY = info.dwCursorPosition.Y;
  s.cellAttribute = static_cast<uint8_t>(info.wAttributes);

  s.screenColumns = QueryScreenColumns();
  s.screenRows = QueryScreenRows();
  s.isNtPlatform = QueryPlatformId() == 2;
  s.screenWindow = ScreenWindow{1, 1, s.screenColumns, s.screenRows};
  s.windowCorner = static_cast<uint16_t>(((s.screenRows - 1) << 8) | (s.screenColumns - 1));

  keyboardState.altNumpadActive = false;
  keyboardState.altNumpadValue = 0;

  BindConsoleDriver(stdOutput);
  OpenForWriting(stdOutput);
  CheckIo();
  stdOutput.handle = s.consoleOutHandle;

  BindConsoleDriver(stdInput);
  OpenForReading(stdInput);
  CheckIo();
  stdInput.handle = s.consoleInHandle;
}
