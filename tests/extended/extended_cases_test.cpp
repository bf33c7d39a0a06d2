// Hand-derived results of both extended implementations: rounding ties,
// the ends of the exponent range, signed zeros, the exceptions and the
// default results that stand in for a trap.
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/extended/extended_runner.h"

namespace {

constexpr ExtendedBits X(uint16_t signExponent, uint64_t significand) { return {signExponent, significand}; }
// Results that are a double, an int64 or a comparison mask.
constexpr ExtendedBits S(uint64_t bits) { return {0, bits}; }

constexpr ExtendedBits kZero = X(0x0000, 0), kNegZero = X(0x8000, 0);
constexpr ExtendedBits kOne = X(0x3FFF, 0x8000000000000000), kNegOne = X(0xBFFF, 0x8000000000000000);
constexpr ExtendedBits kTwo = X(0x4000, 0x8000000000000000), kThree = X(0x4000, 0xC000000000000000);
constexpr ExtendedBits kTen = X(0x4002, 0xA000000000000000), kHalf = X(0x3FFE, 0x8000000000000000);
constexpr ExtendedBits kMax = X(0x7FFE, 0xFFFFFFFFFFFFFFFF), kNegMax = X(0xFFFE, 0xFFFFFFFFFFFFFFFF);
constexpr ExtendedBits kMinNormal = X(0x0001, 0x8000000000000000);
constexpr ExtendedBits kMinDenormal = X(0x0000, 0x0000000000000001);
constexpr ExtendedBits kInf = X(0x7FFF, 0x8000000000000000), kNegInf = X(0xFFFF, 0x8000000000000000);
constexpr ExtendedBits kIndefinite = X(0xFFFF, 0xC000000000000000);
constexpr ExtendedBits kQuietNaN = X(0x7FFF, 0xC000000000000001);
constexpr ExtendedBits kSignalingNaN = X(0x7FFF, 0x8000000000000001);
constexpr ExtendedBits kUnnormal = X(0x3FFF, 0x4000000000000000);
constexpr ExtendedBits kPseudoInfinity = X(0x7FFF, 0x0000000000000000);
constexpr ExtendedBits kPseudoDenormal = X(0x0000, 0x8000000000000000);

constexpr int IE = kFloatTrapInvalid, ZE = kFloatTrapZeroDivide, OE = kFloatTrapOverflow;
constexpr uint64_t kEq = kCompareEqual | kCompareLessEqual, kLt = kCompareLess | kCompareLessEqual;
constexpr uint64_t kGt = 0, kUn = kCompareUnordered;

struct Case {
  const char *name;
  Op op;
  Operands in;
  Outcome expected;
};

Operands Of(ExtendedBits a, ExtendedBits b = {}) { return {a, b, 0}; }
Operands Scalar(uint64_t bits) { return {{}, {}, bits}; }

const Case kCases[] = {
    // Division: the quotients the converter's constants come from.
    {"OneThirdRoundsUp", Op::Div, Of(kOne, kThree), {X(0x3FFD, 0xAAAAAAAAAAAAAAAB), 0}},
    {"TwoThirdsRoundsUp", Op::Div, Of(kTwo, kThree), {X(0x3FFE, 0xAAAAAAAAAAAAAAAB), 0}},
    {"OneTenthRoundsUp", Op::Div, Of(kOne, kTen), {X(0x3FFB, 0xCCCCCCCCCCCCCCCD), 0}},
    // Ties go to the even significand, in both directions.
    {"HalfUlpTieStaysEven", Op::Add, Of(kOne, X(0x3FBF, 0x8000000000000000)), {kOne, 0}},
    {"HalfUlpTieRoundsUpToEven",
     Op::Add,
     Of(X(0x3FFF, 0x8000000000000001), X(0x3FBF, 0x8000000000000000)),
     {X(0x3FFF, 0x8000000000000002), 0}},
    {"JustAboveTieRoundsUp", Op::Add, Of(kOne, X(0x3FBF, 0x8000000000000001)), {X(0x3FFF, 0x8000000000000001), 0}},
    {"CancellationIsExact", Op::Sub, Of(kOne, X(0x3FFE, 0xFFFFFFFFFFFFFFFF)), {X(0x3FBF, 0x8000000000000000), 0}},
    {"BorrowTieRoundsBackToOne", Op::Sub, Of(kOne, X(0x3FBE, 0x8000000000000000)), {kOne, 0}},
    // Signed zeros under round to nearest.
    {"NegativeZerosSumToNegativeZero", Op::Add, Of(kNegZero, kNegZero), {kNegZero, 0}},
    {"MixedZerosSumToPositiveZero", Op::Add, Of(kNegZero, kZero), {kZero, 0}},
    {"EqualValuesCancelToPositiveZero",
     Op::Sub,
     Of(X(0xC000, 0xC000000000000000), X(0xC000, 0xC000000000000000)),
     {kZero, 0}},
    {"ZeroProductTakesXorSign", Op::Mul, Of(kNegZero, kThree), {kNegZero, 0}},
    // The top of the range: overflow after rounding, too.
    {"DoublingLargestOverflows", Op::Add, Of(kMax, kMax), {kInf, OE}},
    {"TieAtLargestRoundsToOverflow", Op::Add, Of(kMax, X(0x7FBE, 0x8000000000000000)), {kInf, OE}},
    {"BelowTieAtLargestStaysFinite", Op::Add, Of(kMax, X(0x7FBD, 0xFFFFFFFFFFFFFFFF)), {kMax, 0}},
    {"NegativeOverflowGivesNegativeInfinity", Op::Mul, Of(kNegMax, kTwo), {kNegInf, OE}},
    {"LargestTimesSmallestNormalIsExact", Op::Mul, Of(kMax, kMinNormal), {X(0x4000, 0xFFFFFFFFFFFFFFFF), 0}},
    // The bottom of the range: denormal results, rounded once, silently.
    {"HalvingSmallestNormalGivesDenormal", Op::Div, Of(kMinNormal, kTwo), {X(0x0000, 0x4000000000000000), 0}},
    {"HalfOfSmallestDenormalTiesToZero", Op::Mul, Of(kMinDenormal, kHalf), {kZero, 0}},
    {"ThreeHalvesOfSmallestDenormalTiesToTwo", Op::Mul, Of(X(0x0000, 3), kHalf), {X(0x0000, 2), 0}},
    {"DenormalSumCarriesIntoNormal",
     Op::Add,
     Of(X(0x0000, 0x4000000000000000), X(0x0000, 0x4000000000000000)),
     {kMinNormal, 0}},
    {"DenormalResultRoundsUpToSmallestNormal", Op::Mul, Of(kMinNormal, X(0x3FFE, 0xFFFFFFFFFFFFFFFF)), {kMinNormal, 0}},
    {"SmallestDenormalScaledStaysDenormal",
     Op::Mul,
     Of(kMinDenormal, X(0x403D, 0x8000000000000000)),
     {X(0x0000, 0x4000000000000000), 0}},
    {"SmallestDenormalScaledToNormal", Op::Mul, Of(kMinDenormal, X(0x403E, 0x8000000000000000)), {kMinNormal, 0}},
    {"PseudoDenormalReadsAsSmallestNormal", Op::Add, Of(kPseudoDenormal, kZero), {kMinNormal, 0}},
    // Invalid operations and zero divide: the masked default results.
    {"ZeroByZeroIsInvalid", Op::Div, Of(kZero, kZero), {kIndefinite, IE}},
    {"InfinityMinusInfinityIsInvalid", Op::Sub, Of(kInf, kInf), {kIndefinite, IE}},
    {"ZeroTimesInfinityIsInvalid", Op::Mul, Of(kZero, kNegInf), {kIndefinite, IE}},
    {"InfinityByInfinityIsInvalid", Op::Div, Of(kInf, kNegInf), {kIndefinite, IE}},
    {"DivisionByNegativeZeroGivesSignedInfinity", Op::Div, Of(kOne, kNegZero), {kNegInf, ZE}},
    {"InfinityByZeroIsNoZeroDivide", Op::Div, Of(kInf, kZero), {kInf, 0}},
    {"FiniteByInfinityIsSignedZero", Op::Div, Of(kNegOne, kInf), {kNegZero, 0}},
    {"UnnormalOperandIsInvalid", Op::Add, Of(kUnnormal, kOne), {kIndefinite, IE}},
    {"PseudoInfinityOperandIsInvalid", Op::Mul, Of(kPseudoInfinity, kOne), {kIndefinite, IE}},
    {"UnsupportedOperandOutranksNaN", Op::Add, Of(kQuietNaN, kUnnormal), {kIndefinite, IE}},
    // NaN operands.
    {"QuietNaNPassesThrough", Op::Add, Of(kOne, kQuietNaN), {kQuietNaN, 0}},
    {"SignalingNaNIsQuietedAndInvalid", Op::Mul, Of(kSignalingNaN, kTwo), {kQuietNaN, IE}},
    {"LargerNaNSignificandWins",
     Op::Add,
     Of(kQuietNaN, X(0xFFFF, 0xC000000000000002)),
     {X(0xFFFF, 0xC000000000000002), 0}},
    {"EqualNaNSignificandsPreferPositive",
     Op::Sub,
     Of(X(0xFFFF, 0xC000000000000005), X(0x7FFF, 0xC000000000000005)),
     {X(0x7FFF, 0xC000000000000005), 0}},
    // Trunc and Frac: exact, and never an exception.
    {"TruncTwoAndAHalf", Op::Trunc, Of(X(0x4000, 0xA000000000000000)), {kTwo, 0}},
    {"FracTwoAndAHalf", Op::Frac, Of(X(0x4000, 0xA000000000000000)), {kHalf, 0}},
    {"TruncKeepsSignOfSmallNegative", Op::Trunc, Of(X(0xBFFE, 0xC000000000000000)), {kNegZero, 0}},
    {"FracOfNegativeIsNegative", Op::Frac, Of(X(0xC000, 0xA000000000000000)), {X(0xBFFE, 0x8000000000000000), 0}},
    {"FracOfNegativeIntegerIsPositiveZero", Op::Frac, Of(X(0xC000, 0xC000000000000000)), {kZero, 0}},
    {"TruncAtLastFractionBit", Op::Trunc, Of(X(0x403D, 0xC000000000000001)), {X(0x403D, 0xC000000000000000), 0}},
    {"FracAtLastFractionBit", Op::Frac, Of(X(0x403D, 0xC000000000000001)), {kHalf, 0}},
    {"TruncOfWholeSignificandIsIdentity",
     Op::Trunc,
     Of(X(0x403E, 0x8000000000000001)),
     {X(0x403E, 0x8000000000000001), 0}},
    {"TruncOfDenormalIsSignedZero", Op::Trunc, Of(X(0x8000, 1)), {kNegZero, 0}},
    {"FracOfInfinityIsSilentIndefinite", Op::Frac, Of(kInf), {kIndefinite, 0}},
    {"TruncQuietsSignalingNaNSilently", Op::Trunc, Of(kSignalingNaN), {kQuietNaN, 0}},
    {"TruncOfUnnormalIsSilentIndefinite", Op::Trunc, Of(kUnnormal), {kIndefinite, 0}},
    {"TruncToInt64TowardZero", Op::TruncToInt64, Of(X(0xC000, 0xA000000000000000)), {S(0xFFFFFFFFFFFFFFFE), 0}},
    {"TruncToInt64LargestInteger", Op::TruncToInt64, Of(X(0x403D, 0xFFFFFFFFFFFFFFFE)), {S(0x7FFFFFFFFFFFFFFF), 0}},
    {"TruncToInt64OutOfRangeIsIndefinite",
     Op::TruncToInt64,
     Of(X(0x403E, 0x8000000000000000)),
     {S(0x8000000000000000), 0}},
    {"TruncToInt64MostNegative", Op::TruncToInt64, Of(X(0xC03E, 0x8000000000000000)), {S(0x8000000000000000), 0}},
    {"TruncToInt64OfNaNIsIndefinite", Op::TruncToInt64, Of(kQuietNaN), {S(0x8000000000000000), 0}},
    // Comparisons: exact, NaN unordered.
    {"NegativeZeroEqualsZero", Op::Compare, Of(kNegZero, kZero), {S(kEq), 0}},
    {"QuietNaNIsUnorderedSilently", Op::Compare, Of(kQuietNaN, kOne), {S(kUn), 0}},
    {"SignalingNaNCompareIsInvalid", Op::Compare, Of(kOne, kSignalingNaN), {S(kUn), IE}},
    {"UnnormalCompareIsInvalid", Op::Compare, Of(kUnnormal, kOne), {S(kUn), IE}},
    {"PseudoDenormalEqualsSmallestNormal", Op::Compare, Of(kPseudoDenormal, kMinNormal), {S(kEq), 0}},
    {"LargestDenormalBelowSmallestNormal", Op::Compare, Of(X(0x0000, 0x7FFFFFFFFFFFFFFF), kMinNormal), {S(kLt), 0}},
    {"NegativeInfinityBelowLowest", Op::Compare, Of(kNegInf, kNegMax), {S(kLt), 0}},
    {"NextAboveOneIsGreater", Op::Compare, Of(X(0x3FFF, 0x8000000000000001), kOne), {S(kGt), 0}},
    // Widening from double: exact.
    {"OneTenthDoubleWidens", Op::FromDouble, Scalar(0x3FB999999999999A), {X(0x3FFB, 0xCCCCCCCCCCCCD000), 0}},
    {"OneThirdDoubleWidens", Op::FromDouble, Scalar(0x3FD5555555555555), {X(0x3FFD, 0xAAAAAAAAAAAAA800), 0}},
    {"SmallestDenormalDoubleIsNormal", Op::FromDouble, Scalar(0x0000000000000001), {X(0x3BCD, 0x8000000000000000), 0}},
    {"LargestDenormalDouble", Op::FromDouble, Scalar(0x000FFFFFFFFFFFFF), {X(0x3C00, 0xFFFFFFFFFFFFF000), 0}},
    {"LargestDouble", Op::FromDouble, Scalar(0x7FEFFFFFFFFFFFFF), {X(0x43FE, 0xFFFFFFFFFFFFF800), 0}},
    {"NegativeZeroDouble", Op::FromDouble, Scalar(0x8000000000000000), {kNegZero, 0}},
    {"SignalingNaNDoubleIsQuietedAndInvalid",
     Op::FromDouble,
     Scalar(0x7FF0000000000001),
     {X(0x7FFF, 0xC000000000000800), IE}},
    {"DoubleIndefiniteWidensToIndefinite", Op::FromDouble, Scalar(0xFFF8000000000000), {kIndefinite, 0}},
    // Widening from int32: exact.
    {"MostNegativeInt32", Op::FromInt32, Scalar(0x80000000), {X(0xC01E, 0x8000000000000000), 0}},
    {"LargestInt32", Op::FromInt32, Scalar(0x7FFFFFFF), {X(0x401D, 0xFFFFFFFE00000000), 0}},
    {"TenInt32", Op::FromInt32, Scalar(10), {kTen, 0}},
    {"ZeroInt32IsPositiveZero", Op::FromInt32, Scalar(0), {kZero, 0}},
    // Narrowing to double: nearest-even, overflow, double denormals.
    {"OneThirdNarrowsDown", Op::ToDouble, Of(X(0x3FFD, 0xAAAAAAAAAAAAAAAB)), {S(0x3FD5555555555555), 0}},
    {"NarrowingTieStaysEven", Op::ToDouble, Of(X(0x3FFF, 0x8000000000000400)), {S(0x3FF0000000000000), 0}},
    {"NarrowingTieRoundsUpToEven", Op::ToDouble, Of(X(0x3FFF, 0x8000000000000C00)), {S(0x3FF0000000000002), 0}},
    {"NarrowingAboveTieRoundsUp", Op::ToDouble, Of(X(0x3FFF, 0x8000000000000401)), {S(0x3FF0000000000001), 0}},
    {"NarrowingBeyondRangeOverflows", Op::ToDouble, Of(X(0x43FF, 0x8000000000000000)), {S(0x7FF0000000000000), OE}},
    {"NarrowingTieAtLargestOverflows", Op::ToDouble, Of(X(0xC3FE, 0xFFFFFFFFFFFFFC00)), {S(0xFFF0000000000000), OE}},
    {"NarrowingBelowTieAtLargestStays", Op::ToDouble, Of(X(0x43FE, 0xFFFFFFFFFFFFFBFF)), {S(0x7FEFFFFFFFFFFFFF), 0}},
    {"NarrowsToSmallestDenormal", Op::ToDouble, Of(X(0x3BCD, 0x8000000000000000)), {S(0x0000000000000001), 0}},
    {"NarrowingHalfSmallestDenormalTiesToZero", Op::ToDouble, Of(X(0x3BCC, 0x8000000000000000)), {S(0), 0}},
    {"NarrowingDenormalTieRoundsToEven", Op::ToDouble, Of(X(0x3BCD, 0xC000000000000000)), {S(2), 0}},
    {"NarrowingRoundsUpToSmallestNormal", Op::ToDouble, Of(X(0x3C00, 0xFFFFFFFFFFFFFFFF)), {S(0x0010000000000000), 0}},
    {"NarrowingExtendedDenormalGivesSignedZero", Op::ToDouble, Of(X(0x8000, 1)), {S(0x8000000000000000), 0}},
    {"NarrowingNaNKeepsUpperPayload", Op::ToDouble, Of(X(0x7FFF, 0xC000000000000800)), {S(0x7FF8000000000001), 0}},
    {"NarrowingSignalingNaNIsInvalid", Op::ToDouble, Of(X(0x7FFF, 0x8000000000000800)), {S(0x7FF8000000000001), IE}},
    {"NarrowingUnnormalIsInvalid", Op::ToDouble, Of(kUnnormal), {S(0xFFF8000000000000), IE}},
};

template <class T>
class ExtendedCases : public testing::Test {};

#if GRADES_HAVE_HARD_EXTENDED
using Implementations = testing::Types<SoftExtended, HardExtended>;
#else
using Implementations = testing::Types<SoftExtended>;
#endif

class ImplementationName {
 public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, SoftExtended> ? "Soft" : "Hard";
  }
};

