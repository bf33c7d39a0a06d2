// The fault layer's view of a 64-bit ARM signal context.
#include "platform/posix/fault_context.h"

#include <asm/sigcontext.h>

#include "platform/aarch64/memory_access.h"
#include "platform/machine.h"
#include "platform/posix/own_code.h"

namespace {

constexpr unsigned kEsrDataAbortLower = 0x24, kEsrDataAbortSame = 0x25;
constexpr uint64_t kEsrWriteNotRead = 1u << 6;
constexpr uint32_t kCompilerTrap = 0xD4207D00;  // brk #1000

// The record of `magic` among those the kernel puts behind the registers,
// or null.
_aarch64_ctx *FindRecord(const ucontext_t *uc, uint32_t magic) {
  auto *at = const_cast<unsigned char *>(uc->uc_mcontext.__reserved);
  const unsigned char *end = at + sizeof uc->uc_mcontext.__reserved;
  while (at + sizeof(_aarch64_ctx) <= end) {
    auto *head = reinterpret_cast<_aarch64_ctx *>(at);
    if (head->magic == 0 || head->size < sizeof(_aarch64_ctx)) return nullptr;
    if (head->magic == magic) return head;
    at += head->size;
  }
  return nullptr;
}

}  // namespace

namespace platform_posix {

// The procedure call standard gives leaf routines no room below the stack
// pointer.
const uintptr_t kRedZone = 0;

void ReadFaultContext(const ucontext_t *uc, CONTEXT *context) {
  const mcontext_t &mc = uc->uc_mcontext;
  context->Eip = static_cast<ULONG_PTR>(mc.pc);
  context->Ebp = static_cast<ULONG_PTR>(mc.regs[29]);
  context->Esp = static_cast<ULONG_PTR>(mc.sp);
  context->EFlags = static_cast<ULONG_PTR>(mc.pstate);
  context->SegCs = 0;
  context->SegSs = StackSegmentSelector();
}

// The compiler's trap instruction (brk #1000, where x86 has ud2) is no
// debugger's breakpoint: an illegal instruction, as on x86. Beyond that the
// signal says all there is: the floating unit does not trap, and integer
// division never faults.
DWORD RefineExceptionCode(DWORD code, int, const siginfo_t *, const ucontext_t *uc) {
  uint32_t instruction;
  if (code == EXCEPTION_BREAKPOINT &&
      platform_posix::ReadOwnCode(static_cast<uintptr_t>(uc->uc_mcontext.pc), &instruction, sizeof instruction) &&
      instruction == kCompilerTrap)
    return EXCEPTION_ILLEGAL_INSTRUCTION;
  return code;
}

// The kernel's syndrome record tells; without one (under an emulator) the
// faulting instruction does, when it lies in the program's own code.
bool FaultWasWrite(const ucontext_t *uc) {
  if (const auto *esr = reinterpret_cast<const esr_context *>(FindRecord(uc, ESR_MAGIC))) {
    const unsigned exceptionClass = static_cast<unsigned>(esr->esr >> 26 & 0x3F);
    if (exceptionClass == kEsrDataAbortLower || exceptionClass == kEsrDataAbortSame)
      return (esr->esr & kEsrWriteNotRead) != 0;
    return false;
  }
  uint32_t instruction;
  return platform_posix::ReadOwnCode(static_cast<uintptr_t>(uc->uc_mcontext.pc), &instruction, sizeof instruction) &&
         A64WritesMemory(instruction);
}

// A call leaves its return address in the link register, not on the stack:
// entering as if called is setting x30.
void ResumeFromContext(ucontext_t *uc, const CONTEXT &context) {
  mcontext_t &mc = uc->uc_mcontext;
  const uintptr_t interrupted = static_cast<uintptr_t>(mc.pc);
  uintptr_t sp = context.Esp;
  if (context.Eip != interrupted) {
    sp = EntryStackBase(sp);
    mc.regs[30] = interrupted;
  }
  mc.pc = context.Eip;
  mc.regs[29] = context.Ebp;
  mc.sp = sp;
}

}  // namespace platform_posix
