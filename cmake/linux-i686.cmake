# Cross build for 32-bit x86 Linux with Debian's i686 cross compiler
# (g++-i686-linux-gnu): the program's own processor, its x87 the hardware
# of the 80-bit arithmetic. The compiler is a cross one rather than the
# host's with -m32 because Debian's multilib packages cannot be installed
# beside the 64-bit ARM cross compiler.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)

# The programs run on the 64-bit kernel as they are, no emulator, with the
# i386 C library of the host (libc6:i386). The C library is not linked in:
# a static one cannot load the locale's character set (it takes every
# locale for ASCII), and the console draws in that set. The C++ run time
# is linked in, so that nothing else of i386 is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc")
