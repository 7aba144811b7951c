# Cross-compiling for 64-bit Windows with Debian's mingw-w64 compiler (the
# posix threads flavour, whose C++ runtime links in statically).
# scripts/windows.sh installs the compiler, and builds static libpng and
# libjpeg-turbo into the compiler's own sysroot beside Debian's static zlib,
# so find_package finds all three there and nothing of the Linux host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TORVEX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
