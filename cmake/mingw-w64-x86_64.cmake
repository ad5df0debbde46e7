# Cross-building for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The -posix compilers, because std::thread and std::mutex need their thread
# model; everything is linked statically, so voltanis.exe and the test
# binaries run without any MinGW DLL beside them.  With wine installed the
# tests run under it through CTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VOLTANIS_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "MinGW-w64 tool prefix")
find_program(CMAKE_C_COMPILER NAMES ${VOLTANIS_MINGW_PREFIX}-gcc-posix ${VOLTANIS_MINGW_PREFIX}-gcc)
find_program(CMAKE_CXX_COMPILER NAMES ${VOLTANIS_MINGW_PREFIX}-g++-posix ${VOLTANIS_MINGW_PREFIX}-g++)
find_program(CMAKE_RC_COMPILER NAMES ${VOLTANIS_MINGW_PREFIX}-windres)
if(NOT CMAKE_CXX_COMPILER)
  message(FATAL_ERROR "${VOLTANIS_MINGW_PREFIX}-g++-posix not found (apt-get install g++-mingw-w64-x86-64-posix)")
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${VOLTANIS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(VOLTANIS_WINE NAMES wine)
if(VOLTANIS_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VOLTANIS_WINE})
endif()
