// The file system for Windows-style paths, mapped onto POSIX the way Wine maps them: "\" becomes
// "/", a drive "X:" is the entry "x:" in the Wine prefix's dosdevices folder, "\\server\share" is
// below dosdevices/unc, a path that starts with a separator is native absolute and anything else
// is relative to the current folder. Windows names ignore letter case, so a component that is
// missing as written is matched against the names that exist.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <cwctype>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/Interruption.h"
#include "Platform/LocalTime.h"
#include "Platform/PathSplit.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/UncommittedFiles.h"
#include "Platform/Posix/WinePrefix.h"
#include "Platform/TemporaryName.h"
#include "Platform/Testing.h"
#include "Platform/Text.h"

namespace quillet::platform {

namespace {

constexpr std::string_view DOSDEVICES = "/dosdevices/";
constexpr std::string_view UNC_FOLDER = "unc";
constexpr int TEMP_NAME_ATTEMPTS = 100;
constexpr int LINK_HOPS = 40;            // as many links as the kernel follows in one path
constexpr mode_t NEW_FOLDER_MODE = 0777; // narrowed by the umask, as for any new folder
constexpr mode_t NEW_FILE_MODE = 0666;   // narrowed by the umask, as for any new file

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The ANSI name that a directory entry's native name stands for, as an ANSI program sees it.
std::string AnsiNameOfEntry(std::string_view nativeName) {
  return posix::CodePage::Active().FromNative(nativeName);
}

// The native text of an ANSI path. First, because a second byte of a double-byte character may
// be 0x5C ("\") and must not be taken for a separator.
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

// ---------------------------------------------------------------------------------------------
// Folder listings: while a FolderListingScope lives, each folder's names are read once into an
// index, and the names this program creates are added to it. Names are kept as the file system
// gives them; FoldedName is the only place that interprets their bytes.

// A key under which names that EqualIgnoringCaseInLocale takes as equal almost always meet: each
// character of the locale's encoding in upper case, each byte that is no character as itself
// (ASCII letters folded). Candidates under one key are confirmed with EqualIgnoringCaseInLocale.
std::wstring FoldedName(std::string_view name) {
  std::wstring key;
  key.reserve(name.size());
  std::mbstate_t state{};
  std::size_t pos = 0;
  while (pos < name.size()) {
    wchar_t c = 0;
    const std::size_t n = std::mbrtowc(&c, name.data() + pos, name.size() - pos, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) || n == 0) {
      state = std::mbstate_t{};
      const auto byte = static_cast<unsigned char>(name[pos]);
      // Outside every character's range, so a byte never meets a character.
      key.push_back(static_cast<wchar_t>(0x110000 + AsciiUpper(byte)));
      ++pos;
      continue;
    }
    key.push_back(static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))));
    pos += n;
  }
  return key;
}

struct FolderId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator<(const FolderId& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

// ---------------------------------------------------------------------------------------------
// Folders reached through descriptors. A folder that a file or folder is made in is reached one
// name at a time from the root or the current folder, each opened relative to the one before it
// and never through a link the kernel follows (O_NOFOLLOW). A link met on the way is followed
// here, and only when it belongs to the installing user or to root: a link that another user
// planted in a folder they may write would send what the installer writes with its own rights to
// any place of that user's choosing, so, as the kernel's protected_symlinks rule does in shared
// folders, it is refused. The owner and the text come from the link itself (one descriptor of
// it), and the file is then made in the descriptor of the folder reached: nothing swapped in on
// the way after the walk is ever used.

// Owns the descriptor of one folder, opened with O_PATH (search permission is all it needs).
struct FolderHandle {
  int fd = -1;
  FolderId id;
  explicit FolderHandle(int descriptor) : fd(descriptor) {}
  ~FolderHandle() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  FolderHandle(const FolderHandle&) = delete;
  FolderHandle& operator=(const FolderHandle&) = delete;
};
using Folder = std::shared_ptr<const FolderHandle>;

// Takes over `fd` and gives the folder it opens; nullptr when it is no folder (errno ENOTDIR).
Folder FolderOfDescriptor(int fd, const struct stat& info) {
  auto handle = std::make_shared<FolderHandle>(fd);
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return nullptr;
  }
  handle->id = FolderId{info.st_dev, info.st_ino};
  return handle;
}

