// Settings that a package opts into with list entries that are never installed: the folders to
// add to each IDE installation's library paths ("librarypaths.txt") and the installed file that
// the installer opens at the end ("openreadme.txt"). A package without them has neither entry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageFormat.h"

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

// The library settings of a validated package; empty when it has no intact, non-installable
// "librarypaths.txt".
LibrarySettings PackageLibrarySettings(const PackageLayout& layout);

// The text of "codepage.txt": the number of the Windows code page in which the package's names,
// folders and texts are stored, and CR LF.
std::string CodePageText(std::uint32_t codePage);
// The code page that a validated package records; nullopt without an intact, non-installable
// "codepage.txt" holding a number, when the names are taken in the system's ANSI code page.
std::optional<std::uint32_t> PackageCodePage(const PackageLayout& layout);

// The folder template and name ("%zel_root%Doc\guide.html") of the installed entry to open at the
// end, from "openreadme.txt"; nullopt without that entry, when the installer opens the last
// readme.html it installed.
std::optional<std::string> PackageReadmeTarget(const PackageLayout& layout);

} // namespace quillet
