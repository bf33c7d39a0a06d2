// Reading an A32 (ARM state) instruction for the kind of memory access it
// makes.
#pragma once

#include <cstdint>

// Whether `instruction` writes memory: a store of any kind (single, pair,
// multiple, exclusive, floating) or a swap. False for loads, preloads and
// every instruction that does not access memory.
bool A32WritesMemory(uint32_t instruction);
