# Cross build for 32-bit ARM Linux with hardware floating point (Debian's
# armhf) with Debian's cross compiler (g++-arm-linux-gnueabihf), run under
# qemu-user. No x87 there: the 80-bit arithmetic is the software one.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(triple arm-linux-gnueabihf)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/linux-qemu.cmake)
