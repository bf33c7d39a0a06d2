// The fault layer's view of an s390x signal context.
#include "platform/posix/fault_context.h"

#include "platform/frame_layout.h"
#include "platform/machine.h"

namespace {

constexpr int kFramePointer = 11, kReturnRegister = 14, kStackPointer = 15;
// The register save area a caller gives the routine it calls, at the
// routine's stack pointer.
constexpr uintptr_t kSaveArea = 160;
// The data exception code of a compare-and-trap.
constexpr unsigned kCompareAndTrapCode = 0xFF;

}  // namespace

namespace platform_posix {

// The ABI gives leaf routines no room below the stack pointer.
const uintptr_t kRedZone = 0;

// A routine's frame is named by the address its caller's stack pointer had
// (frame_layout.h). Once a routine has made its frame, r11 points at the
// frame's bottom, whose back chain holds that address. Before (in a prologue,
// where a stack overflow is met) and in a leaf routine without a frame, r11
// is still the caller's and the fault is reported in the caller's frame.
// Where r11 is not on the stack above the stack pointer, it is no frame:
// the frame is 0.
void ReadFaultContext(const ucontext_t *uc, CONTEXT *context) {
  const mcontext_t &mc = uc->uc_mcontext;
  const uintptr_t bottom = mc.gregs[kFramePointer], sp = mc.gregs[kStackPointer];
  const bool onStack = bottom >= sp && (bottom & 7) == 0 && MayHoldFrame(bottom);
  context->Eip = static_cast<ULONG_PTR>(mc.psw.addr);
  context->Ebp = onStack ? static_cast<ULONG_PTR>(FrameOuter(bottom)) : 0;
  context->Esp = static_cast<ULONG_PTR>(sp);
  context->EFlags = static_cast<ULONG_PTR>(mc.psw.mask);
  context->SegCs = 0;
  context->SegSs = StackSegmentSelector();
}

// The signal names most faults: the floating unit's data exceptions by
// their code, a fixed-point division by zero or overflow as a division by
// zero (both are one program interruption). GCC's trap instruction is a
// compare-and-trap where a condition guards it, and a branch into its own
// second halfword, an invalid operation (SIGILL), where none does. The
// compare-and-trap is a data exception of code 0xFF, which Linux reports as
// a SIGFPE with no code, as if a process had sent it; the code in the
// floating-point control register tells it apart. It is an illegal
// instruction, as GCC's trap is on x86 and ARM.
DWORD RefineExceptionCode(DWORD code, int sig, const siginfo_t *info, const ucontext_t *uc) {
  if (code == 0 && sig == SIGFPE && info->si_code == SI_USER &&
      (uc->uc_mcontext.fpregs.fpc >> 8 & 0xFF) == kCompareAndTrapCode)
    return EXCEPTION_ILLEGAL_INSTRUCTION;
  return code;
}

// The signal context does not say which access faulted, and there is no
// instruction decoder for s390x here: every access fault reads as a read.
bool FaultWasWrite(const ucontext_t *) { return false; }

// Entering as if called from the interrupted instruction is the return
// address in r14 and a frame of its own below the interrupted stack: a
// register save area whose back chain is the faulting frame, which is then
// the entered routine's outer frame.
void ResumeFromContext(ucontext_t *uc, const CONTEXT &context) {
  mcontext_t &mc = uc->uc_mcontext;
  const uintptr_t interrupted = mc.psw.addr;
  if (context.Eip != interrupted) {
    const uintptr_t sp = EntryStackBase(context.Esp) - kSaveArea;
    *reinterpret_cast<uintptr_t *>(sp) = context.Ebp;
    mc.gregs[kReturnRegister] = interrupted;
    mc.gregs[kStackPointer] = sp;
  } else {
    mc.gregs[kStackPointer] = context.Esp;
  }
  mc.psw.addr = context.Eip;
}

}  // namespace platform_posix
