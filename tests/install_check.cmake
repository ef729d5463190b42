# install_check.cmake - install a build into a scratch DESTDIR and check that
# the program and its manual page land under the prefix, and that the
# installed program runs.
#
#   cmake -DBUILD_DIR=<build> -DSCRATCH=<dir> -DMAN_PAGE=<src/gen_xml.1>
#         [-DCONFIG=<config>] -P install_check.cmake
#
# SCRATCH is removed and made anew. The prefix lies inside it too, so an
# install that ignored DESTDIR would still stay inside SCRATCH.

foreach(var BUILD_DIR SCRATCH MAN_PAGE)
  if("${${var}}" STREQUAL "")
    message(FATAL_ERROR "install_check.cmake needs -D${var}=...")
  endif()
endforeach()

set(destdir "${SCRATCH}/destdir")
set(prefix "${SCRATCH}/prefix")
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

set(config_args "")
if(NOT "${CONFIG}" STREQUAL "")
  set(config_args --config "${CONFIG}")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env "DESTDIR=${destdir}"
          "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}" ${config_args}
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE out
  ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc}):\n${out}")
endif()
if(EXISTS "${prefix}")
  message(FATAL_ERROR "files were installed under ${prefix} itself: DESTDIR was not honoured")
endif()

set(root "${destdir}${prefix}")
set(program "${root}/bin/gen_xml")
set(man_page "${root}/share/man/man1/gen_xml.1")

# The program: present, executable, and the tool itself. Run without
# arguments it prints its usage line, naming itself as invoked, and exits 1.
if(NOT EXISTS "${program}" OR IS_DIRECTORY "${program}")
  message(FATAL_ERROR "not installed: ${program}\ncmake --install said:\n${out}")
endif()
execute_process(
  COMMAND "${program}"
  RESULT_VARIABLE rc
  OUTPUT_VARIABLE usage
  ERROR_VARIABLE err)
set(expected "usage: ${program} output_receipt text_source [path_to_image]\n")
if(NOT "${rc}" STREQUAL "1" OR NOT "${usage}" STREQUAL "${expected}" OR NOT "${err}" STREQUAL "")
  message(FATAL_ERROR "the installed ${program} does not run as gen_xml:\n"
                      "status: ${rc}\nstdout: ${usage}\nstderr: ${err}")
endif()

# The manual page: in man1, the same as the source.
if(NOT EXISTS "${man_page}")
  message(FATAL_ERROR "not installed: ${man_page}\ncmake --install said:\n${out}")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E compare_files "${man_page}" "${MAN_PAGE}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${man_page} differs from ${MAN_PAGE}")
endif()

file(REMOVE_RECURSE "${SCRATCH}")
message(STATUS "installed and checked: ${program}, ${man_page}")
