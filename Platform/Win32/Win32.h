// The Windows headers as every file of the Win32 layer includes them, and the owner of a kernel
// handle. Internal to Platform/Win32.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillet::platform::win32 {

// Owns one kernel handle (a file, a mapping) and closes it when it goes. Both null and
// INVALID_HANDLE_VALUE stand for "no handle", as the API returns either on failure.
class UniqueHandle {
public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Close(); }

  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

  // Closes the handle now; false when CloseHandle reports a failure (or there was none).
  bool Close() {
    if (!Valid()) {
      handle_ = nullptr;
      return false;
    }
    return ::CloseHandle(std::exchange(handle_, nullptr)) != 0;
  }

private:
  HANDLE handle_ = nullptr;
};

// Text in a code page (CP_ACP, CP_OEMCP, CP_UTF8) as UTF-16, and back; nullopt-like empty
// results for empty input. Widen fails (gives false) on bytes invalid in the code page only when
// `strict` is set; otherwise they become the replacement character.
bool Widen(std::string_view text, UINT codePage, std::wstring& wide, bool strict = false);
std::string Narrow(std::wstring_view wide, UINT codePage);
// The program's text (UTF-8) as UTF-16 for the wide calls, and what they give back as the
// program's text.
std::wstring WideOfText(std::string_view text);
std::string TextOfWide(std::wstring_view wide);

// The system's text for an error code, in UTF-8, with its number ("error 5: Access is denied").
std::string ErrorText(DWORD error);

// The wide path for the file-system calls: from the program's text, UTF-8. One of
// `limit` characters or more becomes the "\\?\" form of its full path, which lifts the length
// limit. Folders are created only below MAX_PATH - 12 characters (room for an 8.3 name), so folder
// creation passes FOLDER_PATH_LIMIT.
inline constexpr std::size_t FOLDER_PATH_LIMIT = MAX_PATH - 12;
std::wstring SystemPath(std::string_view path, std::size_t limit = MAX_PATH);
// The same for a path already in UTF-16.
std::wstring SystemPathW(std::wstring path, std::size_t limit = MAX_PATH);

// Program arguments and the program's own path reach the rest of the code in UTF-8, the whole
// of their Unicode names; a file named by one is opened under exactly that name. Nullopt for
// text that is not UTF-8 (or holds a NUL), which names no file.
std::optional<std::wstring> SystemPathOfUtf8(std::string_view utf8Path);

// Removes the temporary file of every OutputFile not yet committed: an open one is marked for
// deletion through its handle (nobody else can open it), so that it goes when the process ends;
// a closed one is deleted. Called by an interrupt with the interrupt hold taken
// (Platform/Win32/FileSystem.cpp).
void RemoveUncommittedFiles();

} // namespace quillet::platform::win32
