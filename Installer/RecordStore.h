// The install records of the current user as the installer keeps them: the index in the user's
// registry that leads to each package's record folders, the records and journals read back from
// them (what earlier turns left, confined to what they may name), the journal as a turn writes it,
// the record file that ends a turn, and the lock that lets one run at a time act on a package's
// records.
#pragma once

#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/RecordTrust.h"
#include "Package/IdeInstallation.h"
#include "Package/InstallRecord.h"
#include "Platform/FileSystem.h"
#include "Platform/UserRegistry.h"

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
  // Takes what the damaged records prove among the parts (--uninstall --force).
  void TakeDamagedParts() {
    std::move(damagedParts.begin(), damagedParts.end(), std::back_inserter(parts));
    damagedParts.clear();
  }
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

// The files (PathKey forms) that the package's records for its other IDE installations list:
// turns of several installations into one folder share them, and removing one installation's
// leaves them to the others.
std::vector<std::string> FilesOfOtherInstallations(std::string_view name, std::string_view ide);
// The records and journals of the package's other IDE installations.
std::vector<InstallRecord> OtherInstallations(std::string_view name, std::string_view ide);

// Notes `folders` (IndexText) as what the index names for the package and the IDE installation;
// RemoveIndex deletes the note, and the index's keys above it that it leaves empty.
platform::UserListResult WriteIndex(std::string_view packageName, std::string_view ide,
                                    const std::vector<IndexedFolder>& folders);
platform::UserListResult RemoveIndex(std::string_view packageName, std::string_view ide);

// The paths of a record's file and journal in its folder.
std::string RecordPath(const InstallRecord& record);
std::string JournalPath(const InstallRecord& record);

// A turn's journal, appended to line by line as what it lists arrives on disk.
class Journal {
public:
  // Opens the journal of `record` (its name, IDE and folder): one that an interrupted turn left
  // goes on, since its lines still name files on disk; else it is begun with the record's header
  // lines. Nullopt when it cannot be written (a journal begun here is removed again).
  static std::optional<Journal> Open(const InstallRecord& record);
  // Whether it went on from one that was there.
  bool Continued() const { return continued_; }
  // Appends a line; after a write that failed nothing more is written, and the record at the
  // turn's end still lists what the turn holds.
  void Write(const std::string& line);

private:
  Journal(platform::AppendFile file, bool continued)
      : file_(std::move(file)), continued_(continued) {}
  std::optional<platform::AppendFile> file_;
  bool continued_ = false;
};

// Writes the record file of a finished turn in its folder (the journal's "previous" left out).
// Gives the SHA-256 of its text for the index; nullopt when it could not be written.
std::optional<std::string> WriteRecord(const InstallRecord& record);

} // namespace quillet
