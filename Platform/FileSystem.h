// File system: folders and output files, for Windows-style paths.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Win32/FileSystem.cpp and, on POSIX, in Platform/Posix/PathMapping.cpp,
// FolderListings.cpp, OutputFile.cpp, FolderLock.cpp and InstalledRemoval.cpp.
// No OS type appears in it.
//
// Paths: the installer speaks Windows paths ("C:\Lib\a.pas"), because packages and registries hold
// them. Functions that take a "Windows-style path" accept that text as it is; the POSIX layer maps
// it onto the native file system (see NativePath). Functions that take a "native path" use it
// unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// The native path that a Windows-style path stands for. POSIX: "\" becomes "/", a drive "X:"
// goes to $WINEPREFIX/dosdevices/x:, and a component missing as written is matched in any
// letter case. Windows: unchanged.
std::string NativePath(std::string_view windowsPath);

// A folder as Windows programs see it: the other way from NativePath. POSIX: a native path
// ("/home/a/Lib", or a relative one, taken from the current folder) is Wine's drive Z:
// ("Z:\home\a\Lib"); a path with a drive letter or a "\\" start stays. Windows: a relative
// path is made full.
std::string WindowsViewOfFolder(std::string_view folder);

// Whether a path names its place in full, the same from any current folder and drive: a drive
// with its separator ("C:\Lib", "c:/Lib") or a share ("\\server\share\Lib"), and on POSIX a
// native path from "/" ("/home/a/Lib"). Relative: "Lib", the drive-relative "C:Lib", the
// root-relative "\Lib" (the current drive's root, as Windows programs read it; on POSIX too,
// though the mapping would take it as "/Lib"), and a "\\server" without its share.
bool IsFullPath(std::string_view path);

// Whether two native paths name the same file or folder, judged by identity rather than by text:
// the device and inode on POSIX, the volume serial number and file index on Windows. Links are
// followed, so a link, a hard link and another spelling of the path all name the file. False
// when either cannot be reached.
bool SameFile(std::string_view nativeA, std::string_view nativeB);

// Whether the system can name every character of a Windows-style path. POSIX: whether the locale's
// encoding holds them (a character it lacks would make another name); Windows: always.
bool PathCanBeNamed(std::string_view windowsPath);

// True when the path names an existing folder.
bool IsFolder(std::string_view windowsPath);

// True when the path names anything: a file, a folder or a link.
bool PathExists(std::string_view windowsPath);

// One file of a folder as a listing sees it: its name, size and last-write time (the system's
// own count, compared only with another listing's).
struct ListedFile {
  std::string name;
  std::uint64_t size = 0;
  std::int64_t time = 0;
};

// The files (not folders, not links) directly in a folder; nullopt when it cannot be read (also
// when it is missing). A changed file shows as another size or time.
std::optional<std::vector<ListedFile>> FilesInFolder(std::string_view windowsFolder);

// Creates one folder; true on success.
bool MakeFolder(std::string_view windowsPath);

// Removes a file (not a folder). True when it is gone, also when it was not there. Keeps the
// listings of a FolderListingScope current.
bool RemoveFile(std::string_view windowsPath);

// Removes a folder when it is empty; false when it is not, or cannot be removed. Keeps the
// listings of a FolderListingScope current.
bool RemoveEmptyFolder(std::string_view windowsPath);

// What removing an installed file or folder did.
enum class RemovalOutcome {
  Removed, // it was there and is gone
  Missing, // nothing of that name (the folders on the way may be missing too)
  Changed, // the file is there but `unchanged` said no: left as it is
  Link,    // a link (symlink, junction, other reparse point) below the base: left, nothing followed
  NotEmpty, // folders only: not empty, left
  Failed,   // any other failure; `detail` says why (the system's text)
};
struct RemovalResult {
  RemovalOutcome outcome = RemovalOutcome::Failed;
  std::string detail;
};

// Removes the file `relative` ("Source\a.pas": "\"-separated names below `base`, none empty,
// "." or "..") below the folder `base` (a Windows-style full path, reached as installing reaches
// folders: links above and at `base` are followed as there) when `unchanged` says yes for its
// content. No link below `base` is followed: a folder on the way or the file itself that is a
// link gives Link and nothing is removed. The content that `unchanged` sees is read through the
// same descriptor/handle of the file that is then removed, so nothing swapped in between the check
// and the removal is removed in its place. A null `unchanged` removes without looking. POSIX: the
// names below `base` are matched in any letter case, as NativePath matches them; keeps the
// listings of a FolderListingScope current.
RemovalResult
RemoveInstalledFile(std::string_view base, std::string_view relative,
                    const std::function<bool(std::span<const unsigned char>)>& unchanged);

