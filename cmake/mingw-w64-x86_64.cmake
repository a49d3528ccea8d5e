# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix).
# Use: cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLET_MINGW_TRIPLET x86_64-w64-mingw32)
# The POSIX threads flavour: std::thread (parallel compression in the packer) needs it.
set(CMAKE_C_COMPILER ${QUILLET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLET_MINGW_TRIPLET}-g++-posix)

# Libraries and packages come from the mingw sysroot and from the prefixes named in
# CMAKE_PREFIX_PATH; programs run at build time come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that runs alone: the C++ runtime, winpthreads and libgcc linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
