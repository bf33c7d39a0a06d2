# What `make install` and `make package` hold: the two programs with their
# manual pages on Linux, and on Windows the programs with the README as text.
# A Debian package on Linux, whose dependencies dpkg-shlibdeps reads off the
# programs; a zip of the Windows build.
include(GNUInstallDirs)
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

set(CPACK_PACKAGE_NAME grades)
set(CPACK_PACKAGE_VENDOR grades)
set(CPACK_PACKAGE_CONTACT "grades maintainers <grades@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "statistics of a file of school grades")
set(CPACK_PACKAGE_DESCRIPTION
    "grades reads whole numbers from a grade file, shows their distribution, their average and the invalid numbers in the terminal, and writes the valid grades and the invalid numbers to two files. realtotext formats 80-bit extended values as grades does.")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win32)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
