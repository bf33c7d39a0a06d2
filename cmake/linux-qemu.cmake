# What the cross builds run under qemu-user share: the emulator for
# CMAKE_SYSTEM_PROCESSOR (qemu-<processor>), which takes the cross libraries
# in /usr/${triple} as the programs' root (-L).
find_program(GRADES_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR} REQUIRED)
set(GRADES_TARGET_ROOT /usr/${triple})
set(CMAKE_CROSSCOMPILING_EMULATOR ${GRADES_QEMU} -L ${GRADES_TARGET_ROOT})
