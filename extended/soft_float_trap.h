// How the software extended format reports the floating exceptions that the
// run time keeps unmasked on the hardware (invalid, zero divide, overflow):
// as the exception the x87 would raise, from the routine that computed.
#pragma once

#include "extended/extended_bits.h"
#include "platform/platform.h"

// Called with the exception code of each operation that raises one of
// those, where the hardware would trap. It has RaiseException's shape: the
// run time installs RaiseException itself, so that a software trap reaches
// the exception filter as a hardware one does, with the registers of the
// routine that computed. Empty: the operation delivers the hardware's
// masked default result (real indefinite, signed infinity) and nothing else
// happens. A handler that returns gets that result as well.
using SoftFloatTrapHandler = void(WINAPI *)(DWORD code, DWORD flags, DWORD count, const ULONG_PTR *arguments);
extern SoftFloatTrapHandler softFloatTrap;

// The code of the exception for the kFloatTrap* bits in `raised`, 0 for
// none. One operation raises at most one of them; the x87 would rank
// invalid before zero divide before overflow.
constexpr DWORD SoftFloatTrapCode(int raised) {
  if ((raised & kFloatTrapInvalid) != 0) return EXCEPTION_FLT_INVALID_OPERATION;
  if ((raised & kFloatTrapZeroDivide) != 0) return EXCEPTION_FLT_DIVIDE_BY_ZERO;
  if ((raised & kFloatTrapOverflow) != 0) return EXCEPTION_FLT_OVERFLOW;
  return 0;
}

// Inlined into every operation, and with it into the routine that calls the
// operation: the exception is raised there, as the hardware raises it in
// the routine that holds the faulting instruction.
[[gnu::always_inline]] inline void ReportSoftFloatTraps(int raised) {
  const DWORD code = SoftFloatTrapCode(raised);
  if (code != 0 && softFloatTrap != nullptr) softFloatTrap(code, 0, 0, nullptr);
}
