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

std::string QuoteWindowsArgument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes are literal unless a quote follows them.
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, '\\');
  quoted.push_back('"');
  return quoted;
}

std::string WindowsCommandLine(std::string_view program,
                               const std::vector<std::string>& arguments) {
  std::string line = "\"";
  line.append(program).append("\"");
  for (const std::string& argument : arguments) {
    line.append(" ").append(QuoteWindowsArgument(argument));
  }
  return line;
}

} // namespace quillet::platform
