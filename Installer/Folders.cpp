#include "Installer/Folders.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "Common/Text.h"
#include "Common/WindowsNames.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"

namespace quillet {

namespace {

// The shortest folder text that can be worth creating: anything shorter is a drive ("C:"), a
// root ("\") or a name of one or two bytes, and is taken to exist.
constexpr std::size_t MIN_CREATABLE_LENGTH = 3;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}
bool IsDelimiter(char c) {
  return IsSeparator(c) || c == ':';
}

// The components of a path with "." and empty ones dropped and ".." resolved; a ".." with
// nothing left to climb out of stays.
std::vector<std::string> ResolvedComponents(std::string_view path) {
  std::vector<std::string> components;
  std::string component;
  const auto end = [&] {
    if (component == "..") {
      if (!components.empty() && components.back() != "..") {
        components.pop_back();
      } else {
        components.push_back(component);
      }
    } else if (!component.empty() && component != ".") {
      components.push_back(component);
    }
    component.clear();
  };
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (IsSeparator(path[i])) {
      end();
      continue;
    }
    component += path[i];
  }
  end();
  return components;
}

} // namespace

bool PathIsInFolder(std::string_view path, std::string_view folder) {
  const std::vector<std::string> base = ResolvedComponents(TrimBlanks(folder));
  if (base.empty()) {
    // An empty folder (or ".") is the current one: it holds the relative paths that stay in it.
    const std::vector<std::string> full = ResolvedComponents(path);
    return !path.empty() && !IsSeparator(path[0]) && (full.empty() || full[0].back() != ':') &&
           (full.empty() || full[0] != "..");
  }
  const std::vector<std::string> full = ResolvedComponents(path);
  return full.size() >= base.size() && std::equal(base.begin(), base.end(), full.begin(),
                                                  [](const std::string& a, const std::string& b) {
                                                    return SameTextLocale(a, b);
                                                  });
}

std::string FolderWithSeparator(std::string_view folder) {
  const std::string_view trimmed = TrimBlanks(folder);
  std::string result(trimmed);
  if (!trimmed.empty() && !IsDelimiter(trimmed.back())) {
    result.push_back('\\');
  }
  return result;
}

std::string FolderOfPath(std::string_view path) {
  return std::string(platform::SplitAtLastSeparator(path, "\\/:").folder);
}

std::optional<std::string> SystemFormOfPath(std::string_view path) {
  // The root: "\\server\share", a drive with or without its separator, a lone separator.
  std::size_t rootEnd = 0;
  bool rooted = false;
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    rootEnd = 2;
    for (int names = 0; names < 2 && rootEnd < path.size(); ++names) {
      while (rootEnd < path.size() && IsSeparator(path[rootEnd])) {
        ++rootEnd;
      }
      while (rootEnd < path.size() && !IsSeparator(path[rootEnd])) {
        ++rootEnd;
      }
    }
    rooted = true;
  } else if (path.size() >= 2 && path[1] == ':' && platform::AsciiLower(path[0]) >= 'a' &&
             platform::AsciiLower(path[0]) <= 'z') {
    rooted = path.size() > 2 && IsSeparator(path[2]);
    rootEnd = rooted ? 3 : 2;
  } else if (!path.empty() && IsSeparator(path[0])) {
    rooted = true;
    rootEnd = 1;
  }
  std::vector<std::string> components = ResolvedComponents(path.substr(rootEnd));
  if (rooted) {
    // ".." at a root stays there.
    components.erase(components.begin(),
                     std::find_if(components.begin(), components.end(),
                                  [](const std::string& c) { return c != ".."; }));
  }
  std::string result(path.substr(0, rootEnd));
  if (rootEnd > 2 && !IsSeparator(result.back())) {
    result.push_back('\\'); // after a share
  }
  for (std::size_t i = 0; i < components.size(); ++i) {
    if (!HoldableName(components[i])) {
      return std::nullopt;
    }
    result += (i == 0 ? "" : "\\") + components[i];
  }
  // A name the system would store as another (a character the locale's encoding lacks).
  if (!platform::PathCanBeNamed(result)) {
    return std::nullopt;
  }
  return result;
}

bool FolderExists(std::string_view path) {
  return platform::IsFolder(path);
}

bool CreateFolder(std::string_view path) {
  return platform::MakeFolder(path);
}

bool CreateFolderPath(std::string_view path, std::vector<std::string>* created) {
  if (path.empty()) {
    return true;
  }
  // One final separator goes.
  if (IsSeparator(path.back())) {
    path.remove_suffix(1);
  }
  if (path.size() < MIN_CREATABLE_LENGTH || FolderExists(path)) {
    return true;
  }
  const std::string parent = FolderOfPath(path);
  if (parent == path) {
    // The path still ends in a delimiter ("C:\A\\" or "Q:\\"): it is its own folder part.
    return true;
  }
  if (!CreateFolderPath(parent, created)) {
    return false;
  }
  if (!CreateFolder(path)) {
    return false;
  }
  if (created != nullptr) {
    created->emplace_back(path);
  }
  return true;
}

std::string WithoutSeparator(std::string folder) {
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) {
    folder.pop_back();
  }
  return folder;
}

} // namespace quillet
