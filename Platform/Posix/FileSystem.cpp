// The file system for Windows-style paths, mapped onto POSIX the way Wine maps them: "\" becomes
// "/", a drive "X:" is the entry "x:" in the Wine prefix's dosdevices folder, "\\server\share" is
// below dosdevices/unc, a path that starts with a separator is native absolute and anything else
// is relative to the current folder. Windows names ignore letter case, so a component that is
// missing as written is matched against the names that exist.
#include <dirent.h>
#include <fcntl.h>
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
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Platform/FileSystem.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/WinePrefix.h"
#include "Platform/Testing.h"
#include "Platform/Text.h"

namespace quillet::platform {

namespace {

constexpr std::string_view DOSDEVICES = "/dosdevices/";
constexpr std::string_view UNC_FOLDER = "unc";
constexpr std::string_view TEMP_PREFIX = ".quillet-";
constexpr int TEMP_NAME_ATTEMPTS = 100;
constexpr int LINK_HOPS = 40;            // as many links as the kernel follows in one path
constexpr mode_t NEW_FOLDER_MODE = 0777; // narrowed by the umask, as for any new folder
constexpr mode_t NEW_FILE_MODE = 0666;   // narrowed by the umask, as for any new file

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
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
    mapped.native += LowerAscii(text[0]);
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

  bool matching = true; // stops at the first component that exists in no letter case
  std::size_t pos = 0;
  while (pos < rest.size()) {
    if (rest[pos] == '/') {
      mapped.native += '/';
      ++pos;
      continue;
    }
    const std::size_t end = std::min(rest.find('/', pos), rest.size());
    const std::string_view name = rest.substr(pos, end - pos);
    pos = end;
    ++mapped.names;
    if (matching && name != "." && name != ".." && !Exists(mapped.native + std::string(name))) {
      DirectoryReader reader(mapped.native);
      if (auto existing = reader.FindIgnoringCase(name)) {
        mapped.native += *existing;
        continue;
      }
      matching = false;
    }
    mapped.native += name;
  }
  return mapped;
}

// The moment, in seconds since the epoch, of a packed MS-DOS local date and time; nullopt
// for a value that names no valid moment (month 0, day 0, 31 February, hour 24, ...).
std::optional<std::time_t> LocalTimeOfDosDateTime(std::uint32_t packed) {
  const std::uint32_t date = packed >> 16;
  const std::uint32_t time = packed & 0xFFFF;
  const int year = 1980 + static_cast<int>(date >> 9);
  const int month = static_cast<int>((date >> 5) & 0x0F);
  const int day = static_cast<int>(date & 0x1F);
  const int hour = static_cast<int>(time >> 11);
  const int minute = static_cast<int>((time >> 5) & 0x3F);
  const int second = static_cast<int>(time & 0x1F) * 2;

  const std::chrono::year_month_day calendarDate(std::chrono::year(year),
                                                 std::chrono::month(static_cast<unsigned>(month)),
                                                 std::chrono::day(static_cast<unsigned>(day)));
  if (!calendarDate.ok() || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }

  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1; // that date's own daylight-saving rule
  const std::time_t result = std::mktime(&fields);
  if (result == static_cast<std::time_t>(-1)) {
    return std::nullopt;
  }
  return result;
}

// A name for the temporary file that is unlikely to be taken; O_EXCL settles any collision.
std::string TemporaryName(unsigned attempt) {
  static std::atomic<unsigned> counter = 0;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  char suffix[64];
  std::snprintf(suffix, sizeof suffix, "%lx-%lx-%x.tmp", static_cast<unsigned long>(::getpid()),
                static_cast<unsigned long>(now.tv_nsec) ^ static_cast<unsigned long>(now.tv_sec),
                ++counter + attempt);
  return std::string(TEMP_PREFIX) + suffix;
}

// The folder part of a native path, with its final "/"; empty for a bare name.
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The file that a symbolic link at `path` leads to; `path` itself when it is no link. A new file
// goes to the link's destination, as writing through the link would, and the link stays a link.
// nullopt for a loop of links, a link that cannot be read, or a link of another user.
// Whether every link in the chain at `path` belongs to the installing user or to root. A link
// that another user planted in a folder they may write would send the content, written with the
// installer's rights, to any file of its choosing; so, as the kernel's protected_symlinks rule
// does in shared folders, such a link is not followed.
bool LinksAreTrusted(std::string path) {
  const uid_t user = ::geteuid();
  for (int hop = 0; hop < LINK_HOPS; ++hop) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
      return true;
    }
    if (info.st_uid != user && info.st_uid != 0) {
      return false;
    }
    char text[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), text, sizeof text);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof text) {
      return false;
    }
    const std::string linkText(text, static_cast<std::size_t>(length));
    path = linkText.front() == '/' ? linkText : FolderOf(path) + linkText;
  }
  return false;
}

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

} // namespace

