// Builds a package's Delphi packages with an IDE installation's own command-line compiler after a
// turn in which every entry arrived, and registers the design-time ones in the IDE, so that its
// components are on the palette when the IDE starts next. docs/ide-packages.md has the compiler's
// arguments and the keys written, per IDE version.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/InstallContext.h"
#include "Package/IdeInstallation.h"
#include "Package/InstallRecord.h"
#include "Package/SettingsTexts.h"
#include "Platform/UserRegistry.h"

namespace quillet {

// For each set that serves the installation: its run-time packages for each of the set's
// platforms, then its design-time packages for Win32 (and for Win64 where the IDE has a 64-bit
// one), one line each ("Building TallowR.dpk for Win32 .. OK", or ".. failed: " and the
// compiler's last error line, its whole output going to the log); prebuilt files where the
// compiler is missing or refuses. Then each design-time package is registered under the IDE's
// "Known Packages", and the folder of the .bpl files is put on the IDE's PATH where the IDE does
// not have it. What is built and registered goes into the turn's record, and what the earlier
// installation built or registered and this one does not is removed. `library` gives the folders
// of the compiler's search path. False when a package was neither built nor copied, or a setting
// could not be changed.
bool BuildPackageSets(const std::vector<PackageSet>& sets, const LibraryFolders& library,
                      const IdeInstallation& installation, InstallContext& context,
                      Console& console);

// Whether a set serves the installation.
bool AnySetServes(const std::vector<PackageSet>& sets, const IdeInstallation& installation);

// Keeps the earlier installation's built files, registered packages and PATH entries in the
// turn's record, for a turn that changed none of the IDE's settings (its IDE was running).
void KeepEarlierSettings(InstallContext& context);

} // namespace quillet
