#include "Packer/SourceGlob.h"

#include <algorithm>

#include "Packer/PackerError.h"
#include "Packer/PathText.h"
#include "Platform/Ascii.h"
#include "Platform/PathSplit.h"

namespace quillet::packer {

namespace {

std::vector<std::string_view> SplitComponents(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t slash = text.find('/', start);
    const std::size_t end = slash == std::string_view::npos ? text.size() : slash;
    if (end > start) {
      parts.push_back(text.substr(start, end - start)); // empty components ("a//b") are ignored
    }
    if (slash == std::string_view::npos) {
      break;
    }
    start = slash + 1;
  }
  return parts;
}

bool SameChar(char a, char b, bool caseSensitive) {
  return caseSensitive ? a == b : platform::AsciiLower(a) == platform::AsciiLower(b);
}

bool SameName(std::string_view a, std::string_view b, bool caseSensitive) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return SameChar(x, y, caseSensitive);
         });
}

// Matches one character against the class that begins at pattern[p] == '['. Gives the position
// after the class, or npos when the class is not closed (then '[' is an ordinary character).
std::size_t MatchClass(std::string_view pattern, std::size_t p, char c, bool caseSensitive,
                       bool& matched) {
  std::size_t i = p + 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) {
    ++i;
  }
  // Without case, a letter matches when either of its cases lies in the class.
  const auto candidates = caseSensitive
                              ? std::string{c}
                              : std::string{platform::AsciiLower(c), platform::AsciiUpper(c)};
  bool hit = false;
  bool first = true;
  while (i < pattern.size() && (pattern[i] != ']' || first)) {
    first = false;
    const auto low = static_cast<unsigned char>(pattern[i]);
    auto high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
      high = static_cast<unsigned char>(pattern[i + 2]);
      i += 2;
    }
    for (char candidate : candidates) {
      const auto value = static_cast<unsigned char>(candidate);
      hit = hit || (value >= low && value <= high);
    }
    ++i;
  }
  if (i >= pattern.size()) {
    return std::string_view::npos;
  }
  matched = hit != negated;
  return i + 1;
}

// One component against one pattern component, with backtracking over the last "*".
bool MatchComponent(std::string_view pattern, std::string_view name, bool caseSensitive) {
  if (!name.empty() && name.front() == '.' && (pattern.empty() || pattern.front() != '.')) {
    return false; // hidden names match only a pattern that spells out the dot
  }
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
      continue;
    }
    if (p < pattern.size()) {
      bool matched = false;
      std::size_t after = p + 1;
      if (pattern[p] == '[') {
        after = MatchClass(pattern, p, name[n], caseSensitive, matched);
        if (after == std::string_view::npos) {
          matched = name[n] == '[';
          after = p + 1;
        }
      } else {
        matched = pattern[p] == '?' || SameChar(pattern[p], name[n], caseSensitive);
      }
      if (matched) {
        p = after;
        ++n;
        continue;
      }
    }
    if (starP == std::string_view::npos) {
      return false;
    }
    p = starP + 1;
    n = ++starN;
  }
  while (p < pattern.size() && pattern[p] == '*') {
    ++p;
  }
  return p == pattern.size();
}

bool MatchComponents(const std::vector<std::string_view>& pattern, std::size_t p,
                     const std::vector<std::string_view>& path, std::size_t n, bool caseSensitive) {
  while (p < pattern.size()) {
    if (pattern[p] == "**") {
      // Any number of components, but never a hidden one.
      for (std::size_t skip = n;; ++skip) {
        if (MatchComponents(pattern, p + 1, path, skip, caseSensitive)) {
          return true;
        }
        if (skip == path.size() || path[skip].front() == '.') {
          return false;
        }
      }
    }
    if (n == path.size() || !MatchComponent(pattern[p], path[n], caseSensitive)) {
      return false;
    }
    ++p;
    ++n;
  }
  return n == path.size();
}

