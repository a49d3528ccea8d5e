#include "Package/InstallRecord.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <span>

#include "Common/WindowsNames.h"
#include "Package/Contract.h"
#include "Package/DosDateTime.h"
#include "Platform/Ascii.h"

namespace quillet {

namespace {

constexpr std::string_view FIRST_LINE = "quillet-record\t1";
constexpr std::string_view LINE_END = "\r\n";
constexpr char FIELD_SEPARATOR = '\t';
// A byte order mark that an editor may put in front when the user saves the file.
constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

constexpr std::string_view NAME_LINE = "name";
constexpr std::string_view VERSION_LINE = "version";
constexpr std::string_view IDE_LINE = "ide";
constexpr std::string_view FOLDER_LINE = "folder";
constexpr std::string_view PREVIOUS_LINE = "previous";
constexpr std::string_view FILE_LINE = "file";
constexpr std::string_view CREATED_LINE = "created";
constexpr std::string_view LIBRARY_LINE = "library";
constexpr std::string_view REGISTERED_LINE = "registered";
// Versions before it pass the line over, as a kind they do not know, and leave the value.
constexpr std::string_view MADE_VALUE_LINE = "madevalue";
constexpr std::string_view END_LINE = "end";

constexpr std::size_t MAX_NAME = 64;
constexpr std::size_t MAX_VERSION = 32;

// ASCII letters and digits, and the punctuation given.
bool OfCharacters(std::string_view text, std::string_view punctuation) {
  return std::ranges::all_of(text, [punctuation](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           punctuation.find(c) != std::string_view::npos;
  });
}

// Full: a drive ("C:") or a separator at the start; anything else lies below the record's folder.
bool IsFullPath(std::string_view path) {
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return drive || path.starts_with('\\');
}

// One line: the kind, then each field after a tab. A tab or a line end inside a field would split
// it and could make another line of what follows, so they are written as "?", which no Windows
// path holds either: such a field names nothing rather than something else.
std::string Line(std::string_view kind, std::initializer_list<std::string_view> fields) {
  std::string line(kind);
  for (const std::string_view field : fields) {
    line += FIELD_SEPARATOR;
    for (const char c : field) {
      line += c == FIELD_SEPARATOR || c == '\r' || c == '\n' ? '?' : c;
    }
  }
  line += LINE_END;
  return line;
}

std::string TimeText(std::uint32_t dosDateTime) {
  const DosDateTimeFields f = DosFieldsOf(dosDateTime);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02u:%02u:%02u", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return text;
}

// The whole text as a number of type T in `base`: no sign, blank or prefix, no overflow.
template <typename T> std::optional<T> NumberOf(std::string_view text, int base) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc() || stop != end) {
    return std::nullopt;
  }
  return value;
}

// "YYYY-MM-DD HH:MM:SS" as TimeText writes it, with fields that pack.
std::optional<std::uint32_t> TimeOfText(std::string_view text) {
  constexpr std::string_view FORM = "0000-00-00 00:00:00";
  if (text.size() != FORM.size()) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < FORM.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (FORM[i] == '0' ? !digit : text[i] != FORM[i]) {
      return std::nullopt;
    }
  }
  const auto field = [text](std::size_t at, std::size_t size) {
    return *NumberOf<unsigned>(text.substr(at, size), 10);
  };
  return PackDosFields({static_cast<int>(field(0, 4)), field(5, 2), field(8, 2), field(11, 2),
                        field(14, 2), field(17, 2)});
}

// A file's fields after its kind: size, CRC, time, path. The path is full, or lies below the
// folder: a relative path that climbs out with ".." (a record edited by hand) is no file of it.
std::optional<RecordedFile> FileOfFields(std::span<const std::string_view> fields) {
  if (fields.size() != 4 || fields[1].size() != 8) {
    return std::nullopt;
  }
  const auto size = NumberOf<std::uint64_t>(fields[0], 10);
  const auto crc = NumberOf<std::uint32_t>(fields[1], 16);
  const auto time = TimeOfText(fields[2]);
  const std::string_view path = fields[3];
  // Macro marks doubled: the rule judges templates, and this path is literal text.
  const bool placed =
      IsFullPath(path) || (!path.empty() && NameStaysInFolder(EscapeMacroMarks(path)));
  if (!size || !crc || !time || !placed) {
    return std::nullopt;
  }
  return RecordedFile{std::string(path), *size, *crc, *time};
}

