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

// A stored text for the terminal; a code page this system cannot convert shows the bytes as
// stored.
class ShownIn {
public:
  explicit ShownIn(std::uint32_t codePage) : codePage_(codePage) {}

  std::string operator()(const std::string& text) const {
    const std::optional<std::string> utf8 = platform::CodePageToUtf8(codePage_, text);
    return utf8 ? ShownText(*utf8, TextShape::Line, true) : Shown(text);
  }

  std::string Joined(const std::vector<std::string>& items) const {
    std::string text;
    for (const std::string& item : items) {
      text += (text.empty() ? "" : ", ") + (*this)(item);
    }
    return text;
  }

  // The lists that hold something, each after its name, "; " between them.
  std::string Parts(
      std::initializer_list<std::pair<const char*, const std::vector<std::string>*>> lists) const {
    std::string text;
    for (const auto& [name, items] : lists) {
      if (!items->empty()) {
        text += std::string(text.empty() ? "" : "; ") + name + " " + Joined(*items);
      }
    }
    return text;
  }

private:
  std::uint32_t codePage_;
};

std::string DescribedIdes(const IdeBasePaths& ides) {
  return ides.paths.empty() ? std::string("every IDE") : Shown(DescribeIdes(ides));
}

// The header line, then the package's identity and the folder it proposes.
void ListHeader(const PackageFile& package, const ShownIn& shown, std::ostream& out) {
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
}

// The settings a package opts into, only when it does: library folders, each versioned library
// and package set on a line with its parts after its IDEs, and the readme.
void ListSettings(const PackageTexts& stored, const ShownIn& shown, std::ostream& out) {
  const LibrarySettings& library = stored.library;
  if (!library.searchPaths.empty()) {
    out << "Library path: " << shown.Joined(library.searchPaths) << "\n";
  }
  if (!library.browsingPaths.empty()) {
    out << "Browsing path: " << shown.Joined(library.browsingPaths) << "\n";
  }
  if (!library.includePaths.empty()) {
    out << "Include path: " << shown.Joined(library.includePaths) << "\n";
  }
  for (const VersionedLibrary& versioned : library.versioned) {
    out << "Library for " << DescribedIdes(versioned.ides) << ": "
        << shown.Parts({{"library path", &versioned.folders.searchPaths},
                        {"browsing path", &versioned.folders.browsingPaths},
                        {"include path", &versioned.folders.includePaths}})
        << "\n";
  }
  if (!library.Empty()) {
    out << "Platforms: " << shown.Joined(library.platforms) << "\n";
  }
  for (const PackageSet& set : stored.packages) {
    out << "Packages for " << DescribedIdes(set.ides) << ": "
        << shown.Parts({{"run-time", &set.runtime},
                        {"design-time", &set.design},
                        {"platforms", &set.platforms},
                        {"prebuilt", &set.prebuilt}})
        << "\n";
  }
  if (stored.readmeTarget) {
    out << "Readme: " << shown(*stored.readmeTarget) << "\n";
  }
}

// The table of entries, its columns as wide as their widest cell.
void ListEntries(const PackageFile& package, const ShownIn& shown, std::ostream& out) {
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
}

// The package's problems, where its entries would land, and the entries the installer refuses.
void ListWarnings(const PackageFile& package, const ShownIn& shown, std::uint32_t codePage,
                  std::ostream& warnings) {
  for (const std::string& problem : package.Problems()) {
    warnings << "quillet-pack: warning: " << package.Path() << ": " << problem << "\n";
  }
  for (const std::string& warning : PlacementWarnings(package, codePage)) {
    warnings << "quillet-pack: warning: " << package.Path() << ": " << warning << "\n";
  }
  std::size_t index = 0;
  for (const PackageEntry& entry : package.Entries()) {
    if (const std::string problem = BadNameProblem(entry, codePage); !problem.empty()) {
      warnings << "quillet-pack: warning: " << package.Path() << ": entry " << index << " ("
               << shown(EntryPath(entry)) << "): the installer will not create it: "
               << ShownText(problem, TextShape::Line, true) << "\n";
    }
    ++index;
  }
}

} // namespace

void ListPackage(const PackageFile& package, std::ostream& out, std::ostream& warnings,
                 std::uint32_t codePage) {
  const ShownIn shown(codePage);
  ListHeader(package, shown, out);
  ListSettings(package.Settings().stored, shown, out);
  ListEntries(package, shown, out);
  ListWarnings(package, shown, codePage, warnings);
}

} // namespace quillet::packer
