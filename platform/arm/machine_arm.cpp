// The 32-bit ARM side of platform/machine.h (ARM code, procedure call
// standard frames).
#include "platform/machine.h"

namespace {

// FPSCR for an x87 control word: a trap enable (IOE 8, DZE 9, OFE 10, UFE
// 11, IXE 12, IDE 15) for each exception the word leaves unmasked, and its
// rounding, as in 64-bit ARM's FPCR. The enables are optional and cores and
// qemu-user ignore them: the floating unit does not trap, and the 80-bit
// format, computed in software, raises its own traps instead.
uint32_t FpscrFor(uint16_t controlWord) {
  struct Bit {
    uint16_t mask;    // in the x87 word
    unsigned enable;  // in FPSCR
  };
  static constexpr Bit kTraps[] = {{0x01, 8}, {0x04, 9}, {0x08, 10}, {0x10, 11}, {0x20, 12}, {0x02, 15}};
  uint32_t fpscr = 0;
  for (const Bit &bit : kTraps)
    if ((controlWord & bit.mask) == 0) fpscr |= uint32_t{1} << bit.enable;
  // The x87's rounding field (nearest, down, up, toward zero) in RMode
  // order (nearest, up, down, toward zero).
  static constexpr uint32_t kRMode[4] = {0, 2, 1, 3};
  return fpscr | kRMode[controlWord >> 10 & 3] << 22;
}

}  // namespace

// The cumulative exception flags live in FPSCR too, and are cleared with it.
void ResetFloatUnit(uint16_t controlWord) { asm volatile("vmsr fpscr, %0" : : "r"(FpscrFor(controlWord)) : "memory"); }

// No segments: every context lies on the one flat stack space.
uint16_t StackSegmentSelector() { return 0; }

// The routine pushes fp, 0 here, as its outer frame. Eight bytes keep the
// stack aligned for the call.
__attribute__((naked)) void CallWithFrameChainEnd(void (*)()) {
  asm("push {fp, lr}\n\t"
      "mov fp, #0\n\t"
      "blx r0\n\t"
      "pop {fp, pc}");
}
