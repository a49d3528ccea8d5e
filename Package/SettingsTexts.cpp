#include "Package/SettingsTexts.h"

#include <algorithm>

#include "Common/Text.h"
#include "Package/InstallRecord.h"
#include "Platform/Ascii.h"

namespace quillet {

namespace {

constexpr std::string_view PLATFORM_KEY = "platform=";
constexpr std::string_view LIBRARY_KEY = "library-path=";
constexpr std::string_view BROWSING_KEY = "browsing-path=";
constexpr std::string_view INCLUDE_KEY = "include-path=";
// A versioned library's lines: keys of their own, which installers that predate them pass over,
// so that its folders never reach an installation it does not serve.
constexpr std::string_view FOR_KEY = "for=";
constexpr std::string_view FOR_BOUNDS_KEY = "for-bounds=";
constexpr std::string_view FOR_LIBRARY_KEY = "for-library-path=";
constexpr std::string_view FOR_BROWSING_KEY = "for-browsing-path=";
constexpr std::string_view FOR_INCLUDE_KEY = "for-include-path=";
constexpr std::string_view SET_LINE = "set";
constexpr std::string_view IDE_KEY = "ide=";
constexpr std::string_view BOUNDS_KEY = "bounds=";
constexpr std::string_view RUNTIME_KEY = "runtime=";
constexpr std::string_view DESIGN_KEY = "design=";
constexpr std::string_view PREBUILT_KEY = "prebuilt=";
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

void AddLines(std::string& text, std::string_view key, const std::vector<std::string>& values) {
  for (const std::string& value : values) {
    text.append(key).append(value).append("\r\n");
  }
}

// The base paths with their bounds as "PATH_KEY" lines, each bounded one followed by a
// "BOUNDS_KEY" line.
void AddIdeLines(std::string& text, const IdeBasePaths& ides, std::string_view pathKey,
                 std::string_view boundsKey) {
  for (std::size_t i = 0; i < ides.paths.size(); ++i) {
    text.append(pathKey).append(ides.paths[i]).append("\r\n");
    if (!ides.BoundsOf(i).empty()) {
      text.append(boundsKey).append(ides.BoundsOf(i)).append("\r\n");
    }
  }
}

// Reads an ide line or its bounds line into `ides`; false for other lines.
bool TakeIdeLine(std::string_view line, std::string_view pathKey, std::string_view boundsKey,
                 IdeBasePaths& ides) {
  if (line.starts_with(pathKey)) {
    ides.source = IdeListSource::Package;
    ides.paths.emplace_back(TrimBlanks(line.substr(pathKey.size())));
    ides.bounds.resize(ides.paths.size());
    return true;
  }
  if (line.starts_with(boundsKey)) {
    if (!ides.paths.empty()) {
      ides.bounds.resize(ides.paths.size());
      ides.bounds.back() = TrimBlanks(line.substr(boundsKey.size()));
    }
    return true;
  }
  return false;
}

// Whether `ides` name the installation, as the registry compares keys; no paths name every one.
bool IdesServe(const IdeBasePaths& ides, std::string_view basePath, std::string_view version) {
  if (ides.paths.empty()) {
    return true;
  }
  for (std::size_t i = 0; i < ides.paths.size(); ++i) {
    if (platform::EqualIgnoringAsciiCase(IdeRegistryKey(ides.paths[i]), IdeRegistryKey(basePath)) &&
        VersionWithin(version, ides.BoundsOf(i))) {
      return true;
    }
  }
  return false;
}

// Appends the folders that `into` does not hold yet, letter case aside.
void AddOnce(std::vector<std::string>& into, const std::vector<std::string>& folders) {
  for (const std::string& folder : folders) {
    const bool held = std::ranges::any_of(into, [&folder](const std::string& known) {
      return platform::EqualIgnoringAsciiCase(known, folder);
    });
    if (!held) {
      into.push_back(folder);
    }
  }
}

// Appends what follows `key` when the line starts with it.
bool TakeValue(std::string_view line, std::string_view key, std::vector<std::string>& into) {
  if (!line.starts_with(key)) {
    return false;
  }
  into.emplace_back(line.substr(key.size()));
  return true;
}

} // namespace

LibraryFolders LibrarySettings::FoldersFor(std::string_view basePath,
                                           std::string_view version) const {
  LibraryFolders folders;
  AddOnce(folders.searchPaths, searchPaths);
  AddOnce(folders.browsingPaths, browsingPaths);
  AddOnce(folders.includePaths, includePaths);
  for (const VersionedLibrary& library : versioned) {
    // A versioned library without paths would serve every installation; it names none.
    if (!library.ides.paths.empty() && IdesServe(library.ides, basePath, version)) {
      AddOnce(folders.searchPaths, library.folders.searchPaths);
      AddOnce(folders.browsingPaths, library.folders.browsingPaths);
      AddOnce(folders.includePaths, library.folders.includePaths);
    }
  }
  return folders;
}

bool PackageSet::Serves(std::string_view basePath, std::string_view version) const {
  return IdesServe(ides, basePath, version);
}

std::string LibrarySettingsText(const LibrarySettings& settings) {
  std::string text;
  AddLines(text, PLATFORM_KEY, settings.platforms);
  AddLines(text, LIBRARY_KEY, settings.searchPaths);
  AddLines(text, BROWSING_KEY, settings.browsingPaths);
  AddLines(text, INCLUDE_KEY, settings.includePaths);
  for (const VersionedLibrary& library : settings.versioned) {
    // Without paths or folders it would read back as part of its neighbour.
    if (library.ides.paths.empty() || library.folders.Empty()) {
      continue;
    }
    AddIdeLines(text, library.ides, FOR_KEY, FOR_BOUNDS_KEY);
    AddLines(text, FOR_LIBRARY_KEY, library.folders.searchPaths);
    AddLines(text, FOR_BROWSING_KEY, library.folders.browsingPaths);
    AddLines(text, FOR_INCLUDE_KEY, library.folders.includePaths);
  }
  return text;
}

LibrarySettings LibrarySettingsOfText(std::string_view text) {
  LibrarySettings settings;
  // A "for=" line after a folder line begins the next versioned library.
  bool takingFolders = true;
  ForEachLine(text, [&settings, &takingFolders](std::string_view line) {
    const auto take = [line](std::string_view key, std::vector<std::string>& into) {
      return TakeValue(line, key, into);
    };
    if (line.starts_with(PLATFORM_KEY)) {
      settings.platforms.emplace_back(TrimBlanks(line.substr(PLATFORM_KEY.size())));
      return;
    }
    if (take(LIBRARY_KEY, settings.searchPaths) || take(BROWSING_KEY, settings.browsingPaths) ||
        take(INCLUDE_KEY, settings.includePaths)) {
      return;
    }
    if (line.starts_with(FOR_KEY) && takingFolders) {
      settings.versioned.emplace_back();
      takingFolders = false;
    }
    if (settings.versioned.empty() ||
        TakeIdeLine(line, FOR_KEY, FOR_BOUNDS_KEY, settings.versioned.back().ides)) {
      return;
    }
    LibraryFolders& folders = settings.versioned.back().folders;
    takingFolders = take(FOR_LIBRARY_KEY, folders.searchPaths) ||
                    take(FOR_BROWSING_KEY, folders.browsingPaths) ||
                    take(FOR_INCLUDE_KEY, folders.includePaths) || takingFolders;
  });
  if (settings.platforms.empty()) {
    settings.platforms.emplace_back(DEFAULT_LIBRARY_PLATFORM);
  }
  return settings;
}

std::string PackageSetsText(const std::vector<PackageSet>& sets) {
  std::string text;
  for (const PackageSet& set : sets) {
    text.append(SET_LINE).append("\r\n");
    AddIdeLines(text, set.ides, IDE_KEY, BOUNDS_KEY);
    AddLines(text, PLATFORM_KEY, set.platforms);
    AddLines(text, RUNTIME_KEY, set.runtime);
    AddLines(text, DESIGN_KEY, set.design);
    AddLines(text, PREBUILT_KEY, set.prebuilt);
  }
  return text;
}

std::vector<PackageSet> PackageSetsOfText(std::string_view text) {
  std::vector<PackageSet> sets;
  ForEachLine(text, [&sets](std::string_view line) {
    if (line == SET_LINE) {
      sets.emplace_back();
      return;
    }
    if (sets.empty()) {
      return; // lines before the first set belong to none
    }
    PackageSet& set = sets.back();
    const auto take = [line](std::string_view key, std::vector<std::string>& into) {
      return TakeValue(line, key, into);
    };
    if (line.starts_with(PLATFORM_KEY)) {
      set.platforms.emplace_back(TrimBlanks(line.substr(PLATFORM_KEY.size())));
    } else if (!TakeIdeLine(line, IDE_KEY, BOUNDS_KEY, set.ides) &&
               !take(RUNTIME_KEY, set.runtime) && !take(DESIGN_KEY, set.design)) {
      take(PREBUILT_KEY, set.prebuilt);
    }
  });
  for (PackageSet& set : sets) {
    if (set.platforms.empty()) {
      set.platforms.emplace_back(DEFAULT_LIBRARY_PLATFORM);
    }
  }
  return sets;
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
