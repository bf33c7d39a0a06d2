// The Windows side of platform/machine.h that is not the processor's.
#include "platform/machine.h"
#include "platform/windows/win32.h"

// The image is linked at a fixed base and loaded there, so a code address is
// already the address the executable file names.
uintptr_t ImageAddressBias() { return 0; }

bool MayHoldFrame(uintptr_t address) {
  const NT_TIB *tib = reinterpret_cast<const NT_TIB *>(NtCurrentTeb());
  return address >= reinterpret_cast<uintptr_t>(tib->StackLimit) &&
         address < reinterpret_cast<uintptr_t>(tib->StackBase);
}
