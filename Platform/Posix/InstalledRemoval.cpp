// Removing installed files and folders without following a link below the installation folder.
// The folder itself is reached as installing reaches it (ListingCache::Open: links of the user or
// root followed). Below it every name is opened in the descriptor of the folder before it with
// O_NOFOLLOW, so a folder of the tree swapped for a link, even one the user owns, is met as the
// link it is and left. A file's content is read through the descriptor that is checked, and the
// name is removed in its folder's descriptor only while it still names that same file: what is
// removed is never a file elsewhere, and never one swapped in after the check.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/FolderAccess.h"
#include "Platform/Text.h"

namespace quillet::platform {

using posix::Folder;
using posix::FolderHandle;
using posix::FolderId;
using posix::FolderListing;
using posix::Listings;

namespace {

constexpr std::size_t READ_CHUNK = 64 * 1024;

RemovalResult Outcome(RemovalOutcome outcome, std::string detail = {}) {
  return {outcome, std::move(detail)};
}

// A failure with the system's text for errno; a missing name is no failure.
RemovalResult FromErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) {
    return Outcome(RemovalOutcome::Missing);
  }
  return Outcome(RemovalOutcome::Failed, std::strerror(error));
}

// The names of a relative Windows-style path, each in the native encoding; nullopt when one is
// empty, "." or "..", which would name no entry below the base or one above it.
std::optional<std::vector<std::string>> SplitRelative(std::string_view relative) {
  std::vector<std::string> names;
  if (relative.empty()) {
    return names;
  }
  std::size_t pos = 0;
  for (;;) {
    const std::size_t end = std::min(relative.find_first_of("\\/", pos), relative.size());
    const std::string_view name = relative.substr(pos, end - pos);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != name.npos) {
      return std::nullopt;
    }
    names.push_back(posix::CodePage::Active().ToNative(name));
    if (end == relative.size()) {
      return names;
    }
    pos = end + 1;
  }
}

