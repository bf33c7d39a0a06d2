// The 64-bit ARM side of platform/machine.h.
#include "platform/arm/fp_control.h"
#include "platform/machine.h"

// The cumulative exception flags in FPSR are cleared with it.
void ResetFloatUnit(uint16_t controlWord) {
  const uint64_t fpcr = ArmFpControlFor(controlWord);
  asm volatile("msr fpcr, %0\n\tmsr fpsr, xzr" : : "r"(fpcr) : "memory");
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
