#include "Platform/UserRegistry.h"

#include "Platform/Ascii.h"

namespace quillet::platform {

namespace {

std::string_view TrimmedEntry(std::string_view entry) {
  while (!entry.empty() && (entry.front() == ' ' || entry.front() == '\t')) {
    entry.remove_prefix(1);
  }
  while (!entry.empty() && (entry.back() == ' ' || entry.back() == '\t')) {
    entry.remove_suffix(1);
  }
  if (!entry.empty() && entry.back() == '\\') {
    entry.remove_suffix(1);
  }
  return entry;
}

bool SameFolder(std::string_view a, std::string_view b) {
  return EqualIgnoringAsciiCase(TrimmedEntry(a), TrimmedEntry(b));
}

} // namespace

bool PathListHolds(std::string_view list, std::string_view folder) {
  while (true) {
    const std::size_t end = list.find(';');
    if (SameFolder(list.substr(0, end), folder)) {
      return true;
    }
    if (end == std::string_view::npos) {
      return false;
    }
    list.remove_prefix(end + 1);
  }
}

std::string PathListWith(std::string_view list, std::string_view folder) {
  std::string out(list);
  if (!out.empty() && out.back() != ';') {
    out += ';';
  }
  out += folder;
  return out;
}

} // namespace quillet::platform
