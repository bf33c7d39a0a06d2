// RaiseException on 32-bit x86, in the processor's own code.
#include "platform/posix/fault_context.h"

// The arguments stay where the caller put them (the caller removes them),
// so the caller's stack pointer after the return is just above the return
// address. After the dispatch a moved return point is entered as if called
// from the old one: the old one is pushed as its return address. One not
// moved is returned to with a return, not a jump, so that the return matches
// the call on a shadow stack.
extern "C" __attribute__((naked)) void WINAPI RaiseException(DWORD, DWORD, DWORD, const ULONG_PTR *) {
  asm("push %ebp\n\t"
      "mov %esp, %ebp\n\t"
      "sub $40, %esp\n\t"  // five arguments, then a RaiseFrame at 20(%esp)
      "mov 4(%ebp), %eax\n\t"
      "mov %eax, 20(%esp)\n\t"  // the return point
      "mov 0(%ebp), %eax\n\t"
      "mov %eax, 24(%esp)\n\t"  // the caller's frame pointer
      "lea 8(%ebp), %eax\n\t"
      "mov %eax, 28(%esp)\n\t"  // the caller's stack pointer after the return
      "movl $0, 32(%esp)\n\t"
      "mov 8(%ebp), %eax\n\t"
      "mov %eax, 0(%esp)\n\t"
      "mov 12(%ebp), %eax\n\t"
      "mov %eax, 4(%esp)\n\t"
      "mov 16(%ebp), %eax\n\t"
      "mov %eax, 8(%esp)\n\t"
      "mov 20(%ebp), %eax\n\t"
      "mov %eax, 12(%esp)\n\t"
      "lea 20(%esp), %eax\n\t"
      "mov %eax, 16(%esp)\n\t"
      "call DispatchRaisedException\n\t"
      "mov 20(%esp), %eax\n\t"
      "mov 32(%esp), %ecx\n\t"
      "mov 24(%esp), %ebp\n\t"
      "mov 28(%esp), %esp\n\t"
      "test %ecx, %ecx\n\t"
      "jz 1f\n\t"
      "push %ecx\n\t"
      "jmp *%eax\n"
      "1:\n\t"
      "push %eax\n\t"
      "ret");
}
