#include "Platform/UserRegistry.h"

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
  a = TrimmedEntry(a);
  b = TrimmedEntry(b);
  if (a.size() != b.size()) {
    return false;
  }
  auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) {
      return false;
    }
  }
  return true;
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
