// Reading an A64 instruction for the kind of memory access it makes.
#pragma once

#include <cstdint>

// Whether `instruction` writes memory: a store of any kind, or an atomic
// read-modify-write. False for loads, prefetches and every instruction that
// does not access memory.
bool A64WritesMemory(uint32_t instruction);
