// RaiseException on s390x, in the processor's own code.
#include "platform/posix/fault_context.h"

// RaiseException(code, flags, count, arguments) in r2-r5: it saves the
// caller's registers in the save area the caller gave it, makes a frame
// whose back chain links the dispatcher's frames to the caller's, and holds
// a RaiseFrame above that frame's save area; the dispatcher's fifth argument,
// its address, goes in r6. The caller's frame is its back chain, at the
// caller's stack pointer. After the dispatch the saved registers come back
// and a moved return point is entered as if called from the old one: r14
// holds that, and the back chain at the stack pointer the caller's frame.
asm(R"(
  .text
  .globl RaiseException
  .type RaiseException, @function
  .p2align 3
RaiseException:
  stmg %r6,%r15,48(%r15)
  lgr %r1,%r15
  lay %r15,-192(%r15)
  stg %r1,0(%r15)
  stg %r14,160(%r15)
  mvc 168(8,%r15),0(%r1)
  stg %r1,176(%r15)
  mvghi 184(%r15),0
  la %r6,160(%r15)
  brasl %r14,DispatchRaisedException@PLT
  lg %r1,160(%r15)
  lg %r0,184(%r15)
  lg %r3,168(%r15)
  lg %r2,176(%r15)
  lmg %r6,%r13,240(%r15)
  lgr %r15,%r2
  ltgr %r0,%r0
  jz 1f
  stg %r3,0(%r15)
  lgr %r14,%r0
1:
  br %r1
  .size RaiseException, .-RaiseException
)");
