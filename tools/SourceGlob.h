// Choosing source files with glob patterns, as the manifest names them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::pack {

// True when `path` matches `pattern`, both with "/" between components. In a component "*"
// matches any run of characters, "?" one character, and "[...]" one of a class ("[!...]" or
// "[^...]" negated, "a-z" ranges). A component that is exactly "**" matches any number of
// components, none included. Wildcards never match the leading "." of a hidden name.
bool GlobMatch(std::string_view pattern, std::string_view path);

// True when the pattern has a wildcard character.
bool HasWildcard(std::string_view pattern);

struct SourceFile {
  std::filesystem::path path; // where the file is read from
  std::string relativeFolder; // its folder below the pattern's fixed part, "/" between names
  std::string name;           // its file name
  std::uint64_t size = 0;
};

// The files a pattern names below `root`, sorted by their path below the pattern's fixed part.
// A pattern without wildcards names a file, or a folder with everything in it. A pattern with
// wildcards takes every file it matches, and everything in every folder it matches. Files whose
// path below `root` matches one of `excludes` (or lies in a folder that does) are left out.
// Nothing found gives an empty list.
std::vector<SourceFile> CollectSources(const std::filesystem::path& root, std::string_view pattern,
                                       const std::vector<std::string>& excludes);

} // namespace quillet::pack
