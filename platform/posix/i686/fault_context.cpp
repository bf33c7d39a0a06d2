// The fault layer's view of a 32-bit x86 signal context, and RaiseException.
#include "platform/posix/fault_context.h"

#include "platform/machine.h"

namespace {

constexpr greg_t kTrapFlag = 0x100;
constexpr unsigned long kX87ExceptionBits = 0x80FF;  // flags, stack fault, summary, busy
constexpr unsigned long kX87StackFault = 0x0040;
constexpr greg_t kPageFaultWrite = 2;

}  // namespace

namespace posix {

// The i386 procedure call standard has no red zone.
const uintptr_t kRedZone = 0;

void ReadFaultContext(const ucontext_t *uc, CONTEXT *context) {
  const greg_t *regs = uc->uc_mcontext.gregs;
  context->Eip = static_cast<ULONG_PTR>(regs[REG_EIP]);
  context->Ebp = static_cast<ULONG_PTR>(regs[REG_EBP]);
  context->Esp = static_cast<ULONG_PTR>(regs[REG_ESP]);
  context->EFlags = static_cast<ULONG_PTR>(regs[REG_EFL] & ~kTrapFlag);
  context->SegCs = static_cast<DWORD>(regs[REG_CS] & 0xFFFF);
  context->SegSs = static_cast<DWORD>(regs[REG_SS] & 0xFFFF);
}

DWORD RefineExceptionCode(DWORD code, int, const siginfo_t *, const ucontext_t *uc) {
  if (code == EXCEPTION_FLT_INVALID_OPERATION) {
    const auto *fp = uc->uc_mcontext.fpregs;
    if (fp != nullptr && (fp->sw & kX87StackFault) != 0) return EXCEPTION_FLT_STACK_CHECK;
  }
  return code;
}

bool FaultWasWrite(const ucontext_t *uc) { return (uc->uc_mcontext.gregs[REG_ERR] & kPageFaultWrite) != 0; }

// The kernel restores the stack pointer from the esp slot (not from the one
// it records as the stack pointer at the signal).
void ResumeFromContext(ucontext_t *uc, const CONTEXT &context) {
  greg_t *regs = uc->uc_mcontext.gregs;
  const uintptr_t interrupted = static_cast<uintptr_t>(regs[REG_EIP]);
  uintptr_t sp = context.Esp;
  if (context.Eip != interrupted) {
    sp = EntryStackBase(sp) - sizeof(uintptr_t);
    *reinterpret_cast<uintptr_t *>(sp) = interrupted;
  }
  regs[REG_EIP] = static_cast<greg_t>(context.Eip);
  regs[REG_EBP] = static_cast<greg_t>(context.Ebp);
  regs[REG_ESP] = static_cast<greg_t>(sp);
  regs[REG_EFL] = static_cast<greg_t>(context.EFlags);
}

// The x87 environment comes back from the frame's legacy part; `status`
// keeps the status word as the fault found it, and is cleared with it.
void ClearFloatingFlags(ucontext_t *uc) {
  if (auto *fp = uc->uc_mcontext.fpregs) {
    fp->sw &= ~kX87ExceptionBits;
    fp->status &= ~kX87ExceptionBits;
  }
}

}  // namespace posix

// The arguments stay where the caller put them (the caller removes them),
// so the caller's stack pointer after the return is just above the return
// address. After the dispatch a moved return point is entered as if called
// from the old one: the old one is pushed as its return address.
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
      "push %ecx\n"
      "1:\n\t"
      "jmp *%eax");
}
