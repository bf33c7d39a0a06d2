# Every Linux build is hardened as Debian builds its packages: with gcc, the
# distribution's own flags for the target's architecture (dpkg-buildflags,
# every hardening feature on), where that tool is installed; and on every
# Linux build at least the stack protector (strong), _FORTIFY_SOURCE, RELRO
# with immediate binding, a position-independent executable, stack-clash
# protection, and control-flow protection where the processor has it
# (landing pads for indirect branches; on x86 also the shadow stack's mark).
#
# What dpkg-buildflags says of optimisation and debug information is left to
# the build type, and its path mapping to the product's own (CMakeLists.txt).
# The sanitizer builds go without _FORTIFY_SOURCE, whose checked functions
# the sanitizers' interceptors stand in for; so does a build without
# optimisation, where glibc cannot check.
if(WIN32)
  return()
endif()

include(CheckCXXCompilerFlag)
include(CheckPIESupported)

set(CMAKE_POSITION_INDEPENDENT_CODE ON)
check_pie_supported()

# The Debian architecture the compiler builds for (i386 for i686-linux-gnu),
# in `out`; empty when dpkg cannot tell.
function(grades_debian_arch out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE gnu_type
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  execute_process(COMMAND dpkg-architecture -t ${gnu_type} -qDEB_HOST_ARCH OUTPUT_VARIABLE arch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(${out} "${arch}" PARENT_SCOPE)
endfunction()

# dpkg-buildflags' `kind` (CPPFLAGS, CXXFLAGS, LDFLAGS) for `arch` as a list,
# less optimisation, debug level and path mapping.
function(grades_dpkg_flags out kind arch)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_HOST_ARCH=${arch}
                          ${GRADES_DPKG_BUILDFLAGS} --get ${kind}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|f(file|debug|macro)-prefix-map=.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

function(grades_harden)
  set(compile)
  set(link)
  find_program(GRADES_DPKG_BUILDFLAGS dpkg-buildflags)
  if(GRADES_DPKG_BUILDFLAGS AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    grades_debian_arch(arch)
    if(arch)
      grades_dpkg_flags(cppflags CPPFLAGS ${arch})
      grades_dpkg_flags(cxxflags CXXFLAGS ${arch})
      grades_dpkg_flags(link LDFLAGS ${arch})
      list(APPEND compile ${cppflags} ${cxxflags})
    endif()
  endif()

  # _FORTIFY_SOURCE at the level the distribution chose (2 by default), set
  # below apart from the rest.
  set(fortify 2)
  foreach(flag IN LISTS compile)
    if(flag MATCHES "^-D_FORTIFY_SOURCE=([0-9]+)$")
      set(fortify ${CMAKE_MATCH_1})
    endif()
  endforeach()
  list(FILTER compile EXCLUDE REGEX "^-[DU]_FORTIFY_SOURCE")

  # The minimum, where the distribution's flags lack it and the compiler has it.
  set(minimum -fstack-protector-strong -fstack-clash-protection)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
    list(APPEND minimum -fcf-protection)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    # Landing pads only, no signed return addresses: the back-trace of a
    # run-time error and a return point entered "as if called" both take a
    # frame record's return address as the plain code address it is.
    list(APPEND minimum -mbranch-protection=bti)
  endif()
  # GCC 12 takes -fstack-clash-protection for RISC-V without making a probe;
  # the frames there use its older stack checking (platform/CMakeLists.txt),
  # and the two exclude each other.
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "riscv64" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(FILTER compile EXCLUDE REGEX "^-fstack-clash-protection$")
    list(REMOVE_ITEM minimum -fstack-clash-protection)
  endif()
  foreach(flag IN LISTS minimum)
    string(REGEX REPLACE "=.*" "" name "${flag}")
    if(NOT compile MATCHES "(^|;)${name}(=|;|$)")
      string(MAKE_C_IDENTIFIER "have${flag}" have)
      check_cxx_compiler_flag(${flag} ${have})
      if(${have})
        list(APPEND compile ${flag})
      endif()
    endif()
  endforeach()
  foreach(flag -Wl,-z,relro -Wl,-z,now)
    if(NOT flag IN_LIST link)
      list(APPEND link ${flag})
    endif()
  endforeach()

  list(JOIN compile " " shown)
  if(NOT GRADES_SANITIZE)
    list(APPEND compile "$<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>"
         "$<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=${fortify}>")
    string(APPEND shown " -D_FORTIFY_SOURCE=${fortify} (not in a Debug build)")
  endif()
  add_compile_options(${compile})
  add_link_options(${link})
  list(JOIN link " " shown_link)
  message(STATUS "Hardened with: ${shown} ${shown_link}")
endfunction()

grades_harden()
