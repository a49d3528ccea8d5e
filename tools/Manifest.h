// The packer's manifest: a TOML file that says what goes into a package.
//
//   default-folder = '%Delphi%Components\Widgets\'     # required
//   root = "."                    # where source patterns start, relative to the manifest
//   welcome-file = "welcome.txt"  # or welcome-text = "..."; becomes the entry "welcome.txt"
//   patch-file = "patch.txt"      # or patch-text = "..."; becomes the entry "patchinfo.txt"
//   timestamp = 2026-01-15T10:30:00   # fixes every entry's date and time
//   ides = ["delphi", "cbuilder", "bds"]   # IDE families; becomes the entry "ides.txt"
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

#include "tools/PackageTime.h"

namespace quillet::pack {

inline constexpr std::string_view WELCOME_ENTRY_NAME = "welcome.txt";
inline constexpr std::string_view PATCH_ENTRY_NAME = "patchinfo.txt";
inline constexpr std::string_view DEFAULT_ENTRY_FOLDER = "%zel_root%";

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
  bool install = true;
  bool prependPatch = false;
  std::uint32_t line = 0; // where the [[entry]] table begins
};

struct Manifest {
  std::filesystem::path file;
  std::filesystem::path root;
  std::string defaultFolder;
  std::uint32_t defaultFolderLine = 0;
  ManifestText welcome;
  ManifestText patch;
  std::optional<DayTime> timestamp;
  // The registry base paths of the "ides" key, in order; empty without the key (no "ides.txt").
  std::vector<std::string> ideBasePaths;
  std::vector<ManifestEntry> entries;
};

// Reads and checks a manifest. Throws EPackerError with "FILE:LINE: what is wrong" for syntax
// errors, unknown keys, values of the wrong type and missing required keys.
Manifest ReadManifest(const std::filesystem::path& file);

// The same for a manifest's text; `file` names it in messages and anchors relative paths.
Manifest ParseManifest(std::string_view text, const std::filesystem::path& file);

} // namespace quillet::pack
