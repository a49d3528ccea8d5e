// The install record: what one turn of the installer put on disk and into the IDE's settings for
// one package and one IDE installation, kept as a small text file in the turn's folder so that a
// later run can upgrade (remove what the new version no longer installs) or remove the package.
//
// The text is UTF-8 with CR LF line ends, one item per line, fields separated by tabs (a character
// that no Windows path, registry key or value name of the IDEs holds):
//
// clang-format off
//   quillet-record	1
//   name	Widgets
//   version	2.1
//   ide	Software\Embarcadero\BDS\23.0
//   folder	C:\Lib\Widgets\                                   (ends in a backslash)
//   previous	D:\Old\Widgets\                                  (journal only)
//   file	1234	89abcdef	2024-03-01 12:00:00	Source\Widgets.pas
//   created	C:\Lib\Widgets\Source
//   library	Software\Embarcadero\BDS\23.0\Library\Win32	Search Path	C:\Lib\Widgets\Source
//   madevalue	Software\Embarcadero\BDS\23.0\Library\Win32	Browsing Path
//   registered	Software\Embarcadero\BDS\23.0\Known Packages	C:\...\Bpl\WidgetsD290.bpl
//   end	8                                                   (the count of lines above it but the first)
// clang-format on
//
// The end line tells a record cut short at a line end from a whole one. A journal has the same
// form without it. It is begun before a turn writes its first file and gets one line
// per file and folder as soon as it is on disk, so that a run killed at any moment leaves a list
// of what it wrote; a turn that ends well folds it into the record and removes it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

// The extensions of the two files; the packer refuses to pack a file that ends in either, so that
// no library file has their names.
inline constexpr std::string_view RECORD_EXTENSION = ".quillet-record";
inline constexpr std::string_view JOURNAL_EXTENSION = ".quillet-journal";

// The per-user index of records: one key per package below this one, one value per IDE
// installation (named by its version key, or NO_IDE_INDEX_VALUE for a turn without an IDE),
// whose text is the folder that holds the record.
inline constexpr std::string_view RECORD_INDEX_KEY = "Software\\Quillet\\Installed";
inline constexpr std::string_view NO_IDE_INDEX_VALUE = "none";

struct RecordedFile {
  // Windows-style, relative to the record's folder when the file lies below it, else full.
  std::string path;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;         // standard CRC-32 of the content as written
  std::uint32_t dosDateTime = 0; // the stored time: MS-DOS date (high word) and time (low word)
};

// One folder that a turn added to one list value of the IDE's settings.
struct RecordedLibraryEntry {
  std::string key;    // below HKEY_CURRENT_USER
  std::string value;  // the list value's name ("Search Path")
  std::string folder; // as added, Windows-style
};

// One value that a turn set in the IDE's settings and owns whole: a design-time package registered
// under "Known Packages", named by its .bpl file.
struct RecordedValue {
  std::string key;  // below HKEY_CURRENT_USER
  std::string name; // the value's name
};

struct InstallRecord {
  std::string name;    // the package's name (its manifest's "name")
  std::string version; // empty when the package has none
  // The IDE installation's version key below HKEY_CURRENT_USER ("Software\Embarcadero\BDS\23.0");
  // empty for a turn without an IDE.
  std::string ide;
  std::string folder;   // the turn's folder, Windows-style, ending in "\"
  std::string previous; // journal: the folder of the record that the turn replaces; else empty
  std::vector<RecordedFile> files;
  std::vector<std::string> createdFolders; // full Windows-style paths, outermost first
  std::vector<RecordedLibraryEntry> library;
  std::vector<RecordedValue> registered;
  // The list values that were not there until a library entry of the turn made them: removal
  // deletes such a value once it holds nothing more, rather than leave it empty. A record
  // without them (an earlier version's) tells nothing, and its values stay.
  std::vector<RecordedValue> madeValues;
};

// Whether a text may name a package: 1 to 64 characters of ASCII letters, digits, " ", ".", "-",
// "_" and "+", neither beginning nor ending with a blank or a dot. It becomes part of file names
// and of a registry key, so a name that makes the record's file name one that Windows reserves
// ("CON", HoldableName) is refused too.
bool IsPackageName(std::string_view name);

