// FolderLock on POSIX: flock on the installation folder itself, reached as its files will be,
// and the sweep of the temporary files that killed installers left in it.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Posix/FolderAccess.h"
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

} // namespace quillet::platform
