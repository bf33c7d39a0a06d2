// Run-time errors: the error state, the I/O check, the stops, and the message
// that reports an error with a back-trace of the call frames.
#pragma once

#include <cstdint>

#include "textio/short_string.h"

// A code address; 0 means none.
using CodeAddress = uintptr_t;
// A call frame, by the address each processor names it with, from which
// its calling frame and its return address are read (FrameOuter and
// FrameReturnAddress); 0 means none. Frames are compared as signed.
using FrameRef = uintptr_t;

// Numbers of the run-time errors that do not come from ioStatus.
enum RunErrorNumber : uint16_t {
  kStdStreamModeError = 102,
  kDivisionByZero = 200,
  kRangeCheckError = 201,
  kStackOverflow = 202,
  kHeapOverflow = 203,
  kInvalidPointer = 204,
  kFloatOverflow = 205,
  kFloatUnderflow = 206,
  kInvalidFloatOperation = 207,
  kIntegerOverflow = 215,
  kAccessViolation = 216,
  kProcessorFault = 217,  // single step, in-page error, illegal or privileged instruction
};

using ErrorHook = void (*)(uint16_t number, CodeAddress location, FrameRef frame);
using TraceLineFormatter = ShortString (*)(CodeAddress address);

// Written only on the way into termination.
extern uint16_t exitStatus;
extern uint16_t errorNumber;
extern CodeAddress errorLocation;  // nonzero: PrintRunError writes the message
extern FrameRef errorFrame;
// Settings; nothing in the system changes them.
extern ErrorHook errorHook;
extern TraceLineFormatter traceLineFormatter;
extern uint16_t consoleTraceDepth;

// The I/O check that follows every I/O statement. Returns when ioStatus is 0,
// changing nothing. Otherwise clears it and stops with its value as the
// error number; the location reported is the return point of this call and
// the frame that of its caller. The argument, the start of the statement
// checked, is accepted and not used for the report.
void CheckIo(const void *statementAddress = nullptr);
// Stops at the return point of this call, in its caller's frame.
[[noreturn]] void RaiseRunError(uint16_t number);
// The one way of every run-time error into termination.
[[noreturn]] void StopWithError(uint16_t number, CodeAddress location, FrameRef frame);
// Ends the run with `exitCode` and, normally, no message.
[[noreturn]] void StopProgram(uint8_t exitCode);

// Writes the message to errorOutput when errorLocation is set.
void PrintRunError();
// `digits` upper-case hex digits of `value`, leading zeros kept.
ShortString FormatHex(uint32_t value, uint8_t digits);
// A code address as the built image names it, which is what the message
// prints: for a position-independent executable the offset from its load
// address, so that "addr2line -e <program> 0x<digits>" names the source line.
uint32_t ImageAddress(CodeAddress address);
// "  0x" and the 8 hex digits of the address.
ShortString DefaultTraceLine(CodeAddress address);
