// ParseInteger on arbitrary text against the 128-bit model, and every int32
// written in decimal, hexadecimal and binary read back as itself.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/reference.h"
#include "textio/read_integer.h"
#include "textio/write_text.h"

namespace {

ShortString Text(std::string_view chars) {
  ShortString s;
  s.length = static_cast<uint8_t>(chars.size() < 255 ? chars.size() : 255);
  std::memcpy(s.text, chars.data(), s.length);
  return s;
}

void ExpectReads(const std::string &text, int32_t value) {
  const ParseResult got = ParseInteger(Text(text));
  if (got.errorPos != 0 || got.value != value) {
    fprintf(stderr, "\"%s\" read as %d (error at %d), not %d\n", text.c_str(), got.value, got.errorPos, value);
    abort();
  }
}

std::string InBase(uint32_t bits, unsigned base, int minDigits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string digits;
  do {
    digits.insert(digits.begin(), kDigits[bits % base]);
    bits /= base;
  } while (bits != 0);
  if (static_cast<int>(digits.size()) < minDigits)
    digits.insert(0, static_cast<size_t>(minDigits) - digits.size(), '0');
  return digits;
}

std::string Lower(std::string s) {
  for (char &c : s) c = static_cast<char>(c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size < 255 ? size : 255);
  const ParseResult got = ParseInteger(Text(text));
  const reference::Parsed want = reference::ParseInteger(text);
  if (got.value != want.value || got.errorPos != want.errorPos) {
    fprintf(stderr, "ParseInteger gave %d (error at %d), the model %d (error at %d)\n", got.value, got.errorPos,
            want.value, want.errorPos);
    abort();
  }

  if (size >= 5) {
    uint32_t bits;
    std::memcpy(&bits, data, 4);
    const auto value = static_cast<int32_t>(bits);
    const int zeros = data[4] % 8;  // leading zeros, which change nothing
    const ShortString decimal = FormatInteger(value, 0, 255);
    std::string dec(decimal.text, decimal.length);
    if (value >= 0) dec.insert(0, static_cast<size_t>(zeros), '0');
    ExpectReads(dec, value);
    ExpectReads("$" + InBase(bits, 16, zeros), value);
    ExpectReads("$" + Lower(InBase(bits, 16, zeros)), value);
    ExpectReads("%" + InBase(bits, 2, zeros), value);
    ExpectReads("-$" + InBase(0u - bits, 16, zeros), value);
    if (value >= 0) ExpectReads("+" + dec, value);
  }
  return 0;
}
