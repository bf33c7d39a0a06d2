// The fault layer's view of a 32-bit ARM signal context.
#include "platform/posix/fault_context.h"

#include <bit>

#include "platform/arm/memory_access.h"
#include "platform/machine.h"
#include "platform/posix/own_code.h"

// The program's ARM code is read as little-endian words: integers of this processor.
static_assert(std::endian::native == std::endian::little);

namespace {

constexpr unsigned long kThumbState = 1ul << 5;  // CPSR.T
// CPSR's IT bits (15:10 and 26:25): the state of a Thumb IT block.
constexpr unsigned long kItBits = 0x0600FC00ul;
constexpr unsigned long kDataAbortTrap = 14;             // trap_no of a page fault
constexpr unsigned long kFaultWriteNotRead = 1ul << 11;  // FSR.WnR

// The ARM instruction at the faulting address when it lies in the
// program's own code; false elsewhere and for Thumb code (the C library's).
bool ReadOwnArmCode(const mcontext_t &mc, uint32_t *instruction) {
  return (mc.arm_cpsr & kThumbState) == 0 && platform_posix::ReadOwnCode(mc.arm_pc, instruction, sizeof *instruction);
}

}  // namespace

namespace platform_posix {

// The procedure call standard gives leaf routines no room below the stack
// pointer.
const uintptr_t kRedZone = 0;

void ReadFaultContext(const ucontext_t *uc, CONTEXT *context) {
  const mcontext_t &mc = uc->uc_mcontext;
  context->Eip = static_cast<ULONG_PTR>(mc.arm_pc);
  context->Ebp = static_cast<ULONG_PTR>(mc.arm_fp);
  context->Esp = static_cast<ULONG_PTR>(mc.arm_sp);
  context->EFlags = static_cast<ULONG_PTR>(mc.arm_cpsr);
  context->SegCs = 0;
  context->SegSs = StackSegmentSelector();
}

// GCC's trap instruction is an undefined one, an illegal instruction by
// itself; the floating unit does not trap, and an integer division by zero
// is the run time's own (divide_by_zero.cpp). The signal says all there is.
DWORD RefineExceptionCode(DWORD code, int, const siginfo_t *, const ucontext_t *) { return code; }

// The kernel names a page fault's access in the fault status it puts in the
// context; qemu-user leaves it out, and then the faulting instruction tells
// when it lies in the program's own code.
bool FaultWasWrite(const ucontext_t *uc) {
  const mcontext_t &mc = uc->uc_mcontext;
  if (mc.trap_no == kDataAbortTrap) return (mc.error_code & kFaultWriteNotRead) != 0;
  uint32_t instruction;
  return ReadOwnArmCode(mc, &instruction) && A32WritesMemory(instruction);
}

// A call leaves its return address in the link register: entering as if
// called is setting lr. The address's bit 0 says which instruction set the
// thread goes on in.
void ResumeFromContext(ucontext_t *uc, const CONTEXT &context) {
  mcontext_t &mc = uc->uc_mcontext;
  const uintptr_t interrupted = mc.arm_pc;
  uintptr_t sp = context.Esp;
  if (context.Eip != interrupted) {
    sp = EntryStackBase(sp);
    mc.arm_lr = interrupted | ((mc.arm_cpsr & kThumbState) != 0 ? 1u : 0u);
    mc.arm_cpsr &= ~(kThumbState | kItBits);
    if ((context.Eip & 1) != 0) mc.arm_cpsr |= kThumbState;
  }
  mc.arm_pc = context.Eip & ~uintptr_t{1};
  mc.arm_fp = context.Ebp;
  mc.arm_sp = sp;
}

}  // namespace platform_posix
