# The part of the mingw-w64 toolchain files that only differs by the target
# triple (TORVEX_MINGW_TRIPLE, set by the including file).
set(CMAKE_C_COMPILER ${TORVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TORVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TORVEX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TORVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# ctest runs the built programs through Wine (64-bit programs only).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
