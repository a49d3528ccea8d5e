// FolderLock on POSIX: flock on the installation folder itself, reached as its files will be,
// and the sweep of the temporary files that killed installers left in it. NamedLock: flock on a
// file of its own in the Wine prefix's lock folder.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/Posix/FolderAccess.h"
#include "Platform/Posix/WinePrefix.h"
#include "Platform/TemporaryName.h"

namespace quillet::platform {

using posix::Folder;
using posix::FolderId;
using posix::Listings;

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

// ---------------------------------------------------------------------------------------------
// NamedLock

namespace {

constexpr const char* LOCK_FOLDER = ".quillet-locks";
constexpr mode_t LOCK_FOLDER_MODE = 0700;
constexpr mode_t LOCK_FILE_MODE = 0600;
constexpr std::size_t READABLE_PART = 40;

// The file that stands for a lock name: the name's letters, digits, "-", "_" and "." in lower
// case (others as "_", at most READABLE_PART of them), for a reader of the folder, then a hash of
// the whole name folded as names are (FoldedName), so that names differing in letter case only
// meet and no other two do by chance.
std::string LockFileName(std::string_view name) {
  std::string file;
  for (const char c : name.substr(0, READABLE_PART)) {
    const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       c == '-' || c == '_' || c == '.';
    file += plain ? AsciiLower(c) : '_';
  }
  std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
  for (const wchar_t c : posix::FoldedName(name)) {
    hash = (hash ^ static_cast<std::uint32_t>(c)) * 0x100000001B3ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return file + "-" + hex + ".lock";
}

// The lock folder of the Wine prefix, made when missing; -1 when it cannot be made, or when what
// is there is a link, no folder, or a folder of another user.
int OpenLockFolder() {
  const std::string prefix = posix::WinePrefix();
  const int prefixFd = ::open(prefix.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (prefixFd < 0) {
    return -1;
  }
  const posix::FolderHandle prefixFolder(prefixFd); // closes it
  if (::mkdirat(prefixFd, LOCK_FOLDER, LOCK_FOLDER_MODE) != 0 && errno != EEXIST) {
    return -1;
  }
  const int fd = ::openat(prefixFd, LOCK_FOLDER, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd >= 0 &&
      (::fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())) {
    ::close(fd);
    return -1;
  }
  return fd;
}

} // namespace

struct NamedLock::State {
  int fd = -1;
  bool taken = false;
  ~State() {
    if (fd >= 0) {
      ::close(fd); // lets the lock go
    }
  }
};

NamedLock::NamedLock(std::string_view name) : state_(std::make_unique<State>()) {
  const int folderFd = OpenLockFolder();
  if (folderFd < 0) {
    return;
  }
  const posix::FolderHandle folder(folderFd); // closes it
  state_->fd = ::openat(folderFd, LockFileName(name).c_str(),
                        O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, LOCK_FILE_MODE);
  struct stat info {};
  if (state_->fd >= 0 && (::fstat(state_->fd, &info) != 0 || !S_ISREG(info.st_mode))) {
    ::close(std::exchange(state_->fd, -1));
  }
}

NamedLock::~NamedLock() = default;

bool NamedLock::TryTake() {
  if (state_->fd < 0) {
    return true;
  }
  state_->taken = state_->taken || ::flock(state_->fd, LOCK_EX | LOCK_NB) == 0;
  return state_->taken || errno != EWOULDBLOCK;
}

void NamedLock::Take() {
  while (state_->fd >= 0 && !state_->taken) {
    state_->taken = ::flock(state_->fd, LOCK_EX) == 0;
    if (!state_->taken && errno != EINTR) {
      return;
    }
  }
}

bool NamedLock::Held() const {
  return state_->taken;
}

} // namespace quillet::platform
