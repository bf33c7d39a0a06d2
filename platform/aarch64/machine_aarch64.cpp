// The 64-bit ARM side of platform/machine.h.
#include "platform/machine.h"

namespace {

// FPCR for an x87 control word: a trap enable (IOE 8, DZE 9, OFE 10, UFE
// 11, IXE 12, IDE 15) for each exception the word leaves unmasked, and its
// rounding. ARM cores implement the enables as optional and most ignore
// them (read as zero): there the floating unit never traps, and the 80-bit
// format, computed in software, raises its own traps instead.
uint64_t FpcrFor(uint16_t controlWord) {
  struct Bit {
    uint16_t mask;    // in the x87 word
    unsigned enable;  // in FPCR
  };
  static constexpr Bit kTraps[] = {{0x01, 8}, {0x04, 9}, {0x08, 10}, {0x10, 11}, {0x20, 12}, {0x02, 15}};
  uint64_t fpcr = 0;
  for (const Bit &bit : kTraps)
    if ((controlWord & bit.mask) == 0) fpcr |= uint64_t{1} << bit.enable;
  // The x87's rounding field (nearest, down, up, toward zero) in FPCR.RMode
  // order (nearest, up, down, toward zero).
  static constexpr uint64_t kRMode[4] = {0, 2, 1, 3};
  return fpcr | kRMode[controlWord >> 10 & 3] << 22;
}

}  // namespace

// The cumulative exception flags in FPSR are cleared with it.
void ResetFloatUnit(uint16_t controlWord) {
  asm volatile("msr fpcr, %0\n\tmsr fpsr, xzr" : : "r"(FpcrFor(controlWord)) : "memory");
}

// No segments: every context lies on the one flat stack space.
uint16_t StackSegmentSelector() { return 0; }

// The caller's frame pointer is kept on the stack around the call (in 16
// bytes: the stack stays aligned); x29 is 0 while `routine` runs.
void CallWithFrameChainEnd(void (*routine)()) {
  asm volatile(
      "str x29, [sp, #-16]!\n\t"
      "mov x29, xzr\n\t"
      "blr %0\n\t"
      "ldr x29, [sp], #16"
      :
      : "r"(routine)
      : "x0", "x1", "x2", "x3", "x4", "x5", "x6", "x7", "x8", "x9", "x10", "x11", "x12", "x13", "x14", "x15", "x16",
        "x17", "x18", "x30", "v0", "v1", "v2", "v3", "v4", "v5", "v6", "v7", "v16", "v17", "v18", "v19", "v20", "v21",
        "v22", "v23", "v24", "v25", "v26", "v27", "v28", "v29", "v30", "v31", "cc", "memory");
}
