#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Platform/FileMapping.h"

namespace quillet::platform {

MappedFile::Status MappedFile::Open(const std::string& nativePath, std::uint64_t maxSize) {
  Close();
  // O_NONBLOCK: opening a FIFO must not wait for a writer; regular files ignore the flag.
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return Status::CannotOpen;
  }
  file_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Close();
    return Status::CannotOpen;
  }
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (size == 0) {
    Close();
    return Status::Empty;
  }
  if (size > maxSize) {
    Close();
    return Status::TooLarge;
  }
  void* view = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (view == MAP_FAILED) {
    Close();
    return Status::CannotMap;
  }
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = size;
  return Status::Ok;
}

bool MappedFile::Close() {
  const bool wasOpen = file_ >= 0;
  if (data_ != nullptr) {
    ::munmap(const_cast<std::uint8_t*>(data_), size_);
  }
  if (file_ >= 0) {
    ::close(static_cast<int>(file_));
  }
  data_ = nullptr;
  size_ = 0;
  file_ = NO_FILE;
  mapping_ = 0;
  return wasOpen;
}

std::optional<std::string> ReadWholeFile(const std::string& nativePath) {
  const int fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt; // a FIFO or a device could block or never end
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) {
      break;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

} // namespace quillet::platform
