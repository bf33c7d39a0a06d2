// The fault layer's view of a 64-bit RISC-V signal context.
#include "platform/posix/fault_context.h"

#include <bit>

#include "platform/frame_layout.h"
#include "platform/machine.h"
#include "platform/posix/own_code.h"
#include "platform/riscv64/memory_access.h"

// The program's RISC-V code is read as little-endian halfwords: integers of this processor.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr uint32_t kEbreak = 0x00100073, kCompressedEbreak = 0x9002;

// The instruction at `pc` (a compressed one in its low half) when it lies
// in the program's own code, which can be read without a fault.
bool ReadOwnInstruction(uintptr_t pc, uint32_t *instruction) {
  uint16_t low, high;
  if (!platform_posix::ReadOwnCode(pc, &low, sizeof low)) return false;
  *instruction = low;
  if (RvInstructionLength(low) == 2) return true;
  if (!platform_posix::ReadOwnCode(pc + 2, &high, sizeof high)) return false;
  *instruction |= uint32_t{high} << 16;
  return true;
}

}  // namespace

namespace platform_posix {

// The calling convention gives leaf routines no room below the stack
// pointer.
const uintptr_t kRedZone = 0;

// A leaf routine keeps only the saved frame pointer below its own (GCC 12
// has no option for a whole record there): where the return address would
// be lies an address of the stack above, not of the program's code. Such a
// fault is reported in the calling routine's frame.
void ReadFaultContext(const ucontext_t *uc, CONTEXT *context) {
  const auto *regs = uc->uc_mcontext.__gregs;
  uintptr_t frame = regs[REG_S0];
  if (frame >= regs[REG_SP] && (frame & 7) == 0 && MayHoldFrame(frame - 16)) {
    const uintptr_t belowFrame = FrameReturnAddress(frame);
    if (belowFrame > frame && MayHoldFrame(belowFrame) && !platform_posix::InOwnCode(belowFrame, 1)) frame = belowFrame;
  }
  context->Eip = static_cast<ULONG_PTR>(regs[REG_PC]);
  context->Ebp = static_cast<ULONG_PTR>(frame);
  context->Esp = static_cast<ULONG_PTR>(regs[REG_SP]);
  context->EFlags = 0;
  context->SegCs = 0;
  context->SegSs = StackSegmentSelector();
}

// GCC's trap instruction is ebreak, RISC-V's only breakpoint: in the
// program's own code it is taken for the trap, an illegal instruction as
// on x86 and ARM. Beyond that the signal says all there is: the floating
// unit has no traps, and integer division never faults.
DWORD RefineExceptionCode(DWORD code, int, const siginfo_t *, const ucontext_t *uc) {
  uint32_t instruction;
  if (code == EXCEPTION_BREAKPOINT && ReadOwnInstruction(uc->uc_mcontext.__gregs[REG_PC], &instruction) &&
      (instruction == kEbreak || instruction == kCompressedEbreak))
    return EXCEPTION_ILLEGAL_INSTRUCTION;
  return code;
}

// The kernel does not say; the faulting instruction does, when it lies in
// the program's own code.
bool FaultWasWrite(const ucontext_t *uc) {
  uint32_t instruction;
  return ReadOwnInstruction(uc->uc_mcontext.__gregs[REG_PC], &instruction) && RvWritesMemory(instruction);
}

// A call leaves its return address in ra: entering as if called is setting
// it.
void ResumeFromContext(ucontext_t *uc, const CONTEXT &context) {
  auto *regs = uc->uc_mcontext.__gregs;
  const uintptr_t interrupted = regs[REG_PC];
  uintptr_t sp = context.Esp;
  if (context.Eip != interrupted) {
    sp = EntryStackBase(sp);
    regs[REG_RA] = interrupted;
  }
  regs[REG_PC] = context.Eip;
  regs[REG_S0] = context.Ebp;
  regs[REG_SP] = sp;
}

}  // namespace platform_posix
