// Finds the root folders of the registered Delphi and C++Builder installations.
#pragma once

#include <string_view>

#include "CoreAPITools/StringList.h"

namespace quillet {

inline constexpr std::string_view DELPHI_BASE_PATH = "\\Software\\Borland\\Delphi\\";
inline constexpr std::string_view CBUILDER_BASE_PATH = "\\Software\\Borland\\C++Builder\\";

// Appends the RootDir text of every version subkey of the base path, in the registry's order.
// Throws ERegistryException for a RootDir that is not text or cannot be read.
void DiscoverIdeRoots(t_StringList& target, std::string_view basePath);

} // namespace quillet