// The root ("/") or the current folder (".").
Folder OpenStart(const char* path) {
  const int fd = ::open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    if (fd >= 0) {
      ::close(fd);
    }
    return nullptr;
  }
  return FolderOfDescriptor(fd, info);
}

// The text of the link that `linkFd` (O_PATH, O_NOFOLLOW) opens, when the link may be followed:
// it belongs to the installing user or to root, and fewer than LINK_HOPS links came before it.
// Otherwise nullopt, with errno ELOOP (no lack of rights to report).
std::optional<std::string> TrustedLinkText(int linkFd, const struct stat& info, int& hops) {
  const uid_t user = ::geteuid();
  char text[PATH_MAX];
  const ssize_t length = (info.st_uid != user && info.st_uid != 0) || ++hops > LINK_HOPS
                             ? -1
                             : ::readlinkat(linkFd, "", text, sizeof text);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) {
    errno = ELOOP;
    return std::nullopt;
  }
  return std::string(text, static_cast<std::size_t>(length));
}

Folder OpenFolderPath(Folder start, std::string_view text, int& hops);

// The folder `name` in `at`, following a trusted link there (and every link in its text).
Folder OpenFolderIn(const Folder& at, std::string_view name, int& hops) {
  const int fd = ::openat(at->fd, std::string(name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    if (fd >= 0) {
      ::close(fd);
    }
    return nullptr;
  }
  if (!S_ISLNK(info.st_mode)) {
    return FolderOfDescriptor(fd, info);
  }
  const FolderHandle link(fd); // closes it
  const std::optional<std::string> text = TrustedLinkText(fd, info, hops);
  return text ? OpenFolderPath(at, *text, hops) : nullptr;
}

// The folder that a path's text leads to from `start` (from the root when it starts with "/").
Folder OpenFolderPath(Folder start, std::string_view text, int& hops) {
  Folder folder = text.starts_with('/') ? OpenStart("/") : std::move(start);
  std::size_t pos = 0;
  while (folder != nullptr && pos < text.size()) {
    const std::size_t end = std::min(text.find('/', pos), text.size());
    const std::string_view name = text.substr(pos, end - pos);
    pos = end + 1;
    if (!name.empty() && name != ".") {
      folder = OpenFolderIn(folder, name, hops);
    }
  }
  return folder;
}

// Where a file named `name` in `folder` goes when a link is there: to the link's destination (a
// link of the user or root, as for folders), so that the link stays a link. Changes both to that
// destination; false for a loop of links, a link that cannot be read, a link of another user or
// a destination folder that cannot be reached. A name that does not exist ends the walk.
bool FollowLinksAt(Folder& folder, std::string& name) {
  for (int hops = 0;;) {
    const int fd = ::openat(folder->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      return errno == ENOENT;
    }
    const FolderHandle opened(fd); // closes it
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
      return false;
    }
    if (!S_ISLNK(info.st_mode)) {
      return true;
    }
    const std::optional<std::string> text = TrustedLinkText(fd, info, hops);
    if (!text) {
      return false;
    }
    const PathParts parts = SplitAtLastSeparator(*text, "/");
    if (parts.name.empty() || parts.name == "." || parts.name == "..") {
      return false; // a folder: no file goes there
    }
    folder = OpenFolderPath(folder, parts.folder, hops);
    if (folder == nullptr) {
      return false;
    }
    name = std::string(parts.name);
  }
}

// ---------------------------------------------------------------------------------------------

struct FolderListing {
  std::unordered_map<std::string, unsigned char> types; // name -> dirent type (DT_*)
  // FoldedName -> the names under it, in directory order; names created later come last.
  std::unordered_map<std::wstring, std::vector<std::string>> folded;

  void Add(const std::string& name, unsigned char type) {
    if (types.emplace(name, type).second) {
      folded[FoldedName(name)].push_back(name);
    }
  }
};

// Reads the names of one folder, in directory order; nullopt when it cannot be read.
std::optional<FolderListing> ReadFolderNames(const FolderHandle& folder) {
  const int fd = ::openat(folder.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr; // owns fd from here on
  if (dir == nullptr) {
    if (fd >= 0) {
      ::close(fd);
    }
    return std::nullopt;
  }
  FolderListing listing;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name != "." && name != "..") {
      listing.Add(std::string(name), entry->d_type);
    }
  }
  const bool complete = errno == 0;
  ::closedir(dir);
  if (!complete) {
    return std::nullopt;
  }
  return listing;
}

