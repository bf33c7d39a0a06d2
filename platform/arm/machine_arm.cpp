// The 32-bit ARM side of platform/machine.h (ARM code, procedure call
// standard frames).
#include "platform/arm/fp_control.h"
#include "platform/machine.h"

// The cumulative exception flags live in FPSCR too, and are cleared with it.
void ResetFloatUnit(uint16_t controlWord) {
  asm volatile("vmsr fpscr, %0" : : "r"(ArmFpControlFor(controlWord)) : "memory");
}

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
