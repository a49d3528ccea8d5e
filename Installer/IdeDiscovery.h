// Finds the root folders of the registered Delphi, C++Builder and RAD Studio installations.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Package/IdeInstallation.h"

namespace quillet {

// Appends every version subkey of the base path that has a RootDir value and lies within `bounds`
// (see VersionWithin), in the registry's order. Throws ERegistryException for a RootDir that is
// not text or cannot be read.
void DiscoverIdes(std::vector<IdeInstallation>& target, std::string_view basePath,
                  std::string_view bounds = {});

// The folder that the installation shares with every user for third-party files, with a final
// "\" (the value of %BDSCOMMONDIR%): for RAD Studio 2007 (BDS 5.0) to XE5 (12.0) "RAD
// Studio\VERSION", since XE6 (14.0) "Embarcadero\Studio\VERSION", below the public documents
// folder, as the IDE sets its $(BDSCOMMONDIR), unless the user set BDSCOMMONDIR to a folder in the
// IDE's environment variables (HKEY_CURRENT_USER\BASE\VERSION\Environment Variables; a value
// that names other variables, "$(...)", is not taken). Older versions have none: there it is the
// root folder, where Delphi and C++Builder up to 7 and 6 keep packages and projects.
std::string IdeSharedFolder(const IdeInstallation& installation);

} // namespace quillet