// Whether a text may be a package's version: 1 to 32 characters of ASCII letters, digits, ".",
// "-", "+" and "_"; shown and recorded as it is.
bool IsPackageVersion(std::string_view version);

// The names of a package's record and journal for one IDE installation (its index value):
// "NAME.TAG.quillet-record", TAG made of the version key's last three keys with "-" between them
// ("Widgets.Embarcadero-BDS-23.0.quillet-record"), so that turns of several installations into
// one folder keep a record each; "none" for a turn without an IDE.
std::string IdeFileTag(std::string_view ide);
std::string RecordFileName(std::string_view packageName, std::string_view ide);
std::string JournalFileName(std::string_view packageName, std::string_view ide);

// The whole text of a record: its header lines (name, version, ide, folder, previous when set),
// then its files, created folders, library entries and registered values, and its end line.
std::string RecordText(const InstallRecord& record);
// The header lines alone, which begin a journal.
std::string RecordHeaderText(const InstallRecord& record);
// One line each, as a journal appends them.
std::string RecordFileLine(const RecordedFile& file);
std::string RecordCreatedLine(std::string_view folder);
std::string RecordLibraryLine(const RecordedLibraryEntry& entry);
std::string RecordRegisteredLine(const RecordedValue& value);
std::string RecordMadeValueLine(const RecordedValue& value);

// How whole a text that RecordOfText read was.
struct RecordReading {
  bool linesTaken = false; // every line that ends with a line end was taken whole
  bool endsLine = false;   // the text ends with a line end: no line was cut short
  bool ended = false;      // its last line is a record's end line, and its count is right
  // A record as the installer writes it; a journal may lack the end line and be cut short.
  bool WholeRecord() const { return linesTaken && endsLine && ended; }
};

// Reads a record or journal. Nullopt when the text does not begin with the record's first line or
// has no name. A last line without its line end (a journal cut short by a kill) and lines of kinds
// this version does not know are passed over, and so is a line whose fields are not all there and
// right (a number that is none, a folder that is not full, a relative file path that climbs out of
// the folder): a line is taken whole or not at all. A line may end in LF alone.
// `reading`, when given, tells whether anything was passed over.
std::optional<InstallRecord> RecordOfText(std::string_view text, RecordReading* reading = nullptr);

// The full path of a recorded file: its path when full, else the record's folder and its path.
std::string RecordedFilePath(const InstallRecord& record, const RecordedFile& file);

// What makes two recorded items the same, the one rule for every comparison of what records list.
// Each gives a text that is equal for the same item, for sets and maps as well as for tests.
//
// A path as records compare them: ASCII letter case folded, "/" taken as "\".
std::string PathKey(std::string_view path);
// A registry key or value name as the registry compares them: ASCII letter case folded.
std::string NameKey(std::string_view name);
// A folder as a list value's entries compare: blanks around it and one final "\" dropped, as
// platform::PathListHolds does, then as PathKey.
std::string FolderKey(std::string_view folder);
// A recorded file: its full path, as PathKey.
std::string FileKey(const InstallRecord& record, const RecordedFile& file);
// A list value (key and value name), and a value set whole (key and value name).
std::string ValueKey(std::string_view key, std::string_view name);
std::string ValueKey(const RecordedValue& value);
// A library entry: its list value and its folder.
std::string EntryKey(const RecordedLibraryEntry& entry);

inline bool SameValue(const RecordedValue& a, const RecordedValue& b) {
  return ValueKey(a) == ValueKey(b);
}
inline bool SameEntry(const RecordedLibraryEntry& a, const RecordedLibraryEntry& b) {
  return EntryKey(a) == EntryKey(b);
}
// Whether a library entry lies in the list value `name` of `key`.
inline bool InValue(const RecordedLibraryEntry& entry, std::string_view key,
                    std::string_view name) {
  return ValueKey(entry.key, entry.value) == ValueKey(key, name);
}

} // namespace quillet