// Removes the folder `relative` below `base` when it is empty (relative may be empty: `base`
// itself is then removed when it is empty and no link; its parent is reached as installing reaches
// folders). A link where the folder was gives Link and is left.
RemovalResult RemoveInstalledFolder(std::string_view base, std::string_view relative);

// Whether the system refused to make a folder or a file for lack of rights (a folder the user may
// not write, such as one below Program Files for a standard user) since the last call; clears it.
bool TakeAccessDenied();

// While at least one of these lives, the POSIX layer reads the names of each folder it looks into
// at most once (one directory read fills a case-folded index of the folder) and keeps that index
// current as this program creates files and folders, so that matching the letter case of n paths
// costs O(n) instead of one directory read per path. It assumes that no other program changes the
// folders in the meantime. It also holds the last 256 folders it reached open: a folder is
// reached once, and what is renamed or swapped in on its path afterwards does not change where
// its files go. One thread only: the installer's writer. Windows: no listings.
class FolderListingScope {
public:
  FolderListingScope();
  ~FolderListingScope();
  FolderListingScope(const FolderListingScope&) = delete;
  FolderListingScope& operator=(const FolderListingScope&) = delete;
};

// One installation into a folder at a time: while a taken lock lives, another process's lock of
// the same folder waits. POSIX: flock on the folder itself, which must exist (no file is made);
// Windows: a named mutex made from the folder's full path, case-folded.
class FolderLock {
public:
  explicit FolderLock(std::string_view windowsFolder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Takes the lock when nobody holds it. True when taken, and when the folder cannot be locked at
  // all (it cannot be opened): then there is nothing to wait for.
  bool TryTake();
  // Waits until the lock is free, then takes it.
  void Take();
  // With the lock taken: removes the temporary files (Platform/TemporaryName.h) that an installer
  // killed before it could clean up left in the locked folder itself, those whose process no
  // longer runs. Not in its subfolders: an installer into one of them takes another lock.
  void RemoveStaleFiles();

private:
  struct State;
  std::unique_ptr<State> state_;
};

// One run at a time for one name, per user: while a taken lock lives, another process's lock of
// the same name waits. POSIX: per Wine prefix, flock on a file that the lock makes in the
// prefix's folder ".quillet-locks" (made with mode 0700, the user's own, never reached through a
// link); Windows: a named mutex in the Local\ namespace made from the case-folded name.
class NamedLock {
public:
  explicit NamedLock(std::string_view name);
  ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  // Takes the lock when nobody holds it. True when taken, and when the lock cannot be made at all:
  // then there is nothing to wait for, and Held() says that nothing is held.
  bool TryTake();
  // Waits until the lock is free, then takes it.
  void Take();
  // Whether this object holds the lock.
  bool Held() const;

private:
  struct State;
  std::unique_ptr<State> state_;
};

// What a file written through OutputFile holds, which decides whether Commit waits for its bytes to
// reach the disk (fsync, FlushFileBuffers) before the file takes the target's name.
enum class OutputKind {
  // A file that running again writes again, such as an installed entry or a built package: not
  // flushed, since a flush per entry would cost tens of seconds over tens of thousands of them.
  Rebuildable,
  // A file of the user's own settings or records, which nothing rebuilds (user.reg): flushed, so
  // that a crash right after Commit leaves the new content under the target's name, not an empty
  // file. On POSIX the folder is flushed after the rename too, so that the new name stays.
  UserRecord,
};

// A new file that replaces its target only when it is complete. POSIX: its folder is reached one
// name at a time through descriptors, following only links of the user or root (docs/installer.md,
// "On Linux"), and the file is made, named and renamed in that folder's descriptor. Destroying an
// uncommitted file removes it. A read-only target is never replaced. On POSIX a replaced file keeps
// its permissions (and, run as root, its owner), and a symbolic link at the target stays: its
// destination is replaced.
//
// How it is written, on POSIX: as an unnamed file in the target's folder (O_TMPFILE), closed only
// once Commit has put it in place (a close that fails then removes it again). A new target gets
// it linked in under its own name (linkat); an existing one gets it linked in under a temporary
// name (Platform/TemporaryName.h) that is at once renamed over the target, so that a process killed
// at any other moment leaves no temporary file behind. A file system without unnamed files gets the
// named temporary file from the start. Either way nothing is visible under the target's name until
// Commit, and Commit is the only step that changes the target.
class OutputFile {
public:
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // nullopt when the temporary file cannot be created. `kind` says what the file holds.
  static std::optional<OutputFile> CreateFor(std::string_view windowsTargetPath, OutputKind kind);
  // The same for a native path, taken as it is (no drive mapping, no letter-case matching). A
  // symbolic link at the target is not followed: Commit puts the new file in its place.
  static std::optional<OutputFile> CreateForNative(std::string_view nativeTargetPath,
                                                   OutputKind kind);

