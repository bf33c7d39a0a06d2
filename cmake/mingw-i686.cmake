# Cross build for 32-bit Windows on x86 with MinGW-w64 (Debian's
# g++-mingw-w64-i686), tested under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(triple i686-w64-mingw32)
# The posix thread model: GoogleTest needs std::mutex, which this compiler
# has only with it. winpthreads is linked in statically like the rest.
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C and C++ run times are linked in: the images need only system DLLs.
# Every image is linked at the fixed base 0x400000 without relocations (no
# dynamic base), so it is loaded there and the code addresses a program
# prints are those of its executable file.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-static -static-libgcc -static-libstdc++ -Wl,--image-base,0x400000 -Wl,--disable-dynamicbase -Wl,--disable-reloc-section")

# Test programs run through Wine.
find_program(GRADES_WINE wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${GRADES_WINE})
