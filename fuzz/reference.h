// Plain models of what the reading operations accept, written from the
// rules rather than from the code they check: whole-string scans, 128-bit
// arithmetic, no buffers and no refills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

struct Parsed {
  int32_t value;
  int32_t errorPos;  // 0, or the 1-based position of the offending character
};

inline int DigitOf(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

// Text to a signed 32-bit integer: blanks, one sign, '$' (hexadecimal, its
// leading zeros passed over) or '%' (binary), then digits. Decimal must lie
// in the int32 range; hexadecimal and binary may use all 32 bits, read as
// the signed pattern.
inline Parsed ParseInteger(std::string_view text) {
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < n && text[i] == '$') {
    base = 16;
    ++i;
    while (i + 1 < n && text[i] == '0') ++i;
  } else if (i < n && text[i] == '%') {
    base = 2;
    ++i;
  }
  if (i >= n) return {0, static_cast<int32_t>(i + 1)};

  const __int128 largest =
      base == 10 ? (negative ? (__int128{1} << 31) : (__int128{1} << 31) - 1) : (__int128{1} << 32) - 1;
  __int128 magnitude = 0;
  for (; i < n; ++i) {
    const int digit = DigitOf(static_cast<unsigned char>(text[i]));
    if (digit >= base) return {0, static_cast<int32_t>(i + 1)};
    magnitude = magnitude * base + digit;
    if (magnitude > largest) return {0, static_cast<int32_t>(i + 1)};
  }
  // The 32-bit pattern of ±magnitude, read as a signed number.
  __int128 pattern = (negative ? -magnitude : magnitude) % (__int128{1} << 32);
  if (pattern < 0) pattern += __int128{1} << 32;
  if (pattern >= (__int128{1} << 31)) pattern -= __int128{1} << 32;
  return {static_cast<int32_t>(pattern), 0};
}

// The I/O status an OS error code becomes.
inline uint16_t StatusOf(uint32_t osError) {
  if (osError >= 19 && osError <= 31) return static_cast<uint16_t>(osError + 131);
  if (osError == 32) return 5;
  return static_cast<uint16_t>(osError);
}

struct Outcome {
  std::vector<int32_t> values;  // the numbers the loop delivered
  uint16_t status = 0;          // what ended it: 0 for the end of the file
  bool operator==(const Outcome &) const = default;
};

// The grade program's reading loop over a whole file: until the end of the
// data or a 0x1A at the start of a line, take the first number of each line
// (empty and blank lines between numbers are passed over) and drop the rest
// of the line with its line end (LF, CR LF or a lone CR).
//
// With `failAt` set, the data ends there and looking at that byte fails
// with OS error `osError`: a number complete before it still stops the run
// with that error; one cut short by it, or none at all, is invalid (106).
inline Outcome ReadGradeLoop(std::string_view data, std::size_t failAt = std::string_view::npos, uint32_t osError = 0) {
  const std::size_t end = failAt < data.size() ? failAt : data.size();
  bool failed = false;
  // Whether byte p can be looked at; looking at the failing byte fails.
  auto has = [&](std::size_t p) {
    if (p < end) return true;
    if (p == failAt) failed = true;
    return false;
  };
  auto blank = [](unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };

  Outcome out;
  std::size_t pos = 0;
  for (;;) {
    if (!has(pos)) break;
    if (static_cast<unsigned char>(data[pos]) == 0x1A) break;

    while (has(pos) && blank(static_cast<unsigned char>(data[pos]))) ++pos;
    std::string token;
    while (token.size() < 255 && has(pos) && !blank(static_cast<unsigned char>(data[pos]))) token += data[pos++];
    const Parsed parsed = ParseInteger(token);
    if (parsed.errorPos != 0) {
      out.status = 106;
      return out;
    }
    if (failed) break;

    // The rest of the line and its end.
    if (has(pos)) {
      for (;;) {
        const char c = data[pos++];
        if (c == '\n') break;
        if (!has(pos)) break;
        if (c == '\r') {
          if (data[pos] == '\n') ++pos;
          break;
        }
      }
    }
    if (failed) break;
    out.values.push_back(parsed.value);
  }
  if (failed) out.status = StatusOf(osError);
  return out;
}

}  // namespace reference
