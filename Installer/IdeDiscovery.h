// Finds the root folders of the registered Delphi, C++Builder and RAD Studio installations.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Installer/StringList.h"
#include "Package/PackageIdes.h"

namespace quillet {

// Appends the RootDir text of every version subkey of the base path, in the registry's order.
// Throws ERegistryException for a RootDir that is not text or cannot be read.
void DiscoverIdeRoots(t_StringList& target, std::string_view basePath);

// One registered installation: where it lives, and the key it registered under.
struct IdeInstallation {
  std::string root;     // its RootDir text
  std::string basePath; // the base path it was found under, as the package names it
  std::string version;  // the name of its version subkey, such as "23.0"
};

// The same discovery, keeping only the version subkeys within `bounds` (see VersionWithin).
void DiscoverIdes(std::vector<IdeInstallation>& target, std::string_view basePath,
                  std::string_view bounds = {});

} // namespace quillet
