// FormatReal and WriteReal, in both extended arithmetics.
#include "textio/format_real.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <type_traits>

#include "extended/uint128.h"
#include "extended/x87_control.h"
#include "textio/streams.h"
#include "textio/write_real.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Texts are written with "␣" for each blank, as the tables show them.
std::string Blanks(std::string text) {
  const std::string mark = "\u2423";
  for (size_t at; (at = text.find(mark)) != std::string::npos;) text.replace(at, mark.size(), " ");
  return text;
}

template <ExtendedValue T>
std::string Format(int32_t width, int32_t decimals, T value, RealKind kind, int32_t capacity = 255) {
  ShortString text;
  text.length = 77;  // whatever the destination held before
  FormatRealWith(width, decimals, value, kind, text, capacity);
  return std::string(StringView(text));
}

// The average of `count` grades summing to `sum`, as the grade program
// computes it: one extended division of the sum, stored as a double.
template <ExtendedValue T>
double GradeAverage(int32_t sum, int32_t count) {
  return T::Div(T::FromDouble(sum), T::FromInt32(count)).ToDouble();
}

// Runs the converter under the run's floating-unit setting, where invalid
// operation, zero divide and overflow trap: a trap on the x87 ends the test
// binary, one in software is counted.
template <class T>
class RunArithmetic;

template <>
class RunArithmetic<SoftExtended> {
 public:
  RunArithmetic() {
    traps = 0;
    softFloatTrap = [](DWORD, DWORD, DWORD, const ULONG_PTR *) WINAPI { ++traps; };
  }
  ~RunArithmetic() { softFloatTrap = nullptr; }
  int Traps() const { return traps; }

 private:
  static inline int traps = 0;
};

#if GRADES_HAVE_HARD_EXTENDED
template <>
class RunArithmetic<HardExtended> {
 public:
  int Traps() const { return 0; }

 private:
  X87ControlScope scope_{kX87RunControlWord};
};
#endif

template <class T>
class FormatRealTest : public ::testing::Test {};

#if GRADES_HAVE_HARD_EXTENDED
using Implementations = ::testing::Types<SoftExtended, HardExtended>;
#else
using Implementations = ::testing::Types<SoftExtended>;
#endif

struct ImplementationName {
  template <class T>
  static std::string GetName(int) {
    return std::is_same_v<T, SoftExtended> ? "Soft" : "Hard";
  }
};
TYPED_TEST_SUITE(FormatRealTest, Implementations, ImplementationName);

struct GradeRow {
  const char *grades;
  int32_t sum;
  int32_t count;
  double average;  // the exact double the table gives
  const char *text;
};

// The grade program's format: kind 1, width 10, 4 decimals.
const GradeRow kGradeRows[] = {
    {"one grade 3", 3, 1, 3, "␣␣␣␣3.0000"},
    {"2 and 3", 5, 2, 2.5, "␣␣␣␣2.5000"},
    {"3, 3, 3, 3, 4", 16, 5, 3.20000000000000017763568394, "␣␣␣␣3.2000"},
    {"4, 4, 5", 13, 3, 4.33333333333333303727386009, "␣␣␣␣4.3333"},
    {"1, 2, 2", 5, 3, 1.66666666666666674068153497, "␣␣␣␣1.6667"},
    {"4, 5, 5", 14, 3, 4.66666666666666696272613990, "␣␣␣␣4.6667"},
    {"three 2 and four 3", 18, 7, 2.57142857142857161889537565, "␣␣␣␣2.5714"},
    {"thirty-one 3 and one 4", 97, 32, 3.03125, "␣␣␣␣3.0312"},
    {"twenty-nine 3 and three 4", 99, 32, 3.09375, "␣␣␣␣3.0938"},
    {"999 grades 1 and one 2", 1001, 1000, 1.00099999999999988986587595, "␣␣␣␣1.0010"},
};

struct Row {
  double value;
  int32_t width;
  int32_t decimals;
  const char *text;
  RealKind kind = RealKind::kDouble;
};

