#include "Packer/IdeFamilies.h"

#include <map>

#include "Packer/PackerError.h"
#include "Platform/Ascii.h"

namespace quillet::packer {

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

IdeBasePaths IdeListOfFamilies(const std::vector<std::string>& families) {
  if (families.empty()) {
    throw EPackerError("ides names no IDE family; leave the key out to serve Delphi and "
                       "C++Builder up to versions 7 and 6");
  }
  IdeBasePaths list;
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
        throw EPackerError("ides: '" + item +
                           "' has bounds that are not versions after >= or <=, such as "
                           "bds>=22.0,<=23.0");
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
      throw EPackerError("ides: unknown IDE family '" + name +
                         "' (known: delphi, cbuilder, bds, or a registry base path that starts "
                         "and ends with \\, such as \\Software\\Embarcadero\\BDS\\)");
    }
    // Registry paths are compared without regard to case, as the registry compares them.
    for (std::string_view path : given) {
      const auto [previous, added] = namedBy.emplace(platform::AsciiLowerText(path), item);
      if (!added) {
        throw EPackerError("ides: '" + item + "' and '" + previous->second + "' both name " +
                           std::string(path) + "; its installations would get two turns");
      }
      list.paths.emplace_back(path);
      list.bounds.push_back(bounds);
    }
  }
  return list;
}

std::string IdeFamiliesLine(const IdeBasePaths& ides) {
  const std::string families = "IDE families: " + DescribeIdes(ides);
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
