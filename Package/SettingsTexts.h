// The texts of list entries, never installed, by which a package opts into settings: the folders
// to add to each IDE installation's library paths ("librarypaths.txt") and the code page of its
// names ("codepage.txt"). ReadPackageSettings (PackageSettings.h) reads them from a package.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageIdes.h"

namespace quillet {

inline constexpr std::string_view DEFAULT_LIBRARY_PLATFORM = "Win32";

// The folders of one IDE installation's lists, as templates.
struct LibraryFolders {
  std::vector<std::string> searchPaths;   // folder templates for the library (search) path
  std::vector<std::string> browsingPaths; // folder templates for the browsing path
  std::vector<std::string> includePaths;  // folder templates for the C++ include path
  bool Empty() const {
    return searchPaths.empty() && browsingPaths.empty() && includePaths.empty();
  }
};

// Folders that only the installations of some IDE versions take (a library whose folders changed
// from one IDE version on).
struct VersionedLibrary {
  IdeBasePaths ides; // the base paths with their bounds, as a manifest's "ides" key gives them
  LibraryFolders folders;
};

struct LibrarySettings {
  std::vector<std::string> platforms;     // such as "Win32", "Win64"; never empty when read
  std::vector<std::string> searchPaths;   // folder templates for the library (search) path
  std::vector<std::string> browsingPaths; // folder templates for the browsing path
  std::vector<std::string> includePaths;  // folder templates for the C++ include path
  std::vector<VersionedLibrary> versioned;
  bool Empty() const {
    return searchPaths.empty() && browsingPaths.empty() && includePaths.empty() &&
           versioned.empty();
  }
  // The folders for an installation registered under `basePath` with the version subkey
  // `version`: the common ones, then those of every versioned library whose ides it falls in
  // (base path compared as the registry compares keys, the version within its bounds), each
  // folder once.
  LibraryFolders FoldersFor(std::string_view basePath, std::string_view version) const;
};

// The text of "librarypaths.txt": lines "platform=NAME", "library-path=TEMPLATE",
// "browsing-path=TEMPLATE" and "include-path=TEMPLATE", each ending with CR LF; a versioned
// library follows as "for=BASEPATH" lines (each with a "for-bounds=BOUNDS" line after it when
// bounded), then its folders as "for-library-path=", "for-browsing-path=" and
// "for-include-path=" lines, which installers that predate them pass over.
std::string LibrarySettingsText(const LibrarySettings& settings);
// Reads that text back; other lines are passed over, and without a platform line the platform is
// Win32.
LibrarySettings LibrarySettingsOfText(std::string_view text);

// One set of Delphi packages (.dpk project templates, paths as installed) that the installer
// builds with an IDE's command-line compiler and registers in the IDE, for the installations its
// ides name.
struct PackageSet {
  IdeBasePaths ides;                  // no paths: every installation the package reaches
  std::vector<std::string> runtime;   // built first, in this order, for each platform
  std::vector<std::string> design;    // built after, for Win32 (and the 64-bit IDE), registered
  std::vector<std::string> platforms; // never empty when read; default Win32
  // Folder templates holding prebuilt .bpl and .dcp files, used when the compiler is missing or
  // refuses; "%platform%" in them stands for the platform's name.
  std::vector<std::string> prebuilt;
  // Whether the set is for an installation registered under `basePath` with subkey `version`.
  bool Serves(std::string_view basePath, std::string_view version) const;
};

// The macro of a prebuilt folder that stands for the platform being built.
inline constexpr std::string_view PLATFORM_MACRO = "%platform%";

// The text of "packages.txt": per set a line "set", then "ide=BASEPATH" lines (each with a
// "bounds=BOUNDS" line after it when bounded), "platform=NAME", "runtime=TEMPLATE",
// "design=TEMPLATE" and "prebuilt=TEMPLATE" lines, each ending with CR LF.
std::string PackageSetsText(const std::vector<PackageSet>& sets);
// Reads that text back; other lines are passed over, and a set without a platform line builds for
// Win32.
std::vector<PackageSet> PackageSetsOfText(std::string_view text);

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
