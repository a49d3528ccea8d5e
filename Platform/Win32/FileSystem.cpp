// The file system for Windows paths: the paths are the system's own, in UTF-8. They reach the
// wide functions converted, and in the "\\?\" form when they are MAX_PATH or longer.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <memory>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Interruption.h"
#include "Platform/LocalTime.h"
#include "Platform/PathSplit.h"
#include "Platform/TemporaryName.h"
#include "Platform/Testing.h"
#include "Platform/Text.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

constexpr int TEMP_NAME_ATTEMPTS = 100;
constexpr std::size_t MAX_WRITE = std::numeric_limits<DWORD>::max();

// The length of the folder part of a path: everything through its last "\", "/" or ":".
std::size_t FolderPartLength(const std::string& path) {
  return SplitAtLastSeparator(path, "\\/:").folder.size();
}

// The error of the last failed call, never 0: 0 means success to the caller.
std::uint32_t LastErrorCode() {
  const DWORD error = ::GetLastError();
  return error != ERROR_SUCCESS ? error : ERROR_INVALID_FUNCTION;
}

} // namespace

std::string NativePath(std::string_view windowsPath) {
  return std::string(windowsPath);
}

std::string WindowsViewOfFolder(std::string_view folder) {
  const std::wstring given = win32::WideOfText(folder);
  const DWORD size = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (size == 0) {
    return std::string(folder);
  }
  std::wstring full(size, L'\0');
  const DWORD got = ::GetFullPathNameW(given.c_str(), size, full.data(), nullptr);
  if (got == 0 || got >= size) {
    return std::string(folder);
  }
  full.resize(got);
  return win32::TextOfWide(full);
}

bool IsFullPath(std::string_view path) {
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (path.size() >= 3 && letter(path[0]) && path[1] == ':' && separator(path[2])) {
    return true;
  }
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
    // "\\server\share": two names, each at least one character long ("\\?\C:\" is one).
    const std::size_t serverEnd = std::min(path.find_first_of("\\/", 2), path.size());
    return serverEnd > 2 && serverEnd + 1 < path.size() && !separator(path[serverEnd + 1]);
  }
  return false; // "\Lib" and "/Lib" are the root of the current drive
}

bool SameFile(std::string_view nativeA, std::string_view nativeB) {
  // The file's identity through a handle that asks for no access, so that a file another program
  // holds open, and a folder (FILE_FLAG_BACKUP_SEMANTICS), can be asked too.
  struct Identity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
  };
  const auto identify = [](std::string_view nativePath) -> std::optional<Identity> {
    const std::optional<std::wstring> path = win32::SystemPathOfUtf8(nativePath);
    if (!path) {
      return std::nullopt;
    }
    const win32::UniqueHandle handle(
        ::CreateFileW(path->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!handle.Valid() || ::GetFileInformationByHandle(handle.Get(), &info) == 0) {
      return std::nullopt;
    }
    return Identity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  };
  const std::optional<Identity> a = identify(nativeA);
  const std::optional<Identity> b = identify(nativeB);
  return a && b && a->volume == b->volume && a->indexHigh == b->indexHigh &&
         a->indexLow == b->indexLow;
}

bool PathCanBeNamed(std::string_view) {
  return true; // the wide calls take every character
}