// The name of an entry of `folder` that is `name` in some letter case: `name` itself when it
// exists as written, else the first match in directory order (as NativePath matches), else
// `name`. A folder that cannot be read keeps `name`, which then does not exist.
std::string ExistingName(const FolderHandle& folder, const std::string& name) {
  struct stat info {};
  if (::fstatat(folder.fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT) {
    return name;
  }
  std::optional<FolderListing> read;
  const FolderListing* listing = Listings().ForFolder(folder);
  if (listing == nullptr) {
    read = posix::ReadFolderNames(folder);
    listing = read ? &*read : nullptr;
  }
  if (listing == nullptr) {
    return name;
  }
  const auto candidates = listing->folded.find(posix::FoldedName(name));
  if (candidates != listing->folded.end()) {
    const posix::CodePage& codePage = posix::CodePage::Active();
    const std::string wanted = codePage.FromNative(name);
    for (const std::string& candidate : candidates->second) {
      if (EqualIgnoringCaseInLocale(codePage.FromNative(candidate), wanted)) {
        return candidate;
      }
    }
  }
  return name;
}

// The folder `name` in `at`, never through a link. Sets `result` when it is no folder.
Folder OpenFolderBelow(const Folder& at, const std::string& name, RemovalResult& result) {
  const int fd = ::openat(at->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    result = FromErrno(errno);
    if (fd >= 0) {
      ::close(fd);
    }
    return nullptr;
  }
  if (S_ISLNK(info.st_mode)) {
    ::close(fd);
    result = Outcome(RemovalOutcome::Link);
    return nullptr;
  }
  Folder folder = posix::FolderOfDescriptor(fd, info);
  if (folder == nullptr) {
    result = Outcome(RemovalOutcome::Missing); // a file where a folder of the path would be
  }
  return folder;
}

// The base folder, as installing reaches it.
Folder OpenBase(std::string_view base, RemovalResult& result) {
  std::string native = NativePath(base);
  while (native.size() > 1 && native.back() == '/') {
    native.pop_back();
  }
  errno = 0;
  Folder folder = Listings().Open(native.empty() ? native : native + "/");
  if (folder == nullptr) {
    result = errno != 0 ? FromErrno(errno) : Outcome(RemovalOutcome::Missing);
  }
  return folder;
}

// The folder that holds the last of `names` below `base`, reached without links, and that last
// name as it exists there. Sets `result` when it cannot be reached.
Folder ReachParent(std::string_view base, std::vector<std::string>& names, RemovalResult& result) {
  Folder folder = OpenBase(base, result);
  for (std::size_t i = 0; folder != nullptr && i < names.size(); ++i) {
    names[i] = ExistingName(*folder, names[i]);
    if (i + 1 < names.size()) {
      folder = OpenFolderBelow(folder, names[i], result);
    }
  }
  return folder;
}

// Owns a descriptor.
struct Descriptor {
  int fd;
  explicit Descriptor(int descriptor) : fd(descriptor) {}
  ~Descriptor() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

// The whole content of an open file, up to its end as it is now; nullopt with errno on a failed
// read.
std::optional<std::vector<unsigned char>> ReadAll(int fd, std::size_t sizeHint) {
  std::vector<unsigned char> content(sizeHint);
  std::size_t length = 0;
  for (;;) {
    if (length == content.size()) {
      content.resize(content.size() + READ_CHUNK);
    }
    const ssize_t got =
        ::pread(fd, content.data() + length, content.size() - length, static_cast<off_t>(length));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return std::nullopt;
    }
    if (got == 0) {
      content.resize(length);
      return content;
    }
    length += static_cast<std::size_t>(got);
  }
}

bool SameEntry(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the file `name` from `folder` and from its listing.
RemovalResult UnlinkFile(const Folder& folder, const std::string& name) {
  if (::unlinkat(folder->fd, name.c_str(), 0) != 0) {
    return posix::NotingDenial(FromErrno(errno));
  }
  Listings().NoteRemoved(folder->id, name);
  return Outcome(RemovalOutcome::Removed);
}

} // namespace

RemovalResult
RemoveInstalledFile(std::string_view base, std::string_view relative,
                    const std::function<bool(std::span<const unsigned char>)>& unchanged) {
  std::optional<std::vector<std::string>> names = SplitRelative(relative);
  if (!names || names->empty()) {
    return Outcome(RemovalOutcome::Failed, "not the path of a file below the folder");
  }
  RemovalResult result;
  const Folder parent = ReachParent(base, *names, result);
  if (parent == nullptr) {
    return result;
  }
  const std::string& name = names->back();
  // O_NONBLOCK: a FIFO put in the file's place does not hold the open up.
  const Descriptor file(
      ::openat(parent->fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat opened {};
  if (file.fd < 0) {
    const int error = errno;
    struct stat info {};
    if (::fstatat(parent->fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode)) {
      return Outcome(RemovalOutcome::Link);
    }
    return FromErrno(error);
  }
  if (::fstat(file.fd, &opened) != 0) {
    return FromErrno(errno);
  }
  if (!S_ISREG(opened.st_mode)) {
    return Outcome(RemovalOutcome::Failed,
                   S_ISDIR(opened.st_mode) ? "a folder, not a file" : "not a regular file");
  }
  if (unchanged) {
    const std::optional<std::vector<unsigned char>> content =
        ReadAll(file.fd, static_cast<std::size_t>(opened.st_size));
    if (!content) {
      return FromErrno(errno);
    }
    if (!unchanged(std::span<const unsigned char>(*content))) {
      return Outcome(RemovalOutcome::Changed);
    }
  }
  // The name must still be the file that was read: another file put under it since is left.
  struct stat now {};
  if (::fstatat(parent->fd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
    return FromErrno(errno);
  }
  if (!SameEntry(now, opened)) {
    return S_ISLNK(now.st_mode)
               ? Outcome(RemovalOutcome::Link)
               : Outcome(RemovalOutcome::Changed, "replaced by another file while it was read");
  }
  return UnlinkFile(parent, name);
}

RemovalResult RemoveInstalledFolder(std::string_view base, std::string_view relative) {
  std::optional<std::vector<std::string>> names = SplitRelative(relative);
  if (!names) {
    return Outcome(RemovalOutcome::Failed, "not the path of a folder below the folder");
  }
  RemovalResult result;
  Folder parent;
  std::string name;
  if (names->empty()) {
    // The base itself: its parent reached as installing reaches it, the base's name not followed.
    std::string native = NativePath(base);
    while (native.size() > 1 && native.back() == '/') {
      native.pop_back();
    }
    const PathParts parts = SplitAtLastSeparator(native, "/");
    if (parts.name.empty() || parts.name == "." || parts.name == "..") {
      return Outcome(RemovalOutcome::Failed, "not a folder that can be removed");
    }
    parent = Listings().Open(std::string(parts.folder));
    if (parent == nullptr) {
      return FromErrno(errno);
    }
    name = std::string(parts.name);
  } else {
    parent = ReachParent(base, *names, result);
    if (parent == nullptr) {
      return result;
    }
    name = names->back();
  }
  struct stat info {};
  if (::fstatat(parent->fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return FromErrno(errno);
  }
  if (S_ISLNK(info.st_mode)) {
    return Outcome(RemovalOutcome::Link);
  }
  if (!S_ISDIR(info.st_mode)) {
    return Outcome(RemovalOutcome::Failed, "a file, not a folder");
  }
  // rmdir never follows a link: one swapped in since the look fails with ENOTDIR and stays.
  if (::unlinkat(parent->fd, name.c_str(), AT_REMOVEDIR) != 0) {
    if (errno == ENOTEMPTY || errno == EEXIST) {
      return Outcome(RemovalOutcome::NotEmpty);
    }
    if (errno == ENOTDIR) {
      return Outcome(RemovalOutcome::Link, "replaced while it was removed");
    }
    return posix::NotingDenial(FromErrno(errno));
  }
  Listings().NoteRemoved(parent->id, name);
  Listings().ForgetFolder(FolderId{info.st_dev, info.st_ino});
  result = Outcome(RemovalOutcome::Removed);
  return result;
}

} // namespace quillet::platform
