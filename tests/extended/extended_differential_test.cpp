// SoftExtended against the x87 unit: random operations over every kind of
// operand must give identical bits and identical exceptions.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/extended/extended_runner.h"

#if GRADES_HAVE_HARD_EXTENDED

namespace {

class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {  // splitmix64
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
  bool Coin() { return (Next() & 1) != 0; }

 private:
  uint64_t state_;
};

uint16_t Clamp(int64_t exponent, int64_t low, int64_t high) {
  return static_cast<uint16_t>(exponent < low ? low : exponent > high ? high : exponent);
}

// Bit patterns that sit on or next to rounding boundaries.
uint64_t SignificandPattern(Random &random) {
  const uint64_t bits = random.Next();
  switch (random.Below(8)) {
    case 0: return ~uint64_t{0};
    case 1: return kExtendedIntegerBit;
    case 2: {  // few significant bits: exact results and exact ties
      const int width = 1 + static_cast<int>(random.Below(40));
      return (bits | 1) << (64 - width);
    }
    case 3: {  // the bits just below a double's last place: double ties
      static constexpr uint64_t tails[] = {0x400, 0x3FF, 0x401, 0x000, 0x7FF, 0x001};
      return (bits & ~uint64_t{0x7FF}) | tails[random.Below(6)];
    }
    case 4: return ~uint64_t{0} - random.Below(4);
    case 5: return kExtendedIntegerBit | random.Below(4);
    default: return bits;
  }
}

uint16_t RandomExponent(Random &random) {
  switch (random.Below(5)) {
    case 0: return static_cast<uint16_t>(1 + random.Below(0x7FFE));
    case 1: return static_cast<uint16_t>(1 + random.Below(80));
    case 2: return static_cast<uint16_t>(0x7FFE - random.Below(80));
    case 3: return static_cast<uint16_t>(0x3FFF - 1100 + random.Below(2200));  // around the double range
    default: return static_cast<uint16_t>(0x3FFF - 70 + random.Below(140));
  }
}

ExtendedBits RandomOperand(Random &random) {
  const uint16_t sign = random.Coin() ? kExtendedSignBit : 0;
  const uint32_t kind = random.Below(100);
  ExtendedBits x;
  if (kind < 50) {
    x = {RandomExponent(random), SignificandPattern(random) | kExtendedIntegerBit};
  } else if (kind < 62) {  // denormal, down to a single bit
    const uint64_t sig = (SignificandPattern(random) & ~kExtendedIntegerBit) >> random.Below(64);
    x = {0, sig == 0 ? 1 : sig};
  } else if (kind < 65) {  // pseudo-denormal
    x = {0, SignificandPattern(random) | kExtendedIntegerBit};
  } else if (kind < 70) {
    x = {0, 0};
  } else if (kind < 74) {
    x = {kExtendedExponentMask, kExtendedIntegerBit};
  } else if (kind < 79) {  // quiet NaN, real indefinite among them
    x = {kExtendedExponentMask, random.Coin() ? kRealIndefinite.significand
                                              : SignificandPattern(random) | kExtendedIntegerBit | kExtendedQuietBit};
  } else if (kind < 84) {  // signalling NaN
    const uint64_t payload = SignificandPattern(random) & ~(kExtendedIntegerBit | kExtendedQuietBit);
    x = {kExtendedExponentMask, kExtendedIntegerBit | (payload == 0 ? 1 : payload)};
  } else if (kind < 87) {  // unnormal, pseudo-infinity, pseudo-NaN
    x = {random.Coin() ? RandomExponent(random) : kExtendedExponentMask,
         SignificandPattern(random) & ~kExtendedIntegerBit};
  } else {  // a widened double
    x = SoftExtended::FromDouble(std::bit_cast<double>(random.Next() & 0x7FEFFFFFFFFFFFFFull)).Bits();
  }
  x.signExponent |= sign;
  return x;
}

// A second operand that interacts with the first: cancellation, equality,
// and products or quotients at the edges of the exponent range.
ExtendedBits PartnerOperand(Random &random, Op op, ExtendedBits a) {
  const int64_t aExponent = a.signExponent & kExtendedExponentMask;
  const uint16_t sign = random.Coin() ? kExtendedSignBit : 0;
  const int64_t delta = static_cast<int64_t>(random.Below(7)) - 3;
  switch (random.Below(5)) {
    case 0: return a;
    case 4: return {sign, 0};  // zero: zero divide, invalid 0/0, signed-zero sums
    case 1: {
      const uint64_t sig = a.significand + random.Below(5) - 2;
      const int64_t shift = random.Coin() ? delta : delta + 64;
      return {static_cast<uint16_t>(sign | Clamp(aExponent - shift, 0, 0x7FFE)), sig | kExtendedIntegerBit};
    }
    case 2: {
      // Exponent so that the exact result lands near overflow or in the denormal range.
      const int64_t target = random.Coin() ? 0x7FFE + delta : 1 + delta - random.Below(70);
      const int64_t exponent = op == Op::Div ? aExponent - (target - 0x3FFF) : target + 0x3FFF - aExponent;
      return {static_cast<uint16_t>(sign | Clamp(exponent, 1, 0x7FFE)),
              SignificandPattern(random) | kExtendedIntegerBit};
    }
    default: return RandomOperand(random);
  }
}

uint64_t RandomDoubleBits(Random &random) {
  const uint64_t bits = random.Next();
  switch (random.Below(6)) {
    case 0: return bits & 0x800FFFFFFFFFFFFFull;  // zero or denormal
    case 1: return bits | 0x7FF0000000000000ull;  // infinity or NaN
    case 2: return (bits & 0x8000000000000000ull) | 0x7FF0000000000000ull | random.Below(3);
    default: return bits;
  }
}

uint64_t RandomInt32(Random &random) {
  static constexpr uint32_t edges[] = {0, 1, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x80000001u};
  return random.Coin() ? edges[random.Below(6)] : static_cast<uint32_t>(random.Next() >> random.Below(32));
}

// Counts of what the run covered, so that a generator that drifts away from
// the hard cases fails the test instead of passing it quietly.
struct Coverage {
  long invalid = 0, zeroDivide = 0, overflow = 0, denormalResults = 0, unordered = 0;
  void Note(Op op, const Outcome &o) {
    invalid += (o.raised & kFloatTrapInvalid) != 0;
    zeroDivide += (o.raised & kFloatTrapZeroDivide) != 0;
    overflow += (o.raised & kFloatTrapOverflow) != 0;
    if (op == Op::Compare) unordered += (o.value.significand & kCompareUnordered) != 0;
    const bool extendedResult = op != Op::Compare && op != Op::ToDouble && op != Op::TruncToInt64;
    if (extendedResult) {
      denormalResults += ClassifyExtended(o.value) == ExtendedClass::Denormal;
    }
  }
};

TEST(ExtendedDifferential, SoftwareMatchesX87BitForBit) {
  X87ControlScope quiet(kX87QuietControlWord);
  ASSERT_TRUE(HardExtended::PrecisionFits());

  constexpr Op ops[] = {Op::Add,     Op::Sub,          Op::Mul,        Op::Div,       Op::Trunc,   Op::Frac,
                        Op::Compare, Op::TruncToInt64, Op::FromDouble, Op::FromInt32, Op::ToDouble};
  constexpr long kRounds = 300000;  // 3.3 million operations
  // GRADES_EXTENDED_SEED=<hex> explores other sequences; the default is fixed.
  const char *seedText = std::getenv("GRADES_EXTENDED_SEED");
  const uint64_t seed = seedText != nullptr ? std::strtoull(seedText, nullptr, 16) : 0x5EED0080u;
  Random random(seed);
  Coverage coverage;
  long mismatches = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long round = 0; round < kRounds; ++round) {
    for (const Op op : ops) {
      Operands in;
      in.a = RandomOperand(random);
      in.b = PartnerOperand(random, op, in.a);
      if (op == Op::FromDouble) in.scalar = RandomDoubleBits(random);
      if (op == Op::FromInt32) in.scalar = RandomInt32(random);
      const Outcome soft = RunOperation<SoftExtended>(op, in);
      const Outcome hard = RunOperation<HardExtended>(op, in);
      coverage.Note(op, hard);
      if (soft == hard) continue;
      if (++mismatches <= 20) {
        ADD_FAILURE() << OpName(op) << "(" << Hex(in.a) << ", " << Hex(in.b) << ", scalar " << std::hex << in.scalar
                      << std::dec << "): soft " << Describe(soft) << ", x87 " << Describe(hard);
      }
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "%ld operations (seed %llx) in %.2f s: %ld invalid, %ld zero divide, %ld overflow, "
      "%ld denormal results, %ld unordered\n",
      kRounds * static_cast<long>(std::size(ops)), static_cast<unsigned long long>(seed), seconds, coverage.invalid,
      coverage.zeroDivide, coverage.overflow, coverage.denormalResults, coverage.unordered);
  EXPECT_EQ(mismatches, 0);
  EXPECT_GT(coverage.invalid, 10000);
  EXPECT_GT(coverage.zeroDivide, 1000);
  EXPECT_GT(coverage.overflow, 1000);
  EXPECT_GT(coverage.denormalResults, 10000);
  EXPECT_GT(coverage.unordered, 1000);
}

}  // namespace

#else

TEST(ExtendedDifferential, SoftwareMatchesX87BitForBit) {
  std::fprintf(stderr, "*** SKIPPED: no x87 long double on this target; SoftExtended is not compared ***\n");
  GTEST_SKIP() << "skipped: this target has no x87 80-bit long double to compare SoftExtended with";
}

#endif
