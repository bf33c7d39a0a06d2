// Comparison, conversions and truncation in the software extended format.
#include <bit>
#include <cstdint>

#include "extended/soft_core.h"

namespace {

constexpr uint64_t kDoubleSignBit = 0x8000000000000000ull;
constexpr uint64_t kDoubleFractionMask = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t kDoubleQuietBit = 0x0008000000000000ull;
constexpr uint64_t kDoubleInfinity = 0x7FF0000000000000ull;
constexpr uint64_t kDoubleIndefinite = 0xFFF8000000000000ull;
constexpr int32_t kDoubleBias = 1023;

// Rounds sig / 2^shift to nearest-even; any shift >= 0.
uint64_t RoundShiftRight(uint64_t sig, int64_t shift) {
  if (shift == 0) return sig;
  if (shift > 64) return 0;  // below half of one unit
  const uint64_t kept = shift == 64 ? 0 : sig >> shift;
  const uint64_t rest = shift == 64 ? sig : sig & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  return (rest > half || (rest == half && (kept & 1))) ? kept + 1 : kept;
}

}  // namespace

SoftCompareResult SoftCompare(ExtendedBits a, ExtendedBits b) {
  const ExtendedClass aClass = ClassifyExtended(a);
  const ExtendedClass bClass = ClassifyExtended(b);
  // A quiet comparison: only signalling NaNs and unsupported encodings raise invalid.
  const auto raises = [](ExtendedClass c) {
    return c == ExtendedClass::SignalingNaN || c == ExtendedClass::Unsupported;
  };
  if (raises(aClass) || raises(bClass)) return {SoftOrder::Unordered, kFloatTrapInvalid};
  if (IsNaNClass(aClass) || IsNaNClass(bClass)) return {SoftOrder::Unordered, 0};
  const bool aZero = aClass == ExtendedClass::Zero;
  const bool bZero = bClass == ExtendedClass::Zero;
  if (aZero && bZero) return {SoftOrder::Equal, 0};
  // Map each value to a key that orders like the real line.
  const auto magnitude = [](ExtendedBits x, ExtendedClass c) -> UInt128 {
    if (c == ExtendedClass::Zero) return {0, 0};
    if (c == ExtendedClass::Infinity) return {0xFFFFFFFFu, 0};
    const SoftFinite f = SoftUnpack(x);
    // Exponents of finite values lie above -16383 - 63 - 1: offset them positive.
    return {static_cast<uint64_t>(f.exponent + 0x10000), f.significand};
  };
  // A zero's sign may be either: against a nonzero value the order is the same.
  const bool aNegative = SignOf(a);
  const bool bNegative = SignOf(b);
  const UInt128 aKey = magnitude(a, aClass);
  const UInt128 bKey = magnitude(b, bClass);
  if (aNegative != bNegative) return {aNegative ? SoftOrder::Less : SoftOrder::Greater, 0};
  if (aKey == bKey) return {SoftOrder::Equal, 0};
  const bool aBelow = aNegative ? Less(bKey, aKey) : Less(aKey, bKey);
  return {aBelow ? SoftOrder::Less : SoftOrder::Greater, 0};
}

ExtendedBits SoftFromInt32(int32_t value) {
  if (value == 0) return SignedZero(false);
  const bool negative = value < 0;
  const uint64_t magnitude =
      negative ? uint64_t{0} - static_cast<uint64_t>(static_cast<int64_t>(value)) : static_cast<uint64_t>(value);
  const int shift = std::countl_zero(magnitude);
  const auto biased = static_cast<uint16_t>(kExtendedBias + 63 - shift);
  return {static_cast<uint16_t>((negative ? kExtendedSignBit : 0) | biased), magnitude << shift};
}

