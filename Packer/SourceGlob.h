// Choosing source files with glob patterns, as the manifest names them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::packer {

// True when `path` matches `pattern`, both with "/" between components. In a component "*"
// matches any run of characters, "?" one character, and "[...]" one of a class ("[!...]" or
// "[^...]" negated, "a-z" ranges). A component that is exactly "**" matches any number of
// components, none included. Wildcards never match the leading "." of a hidden name. Without
// `caseSensitive`, ASCII letters match in either case.
bool GlobMatch(std::string_view pattern, std::string_view path, bool caseSensitive = true);

// True when the pattern has a wildcard character.
bool HasWildcard(std::string_view pattern);

// A pattern as authors write it on Windows, with "\" between components, in the "/" form.
std::string PatternWithSlashes(std::string_view pattern);

struct SourceFile {
  std::filesystem::path path; // where the file is read from
  std::string relativeFolder; // its folder below the pattern's fixed part, "/" between names
  std::string name;           // its file name
  std::uint64_t size = 0;
};

// Collects the files of one [[entry]] below `root`.
//
// A pattern without wildcards names a file, or a folder with everything in it, the folder's own
// name kept as the files' first subfolder (as rsync and cp copy a folder); with a final "/" only
// the folder's contents are taken. A pattern with wildcards takes every file it matches, and
// everything in every folder it matches, each keeping its folders below the pattern's fixed part
// (its leading components without wildcards). Version-control folders (.git, .svn, .hg, CVS) are
// left out unless the pattern names them.
//
// Excludes follow .gitignore rules: a pattern without "/" matches a file or folder name at any
// depth, one with "/" (a leading one included) is anchored at `root`, and a final "/" matches
// folders only. A file is left out when it or a folder above it matches.
class SourceCollector {
public:
  SourceCollector(std::filesystem::path root, const std::vector<std::string>& excludes,
                  bool caseSensitive);

  // The pattern's files, sorted by their path below the fixed part; empty when it finds none.
  std::vector<SourceFile> Collect(std::string_view pattern);

  // The excludes, as written, that have left out nothing so far.
  std::vector<std::string> UnusedExcludes() const;
  // Folders below the patterns that hold nothing to pack: links to folders (not followed) and
  // empty folders.
  std::size_t FolderLinks() const { return folderLinks_.size(); }
  std::size_t EmptyFolders() const { return emptyFolders_.size(); }

private:
  struct Exclude {
    std::string written;
    std::string pattern; // anchored at the root, "/" between components
    bool foldersOnly = false;
    bool used = false;
  };

  bool Excluded(std::string_view pathBelowRoot, bool isFolder);
  std::filesystem::path Resolve(const std::filesystem::path& start,
                                const std::vector<std::string_view>& components) const;

  std::filesystem::path root_;
  std::vector<Exclude> excludes_;
  bool caseSensitive_;
  std::set<std::filesystem::path> folderLinks_;
  std::set<std::filesystem::path> emptyFolders_;
};

} // namespace quillet::packer
