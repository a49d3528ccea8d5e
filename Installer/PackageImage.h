// Read-only mapping of a whole file, as the package is held for the run.
#pragma once

#include <string>

#include "Platform/FileMapping.h"

namespace quillet {

// The open package file: the file, its mapping, its size and the view, released together.
using PackageImage = platform::MappedFile;

// True when the file is open, mapped and measured. Files of 4 GiB or more are not mapped: their
// size does not fit the package format's 32-bit counts.
inline bool MapFileReadOnly(const std::string& nativePath, PackageImage& image) {
  return image.Open(nativePath, 0xFFFFFFFFull) == platform::MappedFile::Status::Ok;
}

} // namespace quillet
