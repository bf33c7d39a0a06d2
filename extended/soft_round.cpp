// Unpacking, rounding and NaN selection for the software extended format.
#include <bit>

#include "extended/soft_core.h"

SoftFinite SoftUnpack(ExtendedBits x) {
  const int32_t biased = x.signExponent & kExtendedExponentMask;
  SoftFinite f{SignOf(x), (biased == 0 ? 1 : biased) - kExtendedBias, x.significand};
  const int shift = std::countl_zero(f.significand);
  f.significand <<= shift;
  f.exponent -= shift;
  return f;
}

namespace {

// Keeps the upper half, rounding on the lower half to nearest-even.
// `carry` is set when the upper half overflowed to 2^64 (it is then 0).
uint64_t RoundUpperHalf(UInt128 sig, bool &carry) {
  constexpr uint64_t half = 0x8000000000000000ull;
  uint64_t kept = sig.hi;
  carry = false;
  if (sig.lo > half || (sig.lo == half && (kept & 1) != 0)) {
    ++kept;
    carry = kept == 0;
  }
  return kept;
}

}  // namespace

SoftResult SoftRoundPack(bool negative, int32_t exponent, UInt128 sig) {
  const uint16_t sign = negative ? kExtendedSignBit : 0;
  int32_t biased = exponent + kExtendedBias;
  bool carry = false;
  if (biased >= 1) {
    uint64_t kept = RoundUpperHalf(sig, carry);
    if (carry) {
      kept = kExtendedIntegerBit;
      ++biased;
    }
    if (biased >= kExtendedExponentMask) return {SignedInfinity(negative), kFloatTrapOverflow};
    return {{static_cast<uint16_t>(sign | biased), kept}, 0};
  }
  // Below the normal range: denormalise first, then round once.
  const int64_t shift = 1 - static_cast<int64_t>(biased);
  const UInt128 denormal = ShiftRightSticky(sig, shift > 128 ? 128 : static_cast<int>(shift));
  const uint64_t kept = RoundUpperHalf(denormal, carry);
  // Rounding up into bit 63 reaches the smallest normal number.
  const uint16_t field = (kept & kExtendedIntegerBit) ? 1 : 0;
  return {{static_cast<uint16_t>(sign | field), kept}, 0};
}

SoftResult SoftPropagateNaN(ExtendedBits a, ExtendedBits b) {
  const bool aNaN = IsNaNClass(ClassifyExtended(a));
  const bool bNaN = IsNaNClass(ClassifyExtended(b));
  const bool signaling =
      ClassifyExtended(a) == ExtendedClass::SignalingNaN || ClassifyExtended(b) == ExtendedClass::SignalingNaN;
  ExtendedBits chosen;
  if (aNaN && bNaN) {
    if (a.significand != b.significand) {
      chosen = a.significand > b.significand ? a : b;
    } else {
      chosen = SignOf(a) ? b : a;
    }
  } else {
    chosen = aNaN ? a : b;
  }
  chosen.significand |= kExtendedQuietBit;
  return {chosen, signaling ? kFloatTrapInvalid : 0};
}
