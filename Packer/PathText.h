// The packer's texts are UTF-8, paths included; std::filesystem takes and gives a narrow string in
// the system's ANSI code page on Windows, which would lose the characters that code page lacks.
// These two convert through char8_t instead: the same bytes on POSIX, the whole name on Windows.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillet::packer {

inline std::filesystem::path PathOfText(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string TextOfPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

} // namespace quillet::packer
