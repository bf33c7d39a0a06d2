#include "platform/riscv64/memory_access.h"

bool RvWritesMemory(uint32_t instruction) {
  if (RvInstructionLength(static_cast<uint16_t>(instruction)) == 2) {
    // C.FSD, C.SW, C.SD (quadrant 0) and their stack-relative forms
    // C.FSDSP, C.SWSP, C.SDSP (quadrant 2) are funct3 101, 110 and 111.
    const uint32_t quadrant = instruction & 3, funct3 = instruction >> 13 & 7;
    return (quadrant == 0 || quadrant == 2) && funct3 >= 5;
  }
  switch (instruction & 0x7F) {
    case 0x23:  // STORE
    case 0x27:  // STORE-FP
      return true;
    case 0x2F:  // AMO: all write but LR (funct5 00010)
      return (instruction >> 27) != 2;
    default: return false;
  }
}
