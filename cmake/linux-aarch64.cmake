# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu), run under qemu-user. No x87 there: the 80-bit
# arithmetic is the software one.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(triple aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# The programs are linked against the cross libraries in /usr/${triple},
# which qemu-user takes as their root (-L).
find_program(GRADES_QEMU qemu-aarch64 REQUIRED)
set(GRADES_TARGET_ROOT /usr/${triple})
set(CMAKE_CROSSCOMPILING_EMULATOR ${GRADES_QEMU} -L ${GRADES_TARGET_ROOT})
