// Processor and floating-point faults as run-time errors: the exception
// table, the filter that accepts a fault, and the point where the faulting
// thread resumes to stop.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "runtime/run_error.h"

// Invalid operation, zero divide and overflow trap; 64-bit significand;
// round to nearest; affine infinity.
constexpr uint16_t kRunControlWord = 0x1332;

struct ExceptionMapping {
  DWORD code;
  uint8_t number;
  bool floating;
};
// The mapping of an exception code, or null for one that is declined.
const ExceptionMapping *FindExceptionMapping(DWORD code);

struct PendingFault {
  CodeAddress address;
  uint8_t number;
  bool floating;
};
constexpr int kMaxPendingFaults = 16;
// Faults accepted by the filter and not yet turned into a stop.
struct PendingFaults {
  PendingFault entries[kMaxPendingFaults];
  uint8_t count;
};
extern PendingFaults pendingFaults;

// Accepts a fault of the table in a frame of the main stack: records it and
// points the context at ResumeAfterFault. Declines everything else, also a
// fault that finds pendingFaults full.
LONG WINAPI OsExceptionFilter(EXCEPTION_POINTERS *exceptionInfo);
// Never called: the faulting thread continues here, in the faulting code's
// frame, and stops with the fault's error at the fault's address.
[[noreturn]] void ResumeAfterFault();