constexpr int32_t kNone = NoFieldWidth;

const Row kRows[] = {
    // Double inputs, kind 1.
    {1.99995, 10, 4, "␣␣␣␣1.9999"},
    {1.99996, 10, 4, "␣␣␣␣2.0000"},
    {9.99996, 10, 4, "␣␣␣10.0000"},
    {0.99996, 10, 4, "␣␣␣␣1.0000"},
    {0.05, 10, 4, "␣␣␣␣0.0500"},
    {0.00005, 10, 4, "␣␣␣␣0.0001"},
    {0.00004999, 10, 4, "␣␣␣␣0.0000"},
    {-3.2, 10, 4, "␣␣␣-3.2000"},
    {-0.00004, 10, 4, "␣␣␣-0.0000"},
    {123456.789, 10, 4, "123456.7890"},
    {1e20, 10, 4, "100000000000000000000.0000"},
    {123456789012345680.0, 10, 4, "123456789012345600.0000"},
    {12345678901234567168.0, 10, 4, "12345678901234570000.0000"},
    {9.99e35, 10, 4, "999000000000000000000000000000000000.0000"},
    {1e36, 10, 4, "␣1.000000000000000E+036"},
    {2.5, 0, 0, "3"},
    {3.7, 10, 0, "␣␣␣␣␣␣␣␣␣4"},
    {3.2, 0, 20, "3.2000000000000000"},
    {123456789.12345679, 0, 8, "123456789.12345680"},
    {3.2, kNone, 4, "␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣3.2000"},
    {3.2, kNone, -1, "␣3.200000000000000E+000"},
    {-3.2, kNone, -1, "-3.200000000000000E+000"},
    {0, kNone, -1, "␣0.000000000000000E+000"},
    {1e-5, kNone, -1, "␣1.000000000000000E-005"},
    {1e300, kNone, -1, "␣1.000000000000000E+300"},
    {12345.678, kNone, -1, "␣1.234567800000000E+004"},
    {3.2, 0, -1, "␣3.2E+000"},
    {-3.2, 9, -1, "-3.2E+000"},
    {3.2, 12, -1, "␣3.2000E+000"},
    {3.2, 30, -1, "␣␣␣␣␣␣␣␣3.200000000000000E+000"},
    {357, 9, -1, "␣3.5E+002"},
    {354.6, 9, -1, "␣3.6E+002"},
    {9.96, 9, -1, "␣1.00E+001"},
    {9.999999999999998, kNone, -1, "␣1.000000000000000E+001"},
    {0.9999999999999994, kNone, -1, "␣0.999999999999999E+000"},
    {123456789012345680.0, kNone, -1, "␣1.234567890123456E+017"},
    {12345678901234567168.0, kNone, -1, "␣1.234567890123457E+019"},
    {kInf, 10, 4, "␣␣␣␣␣␣␣Inf"},
    {-kInf, 10, 4, "␣␣␣␣␣␣-Inf"},
    {kNaN, 10, 4, "␣␣␣␣␣␣␣NaN"},
    {kInf, kNone, -1, "␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣Inf"},

    // The sign comes from the sign bit, and an all-zero negative keeps it.
    {-0.0, 10, 4, "␣␣␣-0.0000"},
    {-0.0, kNone, -1, "-0.000000000000000E+000"},
    {0, 10, 4, "␣␣␣␣0.0000"},
    {0, 0, 0, "0"},
    // Special values keep to the field, a NaN shows no sign.
    {-kInf, kNone, -1, "␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣-Inf"},
    {-kNaN, kNone, 2, "␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣␣NaN"},
    // Fixed notation: the width only adds blanks; minimumWidth has no part.
    {3.2, -5, 4, "3.2000"},
    {3.2, 3, 1, "3.2"},
    {3.2, 0, 0, "3"},
    {0.5, 0, 0, "1"},
    {0.49, 0, 0, "0"},
    {0.0123, 0, 3, "0.012"},
    {0.00004999, 0, 2, "0.00"},
    {1e-300, 10, 4, "␣␣␣␣0.0000"},
    {-1e-300, 0, 16, "-0.0000000000000000"},
    // Scientific notation: narrow widths give the minimum form, a negative
    // width other than NoFieldWidth the full one without blanks.
    {3.2, 5, -1, "␣3.2E+000"},
    {3.2, -1, -1, "␣3.200000000000000E+000"},
    {3.2, 22, -1, "␣3.20000000000000E+000"},
    {3.2, 23, -1, "␣3.200000000000000E+000"},
    {0.05, 9, -7, "␣5.0E-002"},
    {1e-100, 10, -1, "␣1.00E-100"},
    // Decimals above the budget are the budget; integer positions past it are "0".
    {1.0 / 3, 0, 17, "0.3333333333333333"},
    {2.0 / 3, 0, 30, "0.6666666666666666"},
    {9007199254740993.0, 0, 1, "9007199254740992.0"},
    // From exponent 36 on, scientific whatever the decimals.
    {9.9999999999999e35, 0, 0, "999999999999990000000000000000000000"},
    // Within the tolerance below 10^36 counts as 37 positions, "0" first,
    // and rounds to 1E+036.
    {9.999999999999999e35, 0, 0, "␣1.000000000000000E+036"},
    {-1e36, 0, 2, "-1.000000000000000E+036"},

    // The other rows, each in its default scientific form.
    {3.2, kNone, -1, "␣3.200000000E+00", RealKind::kKind0},
    {3.2, kNone, -1, "␣3.2000000000000002E+0000", RealKind::kKind2},
    {3.2, kNone, -1, "␣3.20000000000000E+0000", RealKind::kKind3},
    {3.2, kNone, -1, "␣3.200000000E+00", RealKind::kKind4},
    {3.2, kNone, -1, "␣3.200000000E+00", RealKind::kKind5},
    {3.2, 0, -1, "␣3.2E+00", RealKind::kKind0},
    {3.2, 0, -1, "␣3.2E+0000", RealKind::kKind2},
    {3.2, kNone, 12, "␣␣␣␣3.2000000000", RealKind::kKind0},
    {3.2, kNone, 20, "␣␣␣␣␣␣3.20000000000000020", RealKind::kKind2},
    // Kind 0's wider tolerance takes 1 - 1e-10 for a full integer position;
    // kind 1's does not.
    {0.9999999999, kNone, -1, "␣1.000000000E+00", RealKind::kKind0},
    {0.9999999999, kNone, -1, "␣9.999999999000000E-001", RealKind::kDouble},
};

