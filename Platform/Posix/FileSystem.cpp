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

// Reads the names of one folder, in directory order; nullopt when it cannot be opened or read.
std::optional<std::pair<FolderId, FolderListing>> ReadFolderNames(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  DIR* dir = ::fdopendir(fd); // owns fd from here on
  if (dir == nullptr) {
    ::close(fd);
    return std::nullopt;
  }
  std::pair<FolderId, FolderListing> result{FolderId{info.st_dev, info.st_ino}, {}};
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name != "." && name != "..") {
      result.second.Add(std::string(name), entry->d_type);
    }
  }
  const bool complete = errno == 0;
  ::closedir(dir);
  if (!complete) {
    return std::nullopt;
  }
  return result;
}

bool LinksAreTrusted(std::string path);

class ListingCache {
public:
  bool Active() const { return scopes_ > 0; }
  void Enter() { ++scopes_; }
  void Leave() {
    if (--scopes_ == 0) {
      folders_.clear();
      listings_.clear();
      trusted_.clear();
    }
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
    std::optional<std::pair<FolderId, FolderListing>> read = ReadFolderNames(folder);
    if (!read) {
      return nullptr;
    }
    const auto listing = listings_.try_emplace(read->first, std::move(read->second)).first;
    folders_.emplace(folder, read->first);
    return &listing->second;
  }

  // Whether the links on the way to a native folder may be followed (LinksAreTrusted), asked of
  // the file system once per folder while a scope lives.
  bool FolderTrusted(const std::string& folder) {
    if (!Active()) {
      return LinksAreTrusted(folder);
    }
    const auto known = trusted_.find(folder);
    if (known != trusted_.end()) {
      return known->second;
    }
    return trusted_.emplace(folder, LinksAreTrusted(folder)).first->second;
  }

  // Adds a name this program created to its folder's listing, if that folder has one.
  void NoteCreated(const std::string& path, unsigned char type) {
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') {
      trimmed.remove_suffix(1);
    }
    const PathParts parts = SplitAtLastSeparator(trimmed, "/");
    const std::string folder(parts.folder);
    const std::string name(parts.name);
    auto known = folders_.find(folder);
    if (known == folders_.end()) {
      // Reached another way (a link's destination): the folder itself decides.
      struct stat info {};
      if (listings_.empty() || ::stat(folder.empty() ? "." : folder.c_str(), &info) != 0) {
        return;
      }
      const auto listing = listings_.find(FolderId{info.st_dev, info.st_ino});
      if (listing != listings_.end()) {
        listing->second.Add(name, type);
      }
      return;
    }
    listings_.at(known->second).Add(name, type);
  }

private:
  int scopes_ = 0;
  std::unordered_map<std::string, bool> trusted_;
  std::unordered_map<std::string, FolderId> folders_;
  std::map<FolderId, FolderListing> listings_;
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

// The folder part of a native path, with its final "/"; empty for a bare name.
std::string FolderOf(const std::string& path) {
  return std::string(SplitAtLastSeparator(path, "/").folder);
}

// Whether every link met on the way through `path` belongs to the installing user or to root:
// a link at any of its folders or at its last name, and, in turn, every link on the way through
// each link's text. A link that another user planted in a folder they may write would send what
// the installer writes with its own rights to any place of that user's choosing; so, as the
// kernel's protected_symlinks rule does in shared folders, such a link is not followed. A name
// that does not exist ends the walk: nothing beyond it is a link yet.
bool LinksAreTrusted(std::string path) {
  const uid_t user = ::geteuid();
  int hops = 0;
  std::string walked = path.starts_with('/') ? "/" : ""; // the folders passed, ending in "/"
  std::size_t pos = walked.size();
  while (pos < path.size()) {
    const std::size_t slash = std::min(path.find('/', pos), path.size());
    const std::string name = path.substr(pos, slash - pos);
    pos = slash + 1;
    if (name.empty() || name == ".") {
      continue;
    }
    const std::string here = walked + name;
    struct stat info {};
    if (::lstat(here.c_str(), &info) != 0) {
      return true;
    }
    if (!S_ISLNK(info.st_mode)) {
      walked = here + "/";
      continue;
    }
    if ((info.st_uid != user && info.st_uid != 0) || ++hops > LINK_HOPS) {
      return false;
    }
    char text[PATH_MAX];
    const ssize_t length = ::readlink(here.c_str(), text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) {
      return false;
    }
    // Walk on through the link's text, then the rest of the path.
    const std::string linkText(text, static_cast<std::size_t>(length));
    path = (linkText.front() == '/' ? linkText : walked + linkText) +
           (pos < path.size() ? "/" + path.substr(pos) : "");
    walked = path.starts_with('/') ? "/" : "";
    pos = walked.size();
  }
  return true;
}

