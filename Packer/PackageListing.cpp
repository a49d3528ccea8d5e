// `quillet-pack list`: the header line and one line per entry of a finished package.
#include <algorithm>
#include <cstdio>

#include "Common/Text.h"
#include "Package/Contract.h"
#include "Packer/IdeFamilies.h"
#include "Packer/PackageReport.h"
#include "Packer/PackageTime.h"
#include "Platform/Text.h"

namespace quillet::packer {

namespace {

std::string Padded(const std::string& text, std::size_t width, bool right) {
  if (text.size() >= width) {
    return text;
  }
  const std::string fill(width - text.size(), ' ');
  return right ? fill + text : text + fill;
}

} // namespace

void ListPackage(const PackageFile& package, std::ostream& out, std::ostream& warnings,
                 std::uint32_t codePage) {
  // For the terminal; a code page this system cannot convert shows the bytes as stored.
  const auto shown = [codePage](const std::string& text) {
    const std::optional<std::string> utf8 = platform::CodePageToUtf8(codePage, text);
    return utf8 ? ShownText(*utf8, TextShape::Line, true) : Shown(text);
  };
  const PackageLayout& layout = package.Layout();
  const std::uint32_t packageSize = layout.imageSize - layout.header;
  if (layout.header == 0) {
    out << package.Path() << ": package of " << packageSize << " bytes";
  } else {
    out << package.Path() << ": installer with a package of " << packageSize << " bytes at offset "
        << layout.header;
  }
  out << ", " << package.Entries().size() << " entries\n";
  // The settings as stored, shown in the code page asked for.
  const PackageTexts& stored = package.Settings().stored;
  const PackageIdentity& identity = package.Settings().identity;
  if (!identity.name.empty()) {
    out << "Name: " << identity.name << "\n";
  }
  if (!identity.version.empty()) {
    out << "Version: " << identity.version << "\n";
  }
  out << "Default folder: " << shown(stored.defaultFolder) << "\n";
  out << Shown(IdeFamiliesLine(stored.ides)) << "\n";
  // The settings a package opts into, only when it does.
  const LibrarySettings& library = stored.library;
  auto joined = [&shown](const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
      text += (text.empty() ? "" : ", ") + shown(item);
    }
    return text;
  };
  if (!library.searchPaths.empty()) {
    out << "Library path: " << joined(library.searchPaths) << "\n";
  }
  if (!library.browsingPaths.empty()) {
    out << "Browsing path: " << joined(library.browsingPaths) << "\n";
  }
  if (!library.includePaths.empty()) {
    out << "Include path: " << joined(library.includePaths) << "\n";
  }
  // Each versioned library and package set on a line, its parts after its IDEs.
  const auto describe = [](const IdeBasePaths& ides) {
    return ides.paths.empty() ? std::string("every IDE") : Shown(DescribeIdes(ides));
  };
  const auto parts =
      [&joined](
          std::initializer_list<std::pair<const char*, const std::vector<std::string>*>> lists) {
        std::string text;
        for (const auto& [name, items] : lists) {
          if (!items->empty()) {
            text += std::string(text.empty() ? "" : "; ") + name + " " + joined(*items);
          }
        }
        return text;
      };
  for (const VersionedLibrary& versioned : library.versioned) {
    out << "Library for " << describe(versioned.ides) << ": "
        << parts({{"library path", &versioned.folders.searchPaths},
                  {"browsing path", &versioned.folders.browsingPaths},
                  {"include path", &versioned.folders.includePaths}})
        << "\n";
  }
  if (!library.Empty()) {
    out << "Platforms: " << joined(library.platforms) << "\n";
  }
  for (const PackageSet& set : stored.packages) {
    out << "Packages for " << describe(set.ides) << ": "
        << parts({{"run-time", &set.runtime},
                  {"design-time", &set.design},
                  {"platforms", &set.platforms},
                  {"prebuilt", &set.prebuilt}})
        << "\n";
  }
  if (stored.readmeTarget) {
    out << "Readme: " << shown(*stored.readmeTarget) << "\n";
  }

  std::size_t folderWidth = std::string("Folder").size();
  std::size_t numberWidth = 8;
  for (const PackageEntry& entry : package.Entries()) {
    folderWidth = std::max(folderWidth, shown(entry.FolderTemplate()).size());
    numberWidth = std::max({numberWidth, std::to_string(entry.StoredSize()).size(),
                            std::to_string(entry.UnpackedSize()).size()});
  }
  out << "Index  Flags  " << Padded("Stored", numberWidth, true) << "  "
      << Padded("Unpacked", numberWidth, true) << "  Date       Time      "
      << Padded("Folder", folderWidth, false) << "  Name\n";
  std::size_t index = 0;
  for (const PackageEntry& entry : package.Entries()) {
    out << Padded(std::to_string(index++), 5, true) << "  "
        << Padded(FlagsText(entry.Flags()), 5, false) << "  "
        << Padded(std::to_string(entry.StoredSize()), numberWidth, true) << "  "
        << Padded(std::to_string(entry.UnpackedSize()), numberWidth, true) << "  "
        << FormatDayTime(entry.Date(), entry.Time()) << "  "
        << Padded(shown(entry.FolderTemplate()), folderWidth, false) << "  "
        << shown(entry.FileName()) << "\n";
  }
  for (const std::string& problem : package.Problems()) {
    warnings << "quillet-pack: warning: " << package.Path() << ": " << problem << "\n";
  }
  for (const std::string& warning : PlacementWarnings(package, codePage)) {
    warnings << "quillet-pack: warning: " << package.Path() << ": " << warning << "\n";
  }
  index = 0;
  for (const PackageEntry& entry : package.Entries()) {
    if (const std::string problem = BadNameProblem(entry, codePage); !problem.empty()) {
      warnings << "quillet-pack: warning: " << package.Path() << ": entry " << index << " ("
               << shown(EntryPath(entry)) << "): the installer will not create it: "
               << ShownText(problem, TextShape::Line, true) << "\n";
    }
    ++index;
  }
}

} // namespace quillet::packer
