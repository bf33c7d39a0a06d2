// Shared pieces of the POSIX process layer: the program's main stack, which
// the start-up creates and the fault layer watches for overflow.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform_posix {

// The main stack of the program: usable memory [stackLow, stackHigh) above
// an inaccessible guard region [guardLow, stackLow).
struct ProgramStack {
  uintptr_t guardLow;
  uintptr_t stackLow;
  uintptr_t stackHigh;
};

// Recorded by the start-up before the program runs. Without it (or with a
// record whose stackHigh is 0) no fault is taken for a stack overflow.
void SetProgramStack(const ProgramStack &stack);
bool GetProgramStack(ProgramStack &stack);

// After an overflow: makes up to `room` bytes of the guard region below
// `lowestUsed` accessible, so that the thread can run its termination there,
// and keeps the rest as guard. False when no guard would be left.
bool GrowProgramStack(uintptr_t lowestUsed, std::size_t room);

}  // namespace platform_posix