// The file that a symbolic link at `path` leads to; `path` itself when it is no link. A new file
// goes to the link's destination, as writing through the link would, and the link stays a link.
// nullopt for a loop of links, a link that cannot be read, or a link of another user.
std::optional<std::string> FollowLinks(std::string path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
    return path;
  }
  if (!LinksAreTrusted(path)) {
    return std::nullopt;
  }
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (resolved) {
    return std::string(resolved.get());
  }
  if (errno != ENOENT) {
    return std::nullopt;
  }
  // A dangling link: follow its text, relative to the link's own folder, to the name that does
  // not exist yet; the file is created there.
  for (int hop = 0; hop < LINK_HOPS; ++hop) {
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      return path;
    }
    char text[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) {
      return std::nullopt;
    }
    const std::string linkText(text, static_cast<std::size_t>(length));
    path = linkText.front() == '/' ? linkText : FolderOf(path) + linkText;
  }
  return std::nullopt;
}

// Whether the existing entry must not be replaced. A file without any write permission bit is
// read-only even for root, as the read-only attribute is on Windows, where replacing such a file
// fails; otherwise the current user must be allowed to write it.
bool IsProtected(const std::string& path, const struct stat& info) {
  return (info.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

// Gives the new file the permissions of the regular file it replaces and, for root, its owner and
// group, so that replacing a file does not widen who may read it or take it from its owner.
bool TakeOverAttributes(const std::string& newFile, const struct stat& old) {
  if (::geteuid() == 0) {
    // Best effort: a file system without owners refuses, and the content is still wanted.
    // Before chmod, because changing the owner clears the set-user-ID and set-group-ID bits.
    (void)::chown(newFile.c_str(), old.st_uid, old.st_gid);
  }
  return ::chmod(newFile.c_str(), old.st_mode & 07777) == 0;
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
  if (!Listings().FolderTrusted(FolderOf(std::string(trimmed)))) {
    return false; // a link of another user on the way
  }
  if (::mkdir(mapped.native.c_str(), NEW_FOLDER_MODE) != 0) {
    return NotingDenial(false);
  }
  if (Listings().Active()) {
    Listings().NoteCreated(mapped.native, DT_DIR);
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// OutputFile

namespace {

// The named temporary files of the output files not yet committed: what an interrupt removes.
// Changed only under an InterruptHold, in one step with the creation, renaming or removal of the
// file, so that the list and the folders agree whenever an interrupt looks. Never destroyed: an
// interrupt may come while the program's static objects are being destroyed.
std::vector<std::string>& UncommittedFiles() {
  static auto* files = new std::vector<std::string>;
  return *files;
}

void ForgetUncommitted(const std::string& path) {
  std::vector<std::string>& files = UncommittedFiles();
  const auto found = std::find(files.begin(), files.end(), path);
  if (found != files.end()) {
    files.erase(found);
  }
}

} // namespace

void posix::RemoveUncommittedFiles() {
  for (const std::string& path : UncommittedFiles()) {
    ::unlink(path.c_str());
  }
  UncommittedFiles().clear();
}

struct OutputFile::State {
  int fd = -1;
  std::string temporaryPath; // empty once it is renamed or removed, and for an unnamed file
  std::string targetPath;
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
    if (!temporaryPath.empty()) {
      const InterruptHold hold;
      ::unlink(temporaryPath.c_str());
      ForgetUncommitted(temporaryPath);
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
  if (!Listings().FolderTrusted(FolderOf(native))) {
    return std::nullopt; // a link of another user on the way
  }
  // What the folder's listing knows saves looking at the target: nothing there means no link.
  const std::optional<unsigned char> listed = ListedType(native);
  std::optional<std::string> target = listed ? FollowLinks(native) : native;
  if (!target) {
    return std::nullopt;
  }
  return CreateAt(*target, listed);
}

std::optional<OutputFile> OutputFile::CreateForNative(std::string_view nativeTargetPath) {
  // Nothing is known about the target: it is looked at when the file is created.
  return CreateAt(nativeTargetPath, DT_UNKNOWN);
}

// `listed` is what the folder's listing says is at the target: nothing, or its type (DT_UNKNOWN
// when the listing does not know, and the target is looked at).
std::optional<OutputFile> OutputFile::CreateAt(std::string_view nativeTargetPath,
                                               std::optional<unsigned char> listed) {
  auto state = std::make_unique<State>();
  // The OS calls take C strings: a NUL ends the path there too.
  state->targetPath = std::string(nativeTargetPath.substr(0, nativeTargetPath.find('\0')));
  // The temporary file lies beside the file it replaces: a rename works within one file system.
  const std::string folder = FolderOf(state->targetPath);
  if (state->targetPath.size() == folder.size()) {
    return std::nullopt; // the target names a folder, not a file
  }
  struct stat info {};
  const bool targetMissing =
      !listed ||
      (*listed == DT_UNKNOWN && ::lstat(state->targetPath.c_str(), &info) != 0 && errno == ENOENT);
  if (UnnamedFilesLinkable()) {
    // An unnamed file, linked in by Commit. A file system without them says so (EOPNOTSUPP,
    // EISDIR on old kernels), and the named temporary file below takes over.
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC,
                          NEW_FILE_MODE);
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
    std::string candidate = folder + TemporaryName(static_cast<std::uint32_t>(::getpid()));
    // A plain create with O_EXCL, which never follows a link at the name: the new file gets 0666
    // narrowed by the umask and the folder's default ACL, as any file the program created
    // directly would.
    const InterruptHold hold;
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE);
    if (fd >= 0) {
      UncommittedFiles().push_back(candidate);
      state->fd = fd;
      state->temporaryPath = std::move(candidate);
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
  if (!state_ || state_->temporaryPath.empty()) {
    return false;
  }
  if (state_->fd >= 0 && !Close()) {
    state_->lostData = true;
  }
  bool placed = state_->closedCleanly;
  struct stat old {};
  if (placed && ::lstat(state_->targetPath.c_str(), &old) == 0) {
    // A protected file stays as it is. A folder in the way makes the rename fail. A regular file
    // keeps its permissions and owner; its other hard links still keep the old content, since
    // the rename puts a new file under this one name only.
    // A link in the way is replaced, not looked through (the installer follows links before).
    placed = (S_ISLNK(old.st_mode) || !IsProtected(state_->targetPath, old)) &&
             (!S_ISREG(old.st_mode) || TakeOverAttributes(state_->temporaryPath, old));
  }
  placed = placed && ::rename(state_->temporaryPath.c_str(), state_->targetPath.c_str()) == 0;
  if (!placed) {
    ::unlink(state_->temporaryPath.c_str());
  }
  ForgetUncommitted(state_->temporaryPath);
  state_->temporaryPath.clear();
  if (placed && Listings().Active()) {
    Listings().NoteCreated(state_->targetPath, DT_REG);
  }
  if (placed) {
    testing::CommitDone();
  }
  return placed;
}

bool OutputFile::CommitUnnamed() {
  State& state = *state_;
  const std::string self = "/proc/self/fd/" + std::to_string(state.fd);
  bool linked = !state.replacing && ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD,
                                             state.targetPath.c_str(), AT_SYMLINK_FOLLOW) == 0;
  if (!linked && (state.replacing || errno == EEXIST)) {
    // An existing target (or something took the name since the file was made): the file gets a
    // temporary name only now, and Commit renames it over the target at once.
    for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS && state.temporaryPath.empty(); ++attempt) {
      std::string candidate =
          FolderOf(state.targetPath) + TemporaryName(static_cast<std::uint32_t>(::getpid()));
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        UncommittedFiles().push_back(candidate); // under Commit's hold
        state.temporaryPath = std::move(candidate);
      } else if (errno != EEXIST) {
        break;
      }
    }
    state.unnamed = false;
    if (state.temporaryPath.empty()) {
      ::close(std::exchange(state.fd, -1));
      return false;
    }
    return Commit();
  }
  // A failing close can be the first report of lost data: the file goes again.
  const bool closeFailed = ::close(std::exchange(state.fd, -1)) != 0;
  state.lostData = testing::TakeCloseFailure() || closeFailed;
  if (linked && state.lostData) {
    ::unlink(state.targetPath.c_str());
    linked = false;
  }
  if (linked && Listings().Active()) {
    Listings().NoteCreated(state.targetPath, DT_REG);
  }
  if (linked) {
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
  const std::string native = NativePath(windowsFolder);
  state_->fd = ::open(native.empty() ? "." : native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
