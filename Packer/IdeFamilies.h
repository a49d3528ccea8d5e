// The manifest's "ides" key: IDE family names and the registry base paths they stand for, as
// written to the package's "ides.txt" entry and shown by `list`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageIdes.h"

namespace quillet::packer {

// The base paths of the families (ParseIdeFamilies, Package/PackageIdes.h). Throws EPackerError
// (without a location; the caller adds it) for a malformed list.
IdeBasePaths IdeListOfFamilies(const std::vector<std::string>& families);

// The line `list` writes about a package's IDE families, without its line end.
std::string IdeFamiliesLine(const IdeBasePaths& ides);

} // namespace quillet::packer
