# The host-side tests (tests/host/) of a foreign build: built by the host's
# compiler as a project of their own in <build>/host, their tests joining
# the foreign build's.
#
#   grades_host_tests(NAME <windows|i686|aarch64|arm|riscv64|s390x> PREFIX <test name prefix>
#                     LAUNCHER <words put in front of each program>...
#                     ADDR2LINE <the processor's addr2line>
#                     [WINEPREFIX <prefix> TERMINAL_KEYS <exe> HOLD_OPEN <exe>]
#                     [RTERROR <the windowed example program the tests start>]
#                     [DEPENDS <more targets the tests start>...])
include(ExternalProject)

set(GRADES_LINUX_BUILD ${CMAKE_SOURCE_DIR}/build CACHE PATH
    "The x86-64 build (its grades and tools/realtotext) the foreign programs are compared with")

function(grades_host_tests)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;PREFIX;ADDR2LINE;WINEPREFIX;TERMINAL_KEYS;HOLD_OPEN;RTERROR"
                        "LAUNCHER;DEPENDS")
  if(NOT arg_RTERROR)
    set(arg_RTERROR $<TARGET_FILE:rterror>)
    list(APPEND arg_DEPENDS rterror)
  endif()
  # A list crosses into the project with | between its items.
  string(REPLACE ";" "|" launcher "${arg_LAUNCHER}")
  ExternalProject_Add(host_tests
    SOURCE_DIR ${CMAKE_SOURCE_DIR}/tests/host
    BINARY_DIR ${CMAKE_BINARY_DIR}/host
    LIST_SEPARATOR |
    CMAKE_ARGS
      -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DGRADES_SOURCE_DIR=${CMAKE_SOURCE_DIR}
      -DGRADES_FOREIGN_NAME=${arg_NAME}
      -DGRADES_TEST_PREFIX=${arg_PREFIX}
      -DGRADES_LAUNCHER=${launcher}
      -DGRADES_FOREIGN_GRADES=$<TARGET_FILE:grades>
      -DGRADES_FOREIGN_REALTOTEXT=$<TARGET_FILE:realtotext>
      -DGRADES_FOREIGN_RUNTIME_DRIVER=$<TARGET_FILE:runtime_driver>
      -DGRADES_FOREIGN_RTERROR=${arg_RTERROR}
      -DGRADES_FOREIGN_ADDR2LINE=${arg_ADDR2LINE}
      -DGRADES_WINEPREFIX=${arg_WINEPREFIX}
      -DGRADES_TERMINAL_KEYS_EXE=${arg_TERMINAL_KEYS}
      -DGRADES_HOLD_OPEN_EXE=${arg_HOLD_OPEN}
      -DGRADES_LINUX_BUILD=${GRADES_LINUX_BUILD}
      -DGRADES_WERROR=${GRADES_WERROR}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    DEPENDS grades realtotext runtime_driver ${arg_DEPENDS}
  )
  # The host project's tests are read from its own build folder.
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/host_tests.cmake "subdirs(\"${CMAKE_BINARY_DIR}/host\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_CURRENT_BINARY_DIR}/host_tests.cmake)
endfunction()
