// RaiseException on 64-bit RISC-V, in the processor's own code.
#include "platform/posix/fault_context.h"

// RaiseException(code, flags, count, arguments) in a0-a3: its own frame
// record (ra, then s0, below the caller's stack pointer, s0 on that) links
// the dispatcher's frames to the caller's, and a RaiseFrame below it holds
// the caller's registers. After the dispatch a moved return point is
// entered as if called from the old one: ra holds that.
asm(R"(
  .text
  .globl RaiseException
  .type RaiseException, @function
  .p2align 2
RaiseException:
  addi sp, sp, -48
  sd ra, 40(sp)
  sd s0, 32(sp)
  sd ra, 0(sp)
  sd s0, 8(sp)
  addi s0, sp, 48
  sd s0, 16(sp)
  sd zero, 24(sp)
  mv a4, sp
  call DispatchRaisedException
  ld t1, 0(sp)
  ld s0, 8(sp)
  ld ra, 24(sp)
  ld sp, 16(sp)
  bnez ra, 1f
  mv ra, t1
1:
  jr t1
  .size RaiseException, .-RaiseException
)");
