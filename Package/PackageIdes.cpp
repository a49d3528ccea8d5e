#include "Package/PackageIdes.h"

#include <map>

#include "Common/Text.h"
#include "Package/EntryContent.h"
#include "Platform/Ascii.h"

namespace quillet {

const std::vector<IdeFamily>& IdeFamilies() {
  static const std::vector<IdeFamily> families = {
      {"delphi", {DELPHI_BASE_PATH}, true},
      {"cbuilder", {CBUILDER_BASE_PATH}, true},
      {"bds", {BORLAND_BDS_BASE_PATH, CODEGEAR_BDS_BASE_PATH, EMBARCADERO_BDS_BASE_PATH}, false},
  };
  return families;
}

const IdeFamily* IdeFamilyOf(std::string_view basePath) {
  for (const IdeFamily& family : IdeFamilies()) {
    for (std::string_view path : family.basePaths) {
      if (platform::EqualIgnoringAsciiCase(IdeRegistryKey(path), IdeRegistryKey(basePath))) {
        return &family;
      }
    }
  }
  return nullptr;
}

bool IsIdeBasePath(std::string_view text) {
  return text.size() >= 2 && text.front() == '\\' && text.back() == '\\';
}

std::string_view IdeRegistryKey(std::string_view basePath) {
  return basePath.starts_with('\\') ? basePath.substr(1) : basePath;
}

std::optional<std::vector<std::uint32_t>> ParseVersion(std::string_view text) {
  std::vector<std::uint32_t> numbers;
  std::size_t at = 0;
  while (true) {
    std::uint64_t number = 0;
    const std::size_t begin = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && number <= UINT32_MAX) {
      number = number * 10 + static_cast<std::uint32_t>(text[at++] - '0');
    }
    if (at == begin || number > UINT32_MAX) {
      return std::nullopt;
    }
    numbers.push_back(static_cast<std::uint32_t>(number));
    if (at == text.size()) {
      return numbers;
    }
    if (text[at++] != '.') {
      return std::nullopt;
    }
  }
}

namespace {

// Compares number by number, a missing number counting as 0.
int CompareVersions(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  for (std::size_t i = 0; i < a.size() || i < b.size(); ++i) {
    const std::uint32_t x = i < a.size() ? a[i] : 0;
    const std::uint32_t y = i < b.size() ? b[i] : 0;
    if (x != y) {
      return x < y ? -1 : 1;
    }
  }
  return 0;
}

} // namespace

std::optional<std::vector<VersionBound>> ParseVersionBounds(std::string_view text) {
  std::vector<VersionBound> bounds;
  if (TrimBlanks(text).empty()) {
    return bounds;
  }
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view piece = TrimBlanks(text.substr(0, comma));
    if (piece.size() < 3 || (piece[0] != '>' && piece[0] != '<') || piece[1] != '=') {
      return std::nullopt;
    }
    const auto version = ParseVersion(TrimBlanks(piece.substr(2)));
    if (!version) {
      return std::nullopt;
    }
    bounds.push_back(VersionBound{piece[0] == '>', *version});
    if (comma == std::string_view::npos) {
      return bounds;
    }
    text.remove_prefix(comma + 1);
  }
}

bool VersionWithin(std::string_view subkeyName, std::string_view bounds) {
  if (TrimBlanks(bounds).empty()) {
    return true;
  }
  const auto parsed = ParseVersionBounds(bounds);
  const auto version = ParseVersion(subkeyName);
  if (!parsed || !version) {
    return false;
  }
  for (const VersionBound& bound : *parsed) {
    const int order = CompareVersions(*version, bound.version);
    if (bound.atLeast ? order < 0 : order > 0) {
      return false;
    }
  }
  return true;
}

IdeBasePaths IdeListOfText(std::string_view text) {
  IdeBasePaths list;
  list.source = IdeListSource::Package;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = TrimBlanks(text.substr(0, end));
    if (IsIdeBasePath(line)) {
      list.paths.emplace_back(line);
      list.bounds.emplace_back();
    } else if (!line.empty() && (line.front() == '>' || line.front() == '<') &&
               !list.paths.empty()) {
      list.bounds.back() = line;
    }
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return list;
}

std::vector<std::string> IdeBasePathsOfText(std::string_view text) {
  return IdeListOfText(text).paths;
}

std::string IdesEntryText(const IdeBasePaths& ides) {
  std::string text;
  for (std::size_t i = 0; i < ides.paths.size(); ++i) {
    text += ides.paths[i] + "\r\n";
    if (!ides.BoundsOf(i).empty()) {
      text.append(ides.BoundsOf(i)).append("\r\n");
    }
  }
  return text;
}