class ListingCache {
public:
  bool Active() const { return scopes_ > 0; }
  void Enter() { ++scopes_; }
  void Leave() {
    if (--scopes_ == 0) {
      folders_.clear();
      listings_.clear();
      held_.clear();
      heldOrder_.clear();
    }
  }

  // The folder at a native folder path ("" for the current folder, otherwise ending in "/"),
  // reached through descriptors (OpenFolderIn); nullptr when it cannot be reached. While a scope
  // lives the last HELD_FOLDERS of them stay open, and a path is walked on from the nearest
  // folder held: a folder already reached is used as it was reached, whatever is swapped in on
  // its path since.
  Folder Open(const std::string& folder) {
    if (const auto held = held_.find(folder); held != held_.end()) {
      heldOrder_.splice(heldOrder_.begin(), heldOrder_, held->second);
      return held->second->second;
    }
    std::string_view trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
      trimmed.remove_suffix(1);
    }
    Folder handle;
    if (trimmed.empty() || trimmed == "/") {
      handle = OpenStart(trimmed.empty() ? "." : "/");
    } else {
      const PathParts parts = SplitAtLastSeparator(trimmed, "/");
      if (const Folder parent = Open(std::string(parts.folder))) {
        int hops = 0;
        handle = OpenFolderIn(parent, parts.name, hops);
      }
    }
    if (handle != nullptr && Active()) {
      heldOrder_.emplace_front(folder, handle);
      held_[folder] = heldOrder_.begin();
      if (heldOrder_.size() > HELD_FOLDERS) {
        held_.erase(heldOrder_.back().first);
        heldOrder_.pop_back();
      }
    }
    return handle;
  }

  // Takes a name that was removed out of its folder's listing, if that folder has one.
  void NoteRemoved(const FolderId& folder, const std::string& name) {
    const auto listing = listings_.find(folder);
    if (listing == listings_.end() || listing->second.types.erase(name) == 0) {
      return;
    }
    std::vector<std::string>& sameKey = listing->second.folded[FoldedName(name)];
    sameKey.erase(std::remove(sameKey.begin(), sameKey.end(), name), sameKey.end());
  }

  // The listing of a native folder path ("" for the current folder, otherwise ending in "/"),
  // read on first use; nullptr when the folder cannot be read. Two paths to one folder share it.
  FolderListing* For(const std::string& folder) {
    if (const auto known = folders_.find(folder); known != folders_.end()) {
      return &listings_.at(known->second);
    }
    const Folder handle = Open(folder);
    std::optional<FolderListing> read = handle != nullptr ? ReadFolderNames(*handle) : std::nullopt;
    if (!read) {
      return nullptr;
    }
    const auto listing = listings_.try_emplace(handle->id, std::move(*read)).first;
    folders_.emplace(folder, handle->id);
    return &listing->second;
  }

  // Adds a name this program created to its folder's listing, if that folder has one.
  void NoteCreated(const FolderHandle& folder, const std::string& name, unsigned char type) {
    const auto listing = listings_.find(folder.id);
    if (listing != listings_.end()) {
      listing->second.Add(name, type);
    }
  }

private:
  static constexpr std::size_t HELD_FOLDERS = 256; // well within the usual limit of 1024 files
  int scopes_ = 0;
  std::unordered_map<std::string, FolderId> folders_;
  std::map<FolderId, FolderListing> listings_;
  // The folders held open, most recently used first.
  std::list<std::pair<std::string, Folder>> heldOrder_;
  std::unordered_map<std::string, std::list<std::pair<std::string, Folder>>::iterator> held_;
};