// Takes one line after the first into the record; a line that is not whole and right is passed
// over (false). The end line is not taken here.
bool ReadLine(InstallRecord& record, std::string_view line) {
  // No field holds a CR: the writer writes none, and a lone one would end the line for an editor.
  if (line.find('\r') != std::string_view::npos) {
    return false;
  }
  std::vector<std::string_view> fields;
  for (std::size_t tab; (tab = line.find(FIELD_SEPARATOR)) != std::string_view::npos;) {
    fields.push_back(line.substr(0, tab));
    line.remove_prefix(tab + 1);
  }
  fields.push_back(line);
  const std::string_view kind = fields.front();
  const std::span<const std::string_view> values = std::span(fields).subspan(1);
  const bool single = values.size() == 1;
  const std::string_view value = single ? values[0] : std::string_view();
  if (kind == NAME_LINE && single && IsPackageName(value)) {
    record.name = value;
  } else if (kind == VERSION_LINE && single && (value.empty() || IsPackageVersion(value))) {
    record.version = value;
  } else if (kind == IDE_LINE && single) {
    record.ide = value;
  } else if (kind == FOLDER_LINE && single && IsFullPath(value)) {
    record.folder = value;
  } else if (kind == PREVIOUS_LINE && single && (value.empty() || IsFullPath(value))) {
    record.previous = value;
  } else if (kind == FILE_LINE) {
    std::optional<RecordedFile> file = FileOfFields(values);
    if (!file) {
      return false;
    }
    record.files.push_back(std::move(*file));
  } else if (kind == CREATED_LINE && single && IsFullPath(value)) {
    record.createdFolders.emplace_back(value);
  } else if (kind == LIBRARY_LINE && values.size() == 3 && !values[0].empty() &&
             !values[2].empty()) {
    record.library.push_back(
        {std::string(values[0]), std::string(values[1]), std::string(values[2])});
  } else if (kind == REGISTERED_LINE && values.size() == 2 && !values[0].empty() &&
             !values[1].empty()) {
    record.registered.push_back({std::string(values[0]), std::string(values[1])});
  } else if (kind == MADE_VALUE_LINE && values.size() == 2 && !values[0].empty() &&
             !values[1].empty()) {
    record.madeValues.push_back({std::string(values[0]), std::string(values[1])});
  } else {
    // A kind that a later version writes names nothing that this one acts on; a known kind with
    // fields that are not right is a damaged line.
    for (const std::string_view known :
         {NAME_LINE, VERSION_LINE, IDE_LINE, FOLDER_LINE, PREVIOUS_LINE, CREATED_LINE, LIBRARY_LINE,
          REGISTERED_LINE, MADE_VALUE_LINE}) {
      if (kind == known) {
        return false;
      }
    }
  }
  return true;
}

} // namespace

bool IsPackageName(std::string_view name) {
  const auto endsWell = [](char c) { return c != ' ' && c != '.'; };
  return !name.empty() && name.size() <= MAX_NAME && OfCharacters(name, " .-_+") &&
         endsWell(name.front()) && endsWell(name.back()) &&
         HoldableName(std::string(name) + std::string(RECORD_EXTENSION));
}

bool IsPackageVersion(std::string_view version) {
  return !version.empty() && version.size() <= MAX_VERSION && OfCharacters(version, ".-+_");
}

std::string IdeFileTag(std::string_view ide) {
  // The last three keys ("Borland-Delphi-7.0", "Embarcadero-BDS-23.0"): the vendor, the product
  // and the version, which tell the IDE families' installations apart.
  std::size_t start = ide.size();
  for (int keys = 0; keys < 3 && start > 0; ++keys) {
    const std::size_t separator = ide.rfind('\\', start - 1);
    start = separator == std::string_view::npos ? 0 : separator;
  }
  std::string tag(ide.substr(start));
  while (!tag.empty() && tag.front() == '\\') {
    tag.erase(0, 1);
  }
  for (char& c : tag) {
    const bool kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '+' || c == '_';
    c = c == '\\' ? '-' : kept ? c : '_';
  }
  return tag.empty() ? std::string(NO_IDE_INDEX_VALUE) : tag;
}

std::string RecordFileName(std::string_view packageName, std::string_view ide) {
  return std::string(packageName) + "." + IdeFileTag(ide) + std::string(RECORD_EXTENSION);
}

std::string JournalFileName(std::string_view packageName, std::string_view ide) {
  return std::string(packageName) + "." + IdeFileTag(ide) + std::string(JOURNAL_EXTENSION);
}

std::string RecordHeaderText(const InstallRecord& record) {
  std::string text(FIRST_LINE);
  text += LINE_END;
  text += Line(NAME_LINE, {record.name});
  // The optional fields only when set: a reader takes a missing line as empty.
  const auto optional = [&text](std::string_view kind, const std::string& value) {
    if (!value.empty()) {
      text += Line(kind, {value});
    }
  };
  optional(VERSION_LINE, record.version);
  optional(IDE_LINE, record.ide);
  text += Line(FOLDER_LINE, {record.folder});
  optional(PREVIOUS_LINE, record.previous);
  return text;
}

