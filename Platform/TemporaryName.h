// The names of the installer's temporary files, one shape on every platform: ".quillet-", the
// process id in 8 hexadecimal digits, "-", a 64-bit random number in 16, ".tmp", all in lower
// case (".quillet-0000abcd-0123456789abcdef.tmp"). Nobody types such a name, so the removal of
// files that a killed installer left (FolderLock::RemoveStaleFiles) takes no file of the user's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::platform {

inline constexpr std::string_view TEMPORARY_PREFIX = ".quillet-";
inline constexpr std::string_view TEMPORARY_SUFFIX = ".tmp";
inline constexpr std::size_t TEMPORARY_PROCESS_DIGITS = 8;
inline constexpr std::size_t TEMPORARY_RANDOM_DIGITS = 16;

// A new name for a temporary file of the process `processId`, with a new random number each time.
std::string TemporaryName(std::uint32_t processId);

// The process id in a name of exactly that shape; nullopt for any other name. For the narrow
// names of POSIX and the wide ones of Windows alike: the shape is ASCII.
template <typename Char>
constexpr std::optional<std::uint32_t> ProcessOfTemporaryName(std::basic_string_view<Char> name) {
  constexpr std::size_t LENGTH = TEMPORARY_PREFIX.size() + TEMPORARY_PROCESS_DIGITS + 1 +
                                 TEMPORARY_RANDOM_DIGITS + TEMPORARY_SUFFIX.size();
  if (name.size() != LENGTH) {
    return std::nullopt;
  }
  const auto matches = [&name](std::size_t at, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (name[at + i] != static_cast<Char>(text[i])) {
        return false;
      }
    }
    return true;
  };
  const std::size_t dash = TEMPORARY_PREFIX.size() + TEMPORARY_PROCESS_DIGITS;
  if (!matches(0, TEMPORARY_PREFIX) || !matches(dash, "-") ||
      !matches(LENGTH - TEMPORARY_SUFFIX.size(), TEMPORARY_SUFFIX)) {
    return std::nullopt;
  }
  std::uint32_t process = 0;
  for (std::size_t i = TEMPORARY_PREFIX.size(); i < LENGTH - TEMPORARY_SUFFIX.size(); ++i) {
    const Char c = name[i];
    const bool digit = c >= Char('0') && c <= Char('9');
    if (i == dash) {
      continue;
    }
    if (!digit && !(c >= Char('a') && c <= Char('f'))) {
      return std::nullopt;
    }
    if (i < dash) {
      process =
          process * 16 + static_cast<std::uint32_t>(digit ? c - Char('0') : c - Char('a') + 10);
    }
  }
  return process;
}

} // namespace quillet::platform
