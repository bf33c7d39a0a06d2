// The x87 control words the run uses, and a scope that loads one (the
// words themselves are read and written through platform/float_unit.h).
#pragma once

#include <cstdint>

#include "extended/extended_config.h"

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
