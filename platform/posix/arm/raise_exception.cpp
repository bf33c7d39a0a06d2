// RaiseException on 32-bit ARM, in the processor's own code (ARM state).
#include "platform/posix/fault_context.h"

// RaiseException(code, flags, count, arguments) in r0-r3: a frame of the
// procedure call standard ({fp, sp, lr, pc}, fp on the last) links the
// dispatcher's frames to the caller's. Below it the RaiseFrame, and below
// that the dispatcher's fifth argument, its address, which the standard
// passes on the stack. After the dispatch a moved return point is entered
// as if called from the old one: lr holds that.
asm(R"(
  .text
  .arm
  .globl RaiseException
  .type RaiseException, %function
  .p2align 2
RaiseException:
  mov ip, sp
  push {fp, ip, lr, pc}
  sub fp, ip, #4
  sub sp, sp, #24
  str lr, [sp, #8]
  ldr lr, [fp, #-12]
  str lr, [sp, #12]
  str ip, [sp, #16]
  mov lr, #0
  str lr, [sp, #20]
  add lr, sp, #8
  str lr, [sp]
  bl DispatchRaisedException
  ldr r1, [sp, #8]
  ldr fp, [sp, #12]
  ldr r2, [sp, #16]
  ldr lr, [sp, #20]
  mov sp, r2
  cmp lr, #0
  moveq lr, r1
  bx r1
  .size RaiseException, .-RaiseException
)");
