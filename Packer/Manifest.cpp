#include "Packer/Manifest.h"

#include <toml++/toml.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "Common/Text.h"
#include "Package/InstallRecord.h"
#include "Packer/IdeFamilies.h"
#include "Packer/PackerError.h"
#include "Packer/PathText.h"
#include "Platform/Ascii.h"
#include "Platform/Text.h"

namespace quillet::packer {

namespace {

class ManifestReader {
public:
  explicit ManifestReader(const std::filesystem::path& file) : file_(file) {}

  [[noreturn]] void Fail(std::uint32_t line, const std::string& what) const {
    // Line 0: the manifest as a whole.
    const std::string where = line != 0 ? ":" + std::to_string(line) : std::string();
    throw EPackerError(TextOfPath(file_) + where + ": " + what);
  }

  static std::uint32_t LineOf(const toml::node& node) { return node.source().begin.line; }

  std::string String(const toml::node& node, std::string_view key) const {
    if (!node.is_string()) {
      Fail(LineOf(node), std::string(key) + " must be a string");
    }
    return std::string(*node.value<std::string_view>());
  }

  bool Boolean(const toml::node& node, std::string_view key) const {
    if (!node.is_boolean()) {
      Fail(LineOf(node), std::string(key) + " must be true or false");
    }
    return *node.value<bool>();
  }

  // A string or an array of strings.
  std::vector<std::string> Strings(const toml::node& node, std::string_view key) const {
    std::vector<std::string> out;
    if (node.is_string()) {
      out.push_back(String(node, key));
    } else if (const toml::array* array = node.as_array()) {
      for (const toml::node& item : *array) {
        out.push_back(String(item, key));
      }
    } else {
      Fail(LineOf(node), std::string(key) + " must be a string or a list of strings");
    }
    for (const std::string& pattern : out) {
      if (pattern.empty()) {
        Fail(LineOf(node), std::string(key) + " holds an empty pattern");
      }
    }
    return out;
  }

  DayTime Timestamp(const toml::node& node) const {
    try {
      if (const auto* date = node.as_date()) {
        const toml::date& d = date->get();
        return DayTimeFromCivil(d.year, d.month, d.day, 0, 0, 0);
      }
      if (const auto* dateTime = node.as_date_time()) {
        const toml::date_time& dt = dateTime->get();
        if (dt.offset) {
          Fail(LineOf(node), "timestamp must be a local date and time without a time zone "
                             "(the installer reads it as local time), as 2026-01-15T10:30:00");
        }
        return DayTimeFromCivil(dt.date.year, dt.date.month, dt.date.day, dt.time.hour,
                                dt.time.minute, dt.time.second);
      }
    } catch (const EPackerError& e) {
      if (std::string_view(e.what()).starts_with(TextOfPath(file_) + ":")) {
        throw;
      }
      Fail(LineOf(node), std::string("timestamp: ") + e.what());
    }
    Fail(LineOf(node), "timestamp must be a date or a local date and time, as 2026-01-15T10:30:00");
  }

  std::uint32_t CodePage(const toml::node& node) const {
    // The code pages that Windows uses as a system's ANSI code page, UTF-8 included. Others that
    // Windows can convert to (UTF-7, the OEM code pages) never are, so no installer reads them.
    static constexpr std::int64_t ANSI_CODE_PAGES[] = {
        874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258, 65001};
    const auto number = node.value<std::int64_t>();
    if (!node.is_integer() ||
        std::ranges::find(ANSI_CODE_PAGES, *number) == std::end(ANSI_CODE_PAGES) ||
        !platform::Utf8ToCodePage(static_cast<std::uint32_t>(*number), "")) {
      Fail(LineOf(node), "code-page must be the number of a Windows ANSI code page this system "
                         "can convert to, as 1252, 1250, 1251 or 932");
    }
    return static_cast<std::uint32_t>(*number);
  }

  // A list of family names or base paths.
  quillet::IdeBasePaths IdeList(const toml::node& node) const {
    const toml::array* array = node.as_array();
    if (array == nullptr) {
      Fail(LineOf(node), "ides must be a list of IDE families, as [\"delphi\", \"cbuilder\", "
                         "\"bds\"]");
    }
    std::vector<std::string> names;
    for (const toml::node& item : *array) {
      names.push_back(String(item, "each item of ides"));
    }
    try {
      return IdeListOfFamilies(names);
    } catch (const EPackerError& e) {
      Fail(LineOf(node), e.what());
    }
  }

