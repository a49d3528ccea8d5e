// The record of one turn of a package for one IDE installation as the turn goes (its install
// record, Package/InstallRecord.h, kept through Installer/RecordStore.h): its journal as its files
// and settings arrive, and at its end the clean-up of an upgrade (Installer/Removal.h) and the
// record that replaces the earlier ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/RecordStore.h"
#include "Package/InstallRecord.h"
#include "Package/SettingsTexts.h"

namespace quillet {

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
  bool Index(const std::vector<IndexedFolder>& folders, Console& console);
  std::vector<IndexedFolder> EarlierIndex() const;

  InstallRecord record_;
  EarlierInstallation earlier_;
  std::optional<quillet::Journal> journal_;
  bool recording_ = false;
  bool indexed_ = false;
  bool journalBegun_ = false; // this turn made the journal (none was left to continue)
  RecordedFile written_;      // the file between FileWritten and FileCommitted
};

} // namespace quillet
