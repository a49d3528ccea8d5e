#include <memory>
#include <string>

#include "Platform/FileSystem.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

using win32::ErrorText;

} // namespace

struct AppendFile::State {
  win32::UniqueHandle handle;
};

AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;
AppendFile::~AppendFile() = default;

std::optional<AppendFile> AppendFile::Open(std::string_view nativePath, Problem* problem) {
  const std::optional<std::wstring> path = win32::SystemPathOfUtf8(nativePath);
  if (!path) {
    if (problem != nullptr) {
      problem->reason = "the name is not UTF-8 text";
    }
    return std::nullopt;
  }
  // FILE_APPEND_DATA alone: every write lands at the end, even with another writer.
  auto state = std::make_unique<State>();
  state->handle = win32::UniqueHandle(::CreateFileW(path->c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!state->handle.Valid()) {
    if (problem != nullptr) {
      problem->reason = ErrorText(::GetLastError());
      // A folder refuses the file's access with ERROR_ACCESS_DENIED, as a file without rights does.
      const DWORD attributes = ::GetFileAttributesW(path->c_str());
      problem->folder =
          attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    return std::nullopt;
  }
  return AppendFile(std::move(state));
}

bool AppendFile::Write(std::string_view text, Problem* problem) {
  while (!text.empty()) {
    const DWORD chunk = text.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(text.size());
    DWORD written = 0;
    if (::WriteFile(state_->handle.Get(), text.data(), chunk, &written, nullptr) == 0) {
      if (problem != nullptr) {
        problem->reason = ErrorText(::GetLastError());
      }
      return false;
    }
    if (written == 0) {
      if (problem != nullptr) {
        problem->reason = "nothing was written";
      }
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

} // namespace quillet::platform
