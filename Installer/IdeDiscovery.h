// Finds the root folders of the registered Delphi, C++Builder and RAD Studio installations.
#pragma once

#include <string_view>

#include "Installer/StringList.h"
#include "Package/PackageIdes.h"

namespace quillet {

// Appends the RootDir text of every version subkey of the base path, in the registry's order.
// Throws ERegistryException for a RootDir that is not text or cannot be read.
void DiscoverIdeRoots(t_StringList& target, std::string_view basePath);

} // namespace quillet