bool IsFolder(std::string_view windowsPath) {
  const DWORD attributes = ::GetFileAttributesW(win32::SystemPath(windowsPath).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(std::string_view windowsPath) {
  return ::GetFileAttributesW(win32::SystemPath(windowsPath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {
std::atomic<bool> accessDenied = false;

// Notes a refusal for lack of rights in the last error; gives `result`.
template <typename T> T NotingDenial(T result) {
  if (::GetLastError() == ERROR_ACCESS_DENIED) {
    accessDenied = true;
  }
  return result;
}
} // namespace

bool TakeAccessDenied() {
  return accessDenied.exchange(false);
}

bool MakeFolder(std::string_view windowsPath) {
  return ::CreateDirectoryW(win32::SystemPath(windowsPath, win32::FOLDER_PATH_LIMIT).c_str(),
                            nullptr) != 0 ||
         NotingDenial(false);
}

bool RemoveFile(std::string_view windowsPath) {
  // A read-only file stays: the caller reports it.
  if (::DeleteFileW(win32::SystemPath(windowsPath).c_str()) != 0) {
    return true;
  }
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RemoveEmptyFolder(std::string_view windowsPath) {
  return ::RemoveDirectoryW(win32::SystemPath(windowsPath).c_str()) != 0;
}

// ---------------------------------------------------------------------------------------------
// OutputFile

// Windows matches letter case itself: a scope reads nothing ahead.
std::optional<std::vector<ListedFile>> FilesInFolder(std::string_view windowsFolder) {
  std::string pattern(windowsFolder);
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') {
    pattern += '\\';
  }
  pattern += '*';
  WIN32_FIND_DATAW found{};
  std::unique_ptr<void, decltype(&::FindClose)> search(
      ::FindFirstFileW(win32::SystemPath(pattern).c_str(), &found), &::FindClose);
  if (search.get() == INVALID_HANDLE_VALUE) {
    search.release();
    return std::nullopt;
  }
  std::vector<ListedFile> files;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
      files.push_back(
          {win32::TextOfWide(found.cFileName),
           (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow,
           static_cast<std::int64_t>(
               (static_cast<std::uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
               found.ftLastWriteTime.dwLowDateTime)});
    }
  } while (::FindNextFileW(search.get(), &found));
  if (::GetLastError() != ERROR_NO_MORE_FILES) {
    return std::nullopt;
  }
  return files;
}

FolderListingScope::FolderListingScope() = default;
FolderListingScope::~FolderListingScope() = default;

struct OutputFile::State {
  win32::UniqueHandle file;
  std::wstring temporaryPath; // empty once it is moved into place or deleted
  std::wstring targetPath;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State();
};

namespace {

// The output files whose temporary file exists and is not yet committed: what an interrupt
// removes. Changed only under an InterruptHold, in one step with the creation, closing, moving or
// deletion of the file, so that an interrupt never meets a handle being closed. Never destroyed:
// an interrupt may come while the program's static objects are being destroyed. Each entry
// points at the open file and the temporary path of one output file's state.
struct UncommittedFile {
  const win32::UniqueHandle* file;
  const std::wstring* path;
};
std::vector<UncommittedFile>& UncommittedFiles() {
  static auto* files = new std::vector<UncommittedFile>;
  return *files;
}

void ForgetUncommitted(const win32::UniqueHandle* file) {
  std::vector<UncommittedFile>& files = UncommittedFiles();
  files.erase(std::remove_if(files.begin(), files.end(),
                             [file](const UncommittedFile& f) { return f.file == file; }),
              files.end());
}

} // namespace

OutputFile::State::~State() {
  const InterruptHold hold;
  file.Close();
  if (!temporaryPath.empty()) {
    ::DeleteFileW(temporaryPath.c_str());
  }
  ForgetUncommitted(&file);
}

void win32::RemoveUncommittedFiles() {
  for (const UncommittedFile& uncommitted : UncommittedFiles()) {
    if (uncommitted.file->Valid()) {
      FILE_DISPOSITION_INFO deleteOnClose{};
      deleteOnClose.DeleteFile = TRUE;
      ::SetFileInformationByHandle(uncommitted.file->Get(), FileDispositionInfo, &deleteOnClose,
                                   sizeof deleteOnClose);
    } else {
      ::DeleteFileW(uncommitted.path->c_str());
    }
  }
  UncommittedFiles().clear();
}

OutputFile::OutputFile(OutputFile&& other) noexcept = default;
OutputFile& OutputFile::operator=(OutputFile&& other) noexcept = default;
OutputFile::~OutputFile() = default;

std::optional<OutputFile> OutputFile::CreateFor(std::string_view windowsTargetPath,
                                                OutputKind kind) {
  auto state = std::make_unique<State>();
  // The OS calls take C strings: a NUL ends the path there.
  const std::string target(windowsTargetPath.substr(0, windowsTargetPath.find('\0')));
  const std::size_t folderLength = FolderPartLength(target);
  if (folderLength == target.size()) {
    return std::nullopt; // the target names a folder or a drive, not a file
  }
  state->targetPath = win32::SystemPath(target);
  // A read-only file is refused, as on POSIX: replacing it by a move would drop the attribute.
  const DWORD attributes = ::GetFileAttributesW(state->targetPath.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return std::nullopt;
  }
  const std::string folder = target.substr(0, folderLength);
  for (int attempt = 0; attempt < TEMP_NAME_ATTEMPTS; ++attempt) {
    std::wstring candidate = win32::SystemPath(folder + TemporaryName(::GetCurrentProcessId()));
    // Nobody else may open the file while it is being written. DELETE: an interrupt deletes it
    // through this handle (win32::RemoveUncommittedFiles).
    const InterruptHold hold;
    win32::UniqueHandle file(::CreateFileW(candidate.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                           CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid()) {
      state->file = std::move(file);
      state->temporaryPath = std::move(candidate);
      UncommittedFiles().push_back({&state->file, &state->temporaryPath});
      OutputFile output;
      output.state_ = std::move(state);
      output.kind_ = kind;
      return output;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
      return NotingDenial(std::nullopt);
    }
  }
  return std::nullopt;
}

std::optional<OutputFile> OutputFile::CreateForNative(std::string_view nativeTargetPath,
                                                      OutputKind kind) {
  return CreateFor(nativeTargetPath, kind); // Windows paths are the native ones
}

void OutputFile::MarkAndStall(const char* mark) {
  win32::UniqueHandle(::CreateFileW(win32::SystemPath(mark).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  for (;;) {
    ::Sleep(INFINITE);
  }
}

bool OutputFile::Write(const void* data, std::size_t size) {
  if (!state_ || !state_->file.Valid()) {
    return false;
  }
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD request = static_cast<DWORD>(size < MAX_WRITE ? size : MAX_WRITE);
    DWORD written = 0;
    if (::WriteFile(state_->file.Get(), bytes, request, &written, nullptr) == 0 || written == 0) {
      return false;
    }
    bytes += written;
    size -= written;
  }
  StallIfAsked();
  return true;
}

std::uint32_t OutputFile::SetLastWriteTime(std::uint32_t packedDosDateTime) {
  if (!state_ || !state_->file.Valid()) {
    return ERROR_INVALID_HANDLE;
  }
  // The offset of the stored date's own season and year, by the rule the POSIX layer shares.
  const std::optional<std::int64_t> seconds = UtcOfLocalDosDateTime(packedDosDateTime);
  if (!seconds) {
    return ERROR_INVALID_PARAMETER;
  }
  // FILETIME counts 100-ns ticks since 1601-01-01, 11,644,473,600 s before 1970.
  const auto ticks = static_cast<std::uint64_t>(*seconds + 11'644'473'600) * 10'000'000;
  const FILETIME universal{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  // The last-write time only: creation and last-access times stay as the system set them.
  if (::SetFileTime(state_->file.Get(), nullptr, nullptr, &universal) == 0) {
    return LastErrorCode();
  }
  return 0;
}

bool OutputFile::IsOpen() const {
  return state_->file.Valid();
}

bool OutputFile::ClosedOnlyByCommit() const {
  return false; // a closed file keeps its temporary name
}

bool OutputFile::CommitUnnamed() {
  return false; // never called: every file has a temporary name
}

bool OutputFile::HasTemporary() const {
  return !state_->temporaryPath.empty();
}

bool OutputFile::FlushFile() {
  return ::FlushFileBuffers(state_->file.Get()) != 0;
}

bool OutputFile::CloseFile() {
  const InterruptHold hold; // an interrupt deletes an open file through its handle
  return state_->file.Close();
}

bool OutputFile::PutInPlace(bool closedCleanly) {
  // Fails for a read-only or locked target, which then stays as it was.
  const bool placed =
      closedCleanly && ::MoveFileExW(state_->temporaryPath.c_str(), state_->targetPath.c_str(),
                                     MOVEFILE_REPLACE_EXISTING) != 0;
  if (!placed) {
    ::DeleteFileW(state_->temporaryPath.c_str());
  }
  state_->temporaryPath.clear();
  ForgetUncommitted(&state_->file);
  return placed;
}

// ---------------------------------------------------------------------------------------------
// FolderLock

struct FolderLock::State {
  win32::UniqueHandle mutex;
  std::wstring folder; // the system path of the folder, ending in a separator
  bool owned = false;
  ~State() {
    if (owned) {
      ::ReleaseMutex(mutex.Get());
    }
  }
};

FolderLock::FolderLock(std::string_view windowsFolder) : state_(std::make_unique<State>()) {
  // The folder's full path, without a final separator and in upper case, names the mutex; a hash
  // keeps the name short and free of the separators a name may not hold. Global: installers of
  // every session meet there.
  std::wstring path = win32::SystemPath(windowsFolder.empty() ? "." : windowsFolder);
  state_->folder = path;
  if (state_->folder.back() != L'\\' && state_->folder.back() != L'/') {
    state_->folder += L'\\';
  }
  std::wstring full(32768, L'\0');
  const DWORD length =
      ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) {
    return; // no name to lock by: nothing to wait for
  }
  full.resize(length);
  while (full.size() > 1 && (full.back() == L'\\' || full.back() == L'/')) {
    full.pop_back();
  }
  ::CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
  std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
  for (const wchar_t c : full) {
    hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Global\\Quillet-%016llx", static_cast<unsigned long long>(hash));
  state_->mutex = win32::UniqueHandle(::CreateMutexW(nullptr, FALSE, name));
}

FolderLock::~FolderLock() = default;

bool FolderLock::TryTake() {
  if (!state_->mutex.Valid()) {
    return true;
  }
  const DWORD result = ::WaitForSingleObject(state_->mutex.Get(), 0);
  // An abandoned mutex is one whose owner ended without letting go: it is taken now.
  state_->owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  return state_->owned || result != WAIT_TIMEOUT;
}

void FolderLock::Take() {
  if (state_->mutex.Valid()) {
    const DWORD result = ::WaitForSingleObject(state_->mutex.Get(), INFINITE);
    state_->owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
}

namespace {

// Whether the process is known to have ended: no process has the id, or it has exited.
bool ProcessEnded(std::uint32_t processId) {
  const win32::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!process.Valid()) {
    return ::GetLastError() == ERROR_INVALID_PARAMETER;
  }
  return ::WaitForSingleObject(process.Get(), 0) == WAIT_OBJECT_0;
}

} // namespace

void FolderLock::RemoveStaleFiles() {
  if (!state_->owned || state_->folder.empty()) {
    return;
  }
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = state_->folder + L".quillet-*.tmp";
  std::unique_ptr<void, decltype(&::FindClose)> search(::FindFirstFileW(pattern.c_str(), &found),
                                                       &::FindClose);
  if (search.get() == INVALID_HANDLE_VALUE) {
    search.release();
    return;
  }
  do {
    // Only a file whose installer has ended: another one may write into this folder through a
    // path of its own (a folder template with ".."), and its file is not stale.
    const std::optional<std::uint32_t> process =
        ProcessOfTemporaryName(std::wstring_view(found.cFileName));
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && process &&
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && ProcessEnded(*process)) {
      ::DeleteFileW((state_->folder + found.cFileName).c_str());
    }
  } while (::FindNextFileW(search.get(), &found));
}

} // namespace quillet::platform
