// ARM's floating-point control register (FPCR on 64-bit ARM, FPSCR on
// 32-bit ARM: the same bits) for an x87 control word.
#pragma once

#include <cstdint>

// A trap enable (IOE 8, DZE 9, OFE 10, UFE 11, IXE 12, IDE 15) for each
// exception the word leaves unmasked, and its rounding. ARM cores implement
// the enables as optional and most ignore them (read as zero), as qemu-user
// does: there the floating unit never traps, and the 80-bit format,
// computed in software, raises its own traps instead.
inline uint32_t ArmFpControlFor(uint16_t controlWord) {
  struct Bit {
    uint16_t mask;    // in the x87 word
    unsigned enable;  // in the ARM register
  };
  constexpr Bit kTraps[] = {{0x01, 8}, {0x04, 9}, {0x08, 10}, {0x10, 11}, {0x20, 12}, {0x02, 15}};
  uint32_t control = 0;
  for (const Bit &bit : kTraps)
    if ((controlWord & bit.mask) == 0) control |= uint32_t{1} << bit.enable;
  // The x87's rounding field (nearest, down, up, toward zero) in RMode
  // order (nearest, up, down, toward zero).
  constexpr uint32_t kRMode[4] = {0, 2, 1, 3};
  return control | kRMode[controlWord >> 10 & 3] << 22;
}
