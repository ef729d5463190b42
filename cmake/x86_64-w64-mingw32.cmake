# Cross-compiling for 64-bit Windows with mingw-w64 (Debian:
# g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
# The tests then run under Wine (Debian: wine, wine64), which CTest starts
# for every test program through CMAKE_CROSSCOMPILING_EMULATOR.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# Debian ships each compiler with two thread models; the "posix" one has
# std::mutex and std::thread, which GoogleTest needs (the tool uses no
# threads, and -static links the thread library into each program).
set(triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc-posix ${triple}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-posix ${triple}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres)

# Libraries and headers come from the mingw-w64 tree only; programs (groff,
# Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs; "wine" picks the 64-bit loader for a 64-bit
# program. Give another with -DCMAKE_CROSSCOMPILING_EMULATOR=... if needed.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(GEN_XML_WINE NAMES wine wine64 wine-stable)
  if(GEN_XML_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${GEN_XML_WINE})
  endif()
endif()