  // Platform names as the IDEs name their library keys: letters and digits ("Win32", "Win64").
  std::vector<std::string> Platforms(const toml::node& node) const {
    const toml::array* array = node.as_array();
    std::vector<std::string> names;
    if (array != nullptr) {
      for (const toml::node& item : *array) {
        names.push_back(String(item, "each item of platforms"));
      }
    }
    const bool wellFormed = !names.empty() && std::ranges::all_of(names, [](const std::string& n) {
      return !n.empty() && std::ranges::all_of(n, [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
      });
    });
    if (!wellFormed) {
      Fail(LineOf(node), "platforms must be a list of platform names of letters and digits, as "
                         "[\"Win32\", \"Win64\"]");
    }
    return names;
  }

  // The tables of an array of tables, such as [[entry]].
  const toml::array& Tables(const toml::node& node, std::string_view name) const {
    const toml::array* tables = node.as_array();
    if (tables == nullptr || !tables->is_array_of_tables()) {
      Fail(LineOf(node),
           std::string(name) + " must be written as [[" + std::string(name) + "]] tables");
    }
    return *tables;
  }

  // A [[library]] table: folders for the installations its ides name.
  VersionedLibrary Library(const toml::table& table) const {
    VersionedLibrary library;
    bool hasIdes = false;
    for (const auto& [key, node] : table) {
      const std::string_view name = key.str();
      if (name == "ides") {
        library.ides = IdeList(node);
        hasIdes = true;
      } else if (name == "library-path") {
        library.folders.searchPaths = Strings(node, name);
      } else if (name == "browsing-path") {
        library.folders.browsingPaths = Strings(node, name);
      } else if (name == "include-path") {
        library.folders.includePaths = Strings(node, name);
      } else {
        Fail(key.source().begin.line, "unknown key '" + std::string(name) +
                                          "' in [[library]] (known: ides, library-path, "
                                          "browsing-path, include-path)");
      }
    }
    if (!hasIdes) {
      Fail(LineOf(table), "[[library]] without ides: the IDE versions whose installations take "
                          "its folders (the top-level keys serve every one)");
    }
    if (library.folders.Empty()) {
      Fail(LineOf(table), "[[library]] names no folder: give library-path, browsing-path or "
                          "include-path");
    }
    return library;
  }

  // The project files of a [[packages]] key: each a template ending in ".dpk".
  std::vector<std::string> PackageProjects(const toml::node& node, std::string_view key) const {
    std::vector<std::string> paths = Strings(node, key);
    for (const std::string& path : paths) {
      if (!platform::AsciiLowerText(path).ends_with(".dpk")) {
        Fail(LineOf(node), std::string(key) + ": '" + ShownText(path, TextShape::Line, true) +
                               "' is not a Delphi package project (.dpk)");
      }
    }
    return paths;
  }

  ManifestPackageSet Packages(const toml::table& table) const {
    ManifestPackageSet packages;
    PackageSet& set = packages.set;
    packages.line = LineOf(table);
    for (const auto& [key, node] : table) {
      const std::string_view name = key.str();
      if (name == "ides") {
        set.ides = IdeList(node);
      } else if (name == "runtime") {
        set.runtime = PackageProjects(node, name);
        packages.runtimeLine = LineOf(node);
      } else if (name == "design") {
        set.design = PackageProjects(node, name);
        packages.designLine = LineOf(node);
      } else if (name == "platforms") {
        set.platforms = Platforms(node);
      } else if (name == "prebuilt") {
        set.prebuilt = Strings(node, name);
        packages.prebuiltLine = LineOf(node);
      } else {
        Fail(key.source().begin.line, "unknown key '" + std::string(name) +
                                          "' in [[packages]] (known: ides, runtime, design, "
                                          "platforms, prebuilt)");
      }
    }
    if (set.runtime.empty() && set.design.empty()) {
      Fail(packages.line, "[[packages]] names no package: give runtime, design or both");
    }
    if (set.platforms.empty()) {
      set.platforms.emplace_back(DEFAULT_LIBRARY_PLATFORM);
    }
    return packages;
  }

