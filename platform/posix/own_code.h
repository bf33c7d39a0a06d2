// The program's own code, as the linker bounds it: the instructions a fault
// layer can read at a faulting address without a fault of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" const char __executable_start[];
extern "C" const char etext[];

namespace platform_posix {

inline bool InOwnCode(uintptr_t from, std::size_t size) {
  return from >= reinterpret_cast<uintptr_t>(__executable_start) && from + size <= reinterpret_cast<uintptr_t>(etext);
}

// The `size` bytes at `from` when they lie in the program's own code.
inline bool ReadOwnCode(uintptr_t from, void *to, std::size_t size) {
  if (!InOwnCode(from, size)) return false;
  std::memcpy(to, reinterpret_cast<const void *>(from), size);
  return true;
}

}  // namespace platform_posix