std::string NativePath(std::string_view windowsPath) {
  return MapPath(windowsPath).native;
}

bool IsFolder(std::string_view windowsPath) {
  const std::string native = NativePath(windowsPath);
  struct stat info {};
  return ::stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool MakeFolder(std::string_view windowsPath) {
  const MappedPath mapped = MapPath(windowsPath);
  // A drive, a server or a share is a root: creating it would invent one in the Wine prefix.
  if (mapped.names <= mapped.rootNames) {
    return false;
  }
  return ::mkdir(mapped.native.c_str(), NEW_FOLDER_MODE) == 0;
}

// ---------------------------------------------------------------------------------------------
// OutputFile

struct OutputFile::State {
  int fd = -1;
  std::string temporaryPath; // empty once it is renamed or removed
  std::string targetPath;
  bool closedCleanly = false;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (fd >= 0) {
      ::close(fd);
    }
    if (!temporaryPath.empty()) {
      ::unlink(temporaryPath.c_str());
    }
  }
};

OutputFile::OutputFile(OutputFile&& other) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&& other) noexcept = default;
OutputFile::~OutputFile() = default;

std::optional<OutputFile> OutputFile::CreateFor(std::string_view windowsTargetPath) {
  std::optional<std::string> target = FollowLinks(NativePath(windowsTargetPath));
  if (!target) {
    return std::nullopt;
  }
  return CreateForNative(*target);
}

std::optional<OutputFile> OutputFile::CreateForNative(std::string_view nativeTargetPath) {
  auto state = std::make_unique<State>();
  // The OS calls take C strings: a NUL ends the path there too.
  state->targetPath = std::string(nativeTargetPath.substr(0, nativeTargetPath.find('\0')));
  // The temporary file lies beside the file it replaces: a rename works within one file system.
  const std::string folder = FolderOf(state->targetPath);
  if (state->targetPath.size() == folder.size()) {
    return std::nullopt; // the target names a folder, not a file
  }
  for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
    std::string candidate = folder + TemporaryName(static_cast<unsigned>(attempt));
    // A plain create with O_EXCL, which never follows a link at the name: the new file gets 0666
    // narrowed by the umask and the folder's default ACL, as any file the program created
    // directly would.
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, NEW_FILE_MODE);
    if (fd >= 0) {
      state->fd = fd;
      state->temporaryPath = std::move(candidate);
      OutputFile file;
      file.state_ = std::move(state);
      return file;
    }
    if (errno != EEXIST) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

bool OutputFile::Write(const void* data, std::size_t size) {
  if (!state_ || state_->fd < 0) {
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
  return true;
}

std::uint32_t OutputFile::SetLastWriteTime(std::uint32_t packedDosDateTime) {
  if (!state_ || state_->fd < 0) {
    return EBADF;
  }
  const std::optional<std::time_t> seconds = LocalTimeOfDosDateTime(packedDosDateTime);
  if (!seconds) {
    return EINVAL;
  }
  // The modification time only; the access time stays as it is.
  const timespec times[2] = {{0, UTIME_OMIT}, {*seconds, 0}};
  if (::futimens(state_->fd, times) != 0) {
    return static_cast<std::uint32_t>(errno);
  }
  return 0;
}

namespace {
std::atomic<bool> failNextClose = false; // set by the tests (Platform/Testing.h)
} // namespace

void testing::FailNextOutputFileClose() {
  failNextClose = true;
}

bool OutputFile::Close() {
  if (!state_ || state_->fd < 0) {
    return false;
  }
  // A failing close can be the first report of lost data (a full disk, a network file system).
  const bool closed = ::close(std::exchange(state_->fd, -1)) == 0;
  state_->closedCleanly = !failNextClose.exchange(false) && closed;
  return state_->closedCleanly;
}

bool OutputFile::Commit() {
  if (!state_ || state_->temporaryPath.empty()) {
    return false;
  }
  if (state_->fd >= 0) {
    Close();
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
  state_->temporaryPath.clear();
  return placed;
}

} // namespace quillet::platform
