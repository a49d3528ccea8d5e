#include "Installer/LibraryPaths.h"

#include <string>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/Templates.h"
#include "Package/Contract.h"
#include "Platform/FileSystem.h"
#include "Platform/UserRegistry.h"

namespace quillet {

bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console) {
  bool allAdded = true;
  auto add = [&](const std::string& folderTemplate, LibraryList list) {
    std::vector<platform::UserListTarget> targets;
    for (const std::string& platformName : settings.platforms) {
      for (auto& target : installation.LibraryTargets(platformName, list)) {
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
