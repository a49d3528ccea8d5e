#include "Package/PackageOptions.h"

#include "Common/Text.h"

namespace quillet {

namespace {

constexpr std::string_view PLATFORM_KEY = "platform=";
constexpr std::string_view LIBRARY_KEY = "library-path=";
constexpr std::string_view BROWSING_KEY = "browsing-path=";

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

std::string CodePageText(std::uint32_t codePage) {
  return std::to_string(codePage) + "\r\n";
}

} // namespace quillet
