// The manifest's "ides" key: IDE family names and the registry base paths they stand for, as
// written to the package's "ides.txt" entry and shown by `list`.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageIdes.h"

namespace quillet::packer {

// The base paths of the families, in the given order: "delphi", "cbuilder", "bds" (the Borland,
// CodeGear and Embarcadero BDS keys, oldest first), in any letter case, or a base path of its own
// that starts and ends with "\"; each may be followed by version bounds (">=22.0,<=23.0"), which
// go with each of its paths. Throws EPackerError (without a location; the caller adds it) for
// an empty list, an unknown name, malformed bounds and a path given twice.
IdeBasePaths IdeListOfFamilies(const std::vector<std::string>& families);

// The line `list` writes about a package's IDE families, without its line end.
std::string IdeFamiliesLine(const IdeBasePaths& ides);

} // namespace quillet::packer
