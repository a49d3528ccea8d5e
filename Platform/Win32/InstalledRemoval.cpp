// Removing installed files and folders without following a link below the installation folder,
// and the per-user named lock. The entry is opened with FILE_FLAG_OPEN_REPARSE_POINT, so a link
// in its own place is met as a reparse point; a junction or link on a folder of the way is
// followed by the system, and shows in the handle's final path, which then lies outside the
// base's. The content is read and the file deleted through that one handle.
#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

constexpr DWORD READ_CHUNK = 64 * 1024;

RemovalResult Outcome(RemovalOutcome outcome, std::string detail = {}) {
  return {outcome, std::move(detail)};
}

using win32::ErrorText;

// The outcome of a failed call, by its last error.
RemovalResult FromLastError() {
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return Outcome(RemovalOutcome::Missing);
  }
  if (error == ERROR_DIR_NOT_EMPTY) {
    return Outcome(RemovalOutcome::NotEmpty);
  }
  return Outcome(RemovalOutcome::Failed, ErrorText(error));
}

// The relative path with "\" between its names; nullopt when a name is empty, "." or "..".
std::optional<std::string> JoinedRelative(std::string_view relative) {
  std::string joined;
  if (relative.empty()) {
    return joined;
  }
  for (std::size_t pos = 0;;) {
    const std::size_t end = std::min(relative.find_first_of("\\/", pos), relative.size());
    const std::string_view name = relative.substr(pos, end - pos);
    if (name.empty() || name == "." || name == ".." || name.find('\0') != name.npos) {
      return std::nullopt;
    }
    if (!joined.empty()) {
      joined += '\\';
    }
    joined += name;
    if (end == relative.size()) {
      return joined;
    }
    pos = end + 1;
  }
}

// The full path the system gives for an open handle, links resolved; empty when it cannot.
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const DWORD got =
        ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (got == 0) {
      return {};
    }
    if (got < path.size()) {
      path.resize(got);
      return path;
    }
    path.resize(got + 1);
  }
  return {};
}

// The base as installing reaches it, and its final path.
struct Base {
  win32::UniqueHandle handle;
  std::wstring finalPath;
};
std::optional<Base> OpenBase(std::string_view base, RemovalResult& result) {
  Base opened;
  opened.handle = win32::UniqueHandle(
      ::CreateFileW(win32::SystemPath(base).c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!opened.handle.Valid()) {
    result = FromLastError();
    return std::nullopt;
  }
  opened.finalPath = FinalPath(opened.handle.Get());
  if (opened.finalPath.empty()) {
    result = FromLastError();
    return std::nullopt;
  }
  return opened;
}

// Opens the entry `relative` below `base` with `access`, not following a link in its place, and
// checks that it lies where its path says: no junction or link on a folder of the way.
win32::UniqueHandle OpenBelow(std::string_view base, const std::string& relative, DWORD access,
                              DWORD share, bool folder, RemovalResult& result) {
  const std::optional<Base> opened = OpenBase(base, result);
  if (!opened) {
    return {};
  }
  std::string path(base);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    path += '\\';
  }
  win32::UniqueHandle entry(::CreateFileW(
      win32::SystemPath(path + relative).c_str(), access, share, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr));
  if (!entry.Valid()) {
    result = FromLastError();
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileInformationByHandle(entry.Get(), &info) == 0) {
    result = FromLastError();
    return {};
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    result = Outcome(RemovalOutcome::Link);
    return {};
  }
  if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
    result =
        Outcome(RemovalOutcome::Failed, folder ? "a file, not a folder" : "a folder, not a file");
    return {};
  }
  std::wstring expected = opened->finalPath;
  if (expected.back() != L'\\') {
    expected += L'\\';
  }
  expected += win32::WideOfText(relative);
  const std::wstring reached = FinalPath(entry.Get());
  if (::CompareStringOrdinal(reached.c_str(), static_cast<int>(reached.size()), expected.c_str(),
                             static_cast<int>(expected.size()), TRUE) != CSTR_EQUAL) {
    result = Outcome(RemovalOutcome::Link, "reached through a link on the way");
    return {};
  }
  if (!folder && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    result = Outcome(RemovalOutcome::Failed, "the file is read-only");
    return {};
  }
  return entry;
}

// Deletes an open file or folder through its handle.
RemovalResult DeleteThrough(const win32::UniqueHandle& entry) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  if (::SetFileInformationByHandle(entry.Get(), FileDispositionInfo, &disposition,
                                   sizeof disposition) == 0) {
    return FromLastError();
  }
  return Outcome(RemovalOutcome::Removed);
}

