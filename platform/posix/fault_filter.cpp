// Structured exceptions over POSIX signals: the unhandled-exception filter
// sees the processor faults of the thread, mapped to exception codes, on an
// alternate signal stack (so that a stack overflow is caught too), and
// RaiseException hands software exceptions to the same filter.
#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/machine.h"
#include "platform/posix/console_host/control.h"
#include "platform/posix/fault_context.h"
#include "platform/posix/kernel32.h"
#include "platform/posix/process_internal.h"

namespace {

constexpr int kFaultSignals[] = {SIGFPE, SIGSEGV, SIGBUS, SIGILL, SIGTRAP};
constexpr int kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];
constexpr std::size_t kAltStackSize = std::size_t{64} * 1024;
// Room made on the main stack after an overflow, for the termination.
constexpr std::size_t kOverflowRoom = std::size_t{256} * 1024;

struct sigaction previousActions[kFaultSignalCount];
bool handlersInstalled = false;
LPTOP_LEVEL_EXCEPTION_FILTER volatile currentFilter = nullptr;

int SignalIndex(int sig) {
  for (int i = 0; i < kFaultSignalCount; ++i)
    if (kFaultSignals[i] == sig) return i;
  return -1;
}

bool InStackGuard(uintptr_t address) {
  platform_posix::ProgramStack stack;
  return platform_posix::GetProgramStack(stack) && address >= stack.guardLow && address < stack.stackLow;
}

// The exception code a signal names by itself, 0 where it names none.
DWORD SignalExceptionCode(int sig, const siginfo_t *info) {
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
        case FPE_FLTINV: return EXCEPTION_FLT_INVALID_OPERATION;
        default: return 0;
      }
    case SIGSEGV:
      return InStackGuard(reinterpret_cast<uintptr_t>(info->si_addr)) ? EXCEPTION_STACK_OVERFLOW
                                                                      : EXCEPTION_ACCESS_VIOLATION;
    // A page that cannot be brought in, such as one past the end of a
    // mapped file.
    case SIGBUS: return info->si_code == BUS_ADRERR ? EXCEPTION_IN_PAGE_ERROR : EXCEPTION_ACCESS_VIOLATION;
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

// The processor's part may know better, also of a signal that names no
// fault by itself.
DWORD ExceptionCodeFor(int sig, const siginfo_t *info, const ucontext_t *uc) {
  return platform_posix::RefineExceptionCode(SignalExceptionCode(sig, info), sig, info, uc);
}

int SignalForCode(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_STACK_OVERFLOW: return SIGSEGV;
    case EXCEPTION_IN_PAGE_ERROR:
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
  if (code == EXCEPTION_STACK_OVERFLOW) {
    // Like the guard page consumed on Windows: room for the termination.
    uintptr_t sp = context.Esp, address = reinterpret_cast<uintptr_t>(info->si_addr);
    platform_posix::GrowProgramStack((sp < address ? sp : address) - platform_posix::kRedZone - 64, kOverflowRoom);
  }
  platform_posix::ResumeFromContext(uc, context);
}

void OnFault(int sig, siginfo_t *info, void *raw) {
  const int savedErrno = errno;
  auto *uc = static_cast<ucontext_t *>(raw);
  const DWORD code = ExceptionCodeFor(sig, info, uc);
  const LPTOP_LEVEL_EXCEPTION_FILTER filter = currentFilter;
  if (code != 0 && filter != nullptr) {
    CONTEXT context = {};
    platform_posix::ReadFaultContext(uc, &context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<PVOID>(context.Eip);
    if (code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_STACK_OVERFLOW || code == EXCEPTION_IN_PAGE_ERROR) {
      record.NumberParameters = 2;
      record.ExceptionInformation[0] = platform_posix::FaultWasWrite(uc) ? 1 : 0;
      record.ExceptionInformation[1] = reinterpret_cast<ULONG_PTR>(info->si_addr);
    }
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
  if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE) == 0 && current.ss_size >= kAltStackSize)
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
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
  _exit(128 + sig);
}

}  // namespace

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI
SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER lpTopLevelExceptionFilter) {
  LPTOP_LEVEL_EXCEPTION_FILTER previous = currentFilter;
  currentFilter = lpTopLevelExceptionFilter;
  if (lpTopLevelExceptionFilter != nullptr) {
    EnsureAltStack();
    if (!handlersInstalled) InstallHandlers();
  }
  return previous;
}

extern "C" void DispatchRaisedException(DWORD code, DWORD flags, DWORD count, const ULONG_PTR *arguments,
                                        RaiseFrame *frame) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionFlags = flags & EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<PVOID>(frame->ip);
  record.NumberParameters = count < EXCEPTION_MAXIMUM_PARAMETERS ? count : EXCEPTION_MAXIMUM_PARAMETERS;
  if (arguments != nullptr)
    std::memcpy(record.ExceptionInformation, arguments, record.NumberParameters * sizeof(ULONG_PTR));
  CONTEXT context = {};
  context.Eip = frame->ip;
  context.Ebp = frame->fp;
  context.Esp = frame->sp;
  context.SegSs = StackSegmentSelector();
  EXCEPTION_POINTERS pointers = {&record, &context};
  const LPTOP_LEVEL_EXCEPTION_FILTER filter = currentFilter;
  if (filter != nullptr && filter(&pointers) == EXCEPTION_CONTINUE_EXECUTION &&
      (flags & EXCEPTION_NONCONTINUABLE) == 0) {
    frame->link = 0;
    if (context.Eip != frame->ip) {
      frame->link = frame->ip;
      context.Esp = platform_posix::EntryStackBase(context.Esp);
    }
    frame->ip = context.Eip;
    frame->fp = context.Ebp;
    frame->sp = context.Esp;
    return;
  }
  // Unhandled: the process ends by the signal that stands for the code.
  DieBySignal(SignalForCode(code));
}
