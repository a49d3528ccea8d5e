// The packer's manifest: a TOML file that says what goes into a package.
//
//   name = "Widgets"              # required: the installer records what it installs under it
//   version = "2.1"               # optional, recorded and shown with the name
//   default-folder = '%Delphi%Components\Widgets\'     # required
//   root = "."                    # where source patterns start, relative to the manifest
//   welcome-file = "welcome.txt"  # or welcome-text = "..."; becomes the entry "welcome.txt"
//   patch-file = "patch.txt"      # or patch-text = "..."; becomes the entry "patchinfo.txt"
//   timestamp = 2026-01-15T10:30:00   # fixes every entry's date and time
//   readme = "Doc/readme.html"    # the readme.html the installer opens, installed last
//   case-sensitive = false        # patterns ignore letter case unless true
//   line-ends = "crlf"            # the texts' line ends: "crlf" (default) or "keep"
//   code-page = 1252              # the Windows code page of names and texts, default 1252
//   ides = ["delphi", "cbuilder", "bds>=23.0"]   # IDE families; becomes the entry "ides.txt"
//   library-path = ['%zel_root%Source']   # folders added to each IDE's library path
//   browsing-path = ['%zel_root%Source']  # folders added to each IDE's browsing path
//   include-path = ['%zel_root%Include']  # folders added to each IDE's C++ include path
//   platforms = ["Win32", "Win64"]        # the libraries they go into, default ["Win32"]
//
//   [[library]]                   # optional: folders for some IDE versions only
//   ides = ["bds>=23.0"]          # required, as the top-level ides
//   library-path = ['%zel_root%Lib23']    # and browsing-path, include-path; at least one
//
//   [[packages]]                  # optional: Delphi packages the installer builds
//   ides = ["bds>=23.0"]          # optional: every IDE the package reaches
//   runtime = ['%zel_root%Packages\TallowR.dpk']  # built first, in this order
//   design = ['%zel_root%Packages\TallowD.dpk']   # built after, registered in the IDE
//   platforms = ["Win32", "Win64"]  # run-time packages are built for each; default ["Win32"]
//   prebuilt = ['%zel_root%Bpl\%platform%\']     # optional: .bpl and .dcp files built before
//
//   [[entry]]                     # one or more
//   source = ["src/**/*.pas"]     # a pattern or a list of them
//   exclude = ["**/backup"]       # optional
//   folder = '%zel_root%Source'   # folder template, default '%zel_root%'
//   install = true                # default true
//   prepend-patch = false         # default false
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Package/SettingsTexts.h"
#include "Packer/PackageTime.h"

namespace quillet::packer {

inline constexpr std::string_view DEFAULT_ENTRY_FOLDER = "%zel_root%";
inline constexpr std::uint32_t DEFAULT_CODE_PAGE = 1252;

// A text given either as a file or inline in the manifest.
struct ManifestText {
  std::optional<std::filesystem::path> file; // resolved against the root
  std::optional<std::string> text;
  std::uint32_t line = 0;
  bool Present() const { return file.has_value() || text.has_value(); }
};

struct ManifestEntry {
  std::vector<std::string> sources;
  std::vector<std::string> excludes;
  std::string folder{DEFAULT_ENTRY_FOLDER};
  std::uint32_t folderLine = 0; // 0 when the default folder applies
  bool install = true;
  bool prependPatch = false;
  std::uint32_t line = 0; // where the [[entry]] table begins
};

// A [[packages]] table: the set, and the lines its keys stand on for messages.
struct ManifestPackageSet {
  PackageSet set;
  std::uint32_t line = 0; // where the table begins
  std::uint32_t runtimeLine = 0;
  std::uint32_t designLine = 0;
  std::uint32_t prebuiltLine = 0;
};

// How the welcome and patch texts are stored: with CR LF line ends, as the installer's console
// and the Windows source files they go into have them, or as they are.
enum class LineEnds { CrLf, Keep };

struct Manifest {
  std::filesystem::path file;
  std::filesystem::path root;
  // The package's name (IsPackageName) and version (IsPackageVersion, or empty); becomes the entry
  // "identity.txt".
  PackageIdentity identity;
  std::string defaultFolder;
  std::uint32_t defaultFolderLine = 0;
  ManifestText welcome;
  ManifestText patch;
  std::optional<DayTime> timestamp;
  // The ANSI code page that the installer's users run: names and texts are stored in it.
  std::uint32_t codePage = DEFAULT_CODE_PAGE;
  std::uint32_t codePageLine = 0;
  // The registry base paths of the "ides" key, in order, with their version bounds; no paths
  // without the key (no "ides.txt").
  IdeBasePaths ides;
  std::vector<ManifestEntry> entries;
  // The folders for the IDEs' library, browsing and include paths, their platforms, and the
  // [[library]] tables' folders for some IDE versions; with no folder the settings are empty (no
  // "librarypaths.txt").
  LibrarySettings library;
  std::uint32_t libraryLine = 0;
  std::vector<std::uint32_t> versionedLines; // where each of library.versioned's tables begins
  // The [[packages]] tables in order; none: no "packages.txt".
  std::vector<ManifestPackageSet> packageSets;
  std::optional<std::string> readme; // relative to the root, as written
  std::uint32_t readmeLine = 0;
  bool caseSensitive = false;
  LineEnds lineEnds = LineEnds::CrLf;
};

// Reads and checks a manifest. Throws EPackerError with "FILE:LINE: what is wrong" for syntax
// errors, unknown keys, values of the wrong type and missing required keys.
Manifest ReadManifest(const std::filesystem::path& file);

// The same for a manifest's text; `file` names it in messages and anchors relative paths.
Manifest ParseManifest(std::string_view text, const std::filesystem::path& file);

} // namespace quillet::packer
