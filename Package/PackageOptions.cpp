#include "Package/PackageOptions.h"

#include <charconv>

#include "Common/Text.h"
#include "Package/Contract.h"
#include "Package/EntryContent.h"

namespace quillet {

namespace {

constexpr std::string_view PLATFORM_KEY = "platform=";
constexpr std::string_view LIBRARY_KEY = "library-path=";
constexpr std::string_view BROWSING_KEY = "browsing-path=";

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

} // namespace

std::string LibrarySettingsText(const LibrarySettings& settings) {
  std::string text;
  auto add = [&text](std::string_view key, const std::vector<std::string>& values) {
    for (const std::string& value : values) {
      text.append(key).append(value).append("\r\n");
    }
  };
  add(PLATFORM_KEY, settings.platforms);
  add(LIBRARY_KEY, settings.searchPaths);
  add(BROWSING_KEY, settings.browsingPaths);
  return text;
}

LibrarySettings LibrarySettingsOfText(std::string_view text) {
  LibrarySettings settings;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = TrimBlanks(text.substr(0, end));
    if (line.starts_with(PLATFORM_KEY)) {
      settings.platforms.emplace_back(TrimBlanks(line.substr(PLATFORM_KEY.size())));
    } else if (line.starts_with(LIBRARY_KEY)) {
      settings.searchPaths.emplace_back(line.substr(LIBRARY_KEY.size()));
    } else if (line.starts_with(BROWSING_KEY)) {
      settings.browsingPaths.emplace_back(line.substr(BROWSING_KEY.size()));
    }
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  if (settings.platforms.empty()) {
    settings.platforms.emplace_back(DEFAULT_LIBRARY_PLATFORM);
  }
  return settings;
}

LibrarySettings PackageLibrarySettings(const PackageLayout& layout) {
  const auto text = ListEntryText(layout, LIBRARY_ENTRY_NAME);
  return text ? LibrarySettingsOfText(*text) : LibrarySettings{};
}

std::string CodePageText(std::uint32_t codePage) {
  return std::to_string(codePage) + "\r\n";
}

std::optional<std::uint32_t> PackageCodePage(const PackageLayout& layout) {
  const auto text = ListEntryText(layout, CODE_PAGE_ENTRY_NAME);
  if (!text) {
    return std::nullopt;
  }
  const std::string_view line =
      TrimBlanks(std::string_view(*text).substr(0, text->find_first_of("\r\n")));
  std::uint32_t number = 0;
  const auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), number);
  if (error != std::errc() || end != line.data() + line.size() || number == 0) {
    return std::nullopt;
  }
  return number;
}

std::optional<std::string> PackageReadmeTarget(const PackageLayout& layout) {
  const auto text = ListEntryText(layout, OPEN_README_ENTRY_NAME);
  if (!text) {
    return std::nullopt;
  }
  const std::string_view line =
      TrimBlanks(std::string_view(*text).substr(0, text->find_first_of("\r\n")));
  if (line.empty()) {
    return std::nullopt;
  }
  return std::string(line);
}

} // namespace quillet
