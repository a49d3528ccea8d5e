// What the installer remembers of a package it installed for one IDE installation (its install
// record, Package/InstallRecord.h), and what it does with it: the journal of a turn as its files
// arrive, the clean-up of an upgrade once every entry arrived, and removal.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/RecordTrust.h"
#include "Package/InstallRecord.h"
#include "Package/PackageOptions.h"
#include "Platform/FileSystem.h"

namespace quillet {

// The keys of the index above a package's ("Software\Quillet\Installed", "Software\Quillet"),
// which go with the last package's.
inline constexpr std::size_t INDEX_PARENTS = 2;

// The registry key below HKEY_CURRENT_USER that indexes a package's records.
std::string RecordIndexKey(std::string_view packageName);

// One folder that the index names for a package and an IDE installation, with the SHA-256 (64
// lower-case hex digits) of the record it holds as the installer wrote it; empty when the index
// keeps none (a journal's folder, or an index that an earlier version wrote).
struct IndexedFolder {
  std::string folder;
  std::string checksum;
};

// The index value's text: the folder of the record first, then, while a turn into another folder
// has not ended, the folders it replaces, separated by "|", which no Windows path holds; a
// folder's checksum follows it as an item of its own, "sha256:" and the digits, which an earlier
// version takes for a folder that does not exist.
std::vector<IndexedFolder> IndexedFoldersOfText(std::string_view text);
std::string IndexText(const std::vector<IndexedFolder>& folders);
// The folders alone.
std::vector<std::string> FoldersOfIndexText(std::string_view text);
// What the index names for a package and an IDE installation (its index value).
std::vector<IndexedFolder> IndexedFolders(std::string_view packageName, std::string_view ide);

// What earlier turns of one package for one IDE installation left on disk: the record and journal
// found in each folder looked into, and in the folders that their journals replace.
struct EarlierInstallation {
  std::vector<InstallRecord> parts; // each as far as it may be acted on (Installer/RecordTrust.h)
  std::vector<std::string> recordFiles; // every record and journal read, as full paths
  // Records and journals that are there but cannot be read whole (cut short, not a record, not a
  // file): nothing they list is known, so nothing of the installation is removed on their word.
  std::vector<std::string> damaged;
  // What the damaged ones say as far as it can be read, confined to their folders: taken only when
  // the user says so (--uninstall --force).
  std::vector<InstallRecord> damagedParts;
  std::vector<IndexedFolder> indexed; // the folders looked into, with the index's checksums
  std::vector<std::string> said;      // for the user: changed records and the lines refused
  std::size_t refused = 0;            // lines refused
  bool Empty() const { return parts.empty(); }
  // Whether something listed could not be taken: removing the rest leaves work undone.
  bool Faulty() const { return !damaged.empty() || refused > 0; }
  // The folder and version of the newest part (the first one found).
  const std::string& Folder() const { return parts.front().folder; }
  const std::string& Version() const { return parts.front().version; }
};

// The installation an index value names ("Software\Embarcadero\BDS\23.0"), with no root;
// nullopt for a turn without an IDE.
std::optional<IdeInstallation> InstallationOfKey(std::string_view key);

// Reads the records and journals of `name` for the installation `ide` (its index value) in the
// folders, passing over any other package's or installation's, and confines each to what
// `scope` lets it name. `outputFolders` gives the scope's package folders; it is asked only when
// a part names something outside its own folder.
EarlierInstallation FindEarlier(std::string_view name, std::string_view ide,
                                const std::vector<IndexedFolder>& folders,
                                const std::optional<IdeInstallation>& installation,
                                const std::function<std::vector<std::string>()>& outputFolders);

// What removing an earlier installation's files, folders and library entries came to.
struct RemovalCount {
  std::size_t files = 0;
  std::size_t library = 0;
  std::size_t kept = 0;   // files the user changed, kept on purpose
  std::size_t failed = 0; // what could not be removed (each said on its line)
};

// Says the lines that reading the earlier installation's records gave.
void SayEarlier(const EarlierInstallation& earlier, Console& console);

// One run at a time for the records of one package (per user): an installation, an upgrade and a
// removal of it wait for each other, with a line that says so, rather than mix their results.
class PackageRunLock {
public:
  PackageRunLock(std::string_view packageName, Console& console);

private:
  platform::NamedLock lock_;
};

// The journal and record of one turn of a package that has a name.
class TurnRecorder {
public:
  TurnRecorder(const PackageIdentity& identity, std::string ide, std::string folder,
               EarlierInstallation earlier);