// Every row of both tables and of the edge cases, under the run's
// floating-unit setting.
TYPED_TEST(FormatRealTest, TablesAndEdgeCases) {
  using T = TypeParam;
  RunArithmetic<T> run;
  for (const GradeRow &row : kGradeRows) {
    const double average = GradeAverage<T>(row.sum, row.count);
    EXPECT_EQ(average, row.average) << row.grades;
    EXPECT_EQ(Format(10, 4, T::FromDouble(average), RealKind::kDouble), Blanks(row.text)) << row.grades;
  }
  for (const Row &row : kRows) {
    EXPECT_EQ(Format(row.width, row.decimals, T::FromDouble(row.value), row.kind), Blanks(row.text))
        << row.value << " width " << row.width << " decimals " << row.decimals << " kind "
        << static_cast<int32_t>(row.kind);
  }
  EXPECT_EQ(run.Traps(), 0);
}

struct BitsRow {
  const char *what;
  ExtendedBits value;
  int32_t width;
  int32_t decimals;
  const char *text;
};

// Values only the extended format holds.
TYPED_TEST(FormatRealTest, ExtendedOnlyValues) {
  using T = TypeParam;
  const BitsRow rows[] = {
      // Infinity is decided by the 63 bits below the integer bit alone.
      {"pseudo-infinity", {0x7FFF, 0}, 10, 4, "␣␣␣␣␣␣␣Inf"},
      {"negative pseudo-infinity", {0xFFFF, 0}, 10, 4, "␣␣␣␣␣␣-Inf"},
      {"signalling NaN", {0x7FFF, 0x8000000000000001}, 5, 4, "␣␣NaN"},
      {"pseudo-NaN", {0xFFFF, 0x0000000000000001}, 5, 4, "␣␣NaN"},
      {"unnormal", {0x3FFF, 0x4000000000000000}, 10, 4, "␣␣␣␣␣␣␣NaN"},
      {"negative unnormal", {0xC000, 0}, 0, -1, "NaN"},
      // More than 18 integer positions, exactly: the first one not shown
      // decides the last digit shown, and may carry into a new digit.
      {"2^64", {0x403F, 0x8000000000000000}, 0, 0, "18446744073709550000"},
      {"9.95e19", {0x4041, 0xAC9AE05A71EBC000}, 9, -1, "␣1.00E+020"},
      {"-9.95e19", {0xC041, 0xAC9AE05A71EBC000}, 0, 0, "-99500000000000000000"},
      // 10^20 - 8 is within the tolerance of 10^20: a leading "0" position.
      {"10^20 - 8", {0x4041, 0xAD78EBC5AC61FFFF}, 0, 0, "100000000000000000000"},
      {"10^20 - 8", {0x4041, 0xAD78EBC5AC61FFFF}, 9, -1, "␣1.0E+020"},
      {"10^20 - 8", {0x4041, 0xAD78EBC5AC61FFFF}, kNone, -1, "␣1.000000000000000E+020"},
      // Exactly at 1 - tolerance and 0.1 - tolerance (each rounded once),
      // and one unit beyond: the limits themselves do not count.
      {"1 - tolerance", {0x3FFE, 0xFFFFFFFFFFFFB7F1}, kNone, -1, "␣9.999999999999990E-001"},
      {"above 1 - tolerance", {0x3FFE, 0xFFFFFFFFFFFFB7F2}, kNone, -1, "␣0.999999999999999E+000"},
      {"0.1 - tolerance", {0x3FFB, 0xCCCCCCCCCCCA8C57}, kNone, -1, "␣0.999999999999990E-001"},
      {"below 0.1 - tolerance", {0x3FFB, 0xCCCCCCCCCCCA8C56}, kNone, -1, "␣9.999999999999900E-002"},
      {"pseudo-denormal 2^-16382", {0x0000, 0x8000000000000000}, 0, 2, "0.00"},
      {"one below 1 in the last place", {0x3FFE, 0xFFFFFFFFFFFFFFFF}, 0, 3, "1.000"},
  };
  RunArithmetic<T> run;
  for (const BitsRow &row : rows) {
    EXPECT_EQ(Format(row.width, row.decimals, T::FromBits(row.value), RealKind::kDouble), Blanks(row.text)) << row.what;
  }
  EXPECT_EQ(run.Traps(), 0);
}