// True when the path or one of the folders above it matches the pattern; `lastIsFolder` says
// whether the path itself is a folder, for patterns that match folders only.
bool MatchSelfOrFolder(const std::vector<std::string_view>& pattern,
                       const std::vector<std::string_view>& path, bool caseSensitive,
                       bool foldersOnly = false, bool lastIsFolder = false) {
  for (std::size_t length = 1; length <= path.size(); ++length) {
    if (foldersOnly && length == path.size() && !lastIsFolder) {
      break;
    }
    const std::vector<std::string_view> prefix(path.begin(), path.begin() + length);
    if (MatchComponents(pattern, 0, prefix, 0, caseSensitive)) {
      return true;
    }
  }
  return false;
}

// UTF-8 on every system, as the manifest's patterns are: on Windows the system's ANSI form would
// lose the characters that its code page lacks.
std::string Generic(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

std::string JoinBelow(std::string_view folder, std::string_view name) {
  if (folder.empty()) {
    return std::string(name);
  }
  return std::string(folder) + "/" + std::string(name);
}

constexpr std::string_view VERSION_CONTROL_FOLDERS[] = {".git", ".svn", ".hg", "CVS"};

} // namespace

bool HasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?[") != std::string_view::npos;
}

bool GlobMatch(std::string_view pattern, std::string_view path, bool caseSensitive) {
  return MatchComponents(SplitComponents(pattern), 0, SplitComponents(path), 0, caseSensitive);
}

std::string PatternWithSlashes(std::string_view pattern) {
  std::string out(pattern);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

SourceCollector::SourceCollector(std::filesystem::path root,
                                 const std::vector<std::string>& excludes, bool caseSensitive)
    : root_(std::move(root)), caseSensitive_(caseSensitive) {
  for (const std::string& written : excludes) {
    Exclude exclude;
    exclude.written = written;
    std::string pattern = PatternWithSlashes(written);
    while (pattern.size() > 1 && pattern.back() == '/') {
      pattern.pop_back();
      exclude.foldersOnly = true;
    }
    if (pattern.find('/') == std::string::npos) {
      pattern = "**/" + pattern; // a name alone matches at any depth
    } else if (pattern.front() == '/') {
      pattern.erase(0, 1);
    }
    exclude.pattern = std::move(pattern);
    excludes_.push_back(std::move(exclude));
  }
}

bool SourceCollector::Excluded(std::string_view pathBelowRoot, bool isFolder) {
  const auto path = SplitComponents(pathBelowRoot);
  bool excluded = false;
  for (Exclude& exclude : excludes_) {
    if (MatchSelfOrFolder(SplitComponents(exclude.pattern), path, caseSensitive_,
                          exclude.foldersOnly, isFolder)) {
      exclude.used = true;
      excluded = true;
    }
  }
  return excluded;
}

std::vector<std::string> SourceCollector::UnusedExcludes() const {
  std::vector<std::string> unused;
  for (const Exclude& exclude : excludes_) {
    if (!exclude.used) {
      unused.push_back(exclude.written);
    }
  }
  return unused;
}

std::filesystem::path
SourceCollector::Resolve(const std::filesystem::path& start,
                         const std::vector<std::string_view>& components) const {
  std::filesystem::path path = start;
  for (std::string_view component : components) {
    std::filesystem::path next = path / PathOfText(component);
    std::error_code error;
    if (!caseSensitive_ && !std::filesystem::exists(next, error) && component != "." &&
        component != "..") {
      // Written in another letter case, as Windows would find it.
      for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
           it.increment(error)) {
        if (SameName(TextOfPath(it->path().filename()), component, false)) {
          next = it->path();
          break;
        }
      }
    }
    path = std::move(next);
  }
  return path;
}