  // Writes every byte; false when a write fails or is short.
  bool Write(const void* data, std::size_t size);
  // Sets the last-write time from a packed MS-DOS date (high word) and time (low word) in local
  // time. Gives 0 on success, otherwise the platform's error code.
  std::uint32_t SetLastWriteTime(std::uint32_t packedDosDateTime);
  // Closes the file, a UserRecord flushed first. False when the system reports that written data
  // was lost (a full disk noticed late, a network file system); the file can then no longer be
  // committed.
  bool Close();
  // Closes the file if it is still open and puts it in place of the target. False when closing
  // fails or the target cannot be replaced; the temporary file is then removed and the target
  // left as it was.
  bool Commit();
  // After a failed Commit: whether the close that Commit made reported lost data (a new file on
  // Linux is closed only there), rather than the target not being replaceable.
  bool LostData() const;

private:
  struct State; // each side's own: the open file and the names it goes by
  static std::optional<OutputFile> CreateAt(std::unique_ptr<State> state, OutputKind kind,
                                            std::optional<unsigned char> listed);
  OutputFile() = default;

  // Close, LostData and Commit are the same on both sides (Platform/OutputFile.cpp); these are
  // the steps each side takes on its own kind of file.
  bool IsOpen() const;
  // POSIX: an unnamed file, which a close would lose; Commit links it in, then closes it.
  bool ClosedOnlyByCommit() const;
  bool CommitUnnamed();
  bool HasTemporary() const;
  // Flushes a UserRecord; true for any other file.
  bool FlushIfUserRecord();
  bool FlushFile();
  // Closes the file; false when the close reports a failure.
  bool CloseFile();
  // Gives the closed temporary file the target's name when `closedCleanly` and the target can be
  // replaced, otherwise removes it; either way it is no longer an uncommitted file.
  bool PutInPlace(bool closedCleanly);
  // After the first write: the stall that the end-to-end tests ask for (Platform/Testing.h), in
  // which each side makes the file `mark` and then waits for ever.
  static void StallIfAsked();
  [[noreturn]] static void MarkAndStall(const char* mark);

  std::unique_ptr<State> state_;
  OutputKind kind_ = OutputKind::Rebuildable;
  bool closeRequested_ = false; // Close on a file that only Commit closes: no more writes
  bool closedCleanly_ = false;
  bool lostData_ = false; // the close that Commit made failed
};

// A file that text is appended to, each Write going to the system at once, so that a process
// killed later leaves everything written so far (the installer's --log). The file is created when
// it does not exist; what it holds stays.
class AppendFile {
public:
  AppendFile(AppendFile&& other) noexcept;
  AppendFile& operator=(AppendFile&& other) noexcept;
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;
  ~AppendFile();

  // Why an Open or a Write failed: the system's own words, and whether the path is a folder.
  struct Problem {
    std::string reason;
    bool folder = false;
  };

  // A native path, taken as it is (UTF-8 on Windows); nullopt when it cannot be opened, and then
  // `problem`, when given, says why.
  static std::optional<AppendFile> Open(std::string_view nativePath, Problem* problem = nullptr);
  // False when a write fails or is short, and then `problem`, when given, says why.
  bool Write(std::string_view text, Problem* problem = nullptr);

private:
  struct State; // each side's own: the open file
  explicit AppendFile(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

} // namespace quillet::platform
