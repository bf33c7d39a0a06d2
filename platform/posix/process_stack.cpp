// The record of the program's main stack and the growth of its guard.
#include <sys/mman.h>
#include <unistd.h>

#include "platform/machine.h"
#include "platform/posix/process_internal.h"

namespace platform_posix {

namespace {

ProgramStack programStack = {};
bool haveProgramStack = false;

}  // namespace

void SetProgramStack(const ProgramStack &stack) {
  programStack = stack;
  haveProgramStack = true;
}

bool GetProgramStack(ProgramStack &stack) {
  stack = programStack;
  return haveProgramStack && programStack.stackHigh != 0;
}

bool GrowProgramStack(uintptr_t lowestUsed, std::size_t room) {
  ProgramStack current;
  if (!GetProgramStack(current)) return false;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t newLow = (lowestUsed & ~(page - 1));
  newLow = newLow > room ? newLow - room : 0;
  // A page of guard always stays.
  if (newLow < programStack.guardLow + page) newLow = programStack.guardLow + page;
  if (newLow >= programStack.stackLow) return false;
  if (mprotect(reinterpret_cast<void *>(newLow), programStack.stackLow - newLow, PROT_READ | PROT_WRITE) != 0)
    return false;
  programStack.stackLow = newLow;
  return true;
}

}  // namespace platform_posix

bool MayHoldFrame(uintptr_t address) {
  platform_posix::ProgramStack stack;
  if (!platform_posix::GetProgramStack(stack)) return true;
  return address >= stack.stackLow && address < stack.stackHigh;
}
