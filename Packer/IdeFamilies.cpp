#include "Packer/IdeFamilies.h"

#include <utility>

#include "Packer/PackerError.h"

namespace quillet::packer {

IdeBasePaths IdeListOfFamilies(const std::vector<std::string>& families) {
  IdeFamilyList list = ParseIdeFamilies(families);
  if (!list.problem.empty()) {
    throw EPackerError(list.problem);
  }
  return std::move(list.ides);
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
