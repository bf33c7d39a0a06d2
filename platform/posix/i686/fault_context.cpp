// The fault layer's view of a 32-bit x86 signal context.
#include "platform/posix/fault_context.h"

#include <asm/ldt.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "platform/machine.h"
#include "platform/x86/fault_decode.h"

namespace {

constexpr greg_t kTrapFlag = 0x100;
constexpr unsigned long kX87StackFault = 0x0040;
constexpr greg_t kPageFaultWrite = 2;

// The general registers in the order instructions encode them. The esp
// slot is the one the kernel restores the stack pointer from.
constexpr int kRegisterSlots[8] = {REG_EAX, REG_ECX, REG_EDX, REG_EBX, REG_ESP, REG_EBP, REG_ESI, REG_EDI};

// The thread at its fault, for the instruction decoder (see the x86-64
// one): the handler runs on it, with its memory and its segments.
class SignalledThread final : public x86::InterruptedThread {
 public:
  explicit SignalledThread(const ucontext_t *uc) : regs_(uc->uc_mcontext.gregs) {}

  uint64_t Register(int number) const override { return static_cast<uint32_t>(regs_[kRegisterSlots[number & 7]]); }

  // fs and gs select descriptors of the thread's own (gs its thread-local
  // storage); selector 0 is no segment.
  uint64_t SegmentBase(x86::Segment segment) const override {
    const auto selector = static_cast<uint16_t>(regs_[segment == x86::Segment::kFs ? REG_FS : REG_GS]);
    if (selector >> 3 == 0) return 0;
    user_desc descriptor = {};
    descriptor.entry_number = selector >> 3;
    if (syscall(SYS_get_thread_area, &descriptor) != 0) return 0;
    return descriptor.base_addr;
  }

  // The decoder asks only for the faulting instruction and the divisor the
  // processor has just read; an address beyond 32 bits is none.
  bool Read(uint64_t address, void *to, std::size_t size) const override {
    if (address + size > uint64_t{1} << 32) return false;
    std::memcpy(to, reinterpret_cast<const void *>(static_cast<uintptr_t>(address)), size);
    return true;
  }

 private:
  const greg_t *regs_;
};

}  // namespace

namespace platform_posix {

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

DWORD RefineExceptionCode(DWORD code, int sig, const siginfo_t *info, const ucontext_t *uc) {
  const SignalledThread thread(uc);
  const auto ip = static_cast<uint32_t>(uc->uc_mcontext.gregs[REG_EIP]);
  switch (code) {
    case EXCEPTION_FLT_INVALID_OPERATION: {
      const auto *fp = uc->uc_mcontext.fpregs;
      return fp != nullptr && (fp->sw & kX87StackFault) != 0 ? EXCEPTION_FLT_STACK_CHECK : code;
    }
    // Linux names every divide error a division by zero.
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return x86::ClassifyDivideError(x86::CodeMode::k32, ip, thread) == x86::DivideError::kQuotientOverflow
                 ? EXCEPTION_INT_OVERFLOW
                 : code;
    // A general-protection fault comes as SIGSEGV from the kernel.
    case EXCEPTION_ACCESS_VIOLATION:
      return sig == SIGSEGV && info->si_code == SI_KERNEL &&
                     x86::IsPrivilegedInstruction(x86::CodeMode::k32, ip, thread)
                 ? EXCEPTION_PRIV_INSTRUCTION
                 : code;
    default: return code;
  }
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

}  // namespace platform_posix
