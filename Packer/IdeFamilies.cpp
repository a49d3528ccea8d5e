#include "Packer/IdeFamilies.h"

#include <map>

#include "Packer/PackerError.h"
#include "Platform/Ascii.h"

namespace quillet::packer {

namespace {

struct IdeFamily {
  std::string_view name;
  std::vector<std::string_view> basePaths;
};

const std::vector<IdeFamily>& Families() {
  static const std::vector<IdeFamily> families = {
      {"delphi", {DELPHI_BASE_PATH}},
      {"cbuilder", {CBUILDER_BASE_PATH}},
      {"bds", {BORLAND_BDS_BASE_PATH, CODEGEAR_BDS_BASE_PATH, EMBARCADERO_BDS_BASE_PATH}},
  };
  return families;
}

const IdeFamily* FindFamily(std::string_view name) {
  const std::string folded = platform::AsciiLowerText(name);
  for (const IdeFamily& family : Families()) {
    if (family.name == folded) {
      return &family;
    }
  }
  return nullptr;
}

bool IsBasePath(std::string_view text) {
  if (text.size() < 2 || text.front() != '\\' || text.back() != '\\') {
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

std::vector<std::string> BasePathsOfFamilies(const std::vector<std::string>& families) {
  if (families.empty()) {
    throw EPackerError("ides names no IDE family; leave the key out to serve Delphi and "
                       "C++Builder up to versions 7 and 6");
  }
  std::vector<std::string> paths;
  std::map<std::string, std::string> namedBy; // folded path -> the name that gave it
  for (const std::string& name : families) {
    std::vector<std::string_view> given;
    if (const IdeFamily* family = FindFamily(name)) {
      given = family->basePaths;
    } else if (IsBasePath(name)) {
      given = {name};
    } else {
      throw EPackerError("ides: unknown IDE family '" + name +
                         "' (known: delphi, cbuilder, bds, or a registry base path that starts "
                         "and ends with \\, such as \\Software\\Embarcadero\\BDS\\)");
    }
    // Registry paths are compared without regard to case, as the registry compares them.
    for (std::string_view path : given) {
      const auto [previous, added] = namedBy.emplace(platform::AsciiLowerText(path), name);
      if (!added) {
        throw EPackerError("ides: '" + name + "' and '" + previous->second + "' both name " +
                           std::string(path) + "; its installations would get two turns");
      }
      paths.emplace_back(path);
    }
  }
  return paths;
}

std::string IdesEntryText(const std::vector<std::string>& basePaths) {
  std::string text;
  for (const std::string& path : basePaths) {
    text += path + "\r\n";
  }
  return text;
}

std::string DescribeBasePaths(const std::vector<std::string>& basePaths) {
  std::string text;
  for (std::size_t i = 0; i < basePaths.size();) {
    std::string name = basePaths[i];
    std::size_t taken = 1;
    for (const IdeFamily& family : Families()) {
      const std::size_t count = family.basePaths.size();
      bool matches = count <= basePaths.size() - i;
      for (std::size_t k = 0; matches && k < count; ++k) {
        matches = platform::AsciiLowerText(basePaths[i + k]) ==
                  platform::AsciiLowerText(family.basePaths[k]);
      }
      if (matches) {
        name = family.name;
        taken = count;
        break;
      }
    }
    text += (text.empty() ? "" : ", ") + name;
    i += taken;
  }
  return text;
}

std::string IdeFamiliesLine(const IdeBasePaths& ides) {
  const std::string families = "IDE families: " + DescribeBasePaths(ides.paths);
  switch (ides.source) {
  case IdeListSource::Fixed:
    return families + " (the default: the package names none)";
  case IdeListSource::Damaged:
    return families + " (" + std::string(IDES_ENTRY_NAME) +
           " is damaged; the installer falls back to these)";
  case IdeListSource::Package:
    break;
  }
  if (ides.paths.empty()) {
    return "IDE families: none (" + std::string(IDES_ENTRY_NAME) +
           " names no registry path; the installer offers no installation)";
  }
  return families;
}

} // namespace quillet::packer
