# What the mingw-w64 toolchain files share; they set QUILLET_MINGW_TRIPLET and include this.
set(CMAKE_SYSTEM_NAME Windows)

# The POSIX threads flavour: std::thread (parallel compression in the packer) needs it.
set(CMAKE_C_COMPILER ${QUILLET_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLET_MINGW_TRIPLET}-g++-posix)
# The version resource and the application manifest.
set(CMAKE_RC_COMPILER ${QUILLET_MINGW_TRIPLET}-windres)

# Libraries and packages come from the mingw sysroot and from the prefixes named in
# CMAKE_PREFIX_PATH; programs run at build time come from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLET_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One .exe that runs alone: the C++ runtime, winpthreads and libgcc linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Release binaries carry no symbols: every installer ships the program file.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
