# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 and runs what it builds under Wine.
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DKESTROVE_WINDOWS_DEPS=<prefix with GoogleTest built by this toolchain>
#
# scripts/test-windows does all of it, GoogleTest included.
#
# The -posix compilers are used because the default win32 thread model of GCC 12 has no
# std::thread or std::mutex. Everything is linked statically: a program that needs the MinGW
# runtime DLLs exits under Wine without a word when they are not beside it.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTROVE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTROVE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTROVE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTROVE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTROVE_MINGW_TRIPLE})
# Libraries built for Windows on this machine (GoogleTest) live under their own prefix.
if(KESTROVE_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${KESTROVE_WINDOWS_DEPS})
  list(APPEND CMAKE_PREFIX_PATH ${KESTROVE_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs (and GoogleTest's listing of them) run under Wine in a prefix of this build.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../scripts/lib/wine-run --root ${CMAKE_BINARY_DIR}/wine)