ListingCache& Listings() {
  static ListingCache cache;
  return cache;
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

// The type of an existing native path as its folder's listing knows it: DT_UNKNOWN when the
// listing cannot tell (no listing, a link, a file system that gives no types), nullopt when the
// listing knows that nothing has that name.
std::optional<unsigned char> ListedType(const std::string& path) {
  ListingCache& cache = Listings();
  if (!cache.Active()) {
    return DT_UNKNOWN;
  }
  // "A/./" and "A/" name the folder A, whose type A's own folder knows (a "." after a file fails
  // as the file is no folder; the type says so just as well).
  std::string_view trimmed = path;
  for (bool more = true; more;) {
    more = false;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
      trimmed.remove_suffix(1);
      more = true;
    }
    if (trimmed.size() > 2 && trimmed.substr(trimmed.size() - 2) == "/.") {
      trimmed.remove_suffix(1);
      more = true;
    }
  }
  const PathParts parts = SplitAtLastSeparator(trimmed, "/");
  const std::string name(parts.name);
  if (name.empty() || name == "." || name == "..") {
    return DT_UNKNOWN;
  }
  const FolderListing* listing = cache.For(std::string(parts.folder));
  if (listing == nullptr) {
    return DT_UNKNOWN;
  }
  const auto found = listing->types.find(name);
  if (found == listing->types.end()) {
    return std::nullopt;
  }
  if (found->second == DT_DIR || found->second == DT_REG) {
    return found->second;
  }
  return static_cast<unsigned char>(DT_UNKNOWN);
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

// Whether the existing entry `name` in `folder` must not be replaced. A file without any write
// permission bit is read-only even for root, as the read-only attribute is on Windows, where
// replacing such a file fails; otherwise the current user must be allowed to write it.
bool IsProtected(int folder, const std::string& name, const struct stat& info) {
  return (info.st_mode & 0222) == 0 || ::faccessat(folder, name.c_str(), W_OK, AT_EACCESS) != 0;
}

// Gives the new file the permissions of the regular file it replaces and, for root, its owner and
// group, so that replacing a file does not widen who may read it or take it from its owner.
bool TakeOverAttributes(int folder, const std::string& newFile, const struct stat& old) {
  if (::geteuid() == 0) {
    // Best effort: a file system without owners refuses, and the content is still wanted.
    // Before chmod, because changing the owner clears the set-user-ID and set-group-ID bits.
    (void)::fchownat(folder, newFile.c_str(), old.st_uid, old.st_gid, AT_SYMLINK_NOFOLLOW);
  }
  return ::fchmodat(folder, newFile.c_str(), old.st_mode & 07777, 0) == 0;
}

// Whether an unnamed file can be given a name: linkat needs /proc/self/fd to reach it.
bool UnnamedFilesLinkable() {
  static const bool linkable = ::access("/proc/self/fd", X_OK) == 0;
  return linkable;
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

FolderListingScope::FolderListingScope() {
  Listings().Enter();
}
FolderListingScope::~FolderListingScope() {
  Listings().Leave();
}

namespace {
std::atomic<bool> accessDenied = false;

// Notes a refusal for lack of rights in errno; gives `result`.
template <typename T> T NotingDenial(T result) {
  if (errno == EACCES || errno == EPERM) {
    accessDenied = true;
  }
  return result;
}
} // namespace

bool TakeAccessDenied() {
  return accessDenied.exchange(false);
}

bool MakeFolder(std::string_view windowsPath) {
  const MappedPath mapped = MapPath(windowsPath);
  // A drive, a server or a share is a root: creating it would invent one in the Wine prefix.
  if (mapped.names <= mapped.rootNames) {
    return false;
  }
  std::string_view trimmed = mapped.native;
  while (trimmed.size() > 1 && trimmed.back() == '/') {
    trimmed.remove_suffix(1);
  }
  const PathParts parts = SplitAtLastSeparator(trimmed, "/");
  const std::string name(parts.name);
  const Folder parent = Listings().Open(std::string(parts.folder));
  if (parent == nullptr || ::mkdirat(parent->fd, name.c_str(), NEW_FOLDER_MODE) != 0) {
    return NotingDenial(false);
  }
  Listings().NoteCreated(*parent, name, DT_DIR);
  return true;
}

// ---------------------------------------------------------------------------------------------
// OutputFile

namespace {

// The named temporary files of the output files not yet committed: what an interrupt removes,
// each as its folder's descriptor (held open by its output file) and its name there.
// Changed only under an InterruptHold, in one step with the creation, renaming or removal of the
// file, so that the list and the folders agree whenever an interrupt looks. Never destroyed: an
// interrupt may come while the program's static objects are being destroyed.
struct UncommittedFile {
  int folder;
  std::string name;
};
std::vector<UncommittedFile>& UncommittedFiles() {
  static auto* files = new std::vector<UncommittedFile>;
  return *files;
}

void ForgetUncommitted(int folder, const std::string& name) {
  std::vector<UncommittedFile>& files = UncommittedFiles();
  const auto found = std::find_if(files.begin(), files.end(), [&](const UncommittedFile& file) {
    return file.folder == folder && file.name == name;
  });
  if (found != files.end()) {
    files.erase(found);
  }
}

} // namespace

void posix::RemoveUncommittedFiles() {
  for (const UncommittedFile& file : UncommittedFiles()) {
    ::unlinkat(file.folder, file.name.c_str(), 0);
  }
  UncommittedFiles().clear();
}

struct OutputFile::State {
  int fd = -1;
  Folder folder;             // where the file is made, named and renamed
  std::string temporaryName; // empty once it is renamed or removed, and for an unnamed file
  std::string targetName;
  bool closedCleanly = false;
  bool unnamed = false;        // created with O_TMPFILE; closed only once linked in (Commit)
  bool replacing = false;      // an unnamed file for a target that existed when it was made
  bool closeRequested = false; // Close on an unnamed file: no more writes, the close comes later
  bool lostData = false;       // the close that Commit made failed

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (fd >= 0) {
      ::close(fd);
    }
    if (!temporaryName.empty()) {
      const InterruptHold hold;
      ::unlinkat(folder->fd, temporaryName.c_str(), 0);
      ForgetUncommitted(folder->fd, temporaryName);
    }
  }
};

OutputFile::OutputFile(OutputFile&& other) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&& other) noexcept = default;
OutputFile::~OutputFile() = default;

