// The x87 80-bit extended format computed in integer arithmetic: the same
// results, bit for bit, as the hardware under control word 0x1332 (64-bit
// significand, round to nearest-even, denormal/underflow/precision masked).
// Invalid operation, zero divide and overflow go to softFloatTrap, from the
// routine that calls the operation: every operation that can raise one is
// inlined into its caller.
//
// Encodings the hardware rejects (unnormals, pseudo-infinities, pseudo-NaNs:
// integer bit clear with a nonzero exponent) are invalid operands here too:
// arithmetic and conversion give real indefinite and raise invalid.
// Pseudo-denormals (exponent 0, integer bit set) are read as the hardware
// reads them, at the minimum exponent, and results never use them.
#pragma once

#include <bit>
#include <cstdint>

#include "extended/extended_queries.h"
#include "extended/soft_core.h"
#include "extended/soft_float_trap.h"

class SoftExtended : public ExtendedQueries<SoftExtended> {
 public:
  constexpr SoftExtended() = default;  // +0
  static constexpr SoftExtended FromBits(uint16_t signExponent, uint64_t significand) {
    return SoftExtended(ExtendedBits{signExponent, significand});
  }
  static constexpr SoftExtended FromBits(ExtendedBits bits) { return SoftExtended(bits); }
  constexpr uint16_t SignExponent() const { return bits_.signExponent; }
  constexpr uint64_t Significand() const { return bits_.significand; }
  constexpr ExtendedBits Bits() const { return bits_; }

  // Exact. A signalling NaN double raises invalid and arrives quiet.
  static SoftExtended FromInt32(int32_t value) { return SoftExtended(SoftFromInt32(value)); }
  [[gnu::always_inline]] static SoftExtended FromDouble(double value) {
    return Reported(SoftFromDouble(std::bit_cast<uint64_t>(value)));
  }
  // Rounded to nearest-even; beyond the double range: overflow.
  [[gnu::always_inline]] double ToDouble() const {
    const SoftDoubleResult r = SoftToDouble(bits_);
    if (r.raised != 0) ReportSoftFloatTraps(r.raised);
    return std::bit_cast<double>(r.bits);
  }

  // Toward zero; these never report an exception.
  SoftExtended Trunc() const { return SoftExtended(SoftTrunc(bits_)); }
  SoftExtended Frac() const { return SoftExtended(SoftFrac(bits_)); }
  int64_t TruncToInt64() const { return SoftTruncToInt64(bits_); }

  [[gnu::always_inline]] static SoftExtended Add(SoftExtended a, SoftExtended b) {
    return Reported(SoftAdd(a.bits_, b.bits_));
  }
  [[gnu::always_inline]] static SoftExtended Sub(SoftExtended a, SoftExtended b) {
    return Reported(SoftSub(a.bits_, b.bits_));
  }
  [[gnu::always_inline]] static SoftExtended Mul(SoftExtended a, SoftExtended b) {
    return Reported(SoftMul(a.bits_, b.bits_));
  }
  [[gnu::always_inline]] static SoftExtended Div(SoftExtended a, SoftExtended b) {
    return Reported(SoftDiv(a.bits_, b.bits_));
  }

  // Quiet comparisons: a NaN makes every one but Unordered false; only a
  // signalling NaN or an unsupported encoding raises invalid.
  [[gnu::always_inline]] static bool Equal(SoftExtended a, SoftExtended b) {
    return Compared(a, b) == SoftOrder::Equal;
  }
  [[gnu::always_inline]] static bool Less(SoftExtended a, SoftExtended b) { return Compared(a, b) == SoftOrder::Less; }
  [[gnu::always_inline]] static bool LessEqual(SoftExtended a, SoftExtended b) {
    const SoftOrder order = Compared(a, b);
    return order == SoftOrder::Less || order == SoftOrder::Equal;
  }
  [[gnu::always_inline]] static bool Unordered(SoftExtended a, SoftExtended b) {
    return Compared(a, b) == SoftOrder::Unordered;
  }

 private:
  constexpr explicit SoftExtended(ExtendedBits bits) : bits_(bits) {}
  [[gnu::always_inline]] static SoftExtended Reported(SoftResult r) {
    if (r.raised != 0) ReportSoftFloatTraps(r.raised);
    return SoftExtended(r.value);
  }
  [[gnu::always_inline]] static SoftOrder Compared(SoftExtended a, SoftExtended b) {
    const SoftCompareResult r = SoftCompare(a.bits_, b.bits_);
    if (r.raised != 0) ReportSoftFloatTraps(r.raised);
    return r.order;
  }

  ExtendedBits bits_;
};
