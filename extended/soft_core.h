// Internal to the software extended format: operations on bit patterns that
// return the raised exceptions instead of reporting them. SoftExtended wraps
// these; Trunc and Frac call them and drop the exceptions.
#pragma once

#include <cstdint>

#include "extended/extended_bits.h"
#include "extended/uint128.h"

struct SoftResult {
  ExtendedBits value;
  int raised = 0;  // kFloatTrap* bits
};

enum class SoftOrder { Less, Equal, Greater, Unordered };

struct SoftCompareResult {
  SoftOrder order;
  int raised = 0;
};

struct SoftDoubleResult {
  uint64_t bits;
  int raised = 0;
};

SoftResult SoftAdd(ExtendedBits a, ExtendedBits b);
SoftResult SoftSub(ExtendedBits a, ExtendedBits b);
SoftResult SoftMul(ExtendedBits a, ExtendedBits b);
SoftResult SoftDiv(ExtendedBits a, ExtendedBits b);
SoftCompareResult SoftCompare(ExtendedBits a, ExtendedBits b);

ExtendedBits SoftFromInt32(int32_t value);
SoftResult SoftFromDouble(uint64_t doubleBits);
SoftDoubleResult SoftToDouble(ExtendedBits x);

// Truncation toward zero to an integral value, all exceptions masked.
ExtendedBits SoftTrunc(ExtendedBits x);
// x - trunc(x), all exceptions masked.
ExtendedBits SoftFrac(ExtendedBits x);
// Truncation to a 64-bit integer; out of range and NaN give INT64_MIN.
int64_t SoftTruncToInt64(ExtendedBits x);

// ---- helpers shared by the files of the software format ----

// A finite nonzero value, normalised: significand has bit 63 set and the
// value is significand * 2^(exponent - 63); exponent is unbiased.
struct SoftFinite {
  bool negative;
  int32_t exponent;
  uint64_t significand;
};

// Requires a Normal or Denormal class. Denormals (pseudo-denormals too) use
// the minimum exponent, as the hardware reads them.
SoftFinite SoftUnpack(ExtendedBits x);

// Rounds sig * 2^(exponent - 127) (bit 127 of sig set; bit 0 may be a sticky
// bit) to nearest-even into the format. Tiny results become denormals or zero
// silently; results beyond the largest finite raise overflow and give infinity.
SoftResult SoftRoundPack(bool negative, int32_t exponent, UInt128 sig);

// The result of an operation with at least one NaN operand and no unsupported
// one: the NaN with the larger significand (the positive one on a tie), made
// quiet; invalid is raised when a signalling NaN took part.
SoftResult SoftPropagateNaN(ExtendedBits a, ExtendedBits b);

constexpr bool IsNaNClass(ExtendedClass c) { return c == ExtendedClass::QuietNaN || c == ExtendedClass::SignalingNaN; }

constexpr bool SignOf(ExtendedBits x) { return (x.signExponent & kExtendedSignBit) != 0; }

constexpr ExtendedBits SignedZero(bool negative) { return {static_cast<uint16_t>(negative ? kExtendedSignBit : 0), 0}; }

constexpr ExtendedBits SignedInfinity(bool negative) {
  return {static_cast<uint16_t>((negative ? kExtendedSignBit : 0) | kExtendedExponentMask), kExtendedIntegerBit};
}

inline SoftResult InvalidResult() { return {kRealIndefinite, kFloatTrapInvalid}; }
