// The fault layer's view of an x86-64 signal context.
#include "platform/posix/fault_context.h"

#include <asm/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

#include "platform/machine.h"
#include "platform/x86/fault_decode.h"

namespace {

constexpr greg_t kTrapFlag = 0x100;
constexpr uint16_t kX87StackFault = 0x0040;
constexpr unsigned long kSigcontextHasSs = 0x2;  // uc_flags: the saved ss is valid
constexpr greg_t kPageFaultWrite = 2;            // in the page fault's error code

// The general registers in the order instructions encode them.
constexpr int kRegisterSlots[16] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI,
                                    REG_R8,  REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15};

// The thread at its fault, for the instruction decoder. The handler runs on
// that thread, so its memory and segment bases are this thread's. The
// decoder reads only the faulting instruction and the divisor the processor
// has just read: memory that is there, so a plain copy does.
class SignalledThread final : public x86::InterruptedThread {
 public:
  explicit SignalledThread(const ucontext_t *uc) : regs_(uc->uc_mcontext.gregs) {}

  uint64_t Register(int number) const override { return static_cast<uint64_t>(regs_[kRegisterSlots[number & 15]]); }

  uint64_t SegmentBase(x86::Segment segment) const override {
    unsigned long base = 0;
    syscall(SYS_arch_prctl, segment == x86::Segment::kFs ? ARCH_GET_FS : ARCH_GET_GS, &base);
    return base;
  }

  // Only a canonical address can be memory; reading another would fault
  // in the handler.
  bool Read(uint64_t address, void *to, std::size_t size) const override {
    if (!IsCanonical(address) || !IsCanonical(address + size - 1)) return false;
    std::memcpy(to, reinterpret_cast<const void *>(address), size);
    return true;
  }

 private:
  static bool IsCanonical(uint64_t address) {
    return static_cast<uint64_t>(static_cast<int64_t>(address << 16) >> 16) == address;
  }
  const greg_t *regs_;
};

}  // namespace

namespace platform_posix {

const uintptr_t kRedZone = 128;

void ReadFaultContext(const ucontext_t *uc, CONTEXT *context) {
  const greg_t *regs = uc->uc_mcontext.gregs;
  context->Eip = static_cast<ULONG_PTR>(regs[REG_RIP]);
  context->Ebp = static_cast<ULONG_PTR>(regs[REG_RBP]);
  context->Esp = static_cast<ULONG_PTR>(regs[REG_RSP]);
  context->EFlags = static_cast<ULONG_PTR>(regs[REG_EFL]) & ~static_cast<ULONG_PTR>(kTrapFlag);
  const auto segments = static_cast<uint64_t>(regs[REG_CSGSFS]);
  context->SegCs = static_cast<DWORD>(segments & 0xFFFF);
  context->SegSs =
      (uc->uc_flags & kSigcontextHasSs) != 0 ? static_cast<DWORD>(segments >> 48 & 0xFFFF) : StackSegmentSelector();
}

DWORD RefineExceptionCode(DWORD code, int sig, const siginfo_t *info, const ucontext_t *uc) {
  const SignalledThread thread(uc);
  const auto ip = static_cast<uint64_t>(uc->uc_mcontext.gregs[REG_RIP]);
  switch (code) {
    case EXCEPTION_FLT_INVALID_OPERATION: {
      const auto *fp = uc->uc_mcontext.fpregs;
      return fp != nullptr && (fp->swd & kX87StackFault) != 0 ? EXCEPTION_FLT_STACK_CHECK : code;
    }
    // Linux names every divide error a division by zero.
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return x86::ClassifyDivideError(x86::CodeMode::k64, ip, thread) == x86::DivideError::kQuotientOverflow
                 ? EXCEPTION_INT_OVERFLOW
                 : code;
    // A general-protection fault comes as SIGSEGV from the kernel, also for
    // a non-canonical address, which stays an access violation.
    case EXCEPTION_ACCESS_VIOLATION:
      return sig == SIGSEGV && info->si_code == SI_KERNEL &&
                     x86::IsPrivilegedInstruction(x86::CodeMode::k64, ip, thread)
                 ? EXCEPTION_PRIV_INSTRUCTION
                 : code;
    default: return code;
  }
}

bool FaultWasWrite(const ucontext_t *uc) { return (uc->uc_mcontext.gregs[REG_ERR] & kPageFaultWrite) != 0; }

void ResumeFromContext(ucontext_t *uc, const CONTEXT &context) {
  greg_t *regs = uc->uc_mcontext.gregs;
  const uintptr_t interrupted = static_cast<uintptr_t>(regs[REG_RIP]);
  uintptr_t sp = context.Esp;
  if (context.Eip != interrupted) {
    sp = EntryStackBase(sp) - sizeof(uintptr_t);
    *reinterpret_cast<uintptr_t *>(sp) = interrupted;
  }
  regs[REG_RIP] = static_cast<greg_t>(context.Eip);
  regs[REG_RBP] = static_cast<greg_t>(context.Ebp);
  regs[REG_RSP] = static_cast<greg_t>(sp);
  regs[REG_EFL] = static_cast<greg_t>(context.EFlags);
}

}  // namespace platform_posix
