// Adds a package's folders to the library paths that an IDE installation keeps for the current
// user, after its turn's entries are installed.
#pragma once

#include "Installer/Console.h"
#include "Installer/InstallContext.h"
#include "Package/IdeInstallation.h"
#include "Package/PackageOptions.h"

namespace quillet {

// One console line per folder: "Adding FOLDER to the library path .. OK" or what kept it from
// being added. False when a folder could not be added.
bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console);

} // namespace quillet