// The ends of the range take thousands of rounded scalings, so only the
// leading digits are sure; the exponent shows all of its four digits.
TYPED_TEST(FormatRealTest, EndsOfTheRange) {
  using T = TypeParam;
  RunArithmetic<T> run;
  const std::string largest = Format(kNone, -1, T::FromBits({0x7FFE, 0xFFFFFFFFFFFFFFFF}), RealKind::kDouble);
  EXPECT_EQ(largest.size(), 24u) << largest;
  EXPECT_EQ(largest.substr(0, 16), " 1.1897314953572") << largest;
  EXPECT_EQ(largest.substr(18), "E+4932") << largest;
  const std::string smallest = Format(kNone, -1, T::FromBits({0x8000, 1}), RealKind::kDouble);
  EXPECT_EQ(smallest.size(), 24u) << smallest;
  EXPECT_EQ(smallest.substr(0, 16), "-3.6451995318824") << smallest;
  EXPECT_EQ(smallest.substr(18), "E-4951") << smallest;
  EXPECT_EQ(Format(10, 4, T::FromBits({0x0000, 1}), RealKind::kDouble), "    0.0000");
  EXPECT_EQ(run.Traps(), 0);
}

// Codes without a row are formatted with the double row.
TYPED_TEST(FormatRealTest, KindsWithoutRowUseTheDoubleRow) {
  using T = TypeParam;
  const double values[] = {3.2, -0.00004, 12345678901234567168.0, 9.96, kInf};
  const int32_t codes[] = {6, 7, 255, -1, INT32_MAX, INT32_MIN};
  const struct { int32_t width, decimals; } layouts[] = {{10, 4}, {kNone, -1}, {kNone, 3}, {9, -1}, {0, 40}};
  for (const int32_t code : codes) {
    for (const double value : values) {
      for (const auto &layout : layouts) {
        EXPECT_EQ(Format(layout.width, layout.decimals, T::FromDouble(value), static_cast<RealKind>(code)),
                  Format(layout.width, layout.decimals, T::FromDouble(value), RealKind::kDouble))
            << "code " << code << " value " << value << " width " << layout.width;
      }
    }
  }
  EXPECT_EQ(Format(kNone, -1, T::FromDouble(3.2), static_cast<RealKind>(6)), " 3.200000000000000E+000");
}

