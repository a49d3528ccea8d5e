// libFuzzer target: any bytes as an install record or a journal. A record that reads back must be
// one the writer writes again to a text that reads back the same; every file path it holds is
// relative without climbing out or full; and a journal cut at any byte reads as the lines before
// the cut, each taken whole or not at all.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "Package/InstallRecord.h"

// Found by the standard algorithms, so beside the types.
namespace quillet {

bool operator==(const RecordedFile& a, const RecordedFile& b) {
  return a.path == b.path && a.size == b.size && a.crc == b.crc && a.dosDateTime == b.dosDateTime;
}
bool operator==(const RecordedLibraryEntry& a, const RecordedLibraryEntry& b) {
  return a.key == b.key && a.value == b.value && a.folder == b.folder;
}
bool operator==(const RecordedValue& a, const RecordedValue& b) {
  return a.key == b.key && a.name == b.name;
}
} // namespace quillet

namespace {

using namespace quillet;

bool Same(const InstallRecord& a, const InstallRecord& b) {
  return a.name == b.name && a.version == b.version && a.ide == b.ide && a.folder == b.folder &&
         a.previous == b.previous && a.files == b.files && a.createdFolders == b.createdFolders &&
         a.library == b.library && a.registered == b.registered;
}

template <typename T> bool IsPrefix(const std::vector<T>& part, const std::vector<T>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

void Check(bool holds) {
  if (!holds) {
    __builtin_trap();
  }
}

bool IsFull(std::string_view path) {
  const bool drive =
      path.size() >= 2 && path[1] == ':' && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
  return drive || path.starts_with('\\');
}

// Judged here on its own, without the reader's rule: a relative path has no component that
// Windows takes for the parent folder ("..", and ".." followed by dots or blanks, which Windows
// drops), and no root at its start (a drive makes it full).
bool StaysBelow(std::string_view path) {
  if (path.empty() || path.starts_with('/')) {
    return false;
  }
  while (true) {
    const std::size_t separator = path.find_first_of("\\/");
    std::string_view part = path.substr(0, separator);
    while (!part.empty() && (part.back() == ' ' || part.back() == '.')) {
      part.remove_suffix(1);
    }
    const bool dotsOnly = part.empty() && path.substr(0, separator).find("..") == 0;
    if (dotsOnly) {
      return false;
    }
    if (separator == std::string_view::npos) {
      return true;
    }
    path.remove_prefix(separator + 1);
  }
}

bool HoldsNoSeparator(std::string_view field) {
  return field.find_first_of("\t\r\n") == std::string_view::npos;
}

void CheckFields(const InstallRecord& record) {
  Check(IsPackageName(record.name));
  Check(record.version.empty() || IsPackageVersion(record.version));
  Check(record.folder.empty() || IsFull(record.folder));
  Check(record.previous.empty() || IsFull(record.previous));
  Check(HoldsNoSeparator(record.ide));
  for (const RecordedFile& file : record.files) {
    Check(HoldsNoSeparator(file.path));
    Check(IsFull(file.path) || StaysBelow(file.path));
  }
  for (const std::string& folder : record.createdFolders) {
    Check(IsFull(folder) && HoldsNoSeparator(folder));
  }
  for (const RecordedLibraryEntry& entry : record.library) {
    Check(!entry.key.empty() && !entry.folder.empty());
    Check(HoldsNoSeparator(entry.key + entry.value + entry.folder));
  }
  for (const RecordedValue& value : record.registered) {
    Check(!value.key.empty() && !value.name.empty() && HoldsNoSeparator(value.key + value.name));
  }
}

// The whole text of a record cut at `cut`: nothing, or the header and a prefix of each list.
void CheckCut(const InstallRecord& whole, std::string_view text, std::size_t cut) {
  const auto part = RecordOfText(text.substr(0, cut));
  // What a cut keeps: the lines before its last line end, read as they are.
  const std::size_t lineEnd = text.substr(0, cut).rfind('\n');
  const auto lines =
      RecordOfText(text.substr(0, lineEnd == std::string_view::npos ? 0 : lineEnd + 1));
  Check(part.has_value() == lines.has_value());
  if (!part) {
    return;
  }
  Check(Same(*part, *lines));
  Check(part->name == whole.name);
  const auto headerField = [](const std::string& field, const std::string& full) {
    return field.empty() || field == full;
  };
  Check(headerField(part->version, whole.version) && headerField(part->ide, whole.ide) &&
        headerField(part->folder, whole.folder) && headerField(part->previous, whole.previous));
  Check(IsPrefix(part->files, whole.files) &&
        IsPrefix(part->createdFolders, whole.createdFolders) &&
        IsPrefix(part->library, whole.library) && IsPrefix(part->registered, whole.registered));
  // The lists are written in order, so a later list begins only once an earlier one is whole.
  Check(part->createdFolders.empty() || part->files.size() == whole.files.size());
  Check(part->library.empty() || part->createdFolders.size() == whole.createdFolders.size());
  Check(part->registered.empty() || part->library.size() == whole.library.size());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto record = RecordOfText(input);
  if (!record) {
    return 0;
  }
  CheckFields(*record);

  // Round trip: written again, it reads back equal, and writing that gives the same text.
  const std::string text = RecordText(*record);
  const auto again = RecordOfText(text);
  Check(again && Same(*record, *again));
  Check(RecordText(*again) == text);
  // The journal's pieces make the same text as the whole.
  std::string journal = RecordHeaderText(*record);
  for (const RecordedFile& file : record->files) {
    journal += RecordFileLine(file);
  }
  for (const std::string& folder : record->createdFolders) {
    journal += RecordCreatedLine(folder);
  }
  for (const RecordedLibraryEntry& entry : record->library) {
    journal += RecordLibraryLine(entry);
  }
  for (const RecordedValue& value : record->registered) {
    journal += RecordRegisteredLine(value);
  }
  // The record is the journal's lines and its end line, which tells the whole from a cut one.
  Check(text.starts_with(journal) && text.substr(journal.size()).starts_with("end\t"));
  RecordReading reading;
  Check(RecordOfText(text, &reading) && reading.ended && reading.endsLine);
  Check(RecordOfText(journal, &reading) && !reading.ended);
  // A kill may cut it at any byte: a short text at every one, a long one at about 64 bytes
  // spread evenly, and around its line ends (about 32 of them, spread evenly), so that each run
  // stays quick enough for the fuzzer.
  const std::size_t step = std::max<std::size_t>(1, text.size() / 64);
  for (std::size_t cut = 0; cut <= text.size(); cut += step) {
    CheckCut(*record, text, cut);
  }
  std::vector<std::size_t> ends;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       end = text.find('\n', end + 1)) {
    ends.push_back(end);
  }
  const std::size_t stride = std::max<std::size_t>(1, ends.size() / 32);
  for (std::size_t i = 0; i < ends.size(); i += stride) {
    CheckCut(*record, text, ends[i]);
    CheckCut(*record, text, ends[i] + 1);
  }
  // The input itself cut short: what it keeps is read from its whole lines alone.
  const std::size_t inputEnd = input.rfind('\n');
  const auto kept = RecordOfText(std::string_view(input).substr(0, inputEnd + 1));
  Check(kept && Same(*kept, *record));
  return 0;
}