std::vector<SourceFile> SourceCollector::Collect(std::string_view written) {
  const std::string pattern = PatternWithSlashes(written);
  const bool contentsOnly = pattern.size() > 1 && pattern.back() == '/';
  const auto components = SplitComponents(pattern);
  // The fixed part: the leading components without wildcards.
  std::size_t fixed = 0;
  while (fixed < components.size() && !HasWildcard(components[fixed])) {
    ++fixed;
  }
  const std::vector<std::string_view> rest(components.begin() + fixed, components.end());
  // An absolute pattern does not depend on the root.
  const std::filesystem::path start = !pattern.empty() && pattern.front() == '/' ? "/" : root_;
  const std::filesystem::path base =
      Resolve(start, std::vector<std::string_view>(components.begin(), components.begin() + fixed));
  std::string fixedPath; // below the root, as found on disk
  {
    const std::filesystem::path below = base.lexically_relative(start);
    fixedPath = below == "." ? std::string() : Generic(below);
  }
  auto named = [&](std::string_view folder) {
    return std::any_of(components.begin(), components.end(),
                       [&](std::string_view c) { return SameName(c, folder, caseSensitive_); });
  };

  std::vector<SourceFile> result;
  auto add = [&](const std::filesystem::path& file, const std::string& below) {
    SourceFile source;
    source.path = file;
    const platform::PathParts parts = platform::SplitAtLastSeparator(below, "/");
    // The relative folder is kept without its final "/".
    source.relativeFolder =
        parts.folder.substr(0, parts.folder.empty() ? 0 : parts.folder.size() - 1);
    source.name = parts.name;
    std::error_code error;
    source.size = std::filesystem::file_size(file, error);
    if (error) {
      throw EPackerError(TextOfPath(file) + ": cannot read the file size: " + error.message());
    }
    result.push_back(std::move(source));
  };

  std::error_code error;
  if (rest.empty() && std::filesystem::is_regular_file(base, error)) {
    if (!Excluded(fixedPath, false)) {
      add(base, Generic(base.filename()));
    }
  } else if (std::filesystem::is_directory(base, error)) {
    // A folder named without wildcards keeps its own name, unless a final "/" asks for its
    // contents only.
    const std::string name = Generic(base.filename());
    const bool keepName = rest.empty() && !contentsOnly && fixed > 0 && name != "." && name != "..";
    const std::string prefix = keepName ? name : std::string();
    std::filesystem::recursive_directory_iterator it(base, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      const std::string below = Generic(it->path().lexically_relative(base));
      const auto belowComponents = SplitComponents(below);
      const bool wanted = rest.empty() || MatchSelfOrFolder(rest, belowComponents, caseSensitive_);
      const std::string belowRoot = JoinBelow(fixedPath, below);
      std::error_code ignored;
      if (it->is_symlink(ignored) && it->is_directory(ignored)) {
        if (wanted && !Excluded(belowRoot, true)) {
          folderLinks_.insert(it->path());
        }
      } else if (it->is_directory(ignored)) {
        const std::string folder = Generic(it->path().filename());
        const bool versionControl =
            std::any_of(std::begin(VERSION_CONTROL_FOLDERS), std::end(VERSION_CONTROL_FOLDERS),
                        [&](std::string_view vcs) { return folder == vcs && !named(vcs); });
        if (versionControl || Excluded(belowRoot, true)) {
          it.disable_recursion_pending();
        } else if (wanted && std::filesystem::is_empty(it->path(), ignored)) {
          emptyFolders_.insert(it->path());
        }
      } else if (it->is_regular_file(ignored) && wanted && !Excluded(belowRoot, false)) {
        add(it->path(), JoinBelow(prefix, below));
      }
    }
    if (error) {
      throw EPackerError(TextOfPath(base) + ": cannot read the folder: " + error.message());
    }
  }
  std::sort(result.begin(), result.end(), [](const SourceFile& a, const SourceFile& b) {
    return JoinBelow(a.relativeFolder, a.name) < JoinBelow(b.relativeFolder, b.name);
  });
  return result;
}

} // namespace quillet::packer
