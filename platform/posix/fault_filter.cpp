// Structured exceptions over POSIX signals: the unhandled-exception filter
// sees the processor faults of the thread, mapped to exception codes, on an
// alternate signal stack (so that a stack overflow is caught too), and
// RaiseException hands software exceptions to the same filter.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include "platform/machine.h"
#include "platform/posix/console_host.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/process_internal.h"

#if !defined(__x86_64__)
#error "the POSIX fault layer reads x86-64 signal contexts"
#endif

namespace {

constexpr int kFaultSignals[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGTRAP};
constexpr int kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];
constexpr std::size_t kAltStackSize = 64 * 1024;
// Room made on the main stack after an overflow, for the termination.
constexpr std::size_t kOverflowRoom = 256 * 1024;
constexpr uintptr_t kRedZone = 128;
constexpr greg_t kTrapFlag = 0x100;
constexpr uint16_t kX87ExceptionBits = 0x80FF;  // flags, stack fault, summary, busy
constexpr uint16_t kX87StackFault = 0x0040;
constexpr uint32_t kSseFlagBits = 0x3F;
constexpr unsigned long kSigcontextHasSs = 0x2;  // uc_flags: the saved ss is valid

struct sigaction previousActions[kFaultSignalCount];
bool handlersInstalled = false;
LPTOP_LEVEL_EXCEPTION_FILTER volatile currentFilter = nullptr;

int SignalIndex(int sig) {
  for (int i = 0; i < kFaultSignalCount; ++i)
    if (kFaultSignals[i] == sig) return i;
  return -1;
}

bool InStackGuard(uintptr_t address) {
  posix::ProgramStack stack;
  return posix::GetProgramStack(stack) && address >= stack.guardLow && address < stack.stackLow;
}

DWORD ExceptionCodeFor(int sig, const siginfo_t *info, const ucontext_t *uc) {
  // Sent by a process, not raised by an instruction: no exception.
  if (info->si_code <= 0) return 0;
  switch (sig) {
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV: return EXCEPTION_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF: return EXCEPTION_INT_OVERFLOW;
        case FPE_FLTDIV: return EXCEPTION_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return EXCEPTION_FLT_OVERFLOW;
        case FPE_FLTUND: return EXCEPTION_FLT_UNDERFLOW;
        case FPE_FLTRES: return EXCEPTION_FLT_INEXACT_RESULT;
        case FPE_FLTSUB: return EXCEPTION_ARRAY_BOUNDS_EXCEEDED;
        case FPE_FLTINV: {
          const auto *fp = uc->uc_mcontext.fpregs;
          bool stackFault = fp != nullptr && (fp->swd & kX87StackFault) != 0;
          return stackFault ? EXCEPTION_FLT_STACK_CHECK : EXCEPTION_FLT_INVALID_OPERATION;
        }
        default: return 0;
      }
    case SIGSEGV:
    case SIGBUS:
      return InStackGuard(reinterpret_cast<uintptr_t>(info->si_addr)) ? EXCEPTION_STACK_OVERFLOW
                                                                      : EXCEPTION_ACCESS_VIOLATION;
    case SIGILL:
      return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? EXCEPTION_PRIV_INSTRUCTION
                                                                         : EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
      if (info->si_code == TRAP_TRACE) return EXCEPTION_SINGLE_STEP;
      if (info->si_code == TRAP_BRKPT) return EXCEPTION_BREAKPOINT;
      return 0;
    default: return 0;
  }
}

int SignalForCode(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_IN_PAGE_ERROR: return SIGSEGV;
    case EXCEPTION_DATATYPE_MISALIGNMENT: return SIGBUS;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION: return SIGILL;
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_SINGLE_STEP: return SIGTRAP;
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW: return SIGFPE;
    default: return SIGABRT;
  }
}

// Where a redirected thread's stack pointer goes: below the interrupted one
// and its red zone, 16-aligned, ready for the return address to be pushed.
uintptr_t EntryStackBase(uintptr_t sp) { return (sp - kRedZone) & ~uintptr_t{15}; }

void RestorePreviousAction(int sig) {
  int i = SignalIndex(sig);
  if (i >= 0) sigaction(sig, &previousActions[i], nullptr);
}

// The fault is left to the handling that was there before: returning runs
// the faulting instruction again under it; a trap, which does not repeat,
// and a signal sent by a process are raised again. The process most likely
// ends there, so the terminal goes back first.
void Decline(int sig, const siginfo_t *info) {
  ConsoleHostRestore();
  RestorePreviousAction(sig);
  if (info->si_code <= 0 || sig == SIGTRAP) raise(sig);
}

void ResumeWith(ucontext_t *uc, const CONTEXT &context, DWORD code, const siginfo_t *info) {
  greg_t *regs = uc->uc_mcontext.gregs;
  const uintptr_t interrupted = static_cast<uintptr_t>(regs[REG_RIP]);
  uintptr_t sp = context.Esp;
  if (code == EXCEPTION_STACK_OVERFLOW) {
    // Like the guard page consumed on Windows: room for the termination.
    uintptr_t lowest = sp < reinterpret_cast<uintptr_t>(info->si_addr) ? sp : reinterpret_cast<uintptr_t>(info->si_addr);
    posix::GrowProgramStack(lowest - kRedZone - 64, kOverflowRoom);
  }
  if (context.Eip != interrupted) {
    sp = EntryStackBase(sp) - sizeof(uintptr_t);
    *reinterpret_cast<uintptr_t *>(sp) = interrupted;
  }
  regs[REG_RIP] = static_cast<greg_t>(context.Eip);
  regs[REG_RBP] = static_cast<greg_t>(context.Ebp);
  regs[REG_RSP] = static_cast<greg_t>(sp);
  regs[REG_EFL] = static_cast<greg_t>(context.EFlags);
  if (auto *fp = uc->uc_mcontext.fpregs) {
    fp->swd = static_cast<uint16_t>(fp->swd & ~kX87ExceptionBits);
    fp->mxcsr &= ~kSseFlagBits;
  }
}

