// Removal of what an earlier installation of a package left, as its records list it: its files
// (those still as installed), its folders, its record files, its library entries and the list
// values it made, its registered packages and its entries on the IDE's PATH. The upgrade's
// clean-up (TurnRecorder::Complete), the package builds, the library paths and --uninstall all
// remove through here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "Installer/Console.h"
#include "Installer/RecordStore.h"
#include "Package/IdeInstallation.h"
#include "Package/InstallRecord.h"
#include "Platform/UserRegistry.h"

namespace quillet {

// What removing an earlier installation's files came to.
struct RemovalCount {
  std::size_t files = 0;
  std::size_t kept = 0;   // files the user changed, kept on purpose
  std::size_t failed = 0; // what could not be removed (each said on its line)
};

// Removes the files an earlier installation installed whose content (size and CRC-32) is still
// what was installed (a line for each one kept because it changed, or not removed), except `keep`
// (FileKey forms of the files a newer turn installed). Folders and settings are not touched here.
RemovalCount RemoveEarlierFiles(const EarlierInstallation& earlier,
                                const std::vector<std::string>& keep, Console& console);

// Removes the folders the earlier installation made that are empty now, deepest first, except
// `keepFolder` and the folders above it. Gives how many went.
std::size_t RemoveEarlierFolders(const EarlierInstallation& earlier, std::string_view keepFolder);

// Removes the earlier installation's records and journals (except those in `keepFolder`), and
// the damaged ones too when `damaged` is set (--uninstall --force).
void RemoveRecordFiles(const EarlierInstallation& earlier, std::string_view keepFolder,
                       bool damaged = false);

// Takes a folder off a list value: the library's, or the IDE's PATH ("Environment
// Variables\PATH"), where a PATH left naming nothing but the system's ("$(PATH)") goes whole, as
// it was before the installer made it.
platform::UserListResult RemoveListEntry(const RecordedLibraryEntry& entry);

// Deletes a list value that the installer made (the record's "madevalue") once removing entries
// left it with none: nothing but blanks and separators. Gives what the deletion came to: Present
// when the value is gone already or still holds an entry, and then it stays.
platform::UserListResult RemoveValueLeftEmpty(std::string_view key, std::string_view value);

// Each library entry and each registered value of the parts once.
std::vector<RecordedLibraryEntry> LibraryEntries(const EarlierInstallation& earlier);
std::vector<RecordedValue> RegisteredValues(const EarlierInstallation& earlier);
// Each list value that a part says it made once, when one of `library` lies in it: an entry is
// what the record's trust lets removal act on, and a value without one is not the
// installation's to delete.
std::vector<RecordedValue> MadeValues(const EarlierInstallation& earlier,
                                      const std::vector<RecordedLibraryEntry>& library);

// What an installation's records list, each once over all its parts: what --uninstall shows
// before it asks, and accounts for after.
struct RemovalList {
  std::unordered_set<std::string> files;   // FileKey forms
  std::vector<std::string> folderPaths;    // the folders made, each with its final separator
  std::unordered_set<std::string> folders; // their PathKey forms
  std::vector<RecordedLibraryEntry> library;
  std::vector<RecordedValue> registered;
  std::string folder; // the newest part's, or the first damaged record's
};
RemovalList ListRemoval(const EarlierInstallation& earlier);

// Removes the indexed folders that are empty and that `list` does not name: a turn killed
// between making its folder and beginning its journal left one. Gives how many went.
std::size_t RemoveEmptyIndexedFolders(const std::vector<IndexedFolder>& indexed,
                                      const RemovalList& list);

// What removing an installation's settings came to.
struct SettingsRemoval {
  std::size_t entries = 0;  // library-path entries taken off
  std::size_t packages = 0; // registered packages removed
  std::size_t failed = 0;   // what could not be removed (each said on its line)
};

// Removes the library entries, then the values among `made` that they leave empty, then the
// registered packages: --uninstall's removal of an installation's settings.
SettingsRemoval RemoveSettings(const std::vector<RecordedLibraryEntry>& library,
                               const std::vector<RecordedValue>& made,
                               const std::vector<RecordedValue>& registered, Console& console);

// What of an earlier installation's package builds a turn's builds left in the settings.
struct BuildSettingsLeft {
  std::vector<RecordedValue> registered;         // still registered: still the installation's
  std::vector<RecordedLibraryEntry> pathEntries; // still on the IDE's PATH
  bool allRemoved = true;
};

// After a turn's package builds: removes the earlier installation's registered packages that
// `registered` (what the turn registered) does not hold, and its entries on the IDE's PATH
// (`environment`, the IDE's "Environment Variables" key) that `pathFolders` does not, a line
// each. With `keep` (a package of the turn was not built), nothing goes and all of them are left.
BuildSettingsLeft RemoveEarlierBuildSettings(const EarlierInstallation& earlier,
                                             const IdeInstallation& installation,
                                             const std::vector<RecordedValue>& registered,
                                             const std::vector<std::string>& pathFolders, bool keep,
                                             Console& console);

} // namespace quillet
