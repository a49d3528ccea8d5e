// The folder-descriptor walk: folders reached through descriptors. A folder that a file or folder
// is made in is reached one name at a time from the root or the current folder, each opened
// relative to the one before it and never through a link the kernel follows (O_NOFOLLOW). A link
// met on the way is followed here, and only when it belongs to the installing user or to root: a
// link that another user planted in a folder they may write would send what the installer writes
// with its own rights to any place of that user's choosing, so, as the kernel's protected_symlinks
// rule does in shared folders, it is refused. The owner and the text come from the link itself (one
// descriptor of it), and the file is then made in the descriptor of the folder reached: nothing
// swapped in on the way after the walk is ever used.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>
#include <string>
#include <string_view>

#include "Platform/PathSplit.h"
#include "Platform/Posix/FolderAccess.h"

namespace quillet::platform::posix {

namespace {

constexpr int LINK_HOPS = 40; // as many links as the kernel follows in one path

} // namespace

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

namespace {

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

Folder OpenFolderPath(Folder start, std::string_view text, int& hops);

} // namespace

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

namespace {

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

} // namespace

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

} // namespace quillet::platform::posix
