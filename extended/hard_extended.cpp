#include "extended/hard_extended.h"

#if GRADES_HAVE_HARD_EXTENDED

#include "extended/x87_control.h"

namespace {

// Truncating, 64-bit precision, every exception masked; the rest as before.
uint16_t TruncatingWord(uint16_t saved) { return saved | 0x0F3F; }

}  // namespace

bool HardExtended::PrecisionFits() {
  const uint16_t word = X87ControlWord();
  return (word & kX87PrecisionMask) == kX87Precision64 && (word & kX87RoundingMask) == kX87RoundToNearest;
}

// In each sequence the flags are cleared before the old control word comes
// back, so an exception raised while masked cannot trap afterwards.

HardExtended HardExtended::Trunc() const {
  const uint16_t saved = X87ControlWord();
  const uint16_t work = TruncatingWord(saved);
  long double result;
  asm volatile(
      "fldcw %[work]\n\t"
      "frndint\n\t"
      "fnclex\n\t"
      "fldcw %[saved]"
      : "=t"(result)
      : "0"(value_), [work] "m"(work), [saved] "m"(saved));
  return FromNative(result);
}

HardExtended HardExtended::Frac() const {
  const uint16_t saved = X87ControlWord();
  const uint16_t work = TruncatingWord(saved);
  long double result;
  // st(0) = trunc(x), then st(0) = st(1) - st(0) with st(1) = x.
  asm volatile(
      "fldcw %[work]\n\t"
      "frndint\n\t"
      "fsubr %%st(1), %%st\n\t"
      "fnclex\n\t"
      "fldcw %[saved]"
      : "=t"(result)
      : "0"(value_), "u"(value_), [work] "m"(work), [saved] "m"(saved));
  return FromNative(result);
}

int64_t HardExtended::TruncToInt64() const {
  const uint16_t saved = X87ControlWord();
  const uint16_t work = TruncatingWord(saved);
  int64_t result;
  asm volatile(
      "fldcw %[work]\n\t"
      "fistpll %[out]\n\t"
      "fnclex\n\t"
      "fldcw %[saved]"
      : [out] "=m"(result)
      : "t"(value_), [work] "m"(work), [saved] "m"(saved)
      : "st");
  return result;
}

#endif