// The whole content of an open file; nullopt on a failed read.
std::optional<std::vector<unsigned char>> ReadAll(HANDLE file) {
  std::vector<unsigned char> content;
  for (;;) {
    const std::size_t length = content.size();
    content.resize(length + READ_CHUNK);
    DWORD got = 0;
    if (::ReadFile(file, content.data() + length, READ_CHUNK, &got, nullptr) == 0) {
      return std::nullopt;
    }
    content.resize(length + got);
    if (got == 0) {
      return content;
    }
  }
}

} // namespace

RemovalResult
RemoveInstalledFile(std::string_view base, std::string_view relative,
                    const std::function<bool(std::span<const unsigned char>)>& unchanged) {
  const std::optional<std::string> joined = JoinedRelative(relative);
  if (!joined || joined->empty()) {
    return Outcome(RemovalOutcome::Failed, "not the path of a file below the folder");
  }
  RemovalResult result;
  const win32::UniqueHandle file =
      OpenBelow(base, *joined, DELETE | FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_DELETE, false, result);
  if (!file.Valid()) {
    return result;
  }
  if (unchanged) {
    const std::optional<std::vector<unsigned char>> content = ReadAll(file.Get());
    if (!content) {
      return FromLastError();
    }
    if (!unchanged(std::span<const unsigned char>(*content))) {
      return Outcome(RemovalOutcome::Changed);
    }
  }
  return DeleteThrough(file);
}

RemovalResult RemoveInstalledFolder(std::string_view base, std::string_view relative) {
  const std::optional<std::string> joined = JoinedRelative(relative);
  if (!joined) {
    return Outcome(RemovalOutcome::Failed, "not the path of a folder below the folder");
  }
  constexpr DWORD ACCESS = DELETE | FILE_READ_ATTRIBUTES;
  constexpr DWORD SHARE = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  RemovalResult result;
  if (!joined->empty()) {
    const win32::UniqueHandle folder = OpenBelow(base, *joined, ACCESS, SHARE, true, result);
    return folder.Valid() ? DeleteThrough(folder) : result;
  }
  // The base itself: the way to it followed as installing follows it, a link in its place not.
  const win32::UniqueHandle folder(
      ::CreateFileW(win32::SystemPath(base).c_str(), ACCESS, SHARE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!folder.Valid() || ::GetFileInformationByHandle(folder.Get(), &info) == 0) {
    return FromLastError();
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Outcome(RemovalOutcome::Link);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return Outcome(RemovalOutcome::Failed, "a file, not a folder");
  }
  return DeleteThrough(folder);
}

// ---------------------------------------------------------------------------------------------
// NamedLock

struct NamedLock::State {
  win32::UniqueHandle mutex;
  bool owned = false;
  ~State() {
    if (owned) {
      ::ReleaseMutex(mutex.Get());
    }
  }
};

NamedLock::NamedLock(std::string_view name) : state_(std::make_unique<State>()) {
  // The name in upper case, hashed: short, and free of the "\" a mutex name may not hold. Local:
  // one user's runs meet there.
  std::wstring folded = win32::WideOfText(name);
  if (!folded.empty()) {
    ::CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
  }
  std::uint64_t hash = 0xCBF29CE484222325ull; // FNV-1a
  for (const wchar_t c : folded) {
    hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001B3ull;
  }
  wchar_t mutexName[64];
  std::swprintf(mutexName, 64, L"Local\\Quillet-Lock-%016llx",
                static_cast<unsigned long long>(hash));
  state_->mutex = win32::UniqueHandle(::CreateMutexW(nullptr, FALSE, mutexName));
}

NamedLock::~NamedLock() = default;

bool NamedLock::TryTake() {
  if (!state_->mutex.Valid()) {
    return true;
  }
  if (!state_->owned) {
    const DWORD result = ::WaitForSingleObject(state_->mutex.Get(), 0);
    // An abandoned mutex is one whose owner ended without letting go: it is taken now.
    state_->owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
    return state_->owned || result != WAIT_TIMEOUT;
  }
  return true;
}

void NamedLock::Take() {
  if (state_->mutex.Valid() && !state_->owned) {
    const DWORD result = ::WaitForSingleObject(state_->mutex.Get(), INFINITE);
    state_->owned = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  }
}

bool NamedLock::Held() const {
  return state_->owned;
}

} // namespace quillet::platform
