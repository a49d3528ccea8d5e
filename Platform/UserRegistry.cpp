#include "Platform/UserRegistry.h"

#include <algorithm>
#include <vector>

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

// The folder after the list's entries: after a ";" unless the list is empty or ends with one.
PathListChange Appending(std::string_view list) {
  return PathListChange{list.size(), list.size(), true, !list.empty() && list.back() != ';'};
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
  return PathListChanged(list, Appending(list), folder);
}

std::optional<PathListChange> PlanPathListChange(std::string_view list, std::string_view folder,
                                                 std::string_view replacing,
                                                 std::string (*decode)(std::string_view)) {
  struct Entry {
    std::size_t begin;
    std::size_t end;
    bool replaced;
    bool isFolder;
  };
  std::vector<Entry> entries;
  for (std::size_t begin = 0;;) {
    const std::size_t end = std::min(list.find(';', begin), list.size());
    const std::string_view raw = list.substr(begin, end - begin);
    const std::string text = decode != nullptr ? decode(raw) : std::string(raw);
    entries.push_back(Entry{begin, end, !replacing.empty() && SameFolder(text, replacing),
                            !folder.empty() && SameFolder(text, folder)});
    if (end == list.size()) {
      break;
    }
    begin = end + 1;
  }
  const auto found = std::find_if(entries.begin(), entries.end(),
                                  [](const Entry& entry) { return entry.replaced; });
  const Entry* replaced = found != entries.end() ? &*found : nullptr;
  const bool held = std::any_of(entries.begin(), entries.end(), [&](const Entry& entry) {
    return entry.isFolder && &entry != replaced;
  });
  if (replaced == nullptr) {
    if (folder.empty() || held) {
      return std::nullopt;
    }
    return Appending(list);
  }
  if (replaced->isFolder) {
    return std::nullopt; // the entry names the folder already
  }
  if (!folder.empty() && !held) {
    return PathListChange{replaced->begin, replaced->end, true, false};
  }
  // Removed with one separator: the one after it, else the one before it.
  if (replaced->end < list.size()) {
    return PathListChange{replaced->begin, replaced->end + 1, false, false};
  }
  return PathListChange{replaced->begin - (replaced->begin > 0 ? 1 : 0), replaced->end, false,
                        false};
}

std::string PathListChanged(std::string_view list, const PathListChange& change,
                            std::string_view folder) {
  std::string out(list.substr(0, change.begin));
  if (change.separator) {
    out += ';';
  }
  if (change.putsFolder) {
    out += folder;
  }
  out += list.substr(change.end);
  return out;
}

UserListResult AddToUserLists(const std::vector<UserListTarget>& targets, std::string_view folder) {
  return ChangeUserLists(targets, folder, {});
}

} // namespace quillet::platform
