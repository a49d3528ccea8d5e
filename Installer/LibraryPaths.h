// Adds a package's folders to the library paths that an IDE installation keeps for the current
// user, after its turn's entries are installed.
#pragma once

#include "Installer/Console.h"
#include "Installer/InstallContext.h"
#include "Package/IdeInstallation.h"
#include "Package/PackageOptions.h"
#include "Platform/UserRegistry.h"

namespace quillet {

// One console line per folder: "Adding FOLDER to the library path .. OK" or what kept it from
// being added. False when a folder could not be added.
// The end of a line for a change of the IDE's settings that did not happen ("not added: ...",
// with `notDone` first); empty when it happened or was not needed.
std::string SettingRefusal(const platform::UserListResult& result, std::string_view notDone);

bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console);

} // namespace quillet
