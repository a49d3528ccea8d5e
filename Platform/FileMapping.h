// Read-only file mapping and whole-file reads, for native paths: the bytes of the name on POSIX,
// UTF-8 on Windows (as ProgramArguments and OwnProgramPath give them).
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/FileMapping.cpp and Platform/Win32/FileMapping.cpp.
// No OS type appears in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quillet::platform {

class MappedFile {
public:
  enum class Status { Ok, CannotOpen, Empty, TooLarge, CannotMap };

  MappedFile() = default;
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  // Opens the file for reading (others may read and write it meanwhile) and maps all of it.
  // Files larger than `maxSize` bytes are refused with TooLarge before anything is mapped.
  Status Open(const std::string& nativePath, std::uint64_t maxSize);
  // Unmaps and closes; gives true when something was open.
  bool Close();

  bool IsOpen() const { return data_ != nullptr; }
  const std::uint8_t* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }

private:
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
  // No file: -1 is both an invalid descriptor and INVALID_HANDLE_VALUE.
  static constexpr std::intptr_t NO_FILE = -1;
  std::intptr_t file_ = NO_FILE; // OS file handle or descriptor
  std::intptr_t mapping_ = 0;    // OS mapping handle, where the OS has one
};

// Whole-file helpers for native paths, used by tools and tests.
std::optional<std::string> ReadWholeFile(const std::string& nativePath);

} // namespace quillet::platform