  const EarlierInstallation& Earlier() const { return earlier_; }
  const InstallRecord& Record() const { return record_; }

  // Before the turn makes its folder: the index names it, besides the earlier folders, so that
  // whatever a kill leaves in either is found. A line says so when it cannot.
  void Prepare(Console& console);
  // Under the folder's lock, before the first entry: opens the journal (continuing one that an
  // interrupted turn left) with the folders the turn made so far. False, said on a line, when it
  // cannot: the turn then writes nothing, since what it wrote could never be removed.
  bool Begin(const std::vector<std::string>& createdFolders, Console& console);
  // After a turn that ended without writing a file: the journal it began goes, and the index
  // names again only what it named before, so that no note leads to a folder with nothing in it.
  void Abandon();
  // Whether the turn wrote a file.
  bool WroteFiles() const { return !record_.files.empty(); }
  void FolderCreated(std::string_view folder);
  // A file complete on disk under its temporary name: journaled before it takes the target's
  // name (a kill then leaves it listed); FileCommitted once it has.
  void FileWritten(std::string_view path, std::uint64_t size, std::uint32_t crc,
                   std::uint32_t dosDateTime);
  void FileCommitted();
  // A library-path entry the turn is about to add: journaled before the change, so that a kill
  // right after it still leaves the entry listed.
  void LibraryIntended(const RecordedLibraryEntry& entry);
  // A library-path entry the turn owns: added by it, or by the earlier installation. A list value
  // that the earlier installation made stays one the installation made.
  void LibraryEntry(RecordedLibraryEntry entry);
  // A list value that was not there until the turn's library entry made it (journaled, once).
  void ValueMade(const RecordedValue& value);
  // Whether a part of the earlier installation says that it made the list value.
  bool EarlierMade(std::string_view key, std::string_view value) const;

  // A file that a compiler wrote for the turn, outside the package's entries (a built package):
  // recorded with its size and CRC-32 as it is on disk now. False when it cannot be read.
  bool FileBuilt(std::string_view path);
  // A value the turn is about to set whole (a registered package): journaled before the change;
  // Registered once it is set.
  void RegisteredIntended(const RecordedValue& value);
  void Registered(RecordedValue value);
  // Whether the turn is being recorded (its journal was begun).
  bool Recording() const { return recording_; }
  // After a turn in which every entry arrived and the library paths were changed: removes the
  // earlier installation's files that this one does not install (unchanged ones only), its empty
  // folders and its records, and writes this turn's record. False when something could not be
  // removed or the record not written (each said on its line).
  bool Complete(Console& console);

private:
  void Journal(const std::string& line);
  bool Index(const std::string& folders, Console& console);
  std::vector<IndexedFolder> EarlierIndex() const;

  InstallRecord record_;
  EarlierInstallation earlier_;
  std::optional<platform::AppendFile> journal_;
  bool recording_ = false;
  bool indexed_ = false;
  bool journalBegun_ = false; // this turn made the journal (none was left to continue)
  RecordedFile written_;      // the file between FileWritten and FileCommitted
};

// Removes the files an earlier installation installed whose content is still what was installed
// (a line for each one kept because it changed, or not removed), except `keep` (PathKey forms of
// the files a newer turn installed). Folders and library entries are not touched here.
RemovalCount RemoveEarlierFiles(const EarlierInstallation& earlier,
                                const std::vector<std::string>& keep, Console& console);

// The files (PathKey forms) that the package's records for its other IDE installations list:
// turns of several installations into one folder share them, and removing one installation's
// leaves them to the others.
std::vector<std::string> FilesOfOtherInstallations(std::string_view name, std::string_view ide);
// The records and journals of the package's other IDE installations.
std::vector<InstallRecord> OtherInstallations(std::string_view name, std::string_view ide);

// Removes the folders the earlier installation made that are empty now, deepest first, except
// `keepFolder` and the folders above it. Gives how many went.
std::size_t RemoveEarlierFolders(const EarlierInstallation& earlier, std::string_view keepFolder);

// A path as records compare them: ASCII letter case folded, "/" taken as "\".
std::string PathKey(std::string_view path);

// Removes the earlier installation's records and journals (except those in `keepFolder`).
void RemoveRecordFiles(const EarlierInstallation& earlier, std::string_view keepFolder);

} // namespace quillet