SoftResult SoftFromDouble(uint64_t doubleBits) {
  const bool negative = (doubleBits & kDoubleSignBit) != 0;
  const uint16_t sign = negative ? kExtendedSignBit : 0;
  const auto biased = static_cast<int32_t>((doubleBits >> 52) & 0x7FF);
  const uint64_t fraction = doubleBits & kDoubleFractionMask;
  if (biased == 0x7FF) {
    if (fraction == 0) return {SignedInfinity(negative), 0};
    // Loading a signalling NaN raises invalid and makes it quiet.
    const bool signaling = (fraction & kDoubleQuietBit) == 0;
    const ExtendedBits nan{static_cast<uint16_t>(sign | kExtendedExponentMask),
                           kExtendedIntegerBit | kExtendedQuietBit | (fraction << 11)};
    return {nan, signaling ? kFloatTrapInvalid : 0};
  }
  if (biased == 0) {
    if (fraction == 0) return {SignedZero(negative), 0};
    const int shift = std::countl_zero(fraction);
    // fraction * 2^-1074 with its top bit moved to bit 63.
    const int32_t exponent = -1074 + 63 - shift;
    return {{static_cast<uint16_t>(sign | (exponent + kExtendedBias)), fraction << shift}, 0};
  }
  const int32_t exponent = biased - kDoubleBias;
  return {{static_cast<uint16_t>(sign | (exponent + kExtendedBias)), kExtendedIntegerBit | (fraction << 11)}, 0};
}

SoftDoubleResult SoftToDouble(ExtendedBits x) {
  const bool negative = SignOf(x);
  const uint64_t sign = negative ? kDoubleSignBit : 0;
  switch (ClassifyExtended(x)) {
    case ExtendedClass::Unsupported: return {kDoubleIndefinite, kFloatTrapInvalid};
    case ExtendedClass::QuietNaN:
    case ExtendedClass::SignalingNaN: {
      // The NaN keeps its upper fraction bits; the rest are dropped.
      const bool signaling = ClassifyExtended(x) == ExtendedClass::SignalingNaN;
      const uint64_t fraction = ((x.significand >> 11) & kDoubleFractionMask) | kDoubleQuietBit;
      return {sign | kDoubleInfinity | fraction, signaling ? kFloatTrapInvalid : 0};
    }
    case ExtendedClass::Infinity: return {sign | kDoubleInfinity, 0};
    case ExtendedClass::Zero: return {sign, 0};
    case ExtendedClass::Normal:
    case ExtendedClass::Denormal: break;
  }
  const SoftFinite f = SoftUnpack(x);
  const int64_t biased = static_cast<int64_t>(f.exponent) + kDoubleBias;
  // 53 significant bits for a normal double, fewer below its range. The
  // rounded significand is added onto the exponent field so that a carry
  // out of it raises the exponent by itself.
  if (biased >= 0x7FF) return {sign | kDoubleInfinity, kFloatTrapOverflow};
  if (biased >= 1) {
    const uint64_t rounded = RoundShiftRight(f.significand, 11);
    const uint64_t bits = (static_cast<uint64_t>(biased - 1) << 52) + rounded;
    if (bits >= kDoubleInfinity) return {sign | kDoubleInfinity, kFloatTrapOverflow};
    return {sign | bits, 0};
  }
  return {sign | RoundShiftRight(f.significand, 11 + (1 - biased)), 0};
}

ExtendedBits SoftTrunc(ExtendedBits x) {
  switch (ClassifyExtended(x)) {
    case ExtendedClass::Unsupported: return kRealIndefinite;
    case ExtendedClass::QuietNaN:
    case ExtendedClass::SignalingNaN: return {x.signExponent, x.significand | kExtendedQuietBit};
    case ExtendedClass::Zero:
    case ExtendedClass::Infinity: return x;
    case ExtendedClass::Normal:
    case ExtendedClass::Denormal: break;
  }
  const SoftFinite f = SoftUnpack(x);
  if (f.exponent < 0) return SignedZero(f.negative);
  if (f.exponent >= 63) return x;
  const uint64_t integral = f.significand & ~((uint64_t{1} << (63 - f.exponent)) - 1);
  return {x.signExponent, integral};
}

ExtendedBits SoftFrac(ExtendedBits x) { return SoftSub(x, SoftTrunc(x)).value; }

int64_t SoftTruncToInt64(ExtendedBits x) {
  constexpr int64_t indefinite = INT64_MIN;
  const ExtendedClass c = ClassifyExtended(x);
  if (c == ExtendedClass::Zero) return 0;
  if (c != ExtendedClass::Normal && c != ExtendedClass::Denormal) return indefinite;
  const SoftFinite f = SoftUnpack(x);
  if (f.exponent < 0) return 0;
  if (f.exponent >= 63) return indefinite;  // -2^63 itself is the indefinite pattern as well
  const uint64_t magnitude = f.significand >> (63 - f.exponent);
  return f.negative ? static_cast<int64_t>(uint64_t{0} - magnitude) : static_cast<int64_t>(magnitude);
}
