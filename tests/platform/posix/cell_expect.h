// What a terminal emulator should show for a console cell.
#pragma once

#include <utility>

#include "platform/posix/console_host/cp437.h"

namespace consoletest {

// The palette index of a console colour (blue in bit 0, red in bit 2,
// intensity in bit 3).
inline int PaletteIndex(int color) {
  return (((color & 1) << 2) | (color & 2) | ((color & 4) >> 2)) + ((color & 8) ? 8 : 0);
}

// Foreground and background palette indexes; -1 is the default colour.
inline std::pair<int, int> ExpectedColors(unsigned attr) {
  attr &= 0xFF;
  if (attr == 0x07) return {-1, -1};
  return {PaletteIndex(attr & 0xF), PaletteIndex(attr >> 4)};
}

inline char32_t ExpectedGlyph(unsigned char ch) {
  return static_cast<char32_t>(platform_posix::console_host::Cp437CodePoint(ch));
}

}  // namespace consoletest