namespace {

// The stall that the end-to-end tests ask for (Platform/Testing.h), after the first write.
void StallIfAsked() {
  static const char* const mark = std::getenv(testing::STALL_WRITE_VARIABLE);
  static std::atomic<bool> stalled = false;
  if (mark == nullptr || stalled.exchange(true)) {
    return;
  }
  const int fd = ::open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, NEW_FILE_MODE);
  if (fd >= 0) {
    ::close(fd);
  }
  for (;;) {
    ::pause();
  }
}

} // namespace

std::optional<OutputFile> OutputFile::CreateFor(std::string_view windowsTargetPath) {
  const std::string native = NativePath(windowsTargetPath);
  auto state = std::make_unique<State>();
  const PathParts parts = SplitAtLastSeparator(native, "/");
  state->targetName = std::string(parts.name);
  state->folder = Listings().Open(std::string(parts.folder));
  if (state->folder == nullptr) {
    return NotingDenial(std::nullopt);
  }
  // What the folder's listing knows saves looking at the target: nothing there means no link,
  // and a file or a folder is none either.
  const std::optional<unsigned char> listed = ListedType(native);
  if (listed == DT_UNKNOWN && !FollowLinksAt(state->folder, state->targetName)) {
    return std::nullopt;
  }
  return CreateAt(std::move(state), listed);
}

std::optional<OutputFile> OutputFile::CreateForNative(std::string_view nativeTargetPath) {
  // The OS calls take C strings: a NUL ends the path there too.
  const std::string path(nativeTargetPath.substr(0, nativeTargetPath.find('\0')));
  const PathParts parts = SplitAtLastSeparator(path, "/");
  auto state = std::make_unique<State>();
  state->targetName = std::string(parts.name);
  // The folder as the system reaches it, links and all; nothing is known about the target.
  const std::string folder(parts.folder);
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0) {
    state->folder = FolderOfDescriptor(fd, info);
  } else if (fd >= 0) {
    ::close(fd);
  }
  if (state->folder == nullptr) {
    return NotingDenial(std::nullopt);
  }
  return CreateAt(std::move(state), DT_UNKNOWN);
}

