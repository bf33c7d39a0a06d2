// The keys of a standard PC keyboard (US layout) as the console reports
// them: virtual-key code, scan code, the character they type and whether
// they are enhanced keys.
#pragma once

#include "platform/posix/kernel32.h"

namespace platform_posix::console_host {

struct KeyIdentity {
  WORD vk;
  WORD scan;
  unsigned char ch;  // character typed without modifiers, 0 for none
  DWORD state;       // ENHANCED_KEY, or SHIFT_PRESSED for a shifted character
};

// The key that types printable ASCII character `c` (32..126), with
// SHIFT_PRESSED when the US layout needs Shift for it. False otherwise.
bool KeyForAscii(unsigned char c, KeyIdentity *out);

// The character that key `c` (unshifted printable ASCII) types with Shift.
unsigned char ShiftedAscii(unsigned char c);

// The character of key `c` (printable ASCII) without Shift.
unsigned char UnshiftedAscii(unsigned char c);

// The control character that Ctrl with unshifted key `c` gives, 0 for none.
unsigned char ControlCharFor(unsigned char c);

// One kind of key to a line.
// clang-format off
enum class Named {
  kUp, kDown, kRight, kLeft, kHome, kEnd, kPageUp, kPageDown, kInsert, kDelete,
  kClear,
  kF1, kF2, kF3, kF4, kF5, kF6, kF7, kF8, kF9, kF10, kF11, kF12,
  kEscape, kEnter, kTab, kBackspace,
  kKp0, kKp1, kKp2, kKp3, kKp4, kKp5, kKp6, kKp7, kKp8, kKp9,
  kKpDecimal, kKpDivide, kKpMultiply, kKpSubtract, kKpAdd, kKpEnter,
  kKpUp, kKpDown, kKpRight, kKpLeft, kKpHome, kKpEnd, kKpPageUp, kKpPageDown,
  kKpInsert, kKpDelete, kKpBegin,
  kLeftShift, kRightShift, kLeftCtrl, kRightCtrl, kLeftAlt, kRightAlt, kAltGr,
  kCapsLock, kNumLock, kScrollLock, kPause, kPrintScreen, kMenu,
};
// clang-format on

const KeyIdentity &NamedKey(Named key);

}  // namespace platform_posix::console_host
