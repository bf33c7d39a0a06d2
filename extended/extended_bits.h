// The x87 80-bit extended format as a bit pattern, and its classification.
// Shared by the software and the hardware implementation.
#pragma once

#include <cstdint>

struct ExtendedBits {
  uint16_t signExponent = 0;  // bit 15 sign, bits 14..0 biased exponent
  uint64_t significand = 0;   // bit 63 is the explicit integer bit

  friend constexpr bool operator==(const ExtendedBits &, const ExtendedBits &) = default;
};

constexpr int32_t kExtendedBias = 16383;
constexpr uint16_t kExtendedSignBit = 0x8000;
constexpr uint16_t kExtendedExponentMask = 0x7FFF;
constexpr uint64_t kExtendedIntegerBit = 0x8000000000000000ull;
constexpr uint64_t kExtendedQuietBit = 0x4000000000000000ull;

// What the hardware produces for an invalid operation when it is masked.
constexpr ExtendedBits kRealIndefinite{0xFFFF, 0xC000000000000000ull};

enum class ExtendedClass {
  Zero,
  Denormal,  // exponent 0, significand not 0 (pseudo-denormals included)
  Normal,
  Infinity,
  QuietNaN,
  SignalingNaN,
  Unsupported,  // integer bit clear with exponent not 0: unnormals, pseudo-NaN, pseudo-infinity
};

constexpr ExtendedClass ClassifyExtended(ExtendedBits x) {
  const uint16_t exponent = x.signExponent & kExtendedExponentMask;
  const bool integerBit = (x.significand & kExtendedIntegerBit) != 0;
  if (exponent == 0) return x.significand == 0 ? ExtendedClass::Zero : ExtendedClass::Denormal;
  if (!integerBit) return ExtendedClass::Unsupported;
  if (exponent != kExtendedExponentMask) return ExtendedClass::Normal;
  if ((x.significand << 1) == 0) return ExtendedClass::Infinity;
  return (x.significand & kExtendedQuietBit) ? ExtendedClass::QuietNaN : ExtendedClass::SignalingNaN;
}

// The floating exceptions as the x87 status and control words number them.
// Only these three are ever reported; denormal, underflow and precision
// stay masked for the whole run.
constexpr int kFloatTrapInvalid = 0x01;
constexpr int kFloatTrapZeroDivide = 0x04;
constexpr int kFloatTrapOverflow = 0x08;
constexpr int kFloatTrapMask = kFloatTrapInvalid | kFloatTrapZeroDivide | kFloatTrapOverflow;
