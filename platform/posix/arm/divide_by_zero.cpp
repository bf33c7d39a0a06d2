// Integer division by zero on 32-bit ARM. The processors of Debian's 32-bit
// ARM port need not divide in hardware, so the compiler divides in the
// run-time library's routines, which call __aeabi_idiv0 (or __aeabi_ldiv0
// for 64-bit values) on a zero divisor and return what it returns. The
// library's own raises SIGFPE by itself, which no filter sees as a fault;
// the procedure call standard lets the program have its own, and this one
// raises the division by zero of x86 (run-time error 200), located in the
// routine, in the frame of the routine that divided (it makes no frame of
// its own). Continued, the quotient is 0, as ARM's hardware divide gives.
#include "platform/posix/fault_context.h"

asm(R"(
  .text
  .arm
  .globl __aeabi_idiv0
  .type __aeabi_idiv0, %function
  .globl __aeabi_ldiv0
  .type __aeabi_ldiv0, %function
  .p2align 2
__aeabi_idiv0:
__aeabi_ldiv0:
  push {r4, lr}
  ldr r0, =0xC0000094
  mov r1, #0
  mov r2, #0
  mov r3, #0
  bl RaiseException
  mov r0, #0
  mov r1, #0
  pop {r4, pc}
  .ltorg
  .size __aeabi_idiv0, .-__aeabi_idiv0
)");
