#include "tools/SourceGlob.h"

#include <algorithm>

#include "tools/PackerError.h"

namespace quillet::pack {

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

// Matches one character against the class that begins at pattern[p] == '['. Gives the position
// after the class, or npos when the class is not closed (then '[' is an ordinary character).
std::size_t MatchClass(std::string_view pattern, std::size_t p, char c, bool& matched) {
  std::size_t i = p + 1;
  const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
  if (negated) {
    ++i;
  }
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
    const auto value = static_cast<unsigned char>(c);
    hit = hit || (value >= low && value <= high);
    ++i;
  }
  if (i >= pattern.size()) {
    return std::string_view::npos;
  }
  matched = hit != negated;
  return i + 1;
}

// One component against one pattern component, with backtracking over the last "*".
bool MatchComponent(std::string_view pattern, std::string_view name) {
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
        after = MatchClass(pattern, p, name[n], matched);
        if (after == std::string_view::npos) {
          matched = name[n] == '[';
          after = p + 1;
        }
      } else {
        matched = pattern[p] == '?' || pattern[p] == name[n];
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
                     const std::vector<std::string_view>& path, std::size_t n) {
  while (p < pattern.size()) {
    if (pattern[p] == "**") {
      // Any number of components, but never a hidden one.
      for (std::size_t skip = n;; ++skip) {
        if (MatchComponents(pattern, p + 1, path, skip)) {
          return true;
        }
        if (skip == path.size() || path[skip].front() == '.') {
          return false;
        }
      }
    }
    if (n == path.size() || !MatchComponent(pattern[p], path[n])) {
      return false;
    }
    ++p;
    ++n;
  }
  return n == path.size();
}

// True when the path or one of the folders above it matches the pattern.
bool MatchSelfOrFolder(const std::vector<std::string_view>& pattern,
                       const std::vector<std::string_view>& path) {
  for (std::size_t length = 1; length <= path.size(); ++length) {
    const std::vector<std::string_view> prefix(path.begin(), path.begin() + length);
    if (MatchComponents(pattern, 0, prefix, 0)) {
      return true;
    }
  }
  return false;
}

bool Excluded(const std::vector<std::string>& excludes, std::string_view pathBelowRoot) {
  const auto path = SplitComponents(pathBelowRoot);
  return std::any_of(excludes.begin(), excludes.end(), [&](const std::string& exclude) {
    return MatchSelfOrFolder(SplitComponents(exclude), path);
  });
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

// Every regular file below `folder`, with its path relative to `folder`.
std::vector<std::pair<std::string, std::filesystem::path>>
FilesBelow(const std::filesystem::path& folder) {
  std::vector<std::pair<std::string, std::filesystem::path>> files;
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(folder, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) {
      files.emplace_back(Generic(it->path().lexically_relative(folder)), it->path());
    }
  }
  if (error) {
    throw EPackerError(folder.string() + ": cannot read the folder: " + error.message());
  }
  return files;
}

} // namespace

bool HasWildcard(std::string_view pattern) {
  return pattern.find_first_of("*?[") != std::string_view::npos;
}

bool GlobMatch(std::string_view pattern, std::string_view path) {
  return MatchComponents(SplitComponents(pattern), 0, SplitComponents(path), 0);
}

std::vector<SourceFile> CollectSources(const std::filesystem::path& root, std::string_view pattern,
                                       const std::vector<std::string>& excludes) {
  const auto components = SplitComponents(pattern);
  // The fixed part: the leading components without wildcards.
  std::size_t fixed = 0;
  while (fixed < components.size() && !HasWildcard(components[fixed])) {
    ++fixed;
  }
  std::string fixedPath;
  for (std::size_t i = 0; i < fixed; ++i) {
    fixedPath = JoinBelow(fixedPath, components[i]);
  }
  const std::vector<std::string_view> rest(components.begin() + fixed, components.end());

  std::vector<SourceFile> result;
  auto add = [&](const std::filesystem::path& file, const std::string& below,
                 const std::string& pathBelowRoot) {
    if (Excluded(excludes, pathBelowRoot)) {
      return;
    }
    SourceFile source;
    source.path = file;
    const std::size_t slash = below.rfind('/');
    source.relativeFolder = slash == std::string::npos ? "" : below.substr(0, slash);
    source.name = slash == std::string::npos ? below : below.substr(slash + 1);
    std::error_code error;
    source.size = std::filesystem::file_size(file, error);
    if (error) {
      throw EPackerError(file.string() + ": cannot read the file size: " + error.message());
    }
    result.push_back(std::move(source));
  };

  // An absolute pattern does not depend on the root.
  const std::filesystem::path start = !pattern.empty() && pattern.front() == '/' ? "/" : root;
  const std::filesystem::path base = fixedPath.empty() ? start : start / fixedPath;
  std::error_code error;
  if (rest.empty()) {
    if (std::filesystem::is_regular_file(base, error)) {
      add(base, Generic(base.filename()), fixedPath);
    } else if (std::filesystem::is_directory(base, error)) {
      for (const auto& [below, file] : FilesBelow(base)) {
        add(file, below, JoinBelow(fixedPath, below));
      }
    }
  } else if (std::filesystem::is_directory(base, error)) {
    for (const auto& [below, file] : FilesBelow(base)) {
      if (MatchSelfOrFolder(rest, SplitComponents(below))) {
        add(file, below, JoinBelow(fixedPath, below));
      }
    }
  }
  std::sort(result.begin(), result.end(), [](const SourceFile& a, const SourceFile& b) {
    return JoinBelow(a.relativeFolder, a.name) < JoinBelow(b.relativeFolder, b.name);
  });
  return result;
}

} // namespace quillet::pack
