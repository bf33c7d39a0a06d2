# What `make install` and `make package` hold: the two programs with their
# manual pages, the Debian changelog and the copyright file on Linux, and on
# Windows the programs with the README as text. A Debian package on Linux,
# whose dependencies dpkg-shlibdeps reads off the programs, with their debug
# information in a package of its own; a zip of the Windows build.
include(GNUInstallDirs)

# Who maintains the package: the Maintainer field and the changelog's
# signature. Only its owner can say; until then the address is a local one.
set(GRADES_MAINTAINER_NAME "grades maintainers" CACHE STRING "The package maintainer's name")
set(GRADES_MAINTAINER_EMAIL "grades@localhost" CACHE STRING "The package maintainer's e-mail address")
set(GRADES_MAINTAINER "${GRADES_MAINTAINER_NAME} <${GRADES_MAINTAINER_EMAIL}>")

# The packages are dated by SOURCE_DATE_EPOCH, the last commit's time when
# none is given, so that two builds of one commit are the same byte for byte.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" log -1 --format=%ct OUTPUT_VARIABLE epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  endif()
endif()
set(GRADES_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
string(TIMESTAMP GRADES_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
# Installing builds nothing by itself: the target `installable` builds what
# is installed.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(installable)

if(WIN32)
  set(GRADES_INSTALL_BINDIR .)
  # The README in a Windows text file: CR LF line ends.
  file(READ ${CMAKE_SOURCE_DIR}/README.md readme)
  string(REPLACE "\n" "\r\n" readme "${readme}")
  file(WRITE ${CMAKE_BINARY_DIR}/README.txt "${readme}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/README.md)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
else()
  set(GRADES_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()

# Program `name` installed, with its manual page `page` (roff) compressed
# where manual pages go; Windows has no manual pages.
function(grades_install_program name page)
  install(TARGETS ${name} RUNTIME DESTINATION ${GRADES_INSTALL_BINDIR})
  add_dependencies(installable ${name})
  if(WIN32)
    return()
  endif()
  # The C++ run time is linked in: loading it took a third of a whole run's
  # start-up, and the programs then need only the C library.
  if(NOT GRADES_SANITIZE)
    target_link_options(${name} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  set(copy ${CMAKE_CURRENT_BINARY_DIR}/${name}.1)
  add_custom_command(OUTPUT ${copy}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${page} ${copy}
    COMMAND gzip -9nf ${copy}
    DEPENDS ${page} VERBATIM)
  add_custom_target(${name}_manual ALL DEPENDS ${copy}.gz)
  add_dependencies(installable ${name}_manual)
  install(FILES ${copy}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

# The Debian changelog: this version's entry, signed by the maintainer at
# the packages' date.
if(NOT WIN32)
  set(changelog ${CMAKE_BINARY_DIR}/packaging/changelog)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${changelog}.txt @ONLY)
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${changelog}.txt ${changelog}
    COMMAND gzip -9nf ${changelog}
    DEPENDS ${changelog}.txt VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${changelog}.gz)
  add_dependencies(installable debian_changelog)
  install(FILES ${changelog}.gz ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME grades)
set(CPACK_PACKAGE_VENDOR grades)
set(CPACK_PACKAGE_CONTACT "${GRADES_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "statistics of a file of school grades")
# Debian's lines of the long description: at most 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "grades reads whole numbers from a grade file, shows their distribution,
their average and the invalid numbers in the terminal, and writes the valid
grades and the invalid numbers to two files. realtotext formats 80-bit
extended values as grades does.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# cpack dates what it packs by SOURCE_DATE_EPOCH; without one of its own it
# takes the one the build was configured with.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDate.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} AND NOT "@GRADES_SOURCE_DATE_EPOCH@" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "@GRADES_SOURCE_DATE_EPOCH@")
endif()
]] @ONLY)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The programs stripped; their debug information in grades-dbgsym, under
  # /usr/lib/debug/.build-id/, where addr2line and gdb find it.
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
  set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/dbgsym.cmake)
endif()
include(CPack)
