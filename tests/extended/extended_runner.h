// Runs one operation on either extended implementation and records what a
// caller could observe: the result's bits and the exceptions it raised.
// SoftExtended's exceptions come through softFloatTrap; HardExtended's from
// the x87 status word, with every exception masked so that nothing traps.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "extended/extended.h"
#include "extended/x87_control.h"

enum class Op { Add, Sub, Mul, Div, Trunc, Frac, TruncToInt64, Compare, FromDouble, FromInt32, ToDouble };

inline const char *OpName(Op op) {
  switch (op) {
    case Op::Add: return "Add";
    case Op::Sub: return "Sub";
    case Op::Mul: return "Mul";
    case Op::Div: return "Div";
    case Op::Trunc: return "Trunc";
    case Op::Frac: return "Frac";
    case Op::TruncToInt64: return "TruncToInt64";
    case Op::Compare: return "Compare";
    case Op::FromDouble: return "FromDouble";
    case Op::FromInt32: return "FromInt32";
    case Op::ToDouble: return "ToDouble";
  }
  return "?";
}

struct Operands {
  ExtendedBits a;
  ExtendedBits b;
  uint64_t scalar = 0;  // the double's bits for FromDouble, the int32 for FromInt32
};

// Results that are not extended values sit in `value.significand` with a
// zero signExponent: a double's bits, an int64, or the comparison mask.
struct Outcome {
  ExtendedBits value;
  int raised = 0;
  friend bool operator==(const Outcome &, const Outcome &) = default;
};

constexpr uint64_t kCompareEqual = 1, kCompareLess = 2, kCompareLessEqual = 4, kCompareUnordered = 8;

inline std::string Hex(ExtendedBits x) {
  char text[32];
  std::snprintf(text, sizeof text, "%04X:%016llX", x.signExponent, static_cast<unsigned long long>(x.significand));
  return text;
}

// Readable failure messages for bare bit patterns.
inline void PrintTo(const ExtendedBits &x, std::ostream *out) { *out << Hex(x); }

inline std::string Describe(const Outcome &o) { return Hex(o.value) + " raised " + std::to_string(o.raised); }

template <class T>
struct ExceptionProbe;

template <>
struct ExceptionProbe<SoftExtended> {
  static inline int recorded = 0;
  static void WINAPI Record(DWORD code, DWORD, DWORD, const ULONG_PTR *) {
    if (code == EXCEPTION_FLT_INVALID_OPERATION) recorded |= kFloatTrapInvalid;
    if (code == EXCEPTION_FLT_DIVIDE_BY_ZERO) recorded |= kFloatTrapZeroDivide;
    if (code == EXCEPTION_FLT_OVERFLOW) recorded |= kFloatTrapOverflow;
  }
  template <class... V>
  static void Begin(V &...) {
    recorded = 0;
    softFloatTrap = &Record;
  }
  template <class V>
  static void Settle(V &) {}
  static int End() {
    softFloatTrap = nullptr;
    return recorded;
  }
};

#if GRADES_HAVE_HARD_EXTENDED
// The empty asm statements pin the operation between clearing and reading
// the flags: operands are reloaded after the clear, the result is stored
// before the read, and nothing can be folded at compile time.
template <>
struct ExceptionProbe<HardExtended> {
  template <class... V>
  static void Begin(V &...values) {
    ClearX87Exceptions();
    (Settle(values), ...);
  }
  template <class V>
  static void Settle(V &value) {
    asm volatile("" : "+m"(value));
  }
  static int End() { return X87StatusWord() & kFloatTrapMask; }
};
#endif

template <class T>
Outcome RunOperation(Op op, const Operands &in) {
  using Probe = ExceptionProbe<T>;
  T a = T::FromBits(in.a);
  T b = T::FromBits(in.b);
  double d = std::bit_cast<double>(in.scalar);
  int32_t i = static_cast<int32_t>(static_cast<uint32_t>(in.scalar));
  const auto valueOf = [](T r) { return r.Bits(); };
  const auto scalarOf = [](uint64_t bits) { return ExtendedBits{0, bits}; };
  Probe::Begin(a, b, d, i);
  ExtendedBits result;
  switch (op) {
#define GRADES_RUN(expression, convert) \
  {                                     \
    auto r = expression;                \
    Probe::Settle(r);                   \
    result = convert(r);                \
    break;                              \
  }
    case Op::Add: GRADES_RUN(T::Add(a, b), valueOf)
    case Op::Sub: GRADES_RUN(T::Sub(a, b), valueOf)
    case Op::Mul: GRADES_RUN(T::Mul(a, b), valueOf)
    case Op::Div: GRADES_RUN(T::Div(a, b), valueOf)
    case Op::Trunc: GRADES_RUN(a.Trunc(), valueOf)
    case Op::Frac: GRADES_RUN(a.Frac(), valueOf)
    case Op::FromDouble: GRADES_RUN(T::FromDouble(d), valueOf)
    case Op::FromInt32: GRADES_RUN(T::FromInt32(i), valueOf)
    case Op::TruncToInt64: GRADES_RUN(static_cast<uint64_t>(a.TruncToInt64()), scalarOf)
    case Op::ToDouble: GRADES_RUN(std::bit_cast<uint64_t>(a.ToDouble()), scalarOf)
    case Op::Compare: {
      uint64_t mask = (T::Equal(a, b) ? kCompareEqual : 0) | (T::Less(a, b) ? kCompareLess : 0) |
                      (T::LessEqual(a, b) ? kCompareLessEqual : 0) | (T::Unordered(a, b) ? kCompareUnordered : 0);
      Probe::Settle(mask);
      result = scalarOf(mask);
      break;
    }
#undef GRADES_RUN
  }
  return {result, Probe::End()};
}
