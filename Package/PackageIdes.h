// The registry base paths under which a package looks for IDE installations: the entry
// "ides.txt" when the package carries one, otherwise Delphi's and C++Builder's own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "Package/Contract.h"
#include "Package/PackageFormat.h"

namespace quillet {

// Delphi and C++Builder up to 7 and 6 register under keys of their own; every version since 2006
// registers under the Borland, then CodeGear, then Embarcadero BDS key.
inline constexpr std::string_view DELPHI_BASE_PATH = "\\Software\\Borland\\Delphi\\";
inline constexpr std::string_view CBUILDER_BASE_PATH = "\\Software\\Borland\\C++Builder\\";
inline constexpr std::string_view BORLAND_BDS_BASE_PATH = "\\Software\\Borland\\BDS\\";
inline constexpr std::string_view CODEGEAR_BDS_BASE_PATH = "\\Software\\CodeGear\\BDS\\";
inline constexpr std::string_view EMBARCADERO_BDS_BASE_PATH = "\\Software\\Embarcadero\\BDS\\";

// The base paths of an "ides.txt" text, in order. Lines end with LF, CR LF or CR and are trimmed
// of blanks and control characters; a line that is then empty, or does not start and end with
// "\" (a lone "\" included), names no base path and is passed over.
std::vector<std::string> IdeBasePathsOfText(std::string_view text);

// Which base paths the installer reads, and why.
enum class IdeListSource {
  Fixed,   // no "ides.txt" (or an installable file of that name): Delphi's and C++Builder's paths
  Damaged, // "ides.txt" fails its checksum or decompression: the same fixed paths
  Package, // the lines of "ides.txt"
};

struct IdeBasePaths {
  IdeListSource source = IdeListSource::Fixed;
  std::vector<std::string> paths; // in the order in which their installations get their turns
};

// The base paths for a validated package: the first entry named "ides.txt" (any letter case),
// unless it is missing, is a file to install, or fails its check; then the two fixed paths.
IdeBasePaths PackageIdeBasePaths(const PackageLayout& layout);

} // namespace quillet
