// The 64-bit RISC-V side of platform/machine.h.
#include "platform/machine.h"

// RISC-V's floating unit has no trap enables at all: only the rounding of
// the control word applies, and the 80-bit format, computed in software,
// raises its own traps. The x87's rounding field (nearest, down, up, toward
// zero) in frm order (nearest, toward zero, down, up); the flags are
// cleared with it.
void ResetFloatUnit(uint16_t controlWord) {
  static constexpr uint32_t kFrm[4] = {0, 2, 3, 1};
  asm volatile("fscsr %0" : : "r"(kFrm[controlWord >> 10 & 3] << 5) : "memory");
}

// No segments: every context lies on the one flat stack space.
uint16_t StackSegmentSelector() { return 0; }

// The routine saves s0, 0 here, as its outer frame; ra and s0 are kept in
// 16 bytes, so the stack stays aligned.
__attribute__((naked)) void CallWithFrameChainEnd(void (*)()) {
  asm("addi sp, sp, -16\n\t"
      "sd ra, 8(sp)\n\t"
      "sd s0, 0(sp)\n\t"
      "li s0, 0\n\t"
      "jalr a0\n\t"
      "ld ra, 8(sp)\n\t"
      "ld s0, 0(sp)\n\t"
      "addi sp, sp, 16\n\t"
      "ret");
}
