// The 128-bit helper the software format rounds with.
#include "extended/uint128.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct ProductCase {
  uint64_t a, b;
  UInt128 product;
};

TEST(UInt128, Multiply64GivesFullProduct) {
  const ProductCase cases[] = {
      {~uint64_t{0}, ~uint64_t{0}, {0xFFFFFFFFFFFFFFFE, 1}},
      {uint64_t{1} << 32, uint64_t{1} << 32, {1, 0}},
      {0x100000001, 0xFFFFFFFF, {0, 0xFFFFFFFFFFFFFFFF}},  // carries through the middle words
      {0xFFFFFFFF00000000, 0xFFFFFFFF00000000, {0xFFFFFFFE00000001, 0}},
      {0x8000000000000000, 3, {1, 0x8000000000000000}},
      {0x123456789ABCDEF0, 0, {0, 0}},
  };
  for (const ProductCase &c : cases) {
    EXPECT_EQ(Multiply64(c.a, c.b), c.product) << std::hex << c.a << " * " << c.b;
  }
}

struct ShiftCase {
  UInt128 in;
  int count;
  UInt128 out;
};

TEST(UInt128, ShiftRightStickyKeepsLostBitsInBitZero) {
  const ShiftCase cases[] = {
      {{0xABCD, 0x1234000000000000}, 8, {0xAB, 0xCD12340000000000}},
      {{0xABCD, 0x1234000000000001}, 8, {0xAB, 0xCD12340000000001}},
      {{0x20, 0}, 68, {0, 2}},
      {{0x20, 1}, 68, {0, 3}},
      {{1, 0}, 64, {0, 1}},
      {{1, 0}, 65, {0, 1}},
      {{0, 2}, 1, {0, 1}},
      {{0, 1}, 1, {0, 1}},
      {{0x8000000000000000, 0}, 127, {0, 1}},
      {{0x8000000000000000, 0}, 128, {0, 1}},
      {{0, 0}, 200, {0, 0}},
  };
  for (const ShiftCase &c : cases) {
    EXPECT_EQ(ShiftRightSticky(c.in, c.count), c.out) << "by " << c.count;
  }
}

TEST(UInt128, AddReportsCarryOutOfTheTop) {
  bool carry = false;
  EXPECT_EQ(Add({~uint64_t{0}, ~uint64_t{0}}, {0, 1}, carry), (UInt128{0, 0}));
  EXPECT_TRUE(carry);
  EXPECT_EQ(Add({0, ~uint64_t{0}}, {0, 1}, carry), (UInt128{1, 0}));
  EXPECT_FALSE(carry);
  EXPECT_EQ(Sub({1, 0}, {0, 1}), (UInt128{0, ~uint64_t{0}}));
  EXPECT_EQ(CountLeadingZeros({0, 1}), 127);
  EXPECT_EQ(CountLeadingZeros({1, 0}), 63);
}

}  // namespace
