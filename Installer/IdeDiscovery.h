// Finds the root folders of the registered Delphi, C++Builder and RAD Studio installations.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageIdes.h"

namespace quillet {

// One registered installation: where it lives, and the key it registered under.
struct IdeInstallation {
  std::string root;     // its RootDir text
  std::string basePath; // the base path it was found under, as the package names it
  std::string version;  // the name of its version subkey, such as "23.0"
};

// Appends every version subkey of the base path that has a RootDir value and lies within `bounds`
// (see VersionWithin), in the registry's order. Throws ERegistryException for a RootDir that is
// not text or cannot be read.
void DiscoverIdes(std::vector<IdeInstallation>& target, std::string_view basePath,
                  std::string_view bounds = {});

// The version's key below a registry root, as the registry calls take it (no leading "\").
std::string IdeVersionKey(std::string_view basePath, std::string_view version);

// Whether the base path is one of the BDS keys (RAD Studio and its forerunners), not that of
// Delphi 2 to 7 or C++Builder 1 to 6.
bool IsBdsBasePath(std::string_view basePath);

// The folder that the installation shares with every user for third-party files, with a final
// "\" (the value of %BDSCOMMONDIR%): for RAD Studio 2007 (BDS 5.0) to XE5 (12.0) "RAD
// Studio\VERSION", since XE6 (14.0) "Embarcadero\Studio\VERSION", below the public documents
// folder, as the IDE sets its $(BDSCOMMONDIR), unless the user set BDSCOMMONDIR to a folder in the
// IDE's environment variables (HKEY_CURRENT_USER\BASE\VERSION\Environment Variables; a value
// that names other variables, "$(...)", is not taken). Older versions have none: there it is the
// root folder, where Delphi and C++Builder up to 7 and 6 keep packages and projects.
std::string IdeSharedFolder(const IdeInstallation& installation);

} // namespace quillet
