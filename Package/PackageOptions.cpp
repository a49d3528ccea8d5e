#include "Package/PackageOptions.h"

#include "Common/Text.h"
#include "Package/InstallRecord.h"

namespace quillet {

namespace {

constexpr std::string_view PLATFORM_KEY = "platform=";
constexpr std::string_view LIBRARY_KEY = "library-path=";
constexpr std::string_view BROWSING_KEY = "browsing-path=";
constexpr std::string_view NAME_KEY = "name=";
constexpr std::string_view VERSION_KEY = "version=";

// Calls `visit(line)` for each line of a list entry's text, trimmed of blanks; CR, LF and CR LF
// all end a line.
template <typename Visit> void ForEachLine(std::string_view text, Visit&& visit) {
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    visit(TrimBlanks(text.substr(0, end)));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
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
  ForEachLine(text, [&settings](std::string_view line) {
    if (line.starts_with(PLATFORM_KEY)) {
      settings.platforms.emplace_back(TrimBlanks(line.substr(PLATFORM_KEY.size())));
    } else if (line.starts_with(LIBRARY_KEY)) {
      settings.searchPaths.emplace_back(line.substr(LIBRARY_KEY.size()));
    } else if (line.starts_with(BROWSING_KEY)) {
      settings.browsingPaths.emplace_back(line.substr(BROWSING_KEY.size()));
    }
  });
  if (settings.platforms.empty()) {
    settings.platforms.emplace_back(DEFAULT_LIBRARY_PLATFORM);
  }
  return settings;
}

std::string IdentityText(const PackageIdentity& identity) {
  std::string text = std::string(NAME_KEY) + identity.name + "\r\n";
  if (!identity.version.empty()) {
    text.append(VERSION_KEY).append(identity.version).append("\r\n");
  }
  return text;
}

PackageIdentity IdentityOfText(std::string_view text) {
  PackageIdentity identity;
  ForEachLine(text, [&identity](std::string_view line) {
    const auto take = [line](std::string_view key, std::string& field, auto&& holds) {
      if (line.starts_with(key)) {
        const std::string_view value = TrimBlanks(line.substr(key.size()));
        field = holds(value) ? value : std::string_view();
      }
    };
    take(NAME_KEY, identity.name, IsPackageName);
    take(VERSION_KEY, identity.version, IsPackageVersion);
  });
  return identity;
}

std::string CodePageText(std::uint32_t codePage) {
  return std::to_string(codePage) + "\r\n";
}

} // namespace quillet
