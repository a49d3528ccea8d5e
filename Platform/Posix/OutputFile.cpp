// OutputFile on POSIX: a file is written unnamed (O_TMPFILE) or under a temporary name in the
// folder of its target, reached through descriptors, and put in place only by Commit, so that a
// target is never seen half written. The temporary names not yet committed are kept for an
// interrupt to remove.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Interruption.h"
#include "Platform/LocalTime.h"
#include "Platform/PathSplit.h"
#include "Platform/Posix/FolderAccess.h"
#include "Platform/Posix/UncommittedFiles.h"
#include "Platform/TemporaryName.h"
#include "Platform/Testing.h"

namespace quillet::platform {

using posix::Folder;
using posix::FolderOfDescriptor;
using posix::FollowLinksAt;
using posix::ListedType;
using posix::Listings;
using posix::NotingDenial;

namespace {

constexpr int TEMP_NAME_ATTEMPTS = 100;
constexpr mode_t NEW_FILE_MODE = 0666; // narrowed by the umask, as for any new file

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

// Puts a folder's entries on the disk: after a user record took its name there, so that a crash
// keeps the new name. Best effort: the file itself is on the disk already.
void FlushFolder(int folder) {
  const int entries = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (entries >= 0) {
    ::fsync(entries);
    ::close(entries);
  }
}

// Whether an unnamed file can be given a name: linkat needs /proc/self/fd to reach it.
bool UnnamedFilesLinkable() {
  static const bool linkable = ::access("/proc/self/fd", X_OK) == 0;
  return linkable;
}

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
  bool unnamed = false;   // created with O_TMPFILE; closed only once linked in (Commit)
  bool replacing = false; // an unnamed file for a target that existed when it was made

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

void OutputFile::MarkAndStall(const char* mark) {
  const int fd = ::open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, NEW_FILE_MODE);
  if (fd >= 0) {
    ::close(fd);
  }
  for (;;) {
    ::pause();
  }
}

std::optional<OutputFile> OutputFile::CreateFor(std::string_view windowsTargetPath,
                                                OutputKind kind) {
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
  return CreateAt(std::move(state), kind, listed);
}

std::optional<OutputFile> OutputFile::CreateForNative(std::string_view nativeTargetPath,
                                                      OutputKind kind) {
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
  return CreateAt(std::move(state), kind, DT_UNKNOWN);
}

// Makes the file for `state`'s folder and target name. `listed` is what the folder's listing
// says is at the target: nothing, or its type (DT_UNKNOWN when the listing does not know, and
// the target is looked at).
std::optional<OutputFile> OutputFile::CreateAt(std::unique_ptr<State> state, OutputKind kind,
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
      file.kind_ = kind;
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
      file.kind_ = kind;
      return file;
    }
    if (errno != EEXIST) {
      return NotingDenial(std::nullopt);
    }
  }
  return std::nullopt;
}

bool OutputFile::Write(const void* data, std::size_t size) {
  if (!state_ || state_->fd < 0 || closeRequested_) {
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

bool OutputFile::IsOpen() const {
  return state_->fd >= 0;
}

bool OutputFile::ClosedOnlyByCommit() const {
  return state_->unnamed && state_->fd >= 0;
}

bool OutputFile::HasTemporary() const {
  return !state_->temporaryName.empty();
}

bool OutputFile::FlushFile() {
  return ::fsync(state_->fd) == 0;
}

bool OutputFile::CloseFile() {
  return ::close(std::exchange(state_->fd, -1)) == 0;
}

bool OutputFile::PutInPlace(bool closedCleanly) {
  const int at = state_->folder->fd;
  const std::string& target = state_->targetName;
  const std::string& temporary = state_->temporaryName;
  bool placed = closedCleanly;
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
    if (kind_ == OutputKind::UserRecord) {
      FlushFolder(at);
    }
  }
  return placed;
}

bool OutputFile::CommitUnnamed() {
  State& state = *state_;
  const int at = state.folder->fd;
  const std::string self = "/proc/self/fd/" + std::to_string(state.fd);
  // A new target gets the file under its own name, and a user record is on the disk before.
  const bool flushed = state.replacing || FlushIfUserRecord();
  bool linked =
      !state.replacing && flushed &&
      ::linkat(AT_FDCWD, self.c_str(), at, state.targetName.c_str(), AT_SYMLINK_FOLLOW) == 0;
  if (!linked && flushed && (state.replacing || errno == EEXIST)) {
    // An existing target (or something took the name since the file was made): the file gets a
    // temporary name only now, and Commit flushes it if need be and renames it over the target.
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
  lostData_ = testing::TakeCloseFailure() || closeFailed || !flushed;
  if (linked && lostData_) {
    ::unlinkat(at, state.targetName.c_str(), 0);
    linked = false;
  }
  if (linked) {
    Listings().NoteCreated(*state.folder, state.targetName, DT_REG);
    if (kind_ == OutputKind::UserRecord) {
      FlushFolder(at);
    }
    testing::CommitDone();
  }
  return linked;
}

} // namespace quillet::platform
