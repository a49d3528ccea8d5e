#include "QuilletSfxCore/Dialogue.h"

#include <optional>
#include <vector>

#include "CoreAPITools/StringList.h"
#include "CoreAPITools/TextTools.h"
#include "Platform/FileSystem.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"
#include "QuilletCore/EntryContent.h"
#include "QuilletSfxCore/ContentPipeline.h"
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

bool InstallAllEntries(const PackageLayout& layout, InstallContext& context, Console& console,
                       const InstallOptions& options) {
  // The indexes below the header's count that the entry table holds; no later index can be found
  // either, so an inflated entry count costs nothing.
  const auto count = static_cast<std::int32_t>(layout.HeaderEntryCount());
  std::vector<PackageEntry> entries;
  std::vector<PackageEntry> installable;
  for (std::int32_t index = 0; index < count; ++index) {
    const EntryLookup lookup = FindEntryByIndex(layout, index);
    if (!lookup.found) {
      break;
    }
    entries.push_back(lookup.entry);
    if (lookup.entry.HasFlag(ENTRY_INSTALL)) {
      installable.push_back(lookup.entry);
    }
  }

  std::optional<ContentPipeline> pipeline;
  if (options.threads > 1 && installable.size() > 1) {
    pipeline.emplace(std::move(installable), options.threads, options.decoder);
  }
  const bool ahead = pipeline && pipeline->Active();
  platform::FolderListingScope listings; // folders are read once for the whole turn

  bool allInstalled = true;
  std::size_t position = 0;
  for (const PackageEntry& entry : entries) {
    std::optional<PreparedContent> prepared;
    if (ahead && entry.HasFlag(ENTRY_INSTALL)) {
      prepared = pipeline->Take(position++);
    }
    const InstallOutcome outcome =
        InstallEntry(entry, context, console, prepared ? &*prepared : nullptr, options.decoder);
    if (outcome == InstallOutcome::Failed) {
      allInstalled = false;
    }
  }
  return allInstalled;
}

bool RunInstallationDialogue(const PackageLayout& layout, InstallContext& context, Console& console,
                             const InstallOptions& options) {
  console.WriteLine("\r\n" + ExtractEntry(layout, "welcome.txt").bytes);

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

  EntryContent patch = ExtractEntry(layout, "patchinfo.txt");
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
