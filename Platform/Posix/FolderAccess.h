// What the POSIX file system files share (PathMapping.cpp, FolderWalk.cpp, FolderListings.cpp,
// OutputFile.cpp, FolderLock.cpp, InstalledRemoval.cpp): folders reached through descriptors, the
// cache of folder listings that case matching reads and file creation updates, and the note of a
// refusal for lack of rights. Internal to Platform/Posix.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillet::platform::posix {

struct FolderId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator<(const FolderId& other) const {
    return device != other.device ? device < other.device : inode < other.inode;
  }
};

// Folders reached through descriptors, never through a link the kernel follows (FolderWalk.cpp).

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
Folder FolderOfDescriptor(int fd, const struct stat& info);

// The root ("/") or the current folder (".").
Folder OpenStart(const char* path);

// The folder `name` in `at`, following a trusted link there (and every link in its text).
Folder OpenFolderIn(const Folder& at, std::string_view name, int& hops);

// Where a file named `name` in `folder` goes when a link is there: to the link's destination (a
// link of the user or root, as for folders), so that the link stays a link. Changes both to that
// destination; false for a loop of links, a link that cannot be read, a link of another user or
// a destination folder that cannot be reached. A name that does not exist ends the walk.
bool FollowLinksAt(Folder& folder, std::string& name);

// Folder listings, read once per folder while a FolderListingScope lives (FolderListings.cpp).

// A key under which names that EqualIgnoringCaseInLocale takes as equal almost always meet: each
// character of the locale's encoding in upper case, each byte that is no character as itself
// (ASCII letters folded). Candidates under one key are confirmed with EqualIgnoringCaseInLocale.
std::wstring FoldedName(std::string_view name);

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
  Folder Open(const std::string& folder);

  // Takes a name that was removed out of its folder's listing, if that folder has one.
  void NoteRemoved(const FolderId& folder, const std::string& name);
  // Forgets a folder that was removed: its listing, and the paths held open to it, which a later
  // Open then reaches afresh (a folder made again under that name is another one).
  void ForgetFolder(const FolderId& folder);

  // The listing of a folder reached through its descriptor, read on first use while a scope
  // lives; nullptr without a scope or when the folder cannot be read.
  FolderListing* ForFolder(const FolderHandle& folder);

  // The listing of a native folder path ("" for the current folder, otherwise ending in "/"),
  // read on first use; nullptr when the folder cannot be read. Two paths to one folder share it.
  FolderListing* For(const std::string& folder);

  // Adds a name this program created to its folder's listing, if that folder has one.
  void NoteCreated(const FolderHandle& folder, const std::string& name, unsigned char type);

private:
  static constexpr std::size_t HELD_FOLDERS = 256; // well within the usual limit of 1024 files
  int scopes_ = 0;
  std::unordered_map<std::string, FolderId> folders_;
  std::map<FolderId, FolderListing> listings_;
  // The folders held open, most recently used first.
  std::list<std::pair<std::string, Folder>> heldOrder_;
  std::unordered_map<std::string, std::list<std::pair<std::string, Folder>>::iterator> held_;
};

// Reads the names of one folder, in directory order; nullopt when it cannot be read.
std::optional<FolderListing> ReadFolderNames(const FolderHandle& folder);

// The one cache of this program's folder listings.
ListingCache& Listings();

// The type of an existing native path as its folder's listing knows it: DT_UNKNOWN when the
// listing cannot tell (no listing, a link, a file system that gives no types), nullopt when the
// listing knows that nothing has that name.
std::optional<unsigned char> ListedType(const std::string& path);

// Notes a refusal for lack of rights in errno, for TakeAccessDenied (PathMapping.cpp).
void NoteDenial();

// Notes a refusal for lack of rights in errno; gives `result`.
template <typename T> T NotingDenial(T result) {
  NoteDenial();
  return result;
}

} // namespace quillet::platform::posix