std::string DescribeIdes(const IdeBasePaths& ides) {
  const std::vector<std::string>& paths = ides.paths;
  std::string text;
  for (std::size_t i = 0; i < paths.size();) {
    std::string name = paths[i];
    std::size_t taken = 1;
    for (const IdeFamily& family : IdeFamilies()) {
      const std::size_t count = family.basePaths.size();
      // A family's paths stand together, all with the same bounds.
      bool matches = count <= paths.size() - i;
      for (std::size_t k = 0; matches && k < count; ++k) {
        matches = platform::EqualIgnoringAsciiCase(paths[i + k], family.basePaths[k]) &&
                  ides.BoundsOf(i + k) == ides.BoundsOf(i);
      }
      if (matches) {
        name = family.name;
        taken = count;
        break;
      }
    }
    text += (text.empty() ? "" : ", ") + name + std::string(ides.BoundsOf(i));
    i += taken;
  }
  return text;
}

IdeBasePaths PackageIdeBasePaths(const PackageLayout& layout) {
  IdeBasePaths result;
  const EntryLookup lookup = FindEntryByName(layout, IDES_ENTRY_NAME);
  // An installable "ides.txt" is one of the package's files, as in packages made before the list
  // existed; it does not choose the IDEs.
  if (lookup.found && !lookup.entry.HasFlag(ENTRY_INSTALL)) {
    const EntryContent content = ExtractEntry(lookup.entry);
    if (content.status == EntryStatus::Content) {
      return IdeListOfText(content.bytes);
    }
    result.source = IdeListSource::Damaged;
  }
  result.paths = {std::string(DELPHI_BASE_PATH), std::string(CBUILDER_BASE_PATH)};
  return result;
}

namespace {

const IdeFamily* FindFamily(std::string_view name) {
  const std::string folded = platform::AsciiLowerText(name);
  for (const IdeFamily& family : IdeFamilies()) {
    if (family.name == folded) {
      return &family;
    }
  }
  return nullptr;
}

bool IsBasePath(std::string_view text) {
  if (!IsIdeBasePath(text)) {
    return false;
  }
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 32) {
      return false; // a line break would split the path in two lines of "ides.txt"
    }
  }
  return true;
}

} // namespace

IdeFamilyList ParseIdeFamilies(const std::vector<std::string>& families) {
  IdeFamilyList result;
  if (families.empty()) {
    return {{},
            "ides names no IDE family; leave the key out to serve Delphi and "
            "C++Builder up to versions 7 and 6"};
  }
  IdeBasePaths& list = result.ides;
  list.source = IdeListSource::Package;
  std::map<std::string, std::string> namedBy; // folded path -> the name that gave it
  for (const std::string& item : families) {
    // "bds>=22.0,<=23.0": the family, then its bounds from the first "<" or ">" on.
    const std::size_t boundsAt = item.find_first_of("<>");
    const std::string name = item.substr(0, boundsAt);
    std::string bounds;
    if (boundsAt != std::string::npos) {
      const auto parsed = ParseVersionBounds(item.substr(boundsAt));
      if (!parsed || parsed->empty()) {
        return {{},
                "ides: '" + item +
                    "' has bounds that are not versions after >= or <=, such as "
                    "bds>=22.0,<=23.0"};
      }
      for (char c : item.substr(boundsAt)) {
        if (c != ' ' && c != '\t') {
          bounds += c; // stored without blanks, as `list` and the installer show them
        }
      }
    }
    std::vector<std::string_view> given;
    if (const IdeFamily* family = FindFamily(name)) {
      given = family->basePaths;
    } else if (IsBasePath(name)) {
      given = {name};
    } else {
      return {{},
              "ides: unknown IDE family '" + name +
                  "' (known: delphi, cbuilder, bds, or a registry base path that starts "
                  "and ends with \\, such as \\Software\\Embarcadero\\BDS\\)"};
    }
    // Registry paths are compared without regard to case, as the registry compares them.
    for (std::string_view path : given) {
      const auto [previous, added] = namedBy.emplace(platform::AsciiLowerText(path), item);
      if (!added) {
        return {{},
                "ides: '" + item + "' and '" + previous->second + "' both name " +
                    std::string(path) + "; its installations would get two turns"};
      }
      list.paths.emplace_back(path);
      list.bounds.push_back(bounds);
    }
  }
  return result;
}

} // namespace quillet
