// Addition, subtraction, multiplication and division in the software
// extended format: exact intermediate result, one rounding.
#include "extended/soft_core.h"

namespace {

bool MagnitudeLess(const SoftFinite &a, const SoftFinite &b) {
  return a.exponent < b.exponent || (a.exponent == b.exponent && a.significand < b.significand);
}

// a + b for finite operands (b's sign already adjusted for subtraction).
SoftResult AddFinite(ExtendedBits aBits, ExtendedBits bBits, bool bNegative) {
  const ExtendedClass aClass = ClassifyExtended(aBits);
  const ExtendedClass bClass = ClassifyExtended(bBits);
  const bool aNegative = SignOf(aBits);
  if (aClass == ExtendedClass::Zero && bClass == ExtendedClass::Zero) {
    return {SignedZero(aNegative && bNegative), 0};
  }
  // Adding zero re-encodes the other operand (a pseudo-denormal comes out normal).
  if (aClass == ExtendedClass::Zero || bClass == ExtendedClass::Zero) {
    SoftFinite only = SoftUnpack(aClass == ExtendedClass::Zero ? bBits : aBits);
    if (aClass == ExtendedClass::Zero) only.negative = bNegative;
    return SoftRoundPack(only.negative, only.exponent, {only.significand, 0});
  }
  SoftFinite big = SoftUnpack(aBits);
  SoftFinite small = SoftUnpack(bBits);
  small.negative = bNegative;
  if (MagnitudeLess(big, small)) {
    const SoftFinite t = big;
    big = small;
    small = t;
  }
  const int64_t distance = static_cast<int64_t>(big.exponent) - small.exponent;
  const UInt128 bigSig{big.significand, 0};
  const UInt128 smallSig = ShiftRightSticky({small.significand, 0}, distance > 128 ? 128 : static_cast<int>(distance));
  int32_t exponent = big.exponent;
  if (big.negative == small.negative) {
    bool carry = false;
    UInt128 sum = Add(bigSig, smallSig, carry);
    if (carry) {
      sum = ShiftRightSticky(sum, 1);
      sum.hi |= kExtendedIntegerBit;
      ++exponent;
    }
    return SoftRoundPack(big.negative, exponent, sum);
  }
  UInt128 difference = Sub(bigSig, smallSig);
  if (IsZero(difference)) return {SignedZero(false), 0};  // x - x is +0 when rounding to nearest
  const int shift = CountLeadingZeros(difference);
  return SoftRoundPack(big.negative, exponent - shift, ShiftLeft(difference, shift));
}

SoftResult AddSigned(ExtendedBits a, ExtendedBits b, bool negateB) {
  const ExtendedClass aClass = ClassifyExtended(a);
  const ExtendedClass bClass = ClassifyExtended(b);
  if (aClass == ExtendedClass::Unsupported || bClass == ExtendedClass::Unsupported) return InvalidResult();
  if (IsNaNClass(aClass) || IsNaNClass(bClass)) return SoftPropagateNaN(a, b);
  const bool bNegative = SignOf(b) != negateB;
  if (aClass == ExtendedClass::Infinity) {
    if (bClass == ExtendedClass::Infinity && SignOf(a) != bNegative) return InvalidResult();
    return {a, 0};
  }
  if (bClass == ExtendedClass::Infinity) return {SignedInfinity(bNegative), 0};
  return AddFinite(a, b, bNegative);
}

}  // namespace

SoftResult SoftAdd(ExtendedBits a, ExtendedBits b) { return AddSigned(a, b, false); }

SoftResult SoftSub(ExtendedBits a, ExtendedBits b) { return AddSigned(a, b, true); }

SoftResult SoftMul(ExtendedBits a, ExtendedBits b) {
  const ExtendedClass aClass = ClassifyExtended(a);
  const ExtendedClass bClass = ClassifyExtended(b);
  if (aClass == ExtendedClass::Unsupported || bClass == ExtendedClass::Unsupported) return InvalidResult();
  if (IsNaNClass(aClass) || IsNaNClass(bClass)) return SoftPropagateNaN(a, b);
  const bool negative = SignOf(a) != SignOf(b);
  const bool aInfinite = aClass == ExtendedClass::Infinity;
  const bool bInfinite = bClass == ExtendedClass::Infinity;
  if (aInfinite || bInfinite) {
    if (aClass == ExtendedClass::Zero || bClass == ExtendedClass::Zero) return InvalidResult();
    return {SignedInfinity(negative), 0};
  }
  if (aClass == ExtendedClass::Zero || bClass == ExtendedClass::Zero) return {SignedZero(negative), 0};
  const SoftFinite x = SoftUnpack(a);
  const SoftFinite y = SoftUnpack(b);
  UInt128 product = Multiply64(x.significand, y.significand);  // in [2^126, 2^128)
  int32_t exponent = x.exponent + y.exponent + 1;
  if ((product.hi & kExtendedIntegerBit) == 0) {
    product = ShiftLeft(product, 1);
    --exponent;
  }
  return SoftRoundPack(negative, exponent, product);
}

SoftResult SoftDiv(ExtendedBits a, ExtendedBits b) {
  const ExtendedClass aClass = ClassifyExtended(a);
  const ExtendedClass bClass = ClassifyExtended(b);
  if (aClass == ExtendedClass::Unsupported || bClass == ExtendedClass::Unsupported) return InvalidResult();
  if (IsNaNClass(aClass) || IsNaNClass(bClass)) return SoftPropagateNaN(a, b);
  const bool negative = SignOf(a) != SignOf(b);
  const bool aInfinite = aClass == ExtendedClass::Infinity;
  const bool bInfinite = bClass == ExtendedClass::Infinity;
  const bool aZero = aClass == ExtendedClass::Zero;
  const bool bZero = bClass == ExtendedClass::Zero;
  if ((aInfinite && bInfinite) || (aZero && bZero)) return InvalidResult();
  if (aInfinite) return {SignedInfinity(negative), 0};
  if (bInfinite || aZero) return {SignedZero(negative), 0};
  if (bZero) return {SignedInfinity(negative), kFloatTrapZeroDivide};

  const SoftFinite x = SoftUnpack(a);
  const SoftFinite y = SoftUnpack(b);
  // Restoring division: 64 quotient bits, then the remainder tells the
  // round bit and whether anything lies beyond it.
  const uint64_t divisor = y.significand;
  int32_t exponent = x.exponent - y.exponent;
  uint64_t remainder = x.significand;
  uint64_t quotient = 0;
  int steps = 64;
  if (remainder >= divisor) {
    remainder -= divisor;
    quotient = 1;
    steps = 63;
  } else {
    --exponent;
  }
  for (int i = 0; i < steps; ++i) {
    const bool top = (remainder >> 63) != 0;
    remainder <<= 1;
    quotient <<= 1;
    if (top || remainder >= divisor) {
      remainder -= divisor;  // wraps back into range when `top` was set
      quotient |= 1;
    }
  }
  const bool top = (remainder >> 63) != 0;
  const uint64_t twice = remainder << 1;
  const bool roundBit = top || twice >= divisor;
  const bool sticky = roundBit ? (twice - divisor) != 0 : remainder != 0;
  const UInt128 sig{quotient, (roundBit ? kExtendedIntegerBit : 0) | (sticky ? 1u : 0u)};
  return SoftRoundPack(negative, exponent, sig);
}
