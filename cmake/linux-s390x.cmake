# Cross build for 64-bit IBM Z Linux (s390x, big-endian) with Debian's
# cross compiler (g++-s390x-linux-gnu), run under qemu-user. No x87 there:
# the 80-bit arithmetic is the software one.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(triple s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/linux-qemu.cmake)
