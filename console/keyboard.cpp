// Key polling, waiting and translation of keys without a character.
#include "console/console_screen.h"
#include "platform/platform.h"
#include "runtime/std_streams.h"

KeyboardState keyboardState = {};

namespace {

// False once the input handle turned out not to be a console (a file or a
// pipe): its event count cannot be read.
bool inputIsConsole = true;
bool inputEnded = false;

DWORD CountEvents(HANDLE input) {
  DWORD count = 0;
  inputIsConsole = GetNumberOfConsoleInputEvents(input, &count) != 0;
  return inputIsConsole ? count : 0;
}

// Input that is no console: every byte is one key press of that character;
// the end of the input (or a failed read) gives 0.
uint8_t ReadKeyByte(HANDLE input) {
  uint8_t byte = 0;
  DWORD got = 0;
  if (ReadFile(input, &byte, 1, &got, nullptr) == 0 || got != 1) {
    inputEnded = true;
    return 0;
  }
  return byte;
}

bool IsModifierOnly(WORD virtualKey) {
  return virtualKey == VK_SHIFT || virtualKey == VK_CONTROL || virtualKey == VK_MENU || virtualKey == VK_CAPITAL ||
         virtualKey == VK_NUMLOCK || virtualKey == VK_SCROLL;
}

bool IsNumpadDigit(WORD virtualKey) { return virtualKey >= VK_NUMPAD0 && virtualKey <= VK_NUMPAD9; }

constexpr uint32_t kAlt = RIGHT_ALT_PRESSED | LEFT_ALT_PRESSED;
constexpr uint32_t kCtrl = RIGHT_CTRL_PRESSED | LEFT_CTRL_PRESSED;

// Ctrl with the keypad and cursor keys, scan codes 0x47 to 0x53.
constexpr uint8_t kCtrlKeypad[13] = {0x77, 0x8D, 0x84, 0x8E, 0x73, 0x8F, 0x74, 0x4E, 0x75, 0x91, 0x76, 0x92, 0x93};

uint32_t AltCode(uint32_t scan) {
  if (scan >= 0x02 && scan <= 0x0D) return scan + 0x76;
  if (scan == 0x1C) return 0xA6;
  if (scan == 0x35) return 0xA4;
  if (scan >= 0x3B && scan <= 0x44) return scan + 0x2D;
  if (scan >= 0x47 && scan <= 0x49) return scan + 0x50;
  if (scan == 0x4B) return 0x9B;
  if (scan == 0x4D) return 0x9D;
  if (scan >= 0x4F && scan <= 0x53) return scan + 0x50;
  if (scan == 0x57 || scan == 0x58) return scan + 0x34;
  return scan;
}

uint32_t CtrlCode(uint32_t scan) {
  if (scan == 0x0F) return 0x94;
  if (scan == 0x35) return 0x95;
  if (scan == 0x37) return 0x96;
  if (scan >= 0x3B && scan <= 0x44) return scan + 0x23;
  if (scan >= 0x47 && scan <= 0x53) return kCtrlKeypad[scan - 0x47];
  if (scan == 0x57 || scan == 0x58) return scan + 0x32;
  return scan;
}

uint32_t ShiftCode(uint32_t scan) {
  if (scan >= 0x3B && scan <= 0x44) return scan + 0x19;
  if (scan == 0x57 || scan == 0x58) return scan + 0x30;
  return scan;
}

uint32_t PlainCode(uint32_t scan) {
  if (scan == 0x57 || scan == 0x58) return scan + 0x2E;
  return scan;
}

}  // namespace

uint8_t TranslateKey(uint16_t scanCode, uint32_t controlKeyState, uint16_t virtualKey) {
  KeyboardState &k = keyboardState;
  uint32_t code;
  if ((controlKeyState & kAlt) != 0) {
    if (IsNumpadDigit(virtualKey)) {
      k.altNumpadActive = true;
      k.altNumpadValue = static_cast<uint8_t>(k.altNumpadValue * 10 + (virtualKey - VK_NUMPAD0));
    }
    code = AltCode(scanCode);
  } else if ((controlKeyState & kCtrl) != 0) {
    code = CtrlCode(scanCode);
  } else if ((controlKeyState & SHIFT_PRESSED) != 0) {
    code = ShiftCode(scanCode);
  } else {
    code = PlainCode(scanCode);
  }
  return static_cast<uint8_t>(code);
}

bool KeyAvailable() {
  KeyboardState &k = keyboardState;
  if (k.pendingKeyChar != 0) return true;
  HANDLE input = stdInput.handle;
  DWORD count = CountEvents(input);
  while (count > 0) {
    INPUT_RECORD record = {};
    DWORD read = 0;
    ReadConsoleInputA(input, &record, 1, &read);
    bool found = false;
    if (record.EventType == KEY_EVENT) {
      const KEY_EVENT_RECORD &key = record.Event.KeyEvent;
      uint8_t ch = static_cast<uint8_t>(key.uChar.AsciiChar);
      if (key.bKeyDown != 0) {
        if (!IsModifierOnly(key.wVirtualKeyCode)) {
          found = true;
          if (ch != 0 && (key.dwControlKeyState & (LEFT_ALT_PRESSED | ENHANCED_KEY)) == 0) {
            k.pendingExtendedKey = false;
            k.pendingKeyChar = ch;
          } else if (ch == 13 && key.wVirtualKeyCode == VK_RETURN) {
            k.pendingExtendedKey = false;
            k.pendingKeyChar = 13;
          } else {
            k.pendingExtendedKey = true;
            k.pendingKeyChar = TranslateKey(key.wVirtualScanCode, key.dwControlKeyState, key.wVirtualKeyCode);
          }
          // Keypad digits with Alt held build up a character code instead.
          if (IsNumpadDigit(key.wVirtualKeyCode) && (key.dwControlKeyState & kAlt) != 0) {
            found = false;
            k.pendingExtendedKey = false;
            k.pendingKeyChar = 0;
          }
        }
      } else if (key.wVirtualKeyCode == VK_MENU && k.altNumpadActive && k.altNumpadValue != 0) {
        k.pendingKeyChar = k.altNumpadValue;
        k.altNumpadActive = false;
        k.altNumpadValue = 0;
        return true;
      }
    }
    if (found) return true;
    count = CountEvents(input);
  }
  return false;
}

bool KeyInputEnded() { return inputEnded; }

uint8_t WaitForKey() {
  KeyboardState &k = keyboardState;
  for (;;) {
    Sleep(1);
    if (KeyAvailable()) break;
    if (!inputIsConsole) return ReadKeyByte(stdInput.handle);
  }
  if (k.pendingExtendedKey) {
    k.pendingExtendedKey = false;
    return 0;
  }
  uint8_t ch = k.pendingKeyChar;
  k.pendingKeyChar = 0;
  return ch;
}
