// One registered IDE installation: the family and version it was registered as, where it lives,
// and the registry keys it owns. Discovery (Installer/IdeDiscovery) finds it in the registry;
// everything here follows from the names it was found under.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageIdes.h"
#include "Platform/UserRegistry.h"

namespace quillet {

// The IDE's PATH override, a value of its EnvironmentKey(), and the system's PATH as the
// override names it.
inline constexpr std::string_view PATH_VALUE = "PATH";
inline constexpr std::string_view SYSTEM_PATH = "$(PATH)";

enum class LibraryList {
  Search,   // where the compiler looks for units and libraries
  Browsing, // where the editor looks for sources
  Include,  // where the C++ compiler looks for headers (C++ personality only)
};

class IdeInstallation {
public:
  // Registered under `basePath` (as the package names it) with the version subkey `version`, such
  // as "23.0"; `root` is its RootDir text.
  IdeInstallation(std::string_view basePath, std::string_view version, std::string root);

  const std::string& Root() const { return root_; }
  const std::string& BasePath() const { return basePath_; }
  const std::string& Version() const { return version_; }
  // The version's first number; 0 when the subkey's name is no version.
  std::uint32_t Major() const { return numbers_.empty() ? 0 : numbers_.front(); }
  // nullptr for a base path of the package's own.
  const IdeFamily* Family() const { return family_; }
  // Delphi 2 to 7 or C++Builder 1 to 6; any other installation, one under a base path of the
  // package's own too, keeps its settings as BDS does.
  bool PredatesBds() const { return family_ && family_->predatesBds; }

  // The version's key below a registry root, as the registry calls take it (no leading "\").
  const std::string& VersionKey() const { return versionKey_; }

  // The values below HKEY_CURRENT_USER that take a folder of the list for one platform. Delphi and
  // C++Builder up to 7 and 6 keep one Library key; BDS keeps one Library key up to 8.0 and one
  // per platform since 9.0, and its C++ personality (since 6.0) keeps its own paths, which are
  // changed where they exist. Empty when the installation has no library for that platform.
  std::vector<platform::UserListTarget> LibraryTargets(std::string_view platformName,
                                                       LibraryList list) const;

  // The key below HKEY_CURRENT_USER of the library settings for a platform (which hold the
  // package output folders): "VERSION\Library", or "VERSION\Library\PLATFORM" from BDS 9.0.
  std::string LibraryKey(std::string_view platformName) const;
  // Where the IDE lists its design-time packages: "Known Packages" ("Known Packages x64" for the
  // 64-bit IDE of BDS 37.0 on), and those the user switched off, "Disabled Packages".
  std::string KnownPackagesKey(bool x64 = false) const;
  std::string DisabledPackagesKey(bool x64 = false) const;
  // Whether the version may have a 64-bit IDE that loads Win64 design-time packages (from BDS
  // 23.0, where it is an option, always from 37.0).
  bool HasX64Ide() const;
  // The user's overrides of the IDE's environment variables ("PATH" among them).
  std::string EnvironmentKey() const;
  // Whether a list value below HKEY_CURRENT_USER is one that the installer changes for this
  // installation: a library list ("VERSION\Library[\PLATFORM]": "Search Path", "Browsing Path"),
  // a C++ path list ("VERSION\C++\Paths[\PLATFORM]": "LibraryPath", "BrowsingPath",
  // "IncludePath") or the IDE's PATH. Letter case is ignored, as the registry ignores it.
  bool OwnsListValue(std::string_view key, std::string_view value) const;
  // Whether a key is one where the installer registers design-time packages ("Known Packages",
  // "Known Packages x64").
  bool OwnsPackageKey(std::string_view key) const;
  // The key of "ForceEnvOptionsUpdate"; empty for versions older than BDS, which have none.
  std::string GlobalsKey() const;
  // The command-line compiler for a platform: "ROOT\bin\dcc32.exe", "dcc64.exe" for Win64; empty
  // for a platform it has none for.
  std::string CompilerPath(std::string_view platformName) const;
  // The IDE's own program files, which a running IDE has loaded.
  std::vector<std::string> IdePrograms() const;
  // The compiler switch of the unit output folder: "-NU" from BDS 10.0, "-N" before.
  std::string_view UnitOutputSwitch() const;
  // Whether unit scope names (-NS) exist: from BDS 9.0 (RAD Studio XE2).
  bool HasUnitScopes() const;

private:
  std::string root_;
  std::string basePath_;
  std::string version_;
  std::vector<std::uint32_t> numbers_; // of the version; empty when its name is no version
  const IdeFamily* family_;
  std::string versionKey_;
};

} // namespace quillet
