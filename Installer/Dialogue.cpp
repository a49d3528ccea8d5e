#include "Installer/Dialogue.h"

#include <optional>
#include <vector>

#include "Common/Text.h"
#include "Installer/EntryInstall.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/StringList.h"
#include "Installer/Templates.h"
#include "Package/Contract.h"
#include "Package/EntryContent.h"
#include "Platform/FileSystem.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"

namespace quillet {

bool RunInstallationDialogue(const PackageLayout& layout, InstallContext& context, Console& console,
                             const InstallOptions& options) {
  console.WriteLine("\r\n" + ExtractEntry(layout, WELCOME_ENTRY_NAME).bytes);

  t_StringList ideRoots;
  // The package may name the registry keys of the IDEs it serves; otherwise Delphi's and
  // C++Builder's own.
  {
    const std::vector<std::string> basePaths = PackageIdeBasePaths(layout).paths;
    // Told ahead, the registry is read once for every base key, not once per discovery.
    std::vector<std::string> keys;
    for (const std::string& basePath : basePaths) {
      keys.push_back(basePath.starts_with('\\') ? basePath.substr(1) : basePath);
    }
    const platform::RegistryReadAhead readAhead(std::move(keys));
    for (const std::string& basePath : basePaths) {
      DiscoverIdeRoots(ideRoots, basePath);
    }
  }

  EntryContent patch = ExtractEntry(layout, PATCH_ENTRY_NAME);
  context.PatchText = std::move(patch.bytes);
  context.PatchStatus = patch.status;

  bool allInstalled = true;
  const std::size_t turns = ideRoots.Count();
  for (std::size_t turn = 0; turn < turns; ++turn) {
    context.IdeRoot = ideRoots[turn];
    // Expanded before PackageRoot is assigned: %zel_root% still holds the previous turn's folder.
    context.PackageRoot = ExpandTemplate(layout.HeaderDefaultFolder(), context);
    console.WriteLine(std::string(FOLDER_QUESTION_HEAD) + context.PackageRoot);
    console.WriteLine(FOLDER_QUESTION_TAIL);
    const std::string answer = console.ReadLine();
    if (!TrimBlanks(answer).empty()) {
      context.PackageRoot = answer;
    }
    if (SameTextAscii(context.PackageRoot, "N")) {
      continue;
    }
    if (!InstallAllEntries(layout, context, console, options)) {
      allInstalled = false;
    }
  }

  if (!context.ReadmePath.empty()) {
    platform::OpenDocument(context.ReadmePath);
  }
  return allInstalled;
}

} // namespace quillet