void OnFault(int sig, siginfo_t *info, void *raw) {
  const int savedErrno = errno;
  auto *uc = static_cast<ucontext_t *>(raw);
  greg_t *regs = uc->uc_mcontext.gregs;
  const DWORD code = ExceptionCodeFor(sig, info, uc);
  const LPTOP_LEVEL_EXCEPTION_FILTER filter = currentFilter;
  if (code != 0 && filter != nullptr) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<PVOID>(regs[REG_RIP]);
    if (code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_STACK_OVERFLOW) {
      record.NumberParameters = 2;
      record.ExceptionInformation[0] = (regs[REG_ERR] & 2) != 0 ? 1 : 0;  // 1: a write
      record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
    }
    CONTEXT context = {};
    context.Eip = static_cast<ULONG_PTR>(regs[REG_RIP]);
    context.Ebp = static_cast<ULONG_PTR>(regs[REG_RBP]);
    context.Esp = static_cast<ULONG_PTR>(regs[REG_RSP]);
    context.EFlags = static_cast<ULONG_PTR>(regs[REG_EFL]);
    if (code == EXCEPTION_SINGLE_STEP) context.EFlags &= ~static_cast<ULONG_PTR>(kTrapFlag);
    const auto segments = static_cast<uint64_t>(regs[REG_CSGSFS]);
    context.SegCs = static_cast<DWORD>(segments & 0xFFFF);
    context.SegSs = (uc->uc_flags & kSigcontextHasSs) != 0 ? static_cast<DWORD>(segments >> 48 & 0xFFFF)
                                                           : StackSegmentSelector();
    EXCEPTION_POINTERS pointers = {&record, &context};
    if (filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION) {
      ResumeWith(uc, context, code, info);
      errno = savedErrno;
      return;
    }
  }
  Decline(sig, info);
  errno = savedErrno;
}

void EnsureAltStack() {
  stack_t current;
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 &&
      current.ss_size >= kAltStackSize)
    return;
  void *memory = mmap(nullptr, kAltStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) return;
  stack_t stack = {};
  stack.ss_sp = memory;
  stack.ss_size = kAltStackSize;
  sigaltstack(&stack, nullptr);
}

void InstallHandlers() {
  struct sigaction action = {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < kFaultSignalCount; ++i) sigaction(kFaultSignals[i], &action, &previousActions[i]);
  handlersInstalled = true;
}

[[noreturn]] void DieBySignal(int sig) {
  ConsoleHostRestore();
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigaction(sig, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

// The caller's state at the return point of RaiseException, and on return
// where it continues: at `rip` with `rbp`, and `rsp` after `push` is pushed
// when that is nonzero.
struct RaiseFrame {
  uintptr_t rip;
  uintptr_t rbp;
  uintptr_t rsp;
  uintptr_t push;
};

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER lpTopLevelExceptionFilter) {
  LPTOP_LEVEL_EXCEPTION_FILTER previous = currentFilter;
  currentFilter = lpTopLevelExceptionFilter;
  if (lpTopLevelExceptionFilter != nullptr) {
    EnsureAltStack();
    if (!handlersInstalled) InstallHandlers();
  }
  return previous;
}

extern "C" __attribute__((visibility("hidden"), used)) void DispatchRaisedException(DWORD code, DWORD flags,
                                                                                    DWORD count,
                                                                                    const ULONG_PTR *arguments,
                                                                                    RaiseFrame *frame) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionFlags = flags & EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<PVOID>(frame->rip);
  record.NumberParameters = count < EXCEPTION_MAXIMUM_PARAMETERS ? count : EXCEPTION_MAXIMUM_PARAMETERS;
  if (arguments != nullptr)
    std::memcpy(record.ExceptionInformation, arguments, record.NumberParameters * sizeof(ULONG_PTR));
  CONTEXT context = {};
  context.Eip = frame->rip;
  context.Ebp = frame->rbp;
  context.Esp = frame->rsp;
  context.SegSs = StackSegmentSelector();
  EXCEPTION_POINTERS pointers = {&record, &context};
  const LPTOP_LEVEL_EXCEPTION_FILTER filter = currentFilter;
  if (filter != nullptr && filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION &&
      (flags & EXCEPTION_NONCONTINUABLE) == 0) {
    frame->push = 0;
    if (context.Eip != frame->rip) {
      frame->push = frame->rip;
      context.Esp = EntryStackBase(context.Esp);
    }
    frame->rip = context.Eip;
    frame->rbp = context.Ebp;
    frame->rsp = context.Esp;
    return;
  }
  // Unhandled: the process ends by the signal that stands for the code.
  DieBySignal(SignalForCode(code));
}

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
      "push %rcx\n"
      "1:\n\t"
      "jmp *%rax");
}
