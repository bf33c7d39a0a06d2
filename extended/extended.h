// The 80-bit extended value type the run-time layer computes with.
//
// `Extended` is HardExtended (the x87 unit) or SoftExtended (integer
// arithmetic, the same bits), chosen at build time: GRADES_SOFT_EXTENDED
// asks for the software one, and targets without x87 long double get it
// anyway. Both are always built where the hardware exists, so they can be
// compared. Only ExtendedValue's operations may be used on `Extended`.
#pragma once

#include <concepts>
#include <cstdint>

#include "extended/extended_config.h"
#include "extended/hard_extended.h"
#include "extended/soft_extended.h"

template <class T>
concept ExtendedValue = requires(const T x, T y, uint16_t signExponent, uint64_t significand, int32_t i, double d) {
  { T::FromBits(signExponent, significand) } -> std::same_as<T>;
  { x.SignExponent() } -> std::same_as<uint16_t>;
  { x.Significand() } -> std::same_as<uint64_t>;
  { x.Bits() } -> std::same_as<ExtendedBits>;
  { T::FromInt32(i) } -> std::same_as<T>;
  { T::FromDouble(d) } -> std::same_as<T>;
  { x.ToDouble() } -> std::same_as<double>;
  { x.Trunc() } -> std::same_as<T>;
  { x.Frac() } -> std::same_as<T>;
  { x.TruncToInt64() } -> std::same_as<int64_t>;
  { T::Add(x, y) } -> std::same_as<T>;
  { T::Sub(x, y) } -> std::same_as<T>;
  { T::Mul(x, y) } -> std::same_as<T>;
  { T::Div(x, y) } -> std::same_as<T>;
  { T::Equal(x, y) } -> std::same_as<bool>;
  { T::Less(x, y) } -> std::same_as<bool>;
  { T::LessEqual(x, y) } -> std::same_as<bool>;
  { T::Unordered(x, y) } -> std::same_as<bool>;
  { x.Class() } -> std::same_as<ExtendedClass>;
  { x.IsNegative() } -> std::same_as<bool>;
  { x.IsZero() } -> std::same_as<bool>;
  { x.IsInfinity() } -> std::same_as<bool>;
  { x.IsNaN() } -> std::same_as<bool>;
  { x.IsFinite() } -> std::same_as<bool>;
  { x.Abs() } -> std::same_as<T>;
  { x.Negated() } -> std::same_as<T>;
  { x + y } -> std::same_as<T>;
  { x < y } -> std::same_as<bool>;
};

static_assert(ExtendedValue<SoftExtended>);
#if GRADES_HAVE_HARD_EXTENDED
static_assert(ExtendedValue<HardExtended>);
#endif

#if GRADES_SOFT_EXTENDED
using Extended = SoftExtended;
#else
using Extended = HardExtended;
#endif
