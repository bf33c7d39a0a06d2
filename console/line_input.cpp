// Edited line input on a console input stream, echoed at the tracked cursor.
#include "console/console_screen.h"

namespace {

constexpr uint8_t kExtended = 0, kBackspace = 8, kEnter = 13, kCtrlS = 19, kCtrlY = 25, kCtrlZ = 26, kEscape = 27;
constexpr uint8_t kHome = 0x47, kLeft = 0x4B, kRight = 0x4D, kEnd = 0x4F;

void StepLeft(TextStream &s) {
  --s.bufPos;
  WriteConsoleChar(8);
}

void StepRight(TextStream &s) {
  WriteConsoleChar(s.buffer[s.bufPos]);
  ++s.bufPos;
}

}  // namespace

void EraseLastChar(TextStream &stream) {
  if (stream.bufPos <= 0 || stream.bufPos != stream.bufEnd) return;
  WriteConsoleChar(8);
  WriteConsoleChar(32);
  WriteConsoleChar(8);
  --stream.bufPos;
  --stream.bufEnd;
}

void ConsoleReadLine(TextStream &stream) {
  ConsoleScreen &screen = consoleScreen;
  screen.writeColumn = screen.cursorX + 1;
  screen.writeRow = screen.cursorY + 1;
  stream.bufPos = 0;
  stream.bufEnd = 0;
  for (bool done = false; !done;) {
    if (stream.bufPos > stream.bufEnd) stream.bufEnd = stream.bufPos;
    SetCursorAbsolute(screen.writeColumn, screen.writeRow);
    uint8_t ch = WaitForKey();
    if (KeyInputEnded()) break;  // the line ends with the input
    switch (ch) {
      case kExtended:
        ch = WaitForKey();
        if (KeyInputEnded()) done = true;
        switch (ch) {
          case kHome:
            while (stream.bufPos > 0) StepLeft(stream);
            break;
          case kLeft:
            if (stream.bufPos > 0) StepLeft(stream);
            break;
          case kRight:
            if (stream.bufPos < stream.bufEnd) StepRight(stream);
            break;
          case kEnd:
            while (stream.bufPos < stream.bufEnd) StepRight(stream);
            break;
          default: break;
        }
        break;
      case kBackspace:
      case kCtrlS: EraseLastChar(stream); break;
      case kEnter:
        WriteConsoleChar(13);
        WriteConsoleChar(10);
        stream.buffer[stream.bufEnd] = 13;
        stream.buffer[stream.bufEnd + 1] = 10;
        stream.bufEnd += 2;
        done = true;
        break;
      case kCtrlY:
      case kEscape:
        // Walk the echo to the end first, so that erasing from there takes
        // the whole line off the screen also when the cursor stood inside it.
        while (stream.bufPos < stream.bufEnd) StepRight(stream);
        while (stream.bufEnd > 0) EraseLastChar(stream);
        break;
      case kCtrlZ:
        if (keyboardState.ctrlZEndsLine) {
          stream.buffer[stream.bufEnd] = 26;
          stream.bufEnd += 1;
          done = true;
        }
        break;
      default:
        if (stream.bufPos < stream.bufSize - 2) {
          stream.buffer[stream.bufPos] = ch;
          ++stream.bufPos;
          WriteConsoleChar(ch);
        }
        break;
    }
  }
  stream.bufPos = 0;
  SetCursorAbsolute(screen.writeColumn, screen.writeRow);
}
