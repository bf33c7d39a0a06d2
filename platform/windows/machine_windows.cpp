// The Windows side of platform/machine.h that is not the processor's.
#include "platform/machine.h"
#include "platform/windows/win32.h"

// The image is linked at a fixed base without relocations (no dynamic base),
// so it is always loaded there and a code address is already the address
// the executable file names.
uintptr_t ImageAddressBias() { return 0; }

namespace {

// The thread's information block; its Self field is at fs:0x18 on x86.
const NT_TIB *CurrentTib() {
  const NT_TIB *tib;
  asm("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}

}  // namespace

// The committed part of the thread's stack: a frame lies nowhere else.
bool MayHoldFrame(uintptr_t address) {
  const NT_TIB *tib = CurrentTib();
  return address >= reinterpret_cast<uintptr_t>(tib->StackLimit) &&
         address < reinterpret_cast<uintptr_t>(tib->StackBase);
}
