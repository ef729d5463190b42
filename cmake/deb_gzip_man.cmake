# deb_gzip_man.cmake - run by cpack once the files to package are staged:
# for the .deb, compress every manual page as Debian wants it (gzip -9n: no
# file name or time stamp inside, so the package is reproducible).

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/share/man/man*/*.[1-9]")
if(NOT pages)
  message(FATAL_ERROR "no manual page staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(page IN LISTS pages)
  execute_process(COMMAND gzip -9nf "${page}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${page} failed")
  endif()
endforeach()
