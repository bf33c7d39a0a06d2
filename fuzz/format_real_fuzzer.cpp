// FormatReal on any 80-bit pattern with any width, decimals, kind and
// capacity, under the run's floating-point control word (invalid, zero
// divide and overflow trap): it must not fault, its text must have the shape
// and length the layout rules give, stand for the value to within its last
// digit, and come out the same in software and in hardware arithmetic.
//
// Input: 10 bytes of the value (significand, then sign and exponent), 2 of
// width, 1 of decimals, 1 of kind, 1 of capacity.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "extended/x87_control.h"
#include "textio/format_real.h"

namespace {

// The layout rows, by kind code; codes without a row are formatted as kind 1.
struct Row {
  int defaultWidth, minimumWidth, exponentWidth, digitBudget;
};
constexpr Row kRows[6] = {{16, 8, 4, 10},  {23, 9, 5, 16}, {25, 10, 6, 17},
                          {23, 10, 6, 15}, {16, 8, 4, 10}, {16, 8, 4, 10}};

const Row &RowOf(int kind) { return kRows[kind >= 0 && kind < 6 ? kind : 1]; }

[[noreturn]] void Fail(const char *rule, std::string_view text, int width, int decimals, int kind, ExtendedBits bits) {
  fprintf(stderr, "%s: \"%.*s\" for %04X:%016llX width %d decimals %d kind %d\n", rule, static_cast<int>(text.size()),
          text.data(), bits.signExponent, static_cast<unsigned long long>(bits.significand), width, decimals, kind);
  abort();
}

void WINAPI NoSoftTrap(DWORD code, DWORD, DWORD, const ULONG_PTR *) {
  fprintf(stderr, "floating exception %08X inside the converter\n", static_cast<unsigned>(code));
  abort();
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

long double Parse(const std::string &text) {
  errno = 0;
  return strtold(text.c_str(), nullptr);
}

// |shown - value| within `allowed` (the rounding or cutting of the last digit
// shown) plus what the row's digit budget can hold; skipped near the ends of
// the format's range, where a decimal does not parse back into the format.
void CheckValue(std::string_view core, long double shown, long double allowed, long double value, const Row &row,
                int width, int decimals, int kind, ExtendedBits bits) {
  if (!std::isfinite(value) || !std::isfinite(shown) || !std::isfinite(allowed) || allowed == 0) return;
  const long double magnitude = std::fabs(value);
  if (magnitude != 0 && (magnitude < 1e-4900L || magnitude > 1e4900L)) return;
  const long double slack = allowed * (1 + 1e-12L) + magnitude * std::pow(10.0L, -(row.digitBudget - 2));
  if (std::fabs(shown - value) > slack) Fail("text does not stand for the value", core, width, decimals, kind, bits);
}

// The rules every text obeys, from the arguments alone.
void CheckLayout(std::string_view text, long double value, int width, int decimals, int kind, ExtendedBits bits) {
  const Row &row = RowOf(kind);
  const int field = width == NoFieldWidth ? row.defaultWidth : width;
  const int padTo = field > 255 ? 255 : field;
  auto fail = [&](const char *rule) { Fail(rule, text, width, decimals, kind, bits); };

  size_t blanks = 0;
  while (blanks < text.size() && text[blanks] == ' ') ++blanks;
  const std::string_view core = text.substr(blanks);
  const bool negative = (bits.signExponent & 0x8000) != 0;
  const ExtendedClass cls = ClassifyExtended(bits);
  const bool special = cls == ExtendedClass::Infinity || cls == ExtendedClass::QuietNaN ||
                       cls == ExtendedClass::SignalingNaN || cls == ExtendedClass::Unsupported;

  // The natural length, and with it the one of the whole text.
  size_t natural;
  if (special) {
    const bool infinity =
        cls == ExtendedClass::Infinity ||
        (cls == ExtendedClass::Unsupported && (bits.signExponent & 0x7FFF) == 0x7FFF && (bits.significand << 1) == 0);
    const char *want = infinity ? (negative ? "-Inf" : "Inf") : "NaN";
    if (core != want) fail("special value");
    natural = core.size();
  } else if (core.find('E') != std::string_view::npos) {
    // Scientific: sign slot, d.ddd, E, sign, exponent digits.
    const size_t e = core.find('E');
    std::string_view mantissa = core.substr(0, e);
    const std::string_view exponent = core.substr(e + 1);
    if (negative != (mantissa.substr(0, 1) == "-")) fail("sign");
    if (negative) mantissa.remove_prefix(1);
    if (mantissa.size() < 3 || mantissa[1] != '.' || !AllDigits(mantissa.substr(0, 1)) ||
        !AllDigits(mantissa.substr(2)))
      fail("mantissa shape");
    const std::string digits = std::string(mantissa.substr(0, 1)) + std::string(mantissa.substr(2));
    if (exponent.size() < 2 || (exponent[0] != '+' && exponent[0] != '-') || !AllDigits(exponent.substr(1)))
      fail("exponent shape");
    const std::string_view expDigits = exponent.substr(1);
    const size_t minExpDigits = static_cast<size_t>(row.exponentWidth - 2);
    if (expDigits.size() < minExpDigits || (expDigits.size() > minExpDigits && expDigits[0] == '0'))
      fail("exponent digits");
    const int exp10 = std::stoi(std::string(exponent));
    if (decimals >= 0 && exp10 <= 35) fail("scientific notation below 1E36 with decimals given");

    // The digits the budget allows; a carry into a new leading digit adds one.
    int budget = row.digitBudget;
    if (decimals < 0) {
      int w = field;
      if (w >= 0 && w < row.minimumWidth) w = row.minimumWidth;
      if (w > 0 && w < row.defaultWidth) budget = w - row.exponentWidth - 2;
    }
    const bool carried = digits.size() == static_cast<size_t>(budget) + 1 && digits[0] == '1' &&
                         digits.find_first_not_of('0', 1) == std::string::npos;
    if (digits.size() != static_cast<size_t>(budget) && !carried) fail("mantissa digit count");
    natural = 1 + mantissa.size() + 1 + exponent.size();  // the sign slot counts
    if (!negative && blanks == 0) fail("sign slot");

    const std::string scaled = std::string(mantissa) + "E" + std::to_string(exp10);
    // The last digit is rounded, unless the digits end inside the integer
    // part: then the integer digits behind them are dropped, and both the
    // first one not held (of more than 18) and a fraction of one half or
    // more may each raise the last digit by one.
    const int shown = static_cast<int>(digits.size());
    const long double unit = Parse("1E" + std::to_string(exp10 - shown + 1));
    const long double allowed = exp10 + 1 > shown ? 2 * unit : unit / 2;
    CheckValue(core, (negative ? -1 : 1) * Parse(scaled), allowed, value, row, width, decimals, kind, bits);
  } else {
    // Fixed: [-]digits[.decimals], exactly min(decimals, budget) decimals.
    if (decimals < 0) fail("fixed notation without decimals given");
    std::string_view number = core;
    if (negative != (number.substr(0, 1) == "-")) fail("sign");
    if (negative) number.remove_prefix(1);
    const int shownDecimals = decimals < row.digitBudget ? decimals : row.digitBudget;
    const size_t point = number.find('.');
    std::string_view whole = number.substr(0, point);
    if (!AllDigits(whole) || whole.size() > 36) fail("integer part");
    if (shownDecimals == 0) {
      if (point != std::string_view::npos) fail("a point without decimals");
    } else if (point == std::string_view::npos || number.size() - point - 1 != static_cast<size_t>(shownDecimals) ||
               !AllDigits(number.substr(point + 1))) {
      fail("decimal count");
    }
    natural = core.size();
    // Rounded at the last decimal; integer digits beyond the budget are
    // dropped, which the budget's share of the slack covers.
    const long double unit = Parse("1E" + std::to_string(-shownDecimals));
    CheckValue(core, Parse(std::string(core)), unit / 2, value, row, width, decimals, kind, bits);
  }
  const size_t length = natural > static_cast<size_t>(padTo > 0 ? padTo : 0) ? natural : static_cast<size_t>(padTo);
  if (text.size() != (length > 255 ? 255 : length)) fail("length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 15) return 0;
  ExtendedBits bits;
  std::memcpy(&bits.significand, data, 8);
  std::memcpy(&bits.signExponent, data + 8, 2);
  const int16_t rawWidth = static_cast<int16_t>(data[10] | data[11] << 8);
  // Mostly the widths that matter, sometimes anything, sometimes none.
  int width = rawWidth % 300 - 20;
  if ((rawWidth & 0x7000) == 0x7000) width = rawWidth;
  if ((rawWidth & 0x7000) == 0x6000) width = NoFieldWidth;
  int decimals = static_cast<int8_t>(data[12]) % 24;
  if (data[12] == 0x7F) decimals = 1 << 30;
  if (data[12] == 0x80) decimals = -(1 << 30);
  const int kind = static_cast<int8_t>(data[13]) % 8;
  const int capacity = data[14];

  softFloatTrap = NoSoftTrap;
  // The whole text in one arithmetic, the text cut at the capacity in the
  // other: the second must be the first, cut.
  ShortString soft, full;
  FormatRealWith(width, decimals, SoftExtended::FromBits(bits), static_cast<RealKind>(kind), soft, capacity);
  long double value = NAN;  // unknown without the hardware format
#if GRADES_HAVE_HARD_EXTENDED
  {
    X87ControlScope run(kX87RunControlWord);  // a trap here is a fault
    FormatRealWith(width, decimals, HardExtended::FromBits(bits), static_cast<RealKind>(kind), full, 255);
  }
  value = HardExtended::FromBits(bits).Native();
#else
  FormatRealWith(width, decimals, SoftExtended::FromBits(bits), static_cast<RealKind>(kind), full, 255);
#endif
  const std::string_view text(full.text, full.length);
  if (StringView(soft) != text.substr(0, capacity)) {
    fprintf(stderr, "software, cut at %d: \"%.*s\"\n", capacity, soft.length, soft.text);
    Fail("software and hardware differ, or the capacity does more than cut", text, width, decimals, kind, bits);
  }
  CheckLayout(text, value, width, decimals, kind, bits);
  return 0;
}