// Widths above 255: the text fills 255 characters and keeps all of the number.
TYPED_TEST(FormatRealTest, WidthsAboveTheStringLength) {
  using T = TypeParam;
  const struct {
    double value;
    int32_t decimals;
    const char *number;
  } cases[] = {{3.2, 4, "3.2000"}, {-1e36, 1, "-1.000000000000000E+036"}, {kNaN, 2, "NaN"}};
  for (const int32_t width : {255, 256, 257, 261, 300, 511, 512, 100000, INT32_MAX}) {
    for (const auto &c : cases) {
      const std::string text = Format(width, c.decimals, T::FromDouble(c.value), RealKind::kDouble);
      const std::string number = c.number;
      ASSERT_EQ(text.size(), 255u) << width;
      EXPECT_EQ(text.substr(255 - number.size()), number) << width;
      EXPECT_EQ(text.find_first_not_of(' '), 255 - number.size()) << width;
    }
  }
}

TYPED_TEST(FormatRealTest, DestinationCapacityCutsTheText) {
  using T = TypeParam;
  const T value = T::FromDouble(3.2);
  EXPECT_EQ(Format(10, 4, value, RealKind::kDouble, 255), "    3.2000");
  EXPECT_EQ(Format(10, 4, value, RealKind::kDouble, 10), "    3.2000");
  EXPECT_EQ(Format(10, 4, value, RealKind::kDouble, 6), "    3.");
  EXPECT_EQ(Format(kNone, -1, value, RealKind::kDouble, 4), " 3.2");
  EXPECT_EQ(Format(10, 4, value, RealKind::kDouble, 0), "");
  EXPECT_EQ(Format(10, 4, value, RealKind::kDouble, -3), "");
  EXPECT_EQ(Format(300, 4, value, RealKind::kDouble, 1000).size(), 255u);
}

