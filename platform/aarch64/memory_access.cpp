#include "platform/aarch64/memory_access.h"

namespace {

uint32_t Bits(uint32_t instruction, unsigned high, unsigned low) {
  return instruction >> low & ((uint32_t{1} << (high - low + 1)) - 1);
}

}  // namespace

// The classes of the load/store group (bits 27 and 25 = 1, 0) by bits
// 29:28: 00 exclusive and ordered accesses, and vector structures; 01 loads
// of a literal, and the unscaled ordered accesses; 10 pairs; 11 single
// registers and the atomics.
bool A64WritesMemory(uint32_t instruction) {
  if (Bits(instruction, 27, 27) != 1 || Bits(instruction, 25, 25) != 0) return false;
  const bool loadBit = Bits(instruction, 22, 22) != 0;
  switch (Bits(instruction, 29, 28)) {
    case 0:
      // Compare-and-swap (and its pair form, told from the exclusive pairs
      // by bit 31) writes whatever its acquire bit, bit 22, says.
      if (Bits(instruction, 26, 26) == 0 && Bits(instruction, 21, 21) == 1 &&
          (Bits(instruction, 23, 23) == 1 || Bits(instruction, 31, 31) == 0))
        return true;
      return !loadBit;
    case 1: return Bits(instruction, 24, 24) == 1 && Bits(instruction, 23, 22) == 0;
    case 2: return !loadBit;
    default: break;
  }
  // Vector registers: bit 22 tells a load from a store at every size.
  if (Bits(instruction, 26, 26) == 1) return !loadBit;
  if (Bits(instruction, 24, 24) == 0 && Bits(instruction, 21, 21) == 1) {
    // Atomic memory operations (and swaps) read and write; the loads with
    // pointer authentication (bit 10) only read; the rest are register
    // offsets, with their opc as below.
    if (Bits(instruction, 11, 10) == 0) return true;
    if (Bits(instruction, 10, 10) == 1) return false;
  }
  // opc 00 stores; 01 loads; 1x loads sign-extended, or prefetches.
  return Bits(instruction, 23, 22) == 0;
}
