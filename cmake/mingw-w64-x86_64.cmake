# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model); the programs
# and tests run under Wine through the crossing emulator (see cmake/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(OSTARA_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${OSTARA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OSTARA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${OSTARA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${OSTARA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The top-level CMakeLists replaces this with a wrapper that gives every run the build's own
# prefix and the staged bin64 on the DLL search path.
find_program(OSTARA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${OSTARA_WINE})
