# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686-posix). The
# 32-bit installer runs on every Windows, 32- and 64-bit.
# Use: cmake -S . -B build-windows-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QUILLET_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
