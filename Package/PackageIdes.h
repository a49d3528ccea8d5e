// The registry base paths under which a package looks for IDE installations: the entry
// "ides.txt" when the package carries one, otherwise Delphi's and C++Builder's own. A base path
// may carry version bounds, which pick the version subkeys whose installations get a turn.
#pragma once

#include <cstdint>
#include <optional>
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

// The families a manifest names, with the base paths each stands for.
struct IdeFamily {
  std::string_view name;
  std::vector<std::string_view> basePaths;
  // Delphi 2 to 7 and C++Builder 1 to 6: older than BDS, they keep one library and no shared
  // folder.
  bool predatesBds = false;
};
const std::vector<IdeFamily>& IdeFamilies();
// The family that holds a base path, compared as the registry compares keys (ASCII letter case
// and the leading "\" aside); nullptr for a base path of the package's own.
const IdeFamily* IdeFamilyOf(std::string_view basePath);
// Whether a text has the form of a base path: absolute ("\" first) and ending with the separator
// that a version subkey's name follows; a lone "\" is none.
bool IsIdeBasePath(std::string_view text);
// A base path as the registry calls take it below a root: without the leading "\" that marks it
// absolute in a package.
std::string_view IdeRegistryKey(std::string_view basePath);

// Version bounds, as written after a family: ">=22.0", "<=7.0" or both, joined by ",". Versions
// are compared number by number ("9.0" < "22.0"; "23" equals "23.0").
struct VersionBound {
  bool atLeast = true; // ">=" when true, "<=" otherwise
  std::vector<std::uint32_t> version;
};
// The bounds of a text such as ">=22.0,<=23.0" (blanks around the pieces allowed); nullopt when a
// piece is no ">=" or "<=" followed by a version of dot-separated numbers. "" gives no bounds.
std::optional<std::vector<VersionBound>> ParseVersionBounds(std::string_view text);
// The numbers of a registry version subkey name such as "23.0"; nullopt for any other name.
std::optional<std::vector<std::uint32_t>> ParseVersion(std::string_view text);
// Whether a version subkey lies within bounds as ParseVersionBounds takes them. Without bounds
// every subkey does; with bounds, only a subkey named as a version that meets all of them.
bool VersionWithin(std::string_view subkeyName, std::string_view bounds);

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
  // The version bounds of each path, as written (">=23.0"); a missing or empty one has none.
  std::vector<std::string> bounds;

  std::string_view BoundsOf(std::size_t index) const {
    return index < bounds.size() ? std::string_view(bounds[index]) : std::string_view();
  }
};

// The base paths of a list of families with their bounds, as a manifest's "ides" key and the
// installer's --ides option give them: "delphi", "cbuilder", "bds" (the Borland, CodeGear and
// Embarcadero BDS keys, oldest first), in any letter case, or a base path of its own that starts
// and ends with "\"; each may be followed by version bounds (">=22.0,<=23.0"), which go with each
// of its paths. `problem` is empty, or says why the list is malformed (an empty list, an unknown
// name, malformed bounds, a path given twice) and then `ides` holds nothing.
struct IdeFamilyList {
  IdeBasePaths ides;
  std::string problem;
};
IdeFamilyList ParseIdeFamilies(const std::vector<std::string>& families);

// The paths and bounds of an "ides.txt" text. A line that starts with ">" or "<" holds the bounds
// of the base path on the line before; installers that predate bounds pass over it as a line that
// names no base path, and so offer every version.
IdeBasePaths IdeListOfText(std::string_view text);

// The text of "ides.txt": one base path per line, each followed by its bounds line when it has
// bounds; every line ends with CR LF.
std::string IdesEntryText(const IdeBasePaths& ides);

// The family names for base paths with their bounds, as a manifest would give them
// ("bds>=23.0, delphi"); a path that is no family's is shown as it is.
std::string DescribeIdes(const IdeBasePaths& ides);

// The base paths for a validated package: the first entry named "ides.txt" (any letter case),
// unless it is missing, is a file to install, or fails its check; then the two fixed paths.
IdeBasePaths PackageIdeBasePaths(const PackageLayout& layout);

} // namespace quillet
