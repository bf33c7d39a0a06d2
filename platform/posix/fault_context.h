// The processor's side of the fault layer: how a signal context reads as the
// CONTEXT a filter sees, what more the processor tells about a fault than
// the signal does, and how a thread goes on from a changed context. One
// implementation per processor, in platform/posix/<processor>/; the build
// picks it.
#pragma once

#include <ucontext.h>

#include <csignal>
#include <cstdint>

#include "platform/posix/kernel32.h"

namespace platform_posix {

// Below an interrupted stack pointer, the bytes a leaf routine may use
// without moving it (the ABI's red zone).
extern const uintptr_t kRedZone;

// Where a redirected thread's stack pointer goes: below the interrupted one
// and its red zone, aligned for a function entry.
inline uintptr_t EntryStackBase(uintptr_t sp) { return (sp - kRedZone) & ~uintptr_t{15}; }

// The registers a filter sees. The single-step trap is consumed: the trap
// flag is clear in EFlags.
void ReadFaultContext(const ucontext_t *uc, CONTEXT *context);

// The exception code for a fault that the signal alone names `code` (0 for
// none, as for a signal a process sent), where the processor knows better
// (an x87 stack fault, a quotient overflow that Linux reports as a division
// by zero, a privileged instruction that Linux reports as a segmentation
// fault, s390x's compare-and-trap that Linux reports as a SIGFPE naming no
// fault); 0 for a signal that is no fault.
DWORD RefineExceptionCode(DWORD code, int sig, const siginfo_t *info, const ucontext_t *uc);

// Whether the access that faulted was a write.
bool FaultWasWrite(const ucontext_t *uc);

// Lets the thread go on at `context`. When Eip moved, the thread enters the
// new address as if the interrupted instruction had called it there: below
// the interrupted stack pointer and its red zone, aligned for a function
// entry, with the interrupted address as return address. The floating unit
// stays as the fault left it, pending exceptions and all.
void ResumeFromContext(ucontext_t *uc, const CONTEXT &context);

}  // namespace platform_posix

// RaiseException is the processor's too: it captures the caller's registers
// and hands them to this, which may change them for the return.
struct RaiseFrame {
  uintptr_t ip;    // the return point of RaiseException
  uintptr_t fp;    // the caller's frame pointer
  uintptr_t sp;    // the caller's stack pointer after the return
  uintptr_t link;  // nonzero: enter `ip` as if called from `link`
};
extern "C" void DispatchRaisedException(DWORD code, DWORD flags, DWORD count, const ULONG_PTR *arguments,
                                        RaiseFrame *frame);
