// The parts of MappedFile that are the same on every platform: moving and destroying. Opening and
// closing live in the platform folders.
#include <utility>

#include "Platform/FileMapping.h"

namespace quillet::platform {

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      file_(std::exchange(other.file_, NO_FILE)), mapping_(std::exchange(other.mapping_, 0)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    file_ = std::exchange(other.file_, NO_FILE);
    mapping_ = std::exchange(other.mapping_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() {
  Close();
}

} // namespace quillet::platform