TYPED_TEST_SUITE(ExtendedCases, Implementations, ImplementationName);

TYPED_TEST(ExtendedCases, HandDerivedResults) {
#if GRADES_HAVE_HARD_EXTENDED
  X87ControlScope quiet(kX87QuietControlWord);  // default results instead of traps
#endif
  for (const Case &c : kCases) {
    const Outcome got = RunOperation<TypeParam>(c.op, c.in);
    EXPECT_EQ(Describe(got), Describe(c.expected))
        << c.name << ": " << OpName(c.op) << "(" << Hex(c.in.a) << ", " << Hex(c.in.b) << ")";
  }
}

// Under the run's own control word the traps are live: a truncation that
// raised anything would end this process with SIGFPE.
TEST(ExtendedCases, HardTruncationNeverTrapsUnderRunControlWord) {
#if !GRADES_HAVE_HARD_EXTENDED
  GTEST_SKIP() << "skipped: no x87 long double on this target, HardExtended is not tested";
#else
  X87ControlScope run(kX87RunControlWord);
  EXPECT_TRUE(HardExtended::PrecisionFits());
  const HardExtended inf = HardExtended::FromBits(kInf), nan = HardExtended::FromBits(kSignalingNaN);
  const HardExtended unnormal = HardExtended::FromBits(kUnnormal);
  EXPECT_EQ(inf.Frac().Bits(), kIndefinite);
  EXPECT_EQ(nan.Trunc().Bits(), kQuietNaN);
  EXPECT_EQ(nan.Frac().Bits(), kQuietNaN);
  EXPECT_EQ(unnormal.Trunc().Bits(), kIndefinite);
  EXPECT_EQ(inf.TruncToInt64(), INT64_MIN);
  EXPECT_EQ(HardExtended::FromBits(kMax).TruncToInt64(), INT64_MIN);
  EXPECT_EQ(X87StatusWord() & kFloatTrapMask, 0);
#endif
}

}  // namespace
