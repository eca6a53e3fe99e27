# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
# The win32 thread model needs no winpthread runtime; fall back to the default alternative.
find_program(MINGW_CXX NAMES ${MINGW_TRIPLE}-g++-win32 ${MINGW_TRIPLE}-g++ REQUIRED)
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# printf and friends from the mingw runtime: C99 conversions and correctly rounded %f, the same
# text on every Windows version (the Windows runtime's own printf has rounded differently).
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
# Every program starts on a bare machine: no libgcc, libstdc++ or winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# GoogleTest is installed for the build machine only; this build is checked end to end under Wine.
set(RAVLEN_TESTS OFF CACHE BOOL "Build the tests")
