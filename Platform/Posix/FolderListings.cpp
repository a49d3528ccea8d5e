// The folder listing cache: while a FolderListingScope lives, each folder's names are read once
// into an index, and the names this program creates are added to it. Names are kept as the file
// system gives them; FoldedName is the only place that interprets their bytes. One thread only: the
// installer's writer.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cwchar>
#include <cwctype>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/Posix/FolderAccess.h"

namespace quillet::platform::posix {

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

Folder ListingCache::Open(const std::string& folder) {
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

void ListingCache::NoteRemoved(const FolderId& folder, const std::string& name) {
  const auto listing = listings_.find(folder);
  if (listing == listings_.end() || listing->second.types.erase(name) == 0) {
    return;
  }
  std::vector<std::string>& sameKey = listing->second.folded[FoldedName(name)];
  sameKey.erase(std::remove(sameKey.begin(), sameKey.end(), name), sameKey.end());
}

void ListingCache::ForgetFolder(const FolderId& folder) {
  listings_.erase(folder);
  std::erase_if(folders_, [&](const auto& known) {
    return known.second.device == folder.device && known.second.inode == folder.inode;
  });
  for (auto held = heldOrder_.begin(); held != heldOrder_.end();) {
    if (held->second->id.device == folder.device && held->second->id.inode == folder.inode) {
      held_.erase(held->first);
      held = heldOrder_.erase(held);
    } else {
      ++held;
    }
  }
}

FolderListing* ListingCache::ForFolder(const FolderHandle& folder) {
  if (!Active()) {
    return nullptr;
  }
  if (const auto known = listings_.find(folder.id); known != listings_.end()) {
    return &known->second;
  }
  std::optional<FolderListing> read = ReadFolderNames(folder);
  if (!read) {
    return nullptr;
  }
  return &listings_.try_emplace(folder.id, std::move(*read)).first->second;
}

FolderListing* ListingCache::For(const std::string& folder) {
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

void ListingCache::NoteCreated(const FolderHandle& folder, const std::string& name,
                               unsigned char type) {
  const auto listing = listings_.find(folder.id);
  if (listing != listings_.end()) {
    listing->second.Add(name, type);
  }
}

ListingCache& Listings() {
  static ListingCache cache;
  return cache;
}

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

} // namespace quillet::platform::posix

namespace quillet::platform {

FolderListingScope::FolderListingScope() {
  posix::Listings().Enter();
}
FolderListingScope::~FolderListingScope() {
  posix::Listings().Leave();
}

std::optional<std::vector<ListedFile>> FilesInFolder(std::string_view windowsFolder) {
  const int fd = ::open(NativePath(windowsFolder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr; // owns fd from here on
  if (dir == nullptr) {
    if (fd >= 0) {
      ::close(fd);
    }
    return std::nullopt;
  }
  const std::unique_ptr<DIR, int (*)(DIR*)> owner(dir, &::closedir);
  std::vector<ListedFile> files;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat status {};
    if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(status.st_mode)) {
      files.push_back(
          {entry->d_name, static_cast<std::uint64_t>(status.st_size),
           static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec});
    }
    errno = 0;
  }
  if (errno != 0) {
    return std::nullopt;
  }
  return files;
}

} // namespace quillet::platform
