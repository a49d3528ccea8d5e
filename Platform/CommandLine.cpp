#include "Platform/CommandLine.h"

namespace quillet::platform {

namespace {

bool IsSeparator(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view line) {
  // A NUL ends the line, as it ends the string the system reports.
  if (const auto nul = line.find('\0'); nul != std::string_view::npos) {
    line = line.substr(0, nul);
  }
  std::vector<std::string> tokens;
  std::size_t pos = 0;
  for (;;) {
    // Skip separators, and empty quote pairs together with the separators after them.
    for (;;) {
      while (pos < line.size() && IsSeparator(line[pos])) {
        ++pos;
      }
      if (pos + 1 < line.size() && line[pos] == '"' && line[pos + 1] == '"') {
        pos += 2;
        continue;
      }
      break;
    }
    std::string token;
    while (pos < line.size() && !IsSeparator(line[pos])) {
      if (line[pos] == '"') {
        const std::size_t close = line.find('"', pos + 1);
        const std::size_t end = close == std::string_view::npos ? line.size() : close;
        token.append(line.substr(pos + 1, end - pos - 1));
        pos = close == std::string_view::npos ? line.size() : close + 1;
      } else {
        token.push_back(line[pos++]);
      }
    }
    if (token.empty()) {
      return tokens;
    }
    tokens.push_back(std::move(token));
  }
}

} // namespace quillet::platform
