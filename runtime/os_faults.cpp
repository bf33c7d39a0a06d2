#include "runtime/os_faults.h"

#include "platform/frame_layout.h"
#include "platform/machine.h"
#include "runtime/startup.h"

namespace {

constexpr ExceptionMapping kExceptionTable[] = {
    {EXCEPTION_SINGLE_STEP, kProcessorFault, false},
    {EXCEPTION_ACCESS_VIOLATION, kAccessViolation, false},
    {EXCEPTION_IN_PAGE_ERROR, kProcessorFault, false},
    {EXCEPTION_ILLEGAL_INSTRUCTION, kProcessorFault, false},
    {EXCEPTION_ARRAY_BOUNDS_EXCEEDED, kRangeCheckError, false},
    {EXCEPTION_FLT_DENORMAL_OPERAND, kAccessViolation, true},
    {EXCEPTION_FLT_DIVIDE_BY_ZERO, kDivisionByZero, true},
    {EXCEPTION_FLT_INVALID_OPERATION, kInvalidFloatOperation, true},
    {EXCEPTION_FLT_OVERFLOW, kFloatOverflow, true},
    {EXCEPTION_FLT_STACK_CHECK, kInvalidFloatOperation, true},
    {EXCEPTION_FLT_UNDERFLOW, kFloatUnderflow, true},
    {EXCEPTION_INT_DIVIDE_BY_ZERO, kDivisionByZero, false},
    {EXCEPTION_INT_OVERFLOW, kIntegerOverflow, false},
    {EXCEPTION_PRIV_INSTRUCTION, kProcessorFault, false},
    {EXCEPTION_STACK_OVERFLOW, kStackOverflow, false},
};

}  // namespace

PendingFaults pendingFaults = {};

const ExceptionMapping *FindExceptionMapping(DWORD code) {
  for (const ExceptionMapping &mapping : kExceptionTable)
    if (mapping.code == code) return &mapping;
  return nullptr;
}

LONG WINAPI OsExceptionFilter(EXCEPTION_POINTERS *exceptionInfo) {
  CONTEXT &context = *exceptionInfo->ContextRecord;
  EXCEPTION_RECORD &record = *exceptionInfo->ExceptionRecord;
  // The selector is the low half of its field: the system need not clear
  // the other (Wine leaves it as it found it in a raised exception's context).
  const bool ownStack = static_cast<uint16_t>(context.SegSs) == stackSegment;
  const FrameRef frame = ownStack ? static_cast<FrameRef>(context.Ebp) : 0;
  const ExceptionMapping *mapping = FindExceptionMapping(record.ExceptionCode);
  if (mapping == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  if (frame == 0) return EXCEPTION_CONTINUE_SEARCH;
  // A seventeenth fault before any has been turned into a stop is left to
  // the platform.
  if (pendingFaults.count >= kMaxPendingFaults) return EXCEPTION_CONTINUE_SEARCH;
  pendingFaults.entries[pendingFaults.count] = {static_cast<CodeAddress>(context.Eip), mapping->number,
                                                mapping->floating};
  ++pendingFaults.count;
  context.Eip = reinterpret_cast<uintptr_t>(&ResumeAfterFault);
  record.ExceptionCode = 0;
  return EXCEPTION_CONTINUE_EXECUTION;
}

// Entered with the faulting code's registers, as if the faulting instruction
// had called it: the frame pointer on entry is the faulting code's.
GRADES_OWN_FRAME void ResumeAfterFault() {
  PendingFault entry = {};
  if (pendingFaults.count > 0) {
    --pendingFaults.count;
    entry = pendingFaults.entries[pendingFaults.count];
  }
  // The termination runs on a clean floating unit.
  if (entry.floating) ResetFloatUnit(kRunControlWord);
  const FrameRef faultingFrame = FrameOuter(reinterpret_cast<FrameRef>(__builtin_frame_address(0)));
  StopWithError(entry.number, entry.address, faultingFrame);
}