  ManifestEntry Entry(const toml::table& table) const {
    ManifestEntry entry;
    entry.line = LineOf(table);
    bool hasSource = false;
    for (const auto& [key, node] : table) {
      const std::string_view name = key.str();
      if (name == "source") {
        entry.sources = Strings(node, name);
        hasSource = true;
      } else if (name == "exclude") {
        entry.excludes = Strings(node, name);
      } else if (name == "folder") {
        entry.folder = String(node, name);
        entry.folderLine = LineOf(node);
      } else if (name == "install") {
        entry.install = Boolean(node, name);
      } else if (name == "prepend-patch") {
        entry.prependPatch = Boolean(node, name);
      } else {
        Fail(key.source().begin.line, "unknown key '" + std::string(name) +
                                          "' in [[entry]] (known: source, exclude, folder, "
                                          "install, prepend-patch)");
      }
    }
    if (!hasSource) {
      Fail(entry.line, "[[entry]] without source");
    }
    return entry;
  }

  Manifest Read(const toml::table& document) const {
    Manifest manifest;
    manifest.file = file_;
    // A manifest named without a folder lies in the current one.
    manifest.root = file_.has_parent_path() ? file_.parent_path() : ".";
    TopLevelSeen seen;
    for (const auto& [key, node] : document) {
      const std::string_view name = key.str();
      if (!TakeDescriptionKey(name, node, manifest, seen) &&
          !TakeContentKey(name, node, manifest, seen)) {
        Fail(key.source().begin.line,
             "unknown key '" + std::string(name) +
                 "' (known: name, version, default-folder, root, welcome-file, welcome-text, "
                 "patch-file, patch-text, timestamp, ides, library-path, browsing-path, "
                 "include-path, platforms, readme, case-sensitive, line-ends, code-page, "
                 "[[entry]], [[library]], [[packages]])");
      }
    }
    Complete(manifest, seen);
    return manifest;
  }

private:
  // What the top-level keys leave for the checks after them.
  struct TopLevelSeen {
    bool hasDefaultFolder = false;
    std::optional<std::string> root;
    std::uint32_t rootLine = 0;
    std::uint32_t platformsLine = 0;
  };

  // The keys that describe the package and its installation: name, version, folders, texts,
  // times and how texts are stored. False for any other key.
  bool TakeDescriptionKey(std::string_view name, const toml::node& node, Manifest& manifest,
                          TopLevelSeen& seen) const {
    if (name == "name") {
      manifest.identity.name = String(node, name);
      if (!IsPackageName(manifest.identity.name)) {
        Fail(LineOf(node), "name '" + ShownText(manifest.identity.name, TextShape::Line, true) +
                               "': a package's name is 1 to 64 ASCII letters, digits, blanks and "
                               "the characters . - _ +, neither beginning nor ending with a "
                               "blank or a dot, and no name that Windows reserves for a device "
                               "(CON, NUL, COM1, ...)");
      }
    } else if (name == "version") {
      manifest.identity.version = String(node, name);
      if (!IsPackageVersion(manifest.identity.version)) {
        Fail(LineOf(node), "version '" +
                               ShownText(manifest.identity.version, TextShape::Line, true) +
                               "': a version is 1 to 32 ASCII letters, digits and the "
                               "characters . - + _, as \"2.1\" or \"3.0.1-beta\"");
      }
    } else if (name == "default-folder") {
      manifest.defaultFolder = String(node, name);
      manifest.defaultFolderLine = LineOf(node);
      seen.hasDefaultFolder = true;
    } else if (name == "root") {
      seen.root = String(node, name);
      seen.rootLine = LineOf(node);
    } else if (name == "welcome-file" || name == "welcome-text" || name == "patch-file" ||
               name == "patch-text") {
      TakeText(name, node, name.starts_with("welcome") ? manifest.welcome : manifest.patch);
    } else if (name == "timestamp") {
      manifest.timestamp = Timestamp(node);
    } else if (name == "readme") {
      manifest.readme = String(node, name);
      manifest.readmeLine = LineOf(node);
    } else if (name == "case-sensitive") {
      manifest.caseSensitive = Boolean(node, name);
    } else if (name == "line-ends") {
      const std::string value = String(node, name);
      if (value != "crlf" && value != "keep") {
        Fail(LineOf(node), "line-ends must be \"crlf\" or \"keep\", not \"" + value + "\"");
      }
      manifest.lineEnds = value == "keep" ? LineEnds::Keep : LineEnds::CrLf;
    } else if (name == "code-page") {
      manifest.codePage = CodePage(node);
      manifest.codePageLine = LineOf(node);
    } else {
      return false;
    }
    return true;
  }

