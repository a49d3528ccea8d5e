// A path split at its last separator, for both platforms and every layer above them. The split
// looks at single bytes only: it suits native POSIX paths and UTF-8 text, in which no byte of a
// multi-byte character is a separator.
#pragma once

#include <string_view>

namespace quillet::platform {

struct PathParts {
  std::string_view folder; // through the last separator, that separator included; may be empty
  std::string_view name;   // what follows it; the whole path when there is no separator
};

constexpr PathParts SplitAtLastSeparator(std::string_view path, std::string_view separators) {
  const std::size_t at = path.find_last_of(separators);
  if (at == std::string_view::npos) {
    return {{}, path};
  }
  return {path.substr(0, at + 1), path.substr(at + 1)};
}

} // namespace quillet::platform
