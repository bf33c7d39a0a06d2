// What both extended implementations offer on top of their own operations:
// classification from the bit pattern, sign changes and the operators.
// `Derived` supplies Bits(), FromBits(), Add/Sub/Mul/Div, Equal/Less/LessEqual.
#pragma once

#include "extended/extended_bits.h"

template <class Derived>
class ExtendedQueries {
 public:
  ExtendedClass Class() const { return ClassifyExtended(Self().Bits()); }
  // The sign bit, so -0 and negative NaNs count as negative.
  bool IsNegative() const { return (Self().SignExponent() & kExtendedSignBit) != 0; }
  bool IsZero() const { return Class() == ExtendedClass::Zero; }
  bool IsInfinity() const { return Class() == ExtendedClass::Infinity; }
  bool IsNaN() const {
    const ExtendedClass c = Class();
    return c == ExtendedClass::QuietNaN || c == ExtendedClass::SignalingNaN;
  }
  bool IsFinite() const {
    const ExtendedClass c = Class();
    return c == ExtendedClass::Zero || c == ExtendedClass::Denormal || c == ExtendedClass::Normal;
  }

  // Sign-bit changes only: exact for every encoding and never an exception.
  Derived Abs() const { return WithSign(false); }
  Derived Negated() const { return WithSign(!IsNegative()); }

  // Inlined, as the operations are: a software trap is raised in the routine
  // that computes.
  [[gnu::always_inline]] friend Derived operator+(Derived a, Derived b) { return Derived::Add(a, b); }
  [[gnu::always_inline]] friend Derived operator-(Derived a, Derived b) { return Derived::Sub(a, b); }
  [[gnu::always_inline]] friend Derived operator*(Derived a, Derived b) { return Derived::Mul(a, b); }
  [[gnu::always_inline]] friend Derived operator/(Derived a, Derived b) { return Derived::Div(a, b); }
  friend Derived operator-(Derived a) { return a.Negated(); }
  // A NaN compares unequal to everything, itself included.
  [[gnu::always_inline]] friend bool operator==(Derived a, Derived b) { return Derived::Equal(a, b); }
  [[gnu::always_inline]] friend bool operator<(Derived a, Derived b) { return Derived::Less(a, b); }
  [[gnu::always_inline]] friend bool operator<=(Derived a, Derived b) { return Derived::LessEqual(a, b); }
  [[gnu::always_inline]] friend bool operator>(Derived a, Derived b) { return Derived::Less(b, a); }
  [[gnu::always_inline]] friend bool operator>=(Derived a, Derived b) { return Derived::LessEqual(b, a); }

 private:
  const Derived &Self() const { return static_cast<const Derived &>(*this); }
  Derived WithSign(bool negative) const {
    const uint16_t magnitude = Self().SignExponent() & kExtendedExponentMask;
    return Derived::FromBits(static_cast<uint16_t>(magnitude | (negative ? kExtendedSignBit : 0)),
                             Self().Significand());
  }
};