#if GRADES_HAVE_HARD_EXTENDED
// Random bit patterns over the whole exponent range, random layouts: both
// arithmetics give the same text.
TEST(FormatRealDifferentialTest, SoftAndHardAgree) {
  std::mt19937_64 random(20240611);
  const auto pick = [&random](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random);
  };
  X87ControlScope quiet(kX87QuietControlWord);
  ShortString soft, hard;
  for (int i = 0; i < 100000; ++i) {
    uint16_t signExponent;
    uint64_t significand = random() | kExtendedIntegerBit;
    switch (i % 4) {
      case 0:  // anywhere, now and then: far ends take thousands of steps
        signExponent = static_cast<uint16_t>(i % 32 == 0 ? random() : pick(0x3FFF - 400, 0x3FFF + 400));
        signExponent |= static_cast<uint16_t>(random() & 0x8000);
        if ((random() & 15) == 0) significand &= ~kExtendedIntegerBit;
        break;
      case 1:  // where fixed notation is used: up to 10^36
        signExponent = static_cast<uint16_t>(pick(0x3FFF - 70, 0x3FFF + 120) | (random() & 0x8000));
        break;
      case 2:  // doubles, with short significands that make ties likely
        signExponent = static_cast<uint16_t>(pick(0x3FFF - 20, 0x3FFF + 70));
        significand &= ~uint64_t{0} << pick(11, 62);
        break;
      default: {  // a few units below 10^k, 1 and 0.1
        const int32_t k = pick(-1, 19);
        const uint64_t below = static_cast<uint64_t>(pick(0, 40));
        if (k <= 0) {
          signExponent = k == 0 ? 0x3FFE : 0x3FFB;
          significand = (k == 0 ? ~uint64_t{0} : 0xCCCCCCCCCCCCCCCDull) - below;
        } else {
          uint64_t power = 1;
          for (int32_t j = 0; j < k; ++j) power *= 10;
          const int shift = std::countl_zero(power);
          signExponent = static_cast<uint16_t>(0x3FFF + 63 - shift);
          significand = (power << shift) - below;
          if ((significand & kExtendedIntegerBit) == 0) significand = ~uint64_t{0} - below;
        }
        break;
      }
    }
    const int32_t width = (i % 7 == 0) ? kNone : pick(-3, 40);
    const int32_t decimals = pick(-2, 19);
    const RealKind kind = static_cast<RealKind>(pick(0, 6));
    FormatRealWith(width, decimals, SoftExtended::FromBits(signExponent, significand), kind, soft, 255);
    FormatRealWith(width, decimals, HardExtended::FromBits(signExponent, significand), kind, hard, 255);
    ASSERT_EQ(StringView(soft), StringView(hard))
        << std::hex << signExponent << ":" << significand << std::dec << " width " << width << " decimals " << decimals
        << " kind " << static_cast<int32_t>(kind);
  }
}
#endif

// The text of `value` rounded to 4 decimals half up, exactly, in 10 columns;
// with `tieDown` an exact tie goes down instead.
std::string ExactFourDecimals(double value, bool tieDown, bool &isTie) {
  int exponent;
  const double fraction = std::frexp(value, &exponent);
  const auto significand = static_cast<uint64_t>(std::ldexp(fraction, 53));
  const int shift = 53 - exponent;  // value = significand / 2^shift, 0 < shift < 63 here
  // units = (2 * significand * 10000 + 2^shift) / 2^(shift + 1), in 128 bits.
  bool carry;
  const UInt128 scaled = Add(Multiply64(significand, 20000), ShiftLeft(UInt128{0, 1}, shift), carry);
  const int n = shift + 1;
  uint64_t units = (scaled.lo >> n) | (scaled.hi << (64 - n));
  isTie = scaled.lo << (64 - n) == 0;
  if (isTie && tieDown) --units;
  char text[32];
  std::snprintf(text, sizeof text, "%5llu.%04llu", static_cast<unsigned long long>(units / 10000),
                static_cast<unsigned long long>(units % 10000));
  return text;
}

