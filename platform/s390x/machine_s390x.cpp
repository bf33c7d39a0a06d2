// The s390x side of platform/machine.h.
#include "platform/machine.h"

namespace {

// FPC for an x87 control word: an IEEE mask bit (invalid 0x80, division by
// zero 0x40, overflow 0x20, underflow 0x10, inexact 0x08 of the top byte;
// set is a trap) for each exception the word leaves unmasked, and its
// rounding. The flags and the data exception code are cleared.
uint32_t FpcFor(uint16_t controlWord) {
  struct Bit {
    uint16_t mask;  // in the x87 word
    uint32_t trap;  // in FPC
  };
  static constexpr Bit kTraps[] = {{0x01, 0x80}, {0x04, 0x40}, {0x08, 0x20}, {0x10, 0x10}, {0x20, 0x08}};
  uint32_t fpc = 0;
  for (const Bit &bit : kTraps)
    if ((controlWord & bit.mask) == 0) fpc |= bit.trap << 24;
  // The x87's rounding field (nearest, down, up, toward zero) in the
  // binary rounding mode's order (nearest, toward zero, up, down).
  static constexpr uint32_t kMode[4] = {0, 3, 2, 1};
  return fpc | kMode[controlWord >> 10 & 3];
}

}  // namespace

// Unlike the other processors without an x87, s390x's floating unit traps
// as the word says, as x86-64's SSE unit does.
void ResetFloatUnit(uint16_t controlWord) { asm volatile("sfpc %0" : : "d"(FpcFor(controlWord)) : "memory"); }

// No segments: every context lies on the one flat stack space.
uint16_t StackSegmentSelector() { return 0; }

// The routine is called with a stack pointer of a frame of 160 bytes whose
// back chain is 0: that is the routine's frame address, and its outer frame
// 0. The return point is there too before the call, where the routine
// saves it, so that even a routine that saves no registers has it.
void CallWithFrameChainEnd(void (*routine)()) {
  asm volatile(
      "lay %%r15,-160(%%r15)\n\t"
      "xc 0(8,%%r15),0(%%r15)\n\t"
      "larl %%r1,1f\n\t"
      "stg %%r1,112(%%r15)\n\t"
      "basr %%r14,%0\n"
      "1:\n\t"
      "lay %%r15,160(%%r15)"
      :
      : "a"(routine)
      : "r0", "r1", "r2", "r3", "r4", "r5", "r14", "f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7", "cc", "memory");
}
