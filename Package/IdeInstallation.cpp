#include "Package/IdeInstallation.h"

#include <utility>

#include "Package/PackageOptions.h"
#include "Platform/Ascii.h"

namespace quillet {

namespace {

// The first version number at which BDS keeps a library per platform (RAD Studio XE2).
constexpr std::uint32_t PER_PLATFORM_SINCE = 9;
// The first version number whose C++ personality keeps its paths under "C++\Paths" (RAD Studio
// 2009).
constexpr std::uint32_t CPP_PATHS_SINCE = 6;

} // namespace

IdeInstallation::IdeInstallation(std::string_view basePath, std::string_view version,
                                 std::string root)
    : root_(std::move(root)), basePath_(basePath), version_(version),
      numbers_(ParseVersion(version).value_or(std::vector<std::uint32_t>())),
      family_(IdeFamilyOf(basePath)),
      versionKey_(std::string(IdeRegistryKey(basePath)) + version_) {}

std::vector<platform::UserListTarget> IdeInstallation::LibraryTargets(std::string_view platformName,
                                                                      LibraryList list) const {
  const bool search = list == LibraryList::Search;
  const bool win32 = platform::EqualIgnoringAsciiCase(platformName, DEFAULT_LIBRARY_PLATFORM);
  const std::string delphiValue = search ? "Search Path" : "Browsing Path";
  const std::string cppValue = search ? "LibraryPath" : "BrowsingPath";

  // Delphi 2 to 7 and C++Builder 1 to 6: one library, for Win32.
  if (PredatesBds()) {
    if (!win32) {
      return {};
    }
    return {{versionKey_ + "\\Library", delphiValue, true}};
  }

  // BDS, and a base path of the package's own, by the version's first number.
  if (Major() >= PER_PLATFORM_SINCE) {
    std::string platformKey = "\\";
    platformKey.append(platformName);
    return {{versionKey_ + "\\Library" + platformKey, delphiValue, true},
            {versionKey_ + "\\C++\\Paths" + platformKey, cppValue, false}};
  }
  if (!win32) {
    return {};
  }
  std::vector<platform::UserListTarget> targets = {{versionKey_ + "\\Library", delphiValue, true}};
  if (Major() >= CPP_PATHS_SINCE) {
    targets.push_back({versionKey_ + "\\C++\\Paths", cppValue, false});
  }
  return targets;
}

} // namespace quillet