  // welcome-file, welcome-text, patch-file or patch-text: a file or a text, never both.
  void TakeText(std::string_view name, const toml::node& node, ManifestText& text) const {
    if (text.Present()) {
      Fail(LineOf(node), std::string(name) + ": give either " +
                             (name.starts_with("welcome") ? "welcome-file or welcome-text"
                                                          : "patch-file or patch-text") +
                             ", not both");
    }
    text.line = LineOf(node);
    if (name.ends_with("-file")) {
      text.file = PathOfText(String(node, name));
    } else {
      text.text = String(node, name);
    }
  }

  // The keys of what the package installs and where: IDEs, library folders and platforms, and
  // the [[entry]], [[library]] and [[packages]] tables. False for any other key.
  bool TakeContentKey(std::string_view name, const toml::node& node, Manifest& manifest,
                      TopLevelSeen& seen) const {
    if (name == "ides") {
      manifest.ides = IdeList(node);
    } else if (name == "library-path" || name == "browsing-path" || name == "include-path") {
      (name == "library-path"    ? manifest.library.searchPaths
       : name == "browsing-path" ? manifest.library.browsingPaths
                                 : manifest.library.includePaths) = Strings(node, name);
      manifest.libraryLine = manifest.libraryLine != 0 ? manifest.libraryLine : LineOf(node);
    } else if (name == "library") {
      for (const toml::node& table : Tables(node, name)) {
        manifest.library.versioned.push_back(Library(*table.as_table()));
        manifest.versionedLines.push_back(LineOf(table));
      }
    } else if (name == "packages") {
      for (const toml::node& table : Tables(node, name)) {
        manifest.packageSets.push_back(Packages(*table.as_table()));
      }
    } else if (name == "platforms") {
      manifest.library.platforms = Platforms(node);
      seen.platformsLine = LineOf(node);
    } else if (name == "entry") {
      for (const toml::node& table : Tables(node, name)) {
        manifest.entries.push_back(Entry(*table.as_table()));
      }
    } else {
      return false;
    }
    return true;
  }

  // The checks that need every key read: required keys, the platforms' folders, and the root
  // that relative text files are taken from.
  void Complete(Manifest& manifest, const TopLevelSeen& seen) const {
    if (manifest.library.Empty() && seen.platformsLine != 0) {
      Fail(seen.platformsLine, "platforms without library-path, browsing-path, include-path or "
                               "[[library]]: no folder goes into the libraries it names");
    }
    if (!manifest.library.Empty() && manifest.library.platforms.empty()) {
      manifest.library.platforms.emplace_back(DEFAULT_LIBRARY_PLATFORM);
    }
    if (manifest.identity.name.empty()) {
      Fail(0, "\"name\" is required: the installer records what it installs under the package's "
              "name, so that it can upgrade and remove it later (as name = \"Widgets\")");
    }
    if (!seen.hasDefaultFolder) {
      Fail(0, "missing default-folder, the folder proposed for each IDE installation");
    }
    if (manifest.entries.empty()) {
      Fail(0, "no [[entry]] table: the package would install nothing");
    }
    if (seen.root) {
      const std::filesystem::path given = PathOfText(*seen.root);
      manifest.root = given.is_absolute() ? given : manifest.root / given;
      std::error_code error;
      if (!std::filesystem::is_directory(manifest.root, error)) {
        Fail(seen.rootLine, "root folder " + TextOfPath(manifest.root) + " does not exist");
      }
    }
    for (ManifestText* text : {&manifest.welcome, &manifest.patch}) {
      if (text->file && text->file->is_relative()) {
        text->file = manifest.root / *text->file;
      }
    }
  }

  std::filesystem::path file_;
};

} // namespace

Manifest ParseManifest(std::string_view text, const std::filesystem::path& file) {
  const ManifestReader reader(file);
  toml::table document;
  try {
    document = toml::parse(text, TextOfPath(file));
  } catch (const toml::parse_error& e) {
    reader.Fail(e.source().begin.line, std::string(e.description()));
  }
  return reader.Read(document);
}

Manifest ReadManifest(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::error_code error;
  if (!in || std::filesystem::is_directory(file, error)) {
    throw EPackerError(TextOfPath(file) + ": cannot read the manifest" +
                       (std::filesystem::exists(file, error) ? "" : ": no such file"));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return ParseManifest(text.str(), file);
}

} // namespace quillet::packer
