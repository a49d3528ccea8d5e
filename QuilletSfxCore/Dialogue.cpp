#include "QuilletSfxCore/Dialogue.h"

#include "CoreAPITools/StringList.h"
#include "CoreAPITools/TextTools.h"
#include "Platform/Shell.h"
#include "QuilletCore/EntryContent.h"
#include "QuilletSfxCore/Console.h"
#include "QuilletSfxCore/EntryInstall.h"
#include "QuilletSfxCore/IdeDiscovery.h"
#include "QuilletSfxCore/Templates.h"

namespace quillet {

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) {
      return false;
    }
  }
  return true;
}

namespace {

// Installs every entry of the package for the current turn; false when one of them failed.
bool InstallAllEntries(const PackageLayout& layout, InstallContext& context) {
  bool allInstalled = true;
  const auto count = static_cast<std::int32_t>(layout.HeaderEntryCount());
  for (std::int32_t index = 0; index < count; ++index) {
    const EntryLookup lookup = FindEntryByIndex(layout, index);
    if (!lookup.found) {
      // No later index can be found either: the walk ends at the same place. Stopping here keeps
      // an inflated entry count from costing billions of walks.
      break;
    }
    if (InstallEntry(lookup.entry, context) == InstallOutcome::Failed) {
      allInstalled = false;
    }
  }
  return allInstalled;
}

} // namespace

bool RunInstallationDialogue(const PackageLayout& layout, InstallContext& context) {
  WriteLine("\r\n" + ExtractEntry(layout, "welcome.txt").bytes);

  t_StringList ideRoots;
  // The package may name the registry keys of the IDEs it serves; otherwise Delphi's and
  // C++Builder's own.
  for (const std::string& basePath : PackageIdeBasePaths(layout).paths) {
    DiscoverIdeRoots(ideRoots, basePath);
  }

  EntryContent patch = ExtractEntry(layout, "patchinfo.txt");
  context.PatchText = std::move(patch.bytes);
  context.PatchStatus = patch.status;

  bool allInstalled = true;
  const std::size_t turns = ideRoots.Count();
  for (std::size_t turn = 0; turn < turns; ++turn) {
    context.IdeRoot = ideRoots[turn];
    // Expanded before PackageRoot is assigned: %zel_root% still holds the previous turn's folder.
    context.PackageRoot = ExpandTemplate(layout.HeaderDefaultFolder(), context);
    WriteLine(std::string(FOLDER_QUESTION_HEAD) + context.PackageRoot);
    WriteLine(FOLDER_QUESTION_TAIL);
    const std::string answer = ReadLine();
    if (!TrimBlanks(answer).empty()) {
      context.PackageRoot = answer;
    }
    if (SameTextAscii(context.PackageRoot, "N")) {
      continue;
    }
    if (!InstallAllEntries(layout, context)) {
      allInstalled = false;
    }
  }

  if (!context.ReadmePath.empty()) {
    platform::OpenDocument(context.ReadmePath);
  }
  return allInstalled;
}

} // namespace quillet
