#include "Package/PackageSettings.h"

#include <algorithm>
#include <charconv>

#include "Common/Text.h"
#include "Package/Contract.h"
#include "Platform/Text.h"

namespace quillet {

namespace {

// The content of a list entry: found by name, not installable, and intact.
std::optional<std::string> ListEntryText(const PackageLayout& layout, std::string_view name) {
  const EntryLookup lookup = FindEntryByName(layout, name);
  if (!lookup.found || lookup.entry.HasFlag(ENTRY_INSTALL)) {
    return std::nullopt;
  }
  EntryContent content = ExtractEntry(lookup.entry);
  if (content.status != EntryStatus::Content) {
    return std::nullopt;
  }
  return std::move(content.bytes);
}

// The first line of a list entry, trimmed; nullopt without the entry.
std::optional<std::string_view> FirstLine(const std::optional<std::string>& text) {
  if (!text) {
    return std::nullopt;
  }
  return TrimBlanks(std::string_view(*text).substr(0, text->find_first_of("\r\n")));
}

// The number "codepage.txt" holds; nullopt without one.
std::optional<std::uint32_t> RecordedCodePage(const PackageLayout& layout) {
  const auto text = ListEntryText(layout, CODE_PAGE_ENTRY_NAME);
  const auto line = FirstLine(text);
  if (!line) {
    return std::nullopt;
  }
  std::uint32_t number = 0;
  const auto [end, error] = std::from_chars(line->data(), line->data() + line->size(), number);
  if (error != std::errc() || end != line->data() + line->size() || number == 0) {
    return std::nullopt;
  }
  return number;
}

std::optional<std::string> ReadmeTarget(const PackageLayout& layout) {
  const auto text = ListEntryText(layout, OPEN_README_ENTRY_NAME);
  const auto line = FirstLine(text);
  if (!line || line->empty()) {
    return std::nullopt;
  }
  return std::string(*line);
}

// The texts in the program's own, where they meet the folders, the console and the system.
PackageTexts InProgramText(const PackageTexts& stored, std::uint32_t codePage) {
  const auto text = [codePage](const std::string& bytes) {
    return platform::CodePageToText(codePage, bytes);
  };
  PackageTexts converted = stored;
  converted.welcome = text(stored.welcome);
  converted.defaultFolder = text(stored.defaultFolder);
  std::vector<std::vector<std::string>*> lists = {
      &converted.ides.paths, &converted.library.searchPaths, &converted.library.browsingPaths,
      &converted.library.includePaths};
  for (VersionedLibrary& library : converted.library.versioned) {
    lists.insert(lists.end(), {&library.ides.paths, &library.folders.searchPaths,
                               &library.folders.browsingPaths, &library.folders.includePaths});
  }
  for (PackageSet& set : converted.packages) {
    lists.insert(lists.end(), {&set.ides.paths, &set.runtime, &set.design, &set.prebuilt});
  }
  for (std::vector<std::string>* list : lists) {
    std::ranges::transform(*list, list->begin(), text);
  }
  if (converted.readmeTarget) {
    converted.readmeTarget = text(*converted.readmeTarget);
  }
  return converted;
}

} // namespace

PackageSettings ReadPackageSettings(const PackageLayout& layout) {
  PackageSettings settings;
  const std::optional<std::uint32_t> recorded = RecordedCodePage(layout);
  settings.codePage = recorded.value_or(platform::SystemCodePage());
  settings.codePageRecorded = recorded.has_value();

  settings.stored.welcome = ExtractEntry(layout, WELCOME_ENTRY_NAME).bytes;
  settings.stored.defaultFolder = layout.HeaderDefaultFolder();
  settings.stored.ides = PackageIdeBasePaths(layout);
  if (const auto library = ListEntryText(layout, LIBRARY_ENTRY_NAME)) {
    settings.stored.library = LibrarySettingsOfText(*library);
  }
  if (const auto packages = ListEntryText(layout, PACKAGES_ENTRY_NAME)) {
    settings.stored.packages = PackageSetsOfText(*packages);
  }
  settings.stored.readmeTarget = ReadmeTarget(layout);
  if (const auto identity = ListEntryText(layout, IDENTITY_ENTRY_NAME)) {
    settings.identity = IdentityOfText(*identity);
  }
  settings.text = InProgramText(settings.stored, settings.codePage);
  settings.patch = ExtractEntry(layout, PATCH_ENTRY_NAME);

  const std::size_t count = layout.entries.size();
  const auto counted = static_cast<std::int32_t>(layout.HeaderEntryCount());
  const std::size_t installable =
      counted < 0 ? 0 : std::min(count, static_cast<std::size_t>(counted));
  settings.entries.reserve(count);
  for (std::size_t index = 0; index < count; ++index) {
    settings.entries.push_back(FindEntryByIndex(layout, static_cast<std::int32_t>(index)).entry);
    if (index < installable && settings.entries.back().HasFlag(ENTRY_INSTALL)) {
      settings.toInstall.push_back(settings.entries.back());
    }
  }
  return settings;
}

} // namespace quillet
