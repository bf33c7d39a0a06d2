// The 80-bit extended format on the x87 unit itself, through `long double`.
//
// The arithmetic is plain long double arithmetic and is exact to the format
// only under 64-bit precision control and round to nearest: the run's
// control word 0x1332 sets both, and so does the default word of x86-64
// Linux. PrecisionFits() tells whether the current word does. The run keeps
// invalid, zero divide and overflow unmasked, so those trap in hardware.
// Trunc, Frac and TruncToInt64 switch to truncation with every exception
// masked for one instruction sequence, then clear the flags and restore.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "extended/extended_config.h"
#include "extended/extended_queries.h"

#if GRADES_HAVE_HARD_EXTENDED

// The x87 keeps an 80-bit value in memory as the significand's 8 bytes and
// then the sign-and-exponent word, each little-endian; only x86, itself
// little-endian, has it.
static_assert(std::endian::native == std::endian::little);

class HardExtended : public ExtendedQueries<HardExtended> {
 public:
  HardExtended() = default;  // +0
  static HardExtended FromBits(uint16_t signExponent, uint64_t significand) {
    HardExtended x;
    std::memcpy(&x.value_, &significand, sizeof significand);
    std::memcpy(reinterpret_cast<unsigned char *>(&x.value_) + 8, &signExponent, sizeof signExponent);
    return x;
  }
  static HardExtended FromBits(ExtendedBits bits) { return FromBits(bits.signExponent, bits.significand); }
  static HardExtended FromNative(long double value) {
    HardExtended x;
    x.value_ = value;
    return x;
  }
  long double Native() const { return value_; }
  uint16_t SignExponent() const {
    uint16_t signExponent;
    std::memcpy(&signExponent, reinterpret_cast<const unsigned char *>(&value_) + 8, sizeof signExponent);
    return signExponent;
  }
  uint64_t Significand() const {
    uint64_t significand;
    std::memcpy(&significand, &value_, sizeof significand);
    return significand;
  }
  ExtendedBits Bits() const { return {SignExponent(), Significand()}; }

  static HardExtended FromInt32(int32_t value) { return FromNative(value); }
  static HardExtended FromDouble(double value) { return FromNative(value); }
  double ToDouble() const { return static_cast<double>(value_); }

  HardExtended Trunc() const;
  HardExtended Frac() const;
  int64_t TruncToInt64() const;

  static HardExtended Add(HardExtended a, HardExtended b) { return FromNative(a.value_ + b.value_); }
  static HardExtended Sub(HardExtended a, HardExtended b) { return FromNative(a.value_ - b.value_); }
  static HardExtended Mul(HardExtended a, HardExtended b) { return FromNative(a.value_ * b.value_); }
  static HardExtended Div(HardExtended a, HardExtended b) { return FromNative(a.value_ / b.value_); }

  // The unordered-quiet compare instruction, as in SoftExtended.
  static bool Equal(HardExtended a, HardExtended b) { return a.value_ == b.value_; }
  static bool Less(HardExtended a, HardExtended b) { return __builtin_isless(a.value_, b.value_); }
  static bool LessEqual(HardExtended a, HardExtended b) { return __builtin_islessequal(a.value_, b.value_); }
  static bool Unordered(HardExtended a, HardExtended b) { return __builtin_isunordered(a.value_, b.value_); }

  // The current control word gives 64-bit significands, rounded to nearest.
  static bool PrecisionFits();

 private:
  long double value_ = 0.0L;
};

#endif
