// The trap hook of the software format: called once per exception the x87
// would trap on, with its exception code, and never for the masked ones;
// without a hook (or after it returns) the operation gives the masked
// default result.
#include <gtest/gtest.h>

#include <cstdint>

#include "extended/soft_extended.h"

namespace {

int calls = 0;
DWORD codes[4] = {};

void WINAPI Record(DWORD code, DWORD flags, DWORD count, const ULONG_PTR *arguments) {
  if (calls < 4) codes[calls] = flags == 0 && count == 0 && arguments == nullptr ? code : 0;
  ++calls;
}

SoftExtended B(uint16_t signExponent, uint64_t significand) {
  return SoftExtended::FromBits(signExponent, significand);
}

const SoftExtended kZero = B(0x0000, 0), kOne = B(0x3FFF, 0x8000000000000000);
const SoftExtended kMax = B(0x7FFE, 0xFFFFFFFFFFFFFFFF), kInf = B(0x7FFF, 0x8000000000000000);
const SoftExtended kSignalingNaN = B(0x7FFF, 0x8000000000000001);

struct HookCase {
  const char *name;
  SoftExtended (*operation)();
  DWORD expectedCode;  // 0: the hook must not be called
};

const HookCase kHookCases[] = {
    {"ZeroByZeroTrapsInvalid", [] { return kZero / kZero; }, EXCEPTION_FLT_INVALID_OPERATION},
    {"OneByZeroTrapsZeroDivide", [] { return kOne / kZero; }, EXCEPTION_FLT_DIVIDE_BY_ZERO},
    {"OverflowTraps", [] { return kMax * kMax; }, EXCEPTION_FLT_OVERFLOW},
    {"NarrowingOverflowTraps", [] { return SoftExtended::FromDouble(kMax.ToDouble()); }, EXCEPTION_FLT_OVERFLOW},
    {"SignalingNaNOperandTrapsInvalid", [] { return kSignalingNaN + kOne; }, EXCEPTION_FLT_INVALID_OPERATION},
    {"SignalingNaNCompareTrapsInvalid", [] { return kSignalingNaN < kOne ? kOne : kZero; },
     EXCEPTION_FLT_INVALID_OPERATION},
    {"UnderflowToZeroIsMasked", [] { return B(0x0000, 1) * B(0x3FFE, 0x8000000000000000); }, 0},
    {"InexactIsMasked", [] { return kOne / B(0x4000, 0xC000000000000000); }, 0},
    {"FracOfInfinityIsMasked", [] { return kInf.Frac(); }, 0},
    {"TruncOfSignalingNaNIsMasked", [] { return kSignalingNaN.Trunc(); }, 0},
};

TEST(SoftFloatTrap, HookSeesEachTrappingExceptionOnce) {
  for (const HookCase &c : kHookCases) {
    calls = 0;
    softFloatTrap = &Record;
    const SoftExtended withHook = c.operation();
    softFloatTrap = nullptr;
    const SoftExtended withoutHook = c.operation();
    EXPECT_EQ(calls, c.expectedCode == 0 ? 0 : 1) << c.name;
    if (c.expectedCode != 0) {
      EXPECT_EQ(codes[0], c.expectedCode) << c.name;
    }
    // A hook that returns changes nothing about the result.
    EXPECT_EQ(withHook.Bits(), withoutHook.Bits()) << c.name;
  }
}

TEST(SoftFloatTrap, WithoutHookInvalidGivesRealIndefinite) {
  softFloatTrap = nullptr;
  EXPECT_EQ((kInf - kInf).Bits(), kRealIndefinite);
}

}  // namespace