// Makes the file for `state`'s folder and target name. `listed` is what the folder's listing
// says is at the target: nothing, or its type (DT_UNKNOWN when the listing does not know, and
// the target is looked at).
std::optional<OutputFile> OutputFile::CreateAt(std::unique_ptr<State> state,
                                               std::optional<unsigned char> listed) {
  const std::string& name = state->targetName;
  if (name.empty() || name == "." || name == "..") {
    return std::nullopt; // the target names a folder, not a file
  }
  const int at = state->folder->fd;
  struct stat info {};
  const bool targetMissing =
      !listed || (*listed == DT_UNKNOWN &&
                  ::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT);
  if (UnnamedFilesLinkable()) {
    // An unnamed file, linked in by Commit. A file system without them says so (EOPNOTSUPP,
    // EISDIR on old kernels), and the named temporary file below takes over.
    const int fd = ::openat(at, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, NEW_FILE_MODE);
    if (fd >= 0) {
      state->fd = fd;
      state->unnamed = true;
      state->replacing = !targetMissing;
      OutputFile file;
      file.state_ = std::move(state);
      return file;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      return NotingDenial(std::nullopt);
    }
  }
  for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
    std::string candidate = TemporaryName(static_cast<std::uint32_t>(::getpid()));
    // A plain create with O_EXCL, which never follows a link at the name: the new file gets 0666
    // narrowed by the umask and the folder's default ACL, as any file the program created
    // directly would.
    const InterruptHold hold;
    const int fd =
        ::openat(at, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE);
    if (fd >= 0) {
      UncommittedFiles().push_back({at, candidate});
      state->fd = fd;
      state->temporaryName = std::move(candidate);
      OutputFile file;
      file.state_ = std::move(state);
      return file;
    }
    if (errno != EEXIST) {
      return NotingDenial(std::nullopt);
    }
  }
  return std::nullopt;
}

bool OutputFile::Flush() {
  return state_ && state_->fd >= 0 && ::fsync(state_->fd) == 0;
}

bool OutputFile::Write(const void* data, std::size_t size) {
  if (!state_ || state_->fd < 0 || state_->closeRequested) {
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(state_->fd, bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  StallIfAsked();
  return true;
}

std::uint32_t OutputFile::SetLastWriteTime(std::uint32_t packedDosDateTime) {
  if (!state_ || state_->fd < 0) {
    return EBADF;
  }
  // The zone as TZ names it now, looked up once (as mktime did) for the offsets asked below.
  ::tzset();
  const std::optional<std::int64_t> seconds = UtcOfLocalDosDateTime(packedDosDateTime);
  if (!seconds) {
    return EINVAL;
  }
  // The modification time only; the access time stays as it is.
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<std::time_t>(*seconds), 0}};
  if (::futimens(state_->fd, times) != 0) {
    return static_cast<std::uint32_t>(errno);
  }
  return 0;
}

bool OutputFile::Close() {
  if (!state_ || state_->fd < 0) {
    return false;
  }
  if (state_->unnamed) {
    // Closing would lose it: Commit links it in first and closes it then.
    return !std::exchange(state_->closeRequested, true);
  }
  // A failing close can be the first report of lost data (a full disk, a network file system).
  const bool closed = ::close(std::exchange(state_->fd, -1)) == 0;
  state_->closedCleanly = !testing::TakeCloseFailure() && closed;
  return state_->closedCleanly;
}

bool OutputFile::LostData() const {
  return state_ && state_->lostData;
}