std::string RecordFileLine(const RecordedFile& file) {
  char crc[16];
  std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(file.crc));
  return Line(FILE_LINE, {std::to_string(file.size), crc, TimeText(file.dosDateTime), file.path});
}

std::string RecordCreatedLine(std::string_view folder) {
  return Line(CREATED_LINE, {folder});
}

std::string RecordLibraryLine(const RecordedLibraryEntry& entry) {
  return Line(LIBRARY_LINE, {entry.key, entry.value, entry.folder});
}

std::string RecordRegisteredLine(const RecordedValue& value) {
  return Line(REGISTERED_LINE, {value.key, value.name});
}

std::string RecordMadeValueLine(const RecordedValue& value) {
  return Line(MADE_VALUE_LINE, {value.key, value.name});
}

std::string RecordText(const InstallRecord& record) {
  std::string text = RecordHeaderText(record);
  for (const RecordedFile& file : record.files) {
    text += RecordFileLine(file);
  }
  for (const std::string& folder : record.createdFolders) {
    text += RecordCreatedLine(folder);
  }
  for (const RecordedLibraryEntry& entry : record.library) {
    text += RecordLibraryLine(entry);
  }
  for (const RecordedValue& value : record.madeValues) {
    text += RecordMadeValueLine(value);
  }
  std::size_t lines = 0;
  for (const RecordedValue& value : record.registered) {
    text += RecordRegisteredLine(value);
  }
  for (const char c : text) {
    lines += c == '\n' ? 1 : 0;
  }
  // The first line is not counted: the end line counts what a reader takes.
  text += Line(END_LINE, {std::to_string(lines - 1)});
  return text;
}

std::optional<InstallRecord> RecordOfText(std::string_view text, RecordReading* reading) {
  if (text.starts_with(UTF8_BOM)) {
    text.remove_prefix(UTF8_BOM.size());
  }
  InstallRecord record;
  RecordReading read;
  read.linesTaken = true;
  bool first = true;
  std::size_t lines = 0; // after the first
  // Whole lines only: what follows the last line end is a line cut short, and is dropped.
  for (std::size_t end; (end = text.find('\n')) != std::string_view::npos;) {
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (line.ends_with('\r')) {
      line.remove_suffix(1);
    }
    if (first) {
      if (line != FIRST_LINE) {
        return std::nullopt;
      }
      first = false;
      continue;
    }
    // Nothing follows a record's end line.
    if (read.ended) {
      read.ended = false;
      read.linesTaken = false;
    }
    const std::string_view endKind = END_LINE;
    if (line.size() > endKind.size() && line.starts_with(endKind) &&
        line[endKind.size()] == FIELD_SEPARATOR) {
      read.ended = NumberOf<std::size_t>(line.substr(endKind.size() + 1), 10) == lines;
      read.linesTaken = read.linesTaken && read.ended;
    } else if (!ReadLine(record, line)) {
      read.linesTaken = false;
    }
    ++lines;
  }
  read.endsLine = text.empty();
  if (record.name.empty()) {
    return std::nullopt;
  }
  if (reading != nullptr) {
    *reading = read;
  }
  return record;
}

std::string RecordedFilePath(const InstallRecord& record, const RecordedFile& file) {
  if (IsFullPath(file.path)) {
    return file.path;
  }
  std::string path = record.folder;
  if (!path.empty() && path.back() != '\\') {
    path += '\\';
  }
  return path + file.path;
}

// Windows paths ignore ASCII letter case, and "/" is a separator too.
std::string PathKey(std::string_view path) {
  std::string key(path);
  for (char& c : key) {
    c = c == '/' ? '\\' : platform::AsciiLower(c);
  }
  return key;
}

std::string NameKey(std::string_view name) {
  return platform::AsciiLowerText(name);
}

std::string FolderKey(std::string_view folder) {
  while (!folder.empty() && (folder.front() == ' ' || folder.front() == '\t')) {
    folder.remove_prefix(1);
  }
  while (!folder.empty() && (folder.back() == ' ' || folder.back() == '\t')) {
    folder.remove_suffix(1);
  }
  if (!folder.empty() && folder.back() == '\\') {
    folder.remove_suffix(1);
  }
  return PathKey(folder);
}

std::string FileKey(const InstallRecord& record, const RecordedFile& file) {
  return PathKey(RecordedFilePath(record, file));
}

// A tab joins the parts: no key, value name or path of the IDEs holds one.
std::string ValueKey(std::string_view key, std::string_view name) {
  return NameKey(key) + '\t' + NameKey(name);
}

std::string ValueKey(const RecordedValue& value) {
  return ValueKey(value.key, value.name);
}

std::string EntryKey(const RecordedLibraryEntry& entry) {
  return ValueKey(entry.key, entry.value) + '\t' + FolderKey(entry.folder);
}

} // namespace quillet
