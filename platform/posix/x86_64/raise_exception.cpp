// RaiseException on x86-64, in the processor's own code.
#include "platform/posix/fault_context.h"

// After the dispatch a moved return point is entered as if called from the
// old one: the old one is pushed as its return address. One not moved is
// returned to with a return, not a jump, so that the return matches the
// call on a shadow stack.
extern "C" __attribute__((naked)) void WINAPI RaiseException(DWORD, DWORD, DWORD, const ULONG_PTR *) {
  asm("push %rbp\n\t"
      "mov %rsp, %rbp\n\t"
      "sub $32, %rsp\n\t"  // a RaiseFrame
      "mov 8(%rbp), %rax\n\t"
      "mov %rax, 0(%rsp)\n\t"  // the return point
      "mov 0(%rbp), %rax\n\t"
      "mov %rax, 8(%rsp)\n\t"  // the caller's frame pointer
      "lea 16(%rbp), %rax\n\t"
      "mov %rax, 16(%rsp)\n\t"  // the caller's stack pointer after the return
      "movq $0, 24(%rsp)\n\t"
      "mov %rsp, %r8\n\t"
      "call DispatchRaisedException\n\t"
      "mov 0(%rsp), %rax\n\t"
      "mov 8(%rsp), %rbp\n\t"
      "mov 24(%rsp), %rcx\n\t"
      "mov 16(%rsp), %rsp\n\t"
      "test %rcx, %rcx\n\t"
      "jz 1f\n\t"
      "push %rcx\n\t"
      "jmp *%rax\n"
      "1:\n\t"
      "push %rax\n\t"
      "ret");
}
