// RaiseException on 64-bit ARM, in the processor's own code.
#include "platform/posix/fault_context.h"

// RaiseException(code, flags, count, arguments) in x0-x3: its own frame
// record links the dispatcher's frames to the caller's, and a RaiseFrame
// behind it holds the caller's registers. After the dispatch a moved return
// point is entered as if called from the old one: x30 holds that. One not
// moved is returned to with a return, which needs no landing pad there; the
// routine itself has one (bti c), being called through pointers too.
asm(R"(
  .text
  .globl RaiseException
  .type RaiseException, %function
  .p2align 2
RaiseException:
  .cfi_startproc
  hint #34
  stp x29, x30, [sp, #-48]!
  .cfi_def_cfa_offset 48
  .cfi_offset 29, -48
  .cfi_offset 30, -40
  stp x30, x29, [sp, #16]
  mov x29, sp
  add x9, sp, #48
  stp x9, xzr, [sp, #32]
  add x4, sp, #16
  bl DispatchRaisedException
  ldp x16, x29, [sp, #16]
  ldp x9, x30, [sp, #32]
  mov sp, x9
  cbnz x30, 1f
  mov x30, x16
  ret
1:
  br x16
  .cfi_endproc
  .size RaiseException, .-RaiseException
)");
