// The file system for Windows-style paths, mapped onto POSIX the way Wine maps them: "\" becomes
// "/", a drive "X:" is the entry "x:" in the Wine prefix's dosdevices folder, "\\server\share" is
// below dosdevices/unc, a path that starts with a separator is native absolute and anything else
// is relative to the current folder. Windows names ignore letter case, so a component that is
// missing as written is matched against the names that exist. The folder calls on mapped paths
// (NativePath, IsFolder, MakeFolder, TakeAccessDenied) live here too, and the mapping the other
// way (WindowsViewOfFolder).
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/FolderAccess.h"
#include "Platform/Posix/WinePrefix.h"
#include "Platform/Text.h"

namespace quillet::platform {

using posix::FoldedName;
using posix::Folder;
using posix::FolderListing;
using posix::ListedType;
using posix::ListingCache;
using posix::Listings;
using posix::NotingDenial;

namespace {

constexpr std::string_view DOSDEVICES = "/dosdevices/";
constexpr std::string_view UNC_FOLDER = "unc";
constexpr mode_t NEW_FOLDER_MODE = 0777; // narrowed by the umask, as for any new folder

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The program's text (UTF-8) that a directory entry's native name stands for.
std::string AnsiNameOfEntry(std::string_view nativeName) {
  return posix::CodePage::Active().FromNative(nativeName);
}

// The native text of a path in the program's text.
std::string NativeTextOfAnsiPath(std::string_view ansiPath) {
  return posix::CodePage::Active().ToNative(ansiPath);
}

// Owns a directory stream for the length of one lookup.
class DirectoryReader {
public:
  explicit DirectoryReader(const std::string& path)
      : dir_(::opendir(path.empty() ? "." : path.c_str())) {}
  ~DirectoryReader() {
    if (dir_ != nullptr) {
      ::closedir(dir_);
    }
  }
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  // The first entry, in directory order, whose name equals `name` ignoring letter case.
  std::optional<std::string> FindIgnoringCase(std::string_view name) {
    if (dir_ == nullptr) {
      return std::nullopt;
    }
    while (const dirent* entry = ::readdir(dir_)) {
      const std::string_view candidate(entry->d_name);
      if (candidate != "." && candidate != ".." &&
          EqualIgnoringCaseInLocale(AnsiNameOfEntry(candidate), AnsiNameOfEntry(name))) {
        return std::string(candidate);
      }
    }
    return std::nullopt;
  }

private:
  DIR* dir_;
};

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

enum class NameMatch {
  Exact,     // the name exists as written
  OtherCase, // a name that differs in letter case exists: `existing`
  None,
};

// How `name` exists in `folder` (a native folder path as MapPath builds it).
NameMatch MatchName(const std::string& folder, std::string_view name, std::string& existing) {
  ListingCache& cache = Listings();
  if (FolderListing* listing = cache.Active() ? cache.For(folder) : nullptr) {
    const std::string key(name);
    if (listing->types.count(key) != 0) {
      return NameMatch::Exact;
    }
    const auto candidates = listing->folded.find(FoldedName(name));
    if (candidates != listing->folded.end()) {
      for (const std::string& candidate : candidates->second) {
        if (EqualIgnoringCaseInLocale(candidate, name)) {
          existing = candidate;
          return NameMatch::OtherCase;
        }
      }
    }
    return NameMatch::None;
  }
  // Without a listing: one look at the name, then one read of the folder.
  if (Exists(folder + std::string(name))) {
    return NameMatch::Exact;
  }
  DirectoryReader reader(folder);
  if (auto found = reader.FindIgnoringCase(name)) {
    existing = std::move(*found);
    return NameMatch::OtherCase;
  }
  return NameMatch::None;
}

struct MappedPath {
  std::string native;
  std::size_t names = 0; // path components after the drive or the "\\"
  // How many of those names are roots themselves: the server and the share of "\\server\share".
  // A folder to create needs a name beyond them; a bare drive has none.
  std::size_t rootNames = 0;
};

MappedPath MapPath(std::string_view windowsPath) {
  // The OS calls take C strings: a NUL ends the path there too.
  windowsPath = windowsPath.substr(0, windowsPath.find('\0'));
  const bool isUnc = windowsPath.size() >= 2 && windowsPath[0] == '\\' && windowsPath[1] == '\\';

  std::string text = NativeTextOfAnsiPath(windowsPath);
  for (char& c : text) {
    if (c == '\\') {
      c = '/';
    }
  }

  MappedPath mapped;
  std::string_view rest = text;
  if (text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == ':') {
    // "C:\A" and the drive-relative "C:A" both start at the drive's folder.
    mapped.native = posix::WinePrefix();
    mapped.native += DOSDEVICES;
    mapped.native += AsciiLower(text[0]);
    mapped.native += ':';
    rest.remove_prefix(2);
    if (!rest.empty() && rest.front() != '/') {
      mapped.native += '/';
    }
  } else if (isUnc) {
    mapped.native = posix::WinePrefix();
    mapped.native += DOSDEVICES;
    mapped.native += UNC_FOLDER;
    mapped.rootNames = 2;
    rest.remove_prefix(1); // keep one "/" before the server name
  }
  // Otherwise `rest` is the whole text: native absolute when it starts with "/", else relative.
  // Below a drive or a share, ".." is resolved on the text, as Windows resolves it: it takes back
  // the name before it, whether that exists or not, and never climbs above the drive's folder or
  // the share (where the prefix's own files lie).
  const bool rooted = mapped.native.size() != 0;
  struct Level {
    std::size_t length;  // of `native` before the name
    bool matchingBefore; // `matching` before the name
  };
  std::vector<Level> levels;
  bool skipSeparator = false; // right after a ".." that was resolved

  bool matching = true; // stops at the first component that exists in no letter case
  std::size_t pos = 0;
  while (pos < rest.size()) {
    if (rest[pos] == '/') {
      if (!std::exchange(skipSeparator, false)) {
        mapped.native += '/';
      }
      ++pos;
      continue;
    }
    const std::size_t end = std::min(rest.find('/', pos), rest.size());
    const std::string_view name = rest.substr(pos, end - pos);
    pos = end;
    skipSeparator = false;
    if (rooted && name == "..") {
      if (levels.size() > mapped.rootNames) {
        mapped.native.resize(levels.back().length);
        matching = levels.back().matchingBefore;
        levels.pop_back();
        --mapped.names;
      }
      skipSeparator = !mapped.native.empty() && mapped.native.back() == '/';
      continue;
    }
    levels.push_back({mapped.native.size(), matching});
    ++mapped.names;
    if (matching && name != "." && name != "..") {
      std::string existing;
      const NameMatch match = MatchName(mapped.native, name, existing);
      if (match == NameMatch::OtherCase) {
        mapped.native += existing;
        continue;
      }
      matching = match == NameMatch::Exact;
    }
    mapped.native += name;
  }
  return mapped;
}

} // namespace

std::string NativePath(std::string_view windowsPath) {
  return MapPath(windowsPath).native;
}

bool PathCanBeNamed(std::string_view windowsPath) {
  return posix::CodePage::Active().HeldByNative(windowsPath);
}

bool IsFolder(std::string_view windowsPath) {
  const std::string native = NativePath(windowsPath);
  const std::optional<unsigned char> listed = ListedType(native);
  if (!listed || *listed != DT_UNKNOWN) {
    return listed == DT_DIR;
  }
  struct stat info {};
  return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool PathExists(std::string_view windowsPath) {
  const std::string native = NativePath(windowsPath);
  const std::optional<unsigned char> listed = ListedType(native);
  if (!listed || *listed != DT_UNKNOWN) {
    return listed.has_value();
  }
  struct stat info {};
  return ::lstat(native.c_str(), &info) == 0;
}

namespace {
std::atomic<bool> accessDenied = false;
} // namespace

void posix::NoteDenial() {
  if (errno == EACCES || errno == EPERM) {
    accessDenied = true;
  }
}

bool TakeAccessDenied() {
  return accessDenied.exchange(false);
}

namespace {

// The last name of a path and the folder that holds it, reached through the listings' open
// folders. `root` for a drive, a server or a share: making or removing one would invent or take a
// root of the Wine prefix. A null `parent` when the folder cannot be reached.
struct LastName {
  bool root = false;
  Folder parent;
  std::string name;
};
LastName ReachLastName(std::string_view windowsPath) {
  const MappedPath mapped = MapPath(windowsPath);
  if (mapped.names <= mapped.rootNames) {
    return {true, nullptr, {}};
  }
  std::string_view trimmed = mapped.native;
  while (trimmed.size() > 1 && trimmed.back() == '/') {
    trimmed.remove_suffix(1);
  }
  const PathParts parts = SplitAtLastSeparator(trimmed, "/");
  return {false, Listings().Open(std::string(parts.folder)), std::string(parts.name)};
}

} // namespace

bool MakeFolder(std::string_view windowsPath) {
  const LastName last = ReachLastName(windowsPath);
  if (last.root) {
    return false;
  }
  if (last.parent == nullptr ||
      ::mkdirat(last.parent->fd, last.name.c_str(), NEW_FOLDER_MODE) != 0) {
    return NotingDenial(false);
  }
  Listings().NoteCreated(*last.parent, last.name, DT_DIR);
  return true;
}

namespace {

// Removes the last name of a path that is not a root (unlinkat with `flags`) in its folder as
// MakeFolder reaches it, and takes it out of that folder's listing. Gives the errno of a failure,
// 0 on success.
int RemoveName(std::string_view windowsPath, int flags) {
  const LastName last = ReachLastName(windowsPath);
  if (last.root) {
    return EINVAL;
  }
  if (last.parent == nullptr || ::unlinkat(last.parent->fd, last.name.c_str(), flags) != 0) {
    return errno;
  }
  Listings().NoteRemoved(last.parent->id, last.name);
  return 0;
}

} // namespace

bool RemoveFile(std::string_view windowsPath) {
  const int error = RemoveName(windowsPath, 0);
  return error == 0 || error == ENOENT;
}

bool RemoveEmptyFolder(std::string_view windowsPath) {
  return RemoveName(windowsPath, AT_REMOVEDIR) == 0;
}

bool IsFullPath(std::string_view path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (!path.empty() && path[0] == '/') {
    return true; // native, from the root ("//x" too, which the mapping reads as "/x")
  }
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && separator(path[2])) {
    return true;
  }
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
    // "\\server\share": two names, each at least one character long.
    const std::size_t serverEnd = std::min(path.find_first_of("\\/", 2), path.size());
    return serverEnd > 2 && serverEnd + 1 < path.size() && !separator(path[serverEnd + 1]);
  }
  return false; // "\Lib" is the root of the current drive, which no native path is
}

bool SameFile(std::string_view nativeA, std::string_view nativeB) {
  struct stat a {};
  struct stat b {};
  return ::stat(std::string(nativeA).c_str(), &a) == 0 &&
         ::stat(std::string(nativeB).c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

std::string WindowsViewOfFolder(std::string_view folder) {
  const bool drive = folder.size() >= 2 && folder[1] == ':';
  const bool unc = folder.starts_with("\\\\");
  if (drive || unc) {
    return std::string(folder);
  }
  std::string native(folder);
  if (!native.starts_with('/')) {
    std::string current(4096, '\0');
    if (::getcwd(current.data(), current.size()) != nullptr) {
      current.resize(std::strlen(current.c_str()));
      native = current + (current.ends_with('/') ? "" : "/") + native;
    }
  }
  std::string windows = "Z:";
  for (char c : native) {
    windows += c == '/' ? '\\' : c;
  }
  return windows;
}

} // namespace quillet::platform
