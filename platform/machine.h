// What the run-time frame needs of the processor and of the program image,
// beyond the kernel32 calls of platform.h: the floating unit's control
// state, the stack segment, the end of the frame-pointer chain, and how code
// addresses map to addresses of the built image.
#pragma once

#include <cstdint>

// A routine that is never inlined, split or cloned, so that the return point
// and the frame it reads are its own. clang has no such attribute; it keeps
// a routine whole and apart that it does not optimize.
#if defined(__clang__)
#define GRADES_OWN_FRAME __attribute__((noinline, optnone))
#else
#define GRADES_OWN_FRAME [[gnu::noipa]]
#endif

// Reinitialises the floating unit and loads `controlWord` into the x87. The
// SSE unit, where there is one, gets the same exception masks and rounding
// with its flags cleared, so that double arithmetic outside the x87 traps as
// the x87 does.
void ResetFloatUnit(uint16_t controlWord);

// The current stack segment selector.
uint16_t StackSegmentSelector();

// Calls `routine` with the frame pointer cleared, so that the frame `routine`
// builds has 0 as its outer frame and ends every walk of the chain; returns
// when `routine` does.
void CallWithFrameChainEnd(void (*routine)());

// Subtracted from a code address to give the address of the same place in
// the built image, as tools that read the executable file name it: the load
// offset of a position-independent executable, 0 for one linked at its
// address.
uintptr_t ImageAddressBias();

// Whether a frame record may lie at `address`: on the main stack, as far as
// its bounds are known (true when they are not).
bool MayHoldFrame(uintptr_t address);

// The image's entry points, supplied by the run-time frame: a console
// program's and a windowed program's. The platform's start-up enters the
// image's on the main stack (32 MB reserved); neither returns.
extern "C" [[noreturn]] void ConsoleEntry();
extern "C" [[noreturn]] void WindowedEntry();
