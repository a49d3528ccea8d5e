#include "Package/PackageIdes.h"

#include "Common/Text.h"
#include "Package/EntryContent.h"

namespace quillet {

std::vector<std::string> IdeBasePathsOfText(std::string_view text) {
  std::vector<std::string> paths;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = TrimBlanks(text.substr(0, end));
    // A base path is absolute ("\" first) and ends with the separator that a subkey name follows.
    if (line.size() >= 2 && line.front() == '\\' && line.back() == '\\') {
      paths.emplace_back(line);
    }
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return paths;
}

IdeBasePaths PackageIdeBasePaths(const PackageLayout& layout) {
  IdeBasePaths result;
  const EntryLookup lookup = FindEntryByName(layout, IDES_ENTRY_NAME);
  // An installable "ides.txt" is one of the package's files, as in packages made before the list
  // existed; it does not choose the IDEs.
  if (lookup.found && !lookup.entry.HasFlag(ENTRY_INSTALL)) {
    const EntryContent content = ExtractEntry(lookup.entry);
    if (content.status == EntryStatus::Content) {
      result.source = IdeListSource::Package;
      result.paths = IdeBasePathsOfText(content.bytes);
      return result;
    }
    result.source = IdeListSource::Damaged;
  }
  result.paths = {std::string(DELPHI_BASE_PATH), std::string(CBUILDER_BASE_PATH)};
  return result;
}

} // namespace quillet