// Every average of 1 to 1000 grades: both arithmetics agree, the text is
// 10 characters, and its digits are the exact double rounded half up. The
// rounding term lies a little below 0.00005, and the operations after it
// move the sum by less than 10^-18, while a double from 1 to 5 that is not
// a tie lies at least 2^-46 * 10^-4 away from one; so only exact ties, the
// odd multiples of 1/32, can go down, and only those ending in .03125 do.
TEST(FormatRealGradeAveragesTest, EveryCountAndSum) {
  int64_t formatted = 0, ties = 0, tiesDown = 0;
  ShortString soft, hard;
  for (int32_t count = 1; count <= 1000; ++count) {
    for (int32_t sum = count; sum <= 5 * count; ++sum) {
      const double average = GradeAverage<SoftExtended>(sum, count);
      FormatRealWith(10, 4, SoftExtended::FromDouble(average), RealKind::kDouble, soft, 255);
#if GRADES_HAVE_HARD_EXTENDED
      ASSERT_EQ(GradeAverage<HardExtended>(sum, count), average) << sum << "/" << count;
      FormatRealWith(10, 4, HardExtended::FromDouble(average), RealKind::kDouble, hard, 255);
      ASSERT_EQ(StringView(soft), StringView(hard)) << sum << "/" << count;
#endif
      const bool downward = average - std::floor(average) == 0.03125;
      bool isTie;
      const std::string expected = ExactFourDecimals(average, downward, isTie);
      ASSERT_EQ(StringView(soft), expected) << sum << "/" << count;
      ++formatted;
      ties += isTie;
      tiesDown += isTie && downward;
    }
  }
  // The ties are the averages s / n that are odd multiples of 1/32.
  int64_t oddThirtySeconds = 0;
  for (int32_t count = 1; count <= 1000; ++count) {
    for (int32_t sum = count; sum <= 5 * count; ++sum) {
      oddThirtySeconds += (32 * sum) % count == 0 && (32 * sum / count) % 2 == 1;
    }
  }
  EXPECT_EQ(formatted, 2003000);
  EXPECT_EQ(ties, oddThirtySeconds);
  EXPECT_GT(tiesDown, 0);
}

// WriteReal: the converted text goes through WriteString with the caller's width.
class WriteRealTest : public ::testing::Test {
 protected:
  static inline std::string handedOver;
  static void Transfer(TextStream &s) {
    handedOver.append(reinterpret_cast<const char *>(s.bufPtr), static_cast<size_t>(s.bufPos));
    s.bufPos = 0;
  }
  static void Flush(TextStream &s) {
    handedOver += "|";
    Transfer(s);
  }
  void SetUp() override {
    ioStatus = 0;
    handedOver.clear();
    BindStream(stream_, StringFrom(""));
    stream_.mode = ModeOutput;
    stream_.transferProc = Transfer;
    stream_.flushProc = Flush;
  }
  void TearDown() override { ioStatus = 0; }
  std::string Written() {
    Transfer(stream_);
    return handedOver;
  }
  TextStream stream_;
};

TEST_F(WriteRealTest, WritesTheFieldWithoutFlushing) {
  WriteReal(RealKind::kDouble, 4, 10, stream_, Extended::FromDouble(3.2));
  WriteReal(RealKind::kDouble, -1, NoFieldWidth, stream_, Extended::FromDouble(-3.2));
  WriteReal(RealKind::kDouble, 4, -2, stream_, Extended::FromDouble(0.05));
  EXPECT_EQ(ioStatus, 0);
  EXPECT_EQ(Written(), "    3.2000-3.200000000000000E+0000.0500");
}

TEST_F(WriteRealTest, WideFieldsAreFilledToTheirWidth) {
  for (const int32_t width : {255, 256, 261, 300, 600}) {
    handedOver.clear();
    WriteReal(RealKind::kDouble, 4, width, stream_, Extended::FromDouble(-3.2));
    const std::string written = Written();
    EXPECT_EQ(written.size(), static_cast<size_t>(width));
    EXPECT_EQ(written, std::string(static_cast<size_t>(width) - 7, ' ') + "-3.2000");
  }
}

TEST_F(WriteRealTest, FailuresLeaveTheStreamAlone) {
  ioStatus = 106;
  WriteReal(RealKind::kDouble, 4, 10, stream_, Extended::FromDouble(3.2));
  EXPECT_EQ(ioStatus, 106);
  EXPECT_EQ(stream_.bufPos, 0);

  const struct {
    uint32_t mode;
    uint16_t status;
  } modes[] = {{ModeInput, 105}, {ModeClosed, 103}, {ModeInOut, 103}, {0, 103}};
  for (const auto &m : modes) {
    ioStatus = 0;
    stream_.mode = m.mode;
    WriteReal(RealKind::kDouble, 4, 10, stream_, Extended::FromDouble(3.2));
    EXPECT_EQ(ioStatus, m.status) << std::hex << m.mode;
    EXPECT_EQ(stream_.bufPos, 0);
  }
}

}  // namespace
