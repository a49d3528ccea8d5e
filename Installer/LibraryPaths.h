// Adds a package's folders to the library paths that an IDE installation keeps for the current
// user, after its turn's entries are installed.
#pragma once

#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/InstallContext.h"
#include "Package/PackageOptions.h"
#include "Platform/UserRegistry.h"

namespace quillet {

enum class LibraryList {
  Search,   // where the compiler looks for units and libraries
  Browsing, // where the editor looks for sources
};

// The values below HKEY_CURRENT_USER that take a folder of the list for one platform of an
// installation registered under `basePath` with version subkey `version`. Delphi and C++Builder
// up to 7 and 6 keep one Library key; BDS keeps one Library key up to 8.0 and one per platform
// since 9.0, and its C++ personality (since 6.0) keeps its own paths, which are changed where they
// exist. Empty when the installation has no library for that platform.
std::vector<platform::UserListTarget> LibraryTargets(std::string_view basePath,
                                                     std::string_view version,
                                                     std::string_view platformName,
                                                     LibraryList list);

// One console line per folder: "Adding FOLDER to the library path .. OK" or what kept it from
// being added. False when a folder could not be added.
bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console);

} // namespace quillet
