// Code page 437, the console's character set: what each cell byte looks like
// on a UTF-8 terminal, and which byte a typed Unicode character becomes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform_posix::console_host {

// The Unicode code point shown for cell byte `b`. Byte 0 shows as a blank.
std::uint32_t Cp437CodePoint(unsigned char b);

// The bytes that draw a cell on the terminal (1 to 3, not terminated).
struct Glyph {
  char bytes[3];
  std::uint8_t length;
};
// The UTF-8 form of cell byte `b`.
const Glyph &Cp437Glyph(unsigned char b);
// All 256 of them, indexed by cell byte.
const Glyph *Cp437Glyphs();

// The byte whose glyph is `codePoint`, or -1 when code page 437 has none.
// Control codes 0 to 31 and 127 map to themselves, as typed control keys.
int Cp437FromCodePoint(std::uint32_t codePoint);

}  // namespace platform_posix::console_host
