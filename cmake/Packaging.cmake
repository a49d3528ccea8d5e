# Installation and packages.
#
# `cmake --install` puts quillet-pack in bin/ and the installer stubs in lib/quillet/, where
# `quillet-pack attach --for` looks for them (Packer/StubLocator.cpp): quillet-sfx (Linux),
# quillet-sfx.exe (64-bit Windows), quillet-sfx-x86.exe (32-bit Windows). A build installs the
# stub it makes itself; the others can be given as prebuilt files through the cache variables
# QUILLET_LINUX_STUB, QUILLET_WINDOWS_STUB and QUILLET_WINDOWS_X86_STUB.
#
# `cpack` then makes a Debian package on Linux and a zip on Windows.

set(QUILLET_STUB_DESTINATION lib/quillet)

# The built stub. The 32-bit Windows build makes quillet-sfx.exe too; installed next to the
# 64-bit one it takes its own name.
if(QUILLET_STUB_PLATFORM STREQUAL "windows-x86")
  install(PROGRAMS $<TARGET_FILE:quillet-sfx> DESTINATION ${QUILLET_STUB_DESTINATION}
          RENAME quillet-sfx-x86.exe)
else()
  install(TARGETS quillet-sfx RUNTIME DESTINATION ${QUILLET_STUB_DESTINATION})
endif()
if(TARGET quillet-pack)
  install(TARGETS quillet-pack RUNTIME DESTINATION bin)
endif()

# Prebuilt stubs of the other platforms.
foreach(stub IN ITEMS "LINUX;linux;quillet-sfx" "WINDOWS;windows;quillet-sfx.exe"
                      "WINDOWS_X86;windows-x86;quillet-sfx-x86.exe")
  list(GET stub 0 variable)
  list(GET stub 1 platform)
  list(GET stub 2 file_name)
  set(QUILLET_${variable}_STUB "" CACHE FILEPATH
      "A prebuilt installer for ${platform} (${file_name}) to install in ${QUILLET_STUB_DESTINATION}")
  set(prebuilt "${QUILLET_${variable}_STUB}")
  if(prebuilt STREQUAL "")
    continue()
  endif()
  if(platform STREQUAL QUILLET_STUB_PLATFORM)
    message(FATAL_ERROR "QUILLET_${variable}_STUB: this build makes the ${platform} installer itself")
  endif()
  if(NOT EXISTS "${prebuilt}" OR IS_DIRECTORY "${prebuilt}")
    message(FATAL_ERROR "QUILLET_${variable}_STUB: no such file: ${prebuilt}")
  endif()
  install(PROGRAMS "${prebuilt}" DESTINATION ${QUILLET_STUB_DESTINATION} RENAME ${file_name})
endforeach()

set(CPACK_PACKAGE_NAME quillet)
set(CPACK_PACKAGE_VENDOR "Quillet")
set(CPACK_PACKAGE_CONTACT "Quillet maintainers" CACHE STRING "The packages' maintainer")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Console installer for Delphi and C++Builder source packages, and its packer")
set(CPACK_PACKAGE_DESCRIPTION
    "quillet-pack builds Quillet packages from a TOML manifest and attaches them to the\n\
installer stubs in lib/quillet, making self-extracting installers that install units, project\n\
files and documentation for every registered Delphi and C++Builder installation.")
set(CPACK_RESOURCE_FILE_README "${CMAKE_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES TRUE)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(QUILLET_STUB_PLATFORM STREQUAL "windows-x86")
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  # Depends from the libraries the programs link (dpkg-shlibdeps, in dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
