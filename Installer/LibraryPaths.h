// Adds a package's folders to the library paths that an IDE installation keeps for the current
// user, after its turn's entries are installed.
#pragma once

#include "Installer/Console.h"
#include "Installer/InstallContext.h"
#include "Package/IdeInstallation.h"
#include "Package/SettingsTexts.h"
#include "Platform/UserRegistry.h"

namespace quillet {

// One console line per folder: "Adding FOLDER to the library path .. OK" or what kept it from
// being added. False when a folder could not be added.
// A library-path folder may name %platform%, the platform of the library it goes on: each
// platform then gets its own folder, in its own values only ("Library\Win32" the Win32 one, an
// IDE with one library key the Win32 one alone). An include path whose values all lie in keys that
// do not exist (an IDE without C++ settings) is said to be so, and is no failure.
bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console);

// A folder template with %platform% (in any letter case) replaced by the platform's name.
std::string WithPlatformName(std::string_view folderTemplate, std::string_view platformName);

} // namespace quillet
