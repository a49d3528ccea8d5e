#include "Installer/LibraryPaths.h"

#include <string>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/Templates.h"
#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// The first version number at which BDS keeps a library per platform (RAD Studio XE2).
constexpr std::uint32_t PER_PLATFORM_SINCE = 9;
// The first version number whose C++ personality keeps its paths under "C++\Paths" (RAD Studio
// 2009).
constexpr std::uint32_t CPP_PATHS_SINCE = 6;

} // namespace

std::vector<platform::UserListTarget> LibraryTargets(std::string_view basePath,
                                                     std::string_view version,
                                                     std::string_view platformName,
                                                     LibraryList list) {
  const bool search = list == LibraryList::Search;
  const bool win32 = platform::EqualIgnoringAsciiCase(platformName, DEFAULT_LIBRARY_PLATFORM);
  const std::string key = IdeVersionKey(basePath, version);
  const std::string delphiValue = search ? "Search Path" : "Browsing Path";
  const std::string cppValue = search ? "LibraryPath" : "BrowsingPath";

  // Delphi 2 to 7 and C++Builder 1 to 6: one library, for Win32.
  if (!IsBdsBasePath(basePath)) {
    if (!win32) {
      return {};
    }
    return {{key + "\\Library", delphiValue, true}};
  }

  // BDS, and a base path of the package's own, by the version's first number.
  const auto numbers = ParseVersion(version);
  const std::uint32_t major = numbers ? (*numbers)[0] : 0;
  if (major >= PER_PLATFORM_SINCE) {
    std::string platformKey = "\\";
    platformKey.append(platformName);
    return {{key + "\\Library" + platformKey, delphiValue, true},
            {key + "\\C++\\Paths" + platformKey, cppValue, false}};
  }
  if (!win32) {
    return {};
  }
  std::vector<platform::UserListTarget> targets = {{key + "\\Library", delphiValue, true}};
  if (major >= CPP_PATHS_SINCE) {
    targets.push_back({key + "\\C++\\Paths", cppValue, false});
  }
  return targets;
}

bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console) {
  bool allAdded = true;
  auto add = [&](const std::string& folderTemplate, LibraryList list) {
    std::vector<platform::UserListTarget> targets;
    for (const std::string& platformName : settings.platforms) {
      for (auto& target :
           LibraryTargets(installation.basePath, installation.version, platformName, list)) {
        targets.push_back(std::move(target));
      }
    }
    if (targets.empty()) {
      return; // this version keeps no library for the package's platforms
    }
    const std::string folder =
        platform::WindowsViewOfFolder(ExpandTemplate(folderTemplate, context));
    console.WriteText("Adding " + folder + " to the " +
                      (list == LibraryList::Search ? "library" : "browsing") + " path .. ");
    const platform::UserListResult result = platform::AddToUserLists(targets, folder);
    switch (result.outcome) {
    case platform::UserListOutcome::Added:
    case platform::UserListOutcome::Present:
      console.WriteLine("OK");
      return;
    case platform::UserListOutcome::KeyMissing:
      console.WriteLine(
          "not added: the IDE has no settings for this user yet (HKEY_CURRENT_USER\\" +
          result.detail + " does not exist); start the IDE once, then run the installer again");
      break;
    case platform::UserListOutcome::InUse:
      // A detail says why it cannot be told whether they run: nothing is changed then either.
      console.WriteLine(result.detail.empty()
                            ? "not added: Wine programs of this prefix are running and hold its "
                              "registry; close them, then run the installer again"
                            : "not added: Wine programs of this prefix may be running and hold "
                              "its registry (" +
                                  result.detail + "); close them, then run the installer again");
      break;
    case platform::UserListOutcome::Failed:
      console.WriteLine("not added: " + result.detail);
      break;
    }
    allAdded = false;
  };
  for (const std::string& folder : settings.searchPaths) {
    add(folder, LibraryList::Search);
  }
  for (const std::string& folder : settings.browsingPaths) {
    add(folder, LibraryList::Browsing);
  }
  return allAdded;
}

} // namespace quillet
