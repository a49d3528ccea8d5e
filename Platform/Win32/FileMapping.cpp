#include "Platform/FileMapping.h"
#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

constexpr DWORD READ_CHUNK = 65536;

HANDLE AsHandle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}
std::intptr_t AsInteger(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

// Opens a file for reading while others may go on reading and writing it. Native paths are
// UTF-8 here, as the program's arguments and its own path come (Platform/Process.h).
HANDLE OpenForReading(const std::string& nativePath) {
  const std::optional<std::wstring> path = win32::SystemPathOfUtf8(nativePath);
  if (!path) {
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

} // namespace

MappedFile::Status MappedFile::Open(const std::string& nativePath, std::uint64_t maxSize) {
  Close();
  const HANDLE file = OpenForReading(nativePath);
  if (file == INVALID_HANDLE_VALUE) {
    return Status::CannotOpen;
  }
  file_ = AsInteger(file);
  // Only a file on disk holds a package; a device or a pipe has no size to map.
  LARGE_INTEGER length{};
  if (::GetFileType(file) != FILE_TYPE_DISK || ::GetFileSizeEx(file, &length) == 0 ||
      length.QuadPart < 0) {
    Close();
    return Status::CannotOpen;
  }
  const auto size = static_cast<std::uint64_t>(length.QuadPart);
  if (size == 0) {
    Close();
    return Status::Empty;
  }
  if (size > maxSize || size > static_cast<std::uint64_t>(SIZE_MAX)) {
    Close();
    return Status::TooLarge;
  }
  const HANDLE mapping = ::CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) {
    Close();
    return Status::CannotMap;
  }
  mapping_ = AsInteger(mapping);
  const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) {
    Close();
    return Status::CannotMap;
  }
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = size;
  return Status::Ok;
}

bool MappedFile::Close() {
  const bool wasOpen = file_ != NO_FILE;
  // View, mapping, file: each is released whatever became of the others.
  if (data_ != nullptr) {
    ::UnmapViewOfFile(data_);
  }
  if (mapping_ != 0) {
    ::CloseHandle(AsHandle(mapping_));
  }
  if (file_ != NO_FILE) {
    ::CloseHandle(AsHandle(file_));
  }
  data_ = nullptr;
  size_ = 0;
  file_ = NO_FILE;
  mapping_ = 0;
  return wasOpen;
}

std::optional<std::string> ReadWholeFile(const std::string& nativePath) {
  const win32::UniqueHandle file(OpenForReading(nativePath));
  if (!file.Valid()) {
    return std::nullopt;
  }
  std::string content;
  char buffer[READ_CHUNK];
  for (;;) {
    DWORD got = 0;
    if (::ReadFile(file.Get(), buffer, READ_CHUNK, &got, nullptr) == 0) {
      return std::nullopt;
    }
    if (got == 0) {
      return content;
    }
    content.append(buffer, got);
  }
}

} // namespace quillet::platform
