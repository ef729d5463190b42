# imports_check.cmake - gen_xml.exe must run on a bare Windows: every DLL it
# imports is part of Windows itself (KERNEL32.dll, the C runtime msvcrt.dll or
# the api-ms-win-crt-* sets of the Universal CRT), none comes from the
# compiler (libstdc++, libgcc, libwinpthread).
#
#   cmake -DOBJDUMP=<objdump for PE files> -DPROGRAM=<gen_xml.exe> -P imports_check.cmake

foreach(var OBJDUMP PROGRAM)
  if("${${var}}" STREQUAL "")
    message(FATAL_ERROR "imports_check.cmake needs -D${var}=...")
  endif()
endforeach()

execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}"
  RESULT_VARIABLE rc OUTPUT_VARIABLE dump ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed (${rc}): ${err}")
endif()

string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no imported DLL found in ${PROGRAM}: is it a Windows program?")
endif()
set(foreign "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" lower)
  if(lower MATCHES "^(kernel32|msvcrt|ucrtbase|user32|advapi32|shell32|ntdll)\\.dll$"
     OR lower MATCHES "^api-ms-win-crt-[a-z0-9-]+\\.dll$")
    message(STATUS "imports ${dll}")
  else()
    list(APPEND foreign "${dll}")
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "${PROGRAM} needs DLLs that Windows does not have: ${foreign}")
endif()
