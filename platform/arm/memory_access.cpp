#include "platform/arm/memory_access.h"

namespace {

uint32_t Bits(uint32_t instruction, unsigned high, unsigned low) {
  return instruction >> low & ((uint32_t{1} << (high - low + 1)) - 1);
}

}  // namespace

// By bits 27:25, with L (bit 20) telling a load from a store where it is
// there. The unconditional space (condition 1111) holds preloads and the
// like, and nothing the compiler stores with.
bool A32WritesMemory(uint32_t instruction) {
  if (Bits(instruction, 31, 28) == 0xF) return false;
  const bool store = Bits(instruction, 20, 20) == 0;
  switch (Bits(instruction, 27, 25)) {
    case 0: {
      if (Bits(instruction, 7, 7) == 0 || Bits(instruction, 4, 4) == 0) return false;
      const uint32_t op2 = Bits(instruction, 6, 5);
      // Multiplies, or the synchronisation group: the exclusives by L,
      // the swaps (bit 23 clear) read and write.
      if (op2 == 0) return Bits(instruction, 24, 24) == 1 && (Bits(instruction, 23, 23) == 0 || store);
      // Halfwords (01) and doublewords (11) are stored with L clear; 10
      // with L clear loads a doubleword.
      return store && op2 != 2;
    }
    // Words and bytes; with bit 25 set and bit 4 set, media instructions.
    case 2: return store;
    case 3: return Bits(instruction, 4, 4) == 0 && store;
    // Multiple registers.
    case 4: return store;
    // Floating registers, but for the transfers between core registers
    // (P, U and W all clear).
    case 6: return store && (Bits(instruction, 24, 23) != 0 || Bits(instruction, 21, 21) != 0);
    default: return false;
  }
}
