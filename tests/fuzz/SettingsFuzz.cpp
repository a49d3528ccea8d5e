// libFuzzer target: the settings texts of a package. The input is split at its first three NUL
// bytes into "librarypaths.txt", "packages.txt", "identity.txt" and "codepage.txt". Each text read
// and written again reads back the same (and its text is then a fixed point), and a package that
// holds the four entries gets the settings that the texts give.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Package/Contract.h"
#include "Package/InstallRecord.h"
#include "Package/PackageSettings.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"

namespace {

using namespace quillet;

void Check(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

bool Same(const IdeBasePaths& a, const IdeBasePaths& b) {
  if (a.source != b.source || a.paths != b.paths) {
    return false;
  }
  for (std::size_t i = 0; i < a.paths.size(); ++i) {
    if (a.BoundsOf(i) != b.BoundsOf(i)) {
      return false;
    }
  }
  return true;
}

bool Same(const LibraryFolders& a, const LibraryFolders& b) {
  return a.searchPaths == b.searchPaths && a.browsingPaths == b.browsingPaths &&
         a.includePaths == b.includePaths;
}

bool Same(const LibrarySettings& a, const LibrarySettings& b) {
  if (a.platforms != b.platforms || a.searchPaths != b.searchPaths ||
      a.browsingPaths != b.browsingPaths || a.includePaths != b.includePaths ||
      a.versioned.size() != b.versioned.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.versioned.size(); ++i) {
    if (!Same(a.versioned[i].ides, b.versioned[i].ides) ||
        !Same(a.versioned[i].folders, b.versioned[i].folders)) {
      return false;
    }
  }
  return true;
}

bool Same(const std::vector<PackageSet>& a, const std::vector<PackageSet>& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!Same(a[i].ides, b[i].ides) || a[i].runtime != b[i].runtime || a[i].design != b[i].design ||
        a[i].platforms != b[i].platforms || a[i].prebuilt != b[i].prebuilt) {
      return false;
    }
  }
  return true;
}

bool HoldsNoLineEnd(const std::vector<std::string>& values) {
  for (const std::string& value : values) {
    if (value.find_first_of("\r\n") != std::string::npos) {
      return false;
    }
  }
  return true;
}

void CheckLibrary(std::string_view text) {
  const LibrarySettings settings = LibrarySettingsOfText(text);
  Check(!settings.platforms.empty());
  Check(HoldsNoLineEnd(settings.searchPaths) && HoldsNoLineEnd(settings.browsingPaths) &&
        HoldsNoLineEnd(settings.includePaths));
  const std::string written = LibrarySettingsText(settings);
  const LibrarySettings again = LibrarySettingsOfText(written);
  Check(LibrarySettingsText(again) == written);
  // The writer leaves out a versioned library without folders, which serves nothing.
  LibrarySettings kept = settings;
  std::erase_if(kept.versioned, [](const VersionedLibrary& library) {
    return library.ides.paths.empty() || library.folders.Empty();
  });
  Check(Same(kept, again));
  // Every installation a versioned library names gets the same folders from both.
  for (const VersionedLibrary& library : settings.versioned) {
    for (const std::string& path : library.ides.paths) {
      for (const char* version : {"7.0", "22.0", "23.0", "37.0"}) {
        Check(Same(settings.FoldersFor(path, version), again.FoldersFor(path, version)));
      }
    }
  }
}

void CheckPackages(std::string_view text) {
  const std::vector<PackageSet> sets = PackageSetsOfText(text);
  for (const PackageSet& set : sets) {
    Check(!set.platforms.empty() && HoldsNoLineEnd(set.runtime) && HoldsNoLineEnd(set.design) &&
          HoldsNoLineEnd(set.prebuilt));
  }
  const std::string written = PackageSetsText(sets);
  const std::vector<PackageSet> again = PackageSetsOfText(written);
  Check(Same(sets, again) && PackageSetsText(again) == written);
}

void CheckIdentity(std::string_view text) {
  const PackageIdentity identity = IdentityOfText(text);
  Check(identity.name.empty() || IsPackageName(identity.name));
  Check(identity.version.empty() || IsPackageVersion(identity.version));
  const PackageIdentity again = IdentityOfText(IdentityText(identity));
  Check(again.name == identity.name && again.version == identity.version);
}

// The code page "codepage.txt" records, judged here on its own: a first line that is, blanks
// aside, a decimal number from 1 to 2^32 - 1.
std::optional<std::uint32_t> ExpectedCodePage(std::string_view text) {
  std::string_view line = text.substr(0, text.find_first_of("\r\n"));
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= 32) {
    line.remove_prefix(1);
  }
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) {
    line.remove_suffix(1);
  }
  if (line.empty()) {
    return std::nullopt;
  }
  while (line.size() > 1 && line.front() == '0') {
    line.remove_prefix(1); // leading zeros change no number
  }
  if (line.size() > 10) {
    return std::nullopt;
  }
  std::uint64_t number = 0;
  for (const char c : line) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    number = number * 10 + static_cast<unsigned>(c - '0');
  }
  if (number == 0 || number > 0xFFFFFFFFu) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(number);
}

// The four texts as a package's list entries, read as the installer reads a package.
void CheckPackageSettings(const std::vector<std::string>& parts) {
  PackageContents contents;
  contents.defaultFolder = "%Delphi%Lib\\";
  const std::string_view names[] = {LIBRARY_ENTRY_NAME, PACKAGES_ENTRY_NAME, IDENTITY_ENTRY_NAME,
                                    CODE_PAGE_ENTRY_NAME};
  for (std::size_t i = 0; i < parts.size(); ++i) {
    contents.entries.push_back(MakeStoredEntry("", std::string(names[i]), parts[i], 0, 0, 0, 1));
  }
  const std::string bytes = SerializePackage(contents);
  const std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
  PackageLayout layout;
  Check(ValidatePackage(image.data(), image.size(), layout));
  const PackageSettings settings = ReadPackageSettings(layout);
  Check(Same(settings.stored.library, LibrarySettingsOfText(parts[0])));
  Check(Same(settings.stored.packages, PackageSetsOfText(parts[1])));
  const PackageIdentity identity = IdentityOfText(parts[2]);
  Check(settings.identity.name == identity.name && settings.identity.version == identity.version);
  const auto codePage = ExpectedCodePage(parts[3]);
  Check(settings.codePageRecorded == codePage.has_value());
  Check(!codePage || settings.codePage == *codePage);
  // Converted into the program's text, each list keeps its length and the platforms as stored.
  const LibrarySettings& converted = settings.text.library;
  Check(converted.platforms == settings.stored.library.platforms);
  Check(converted.searchPaths.size() == settings.stored.library.searchPaths.size() &&
        converted.versioned.size() == settings.stored.library.versioned.size());
  Check(settings.text.packages.size() == settings.stored.packages.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  for (int i = 0; i < 4; ++i) {
    const std::size_t nul = i < 3 ? rest.find('\0') : std::string_view::npos;
    parts.emplace_back(rest.substr(0, nul));
    rest = nul == std::string_view::npos ? std::string_view{} : rest.substr(nul + 1);
  }
  CheckLibrary(parts[0]);
  CheckPackages(parts[1]);
  CheckIdentity(parts[2]);
  // The number written reads back; the seed text's own number decides the one checked.
  if (const auto codePage = ExpectedCodePage(parts[3])) {
    Check(ExpectedCodePage(CodePageText(*codePage)) == codePage);
  }
  CheckPackageSettings(parts);
  return 0;
}
