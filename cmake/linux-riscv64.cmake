# Cross build for 64-bit RISC-V Linux with Debian's cross compiler
# (g++-riscv64-linux-gnu), run under qemu-user. No x87 there: the 80-bit
# arithmetic is the software one.
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(triple riscv64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/linux-qemu.cmake)
