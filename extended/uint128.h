// A 128-bit unsigned integer from two 64-bit halves, with the few steps the
// software float needs. Written without a native 128-bit type so that it
// builds for 32-bit targets too.
#pragma once

#include <bit>
#include <cstdint>

struct UInt128 {
  uint64_t hi = 0;
  uint64_t lo = 0;

  friend constexpr bool operator==(const UInt128 &, const UInt128 &) = default;
};

constexpr bool IsZero(UInt128 x) { return (x.hi | x.lo) == 0; }

constexpr bool Less(UInt128 a, UInt128 b) { return a.hi < b.hi || (a.hi == b.hi && a.lo < b.lo); }

constexpr int CountLeadingZeros(UInt128 x) { return x.hi != 0 ? std::countl_zero(x.hi) : 64 + std::countl_zero(x.lo); }

// Sum modulo 2^128; `carry` receives the bit that left the top.
constexpr UInt128 Add(UInt128 a, UInt128 b, bool &carry) {
  const uint64_t lo = a.lo + b.lo;
  const uint64_t loCarry = lo < a.lo ? 1 : 0;
  const uint64_t hi = a.hi + b.hi + loCarry;
  carry = hi < a.hi || (hi == a.hi && loCarry != 0);
  return {hi, lo};
}

// Difference modulo 2^128.
constexpr UInt128 Sub(UInt128 a, UInt128 b) {
  const uint64_t borrow = a.lo < b.lo ? 1 : 0;
  return {a.hi - b.hi - borrow, a.lo - b.lo};
}

// Shift left by 0..127.
constexpr UInt128 ShiftLeft(UInt128 x, int n) {
  if (n == 0) return x;
  if (n >= 64) return {x.lo << (n - 64), 0};
  return {(x.hi << n) | (x.lo >> (64 - n)), x.lo << n};
}

// Shift right by any count >= 0; every bit shifted out is ORed into bit 0,
// so the result still tells an exact value from an inexact one.
constexpr UInt128 ShiftRightSticky(UInt128 x, int n) {
  if (n == 0) return x;
  if (n >= 128) return {0, IsZero(x) ? 0u : 1u};
  UInt128 r;
  uint64_t lost;
  if (n >= 64) {
    r = {0, n == 64 ? x.hi : x.hi >> (n - 64)};
    lost = x.lo | (n == 64 ? 0 : x.hi << (128 - n));
  } else {
    r = {x.hi >> n, (x.lo >> n) | (x.hi << (64 - n))};
    lost = x.lo << (64 - n);
  }
  if (lost != 0) r.lo |= 1;
  return r;
}

// Full product of two 64-bit values, from 32-bit partial products.
constexpr UInt128 Multiply64(uint64_t a, uint64_t b) {
  const uint64_t aLo = a & 0xFFFFFFFFu, aHi = a >> 32;
  const uint64_t bLo = b & 0xFFFFFFFFu, bHi = b >> 32;
  const uint64_t ll = aLo * bLo;
  const uint64_t lh = aLo * bHi;
  const uint64_t hl = aHi * bLo;
  const uint64_t hh = aHi * bHi;
  // Three terms below 2^32 each: the middle sum cannot overflow.
  const uint64_t middle = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  return {hh + (lh >> 32) + (hl >> 32) + (middle >> 32), (middle << 32) | (ll & 0xFFFFFFFFu)};
}
