// Reading a RISC-V instruction for the kind of memory access it makes.
#pragma once

#include <cstdint>

// The length in bytes of the instruction whose first halfword is `low`.
inline unsigned RvInstructionLength(uint16_t low) { return (low & 3) == 3 ? 4 : 2; }

// Whether `instruction` (a compressed one in its low 16 bits) writes memory:
// a store, integer or floating, a store-conditional or an atomic memory
// operation. False for loads, load-reserved and everything else.
bool RvWritesMemory(uint32_t instruction);
