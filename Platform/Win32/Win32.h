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

} // namespace quillet::platform::win32