bool OutputFile::Commit() {
  const InterruptHold hold; // an interrupt finds the file either in the list or in place
  if (state_ && state_->unnamed && state_->fd >= 0) {
    return CommitUnnamed();
  }
  if (!state_ || state_->temporaryName.empty()) {
    return false;
  }
  if (state_->fd >= 0 && !Close()) {
    state_->lostData = true;
  }
  const int at = state_->folder->fd;
  const std::string& target = state_->targetName;
  const std::string& temporary = state_->temporaryName;
  bool placed = state_->closedCleanly;
  struct stat old {};
  if (placed && ::fstatat(at, target.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0) {
    // A protected file stays as it is. A folder in the way makes the rename fail. A regular file
    // keeps its permissions and owner; its other hard links still keep the old content, since
    // the rename puts a new file under this one name only.
    // A link in the way is replaced, not looked through (the installer follows links before).
    placed = (S_ISLNK(old.st_mode) || !IsProtected(at, target, old)) &&
             (!S_ISREG(old.st_mode) || TakeOverAttributes(at, temporary, old));
  }
  placed = placed && ::renameat(at, temporary.c_str(), at, target.c_str()) == 0;
  if (!placed) {
    ::unlinkat(at, temporary.c_str(), 0);
  }
  ForgetUncommitted(at, temporary);
  state_->temporaryName.clear();
  if (placed) {
    Listings().NoteCreated(*state_->folder, target, DT_REG);
    testing::CommitDone();
  }
  return placed;
}

bool OutputFile::CommitUnnamed() {
  State& state = *state_;
  const int at = state.folder->fd;
  const std::string self = "/proc/self/fd/" + std::to_string(state.fd);
  bool linked = !state.replacing && ::linkat(AT_FDCWD, self.c_str(), at, state.targetName.c_str(),
                                             AT_SYMLINK_FOLLOW) == 0;
  if (!linked && (state.replacing || errno == EEXIST)) {
    // An existing target (or something took the name since the file was made): the file gets a
    // temporary name only now, and Commit renames it over the target at once.
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS && state.temporaryName.empty(); ++attempt) {
      std::string candidate = TemporaryName(static_cast<std::uint32_t>(::getpid()));
      if (::linkat(AT_FDCWD, self.c_str(), at, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        UncommittedFiles().push_back({at, candidate}); // under Commit's hold
        state.temporaryName = std::move(candidate);
      } else if (errno != EEXIST) {
        break;
      }
    }
    state.unnamed = false;
    if (state.temporaryName.empty()) {
      ::close(std::exchange(state.fd, -1));
      return false;
    }
    return Commit();
  }
  // A failing close can be the first report of lost data: the file goes again.
  const bool closeFailed = ::close(std::exchange(state.fd, -1)) != 0;
  state.lostData = testing::TakeCloseFailure() || closeFailed;
  if (linked && state.lostData) {
    ::unlinkat(at, state.targetName.c_str(), 0);
    linked = false;
  }
  if (linked) {
    Listings().NoteCreated(*state.folder, state.targetName, DT_REG);
    testing::CommitDone();
  }
  return linked;
}

// ---------------------------------------------------------------------------------------------
// FolderLock

struct FolderLock::State {
  int fd = -1;
  bool taken = false;
  ~State() {
    if (fd >= 0) {
      ::close(fd); // lets the lock go
    }
  }
};

FolderLock::FolderLock(std::string_view windowsFolder) : state_(std::make_unique<State>()) {
  // Reached as the files will be, so that the folder locked is the one written into.
  if (const Folder folder = Listings().Open(NativePath(windowsFolder))) {
    state_->fd = ::openat(folder->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  }
}

FolderLock::~FolderLock() = default;

bool FolderLock::TryTake() {
  if (state_->fd < 0) {
    return true;
  }
  state_->taken = ::flock(state_->fd, LOCK_EX | LOCK_NB) == 0;
  return state_->taken || errno != EWOULDBLOCK;
}

void FolderLock::Take() {
  while (state_->fd >= 0 && !state_->taken) {
    state_->taken = ::flock(state_->fd, LOCK_EX) == 0;
    if (!state_->taken && errno != EINTR) {
      return;
    }
  }
}

void FolderLock::RemoveStaleFiles() {
  if (!state_->taken) {
    return;
  }
  // The folder that is locked, through the descriptor that holds the lock.
  const int listFd = ::openat(state_->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr; // owns listFd from here on
  if (dir == nullptr) {
    if (listFd >= 0) {
      ::close(listFd);
    }
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const std::optional<std::uint32_t> process =
        ProcessOfTemporaryName(std::string_view(entry->d_name));
    // Only a file whose installer has ended: another one may write into this folder through a
    // path of its own (a folder template with ".."), and its file is not stale.
    if (process && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) &&
        ::kill(static_cast<pid_t>(*process), 0) != 0 && errno == ESRCH) {
      stale.emplace_back(entry->d_name);
    }
  }
  ::closedir(dir);
  struct stat folder {};
  ::fstat(state_->fd, &folder);
  for (const std::string& name : stale) {
    struct stat info {};
    if (::fstatat(state_->fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode) && ::unlinkat(state_->fd, name.c_str(), 0) == 0) {
      Listings().NoteRemoved(FolderId{folder.st_dev, folder.st_ino}, name);
    }
  }
}

} // namespace quillet::platform
