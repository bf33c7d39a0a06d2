# Run by cpack once it has made the packages: the debug package is made
# anew by dpkg-deb from the debug files cpack split off, since cpack's own
# md5sums names each file by its path in cpack's staging folder. Its
# documentation is the program package's, as in Debian's own debug packages.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.ddeb$")
    continue()
  endif()
  set(staged "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}-dbgsym")
  set(root "${staged}.dpkg")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/DEBIAN" "${root}/usr/share/doc")
  file(COPY "${staged}/usr/lib" DESTINATION "${root}/usr")
  file(CREATE_LINK ${CPACK_PACKAGE_NAME} "${root}/usr/share/doc/${CPACK_PACKAGE_NAME}-dbgsym" SYMBOLIC)
  execute_process(COMMAND dpkg-deb --info "${package}" control OUTPUT_FILE "${root}/DEBIAN/control"
                  RESULT_VARIABLE failed)
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${root}" "${root}/usr/lib/*")
  list(SORT files)
  set(sums "")
  foreach(file IN LISTS files)
    file(MD5 "${root}/${file}" sum)
    string(APPEND sums "${sum}  ${file}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${sums}")
  if(NOT failed)
    execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip --build "${root}" "${package}"
                    OUTPUT_QUIET RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "the debug package ${package} could not be made anew")
  endif()
endforeach()
