// The download address that the absent-package message names. It lives in a reserved field of the
// program file, so that a package author can set it when making an installer (quillet-pack attach
// --download-url) without building the installer: the field is DOWNLOAD_ADDRESS_MARKER followed by
// DOWNLOAD_ADDRESS_CAPACITY + 1 bytes that hold the address, NUL-terminated. It holds
// DOWNLOAD_ADDRESS until an author writes another.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillet {

inline constexpr std::string_view DOWNLOAD_ADDRESS_MARKER = "<QuilletDownloadAddress>";
inline constexpr std::size_t DOWNLOAD_ADDRESS_CAPACITY = 255; // bytes, the NUL not counted

// The address in this program's field.
std::string DownloadAddress();

// The address in a field's bytes after the marker: up to the first NUL, at most the capacity.
std::string DownloadAddressFromField(const volatile char* bytes);

} // namespace quillet
