// The texts of list entries, never installed, by which a package opts into settings: the folders
// to add to each IDE installation's library paths ("librarypaths.txt") and the code page of its
// names ("codepage.txt"). ReadPackageSettings (PackageSettings.h) reads them from a package.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

inline constexpr std::string_view DEFAULT_LIBRARY_PLATFORM = "Win32";

struct LibrarySettings {
  std::vector<std::string> platforms;     // such as "Win32", "Win64"; never empty when read
  std::vector<std::string> searchPaths;   // folder templates for the library (search) path
  std::vector<std::string> browsingPaths; // folder templates for the browsing path
  bool Empty() const { return searchPaths.empty() && browsingPaths.empty(); }
};

// The text of "librarypaths.txt": lines "platform=NAME", "library-path=TEMPLATE" and
// "browsing-path=TEMPLATE", each ending with CR LF.
std::string LibrarySettingsText(const LibrarySettings& settings);
// Reads that text back; other lines are passed over, and without a platform line the platform is
// Win32.
LibrarySettings LibrarySettingsOfText(std::string_view text);

// The package's name and version, by which the installer records what it installed.
struct PackageIdentity {
  std::string name;    // empty: the package records nothing (IsPackageName, InstallRecord.h)
  std::string version; // may be empty
};

// The text of "identity.txt": lines "name=NAME" and "version=VERSION" (when there is one), each
// ending with CR LF.
std::string IdentityText(const PackageIdentity& identity);
// Reads that text back; other lines are passed over, values are trimmed of blanks, and a name
// that IsPackageName or a version that IsPackageVersion refuses is taken as none.
PackageIdentity IdentityOfText(std::string_view text);

// The text of "codepage.txt": the number of the Windows code page in which the package's names,
// folders and texts are stored, and CR LF.
std::string CodePageText(std::uint32_t codePage);

} // namespace quillet
