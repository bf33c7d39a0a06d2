// Access to the x87 control and status words.
#pragma once

#include <cstdint>

#include "textio/extended/extended_config.h"

// The word the whole run computes under: invalid, zero divide and overflow
// trap; 64-bit significand; round to nearest; affine infinity.
constexpr uint16_t kX87RunControlWord = 0x1332;
// The same with every exception masked: default results instead of traps.
constexpr uint16_t kX87QuietControlWord = 0x133F;
constexpr uint16_t kX87PrecisionMask = 0x0300;
constexpr uint16_t kX87Precision64 = 0x0300;
constexpr uint16_t kX87RoundingMask = 0x0C00;
constexpr uint16_t kX87RoundToNearest = 0x0000;

#if GRADES_HAVE_X87

inline uint16_t X87ControlWord() {
  uint16_t word;
  asm volatile("fnstcw %0" : "=m"(word));
  return word;
}

inline void SetX87ControlWord(uint16_t word) { asm volatile("fldcw %0" : : "m"(word) : "memory"); }

inline uint16_t X87StatusWord() {
  uint16_t word;
  asm volatile("fnstsw %0" : "=m"(word) : : "memory");
  return word;
}

inline void ClearX87Exceptions() { asm volatile("fnclex" : : : "memory"); }

// Loads a control word for its lifetime; clears the exception flags on both
// ends so that none raised under it traps once the old word is back.
class X87ControlScope {
 public:
  explicit X87ControlScope(uint16_t word) : saved_(X87ControlWord()) {
    ClearX87Exceptions();
    SetX87ControlWord(word);
  }
  ~X87ControlScope() {
    ClearX87Exceptions();
    SetX87ControlWord(saved_);
  }
  X87ControlScope(const X87ControlScope &) = delete;
  X87ControlScope &operator=(const X87ControlScope &) = delete;

 private:
  uint16_t saved_;
};

#endif
