#include "Installer/TurnRecord.h"

#include <algorithm>
#include <unordered_set>
#include <utility>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/Removal.h"
#include "Package/Crc32.h"
#include "Platform/Ascii.h"
#include "Platform/FileMapping.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// 1980-01-01 00:00:00 as an MS-DOS date and time.
constexpr std::uint32_t NO_STORED_TIME = 0x00210000;

// The size and CRC-32 of a file's content; nullopt when it cannot be read.
std::optional<std::pair<std::uint64_t, std::uint32_t>> ContentSummary(const std::string& path) {
  platform::MappedFile file;
  switch (file.Open(platform::NativePath(path), UINT64_MAX)) {
  case platform::MappedFile::Status::Ok: {
    Crc32 crc;
    crc.Add(file.Data(), static_cast<std::size_t>(file.Size()));
    return std::pair{file.Size(), crc.Value()};
  }
  case platform::MappedFile::Status::Empty:
    return std::pair<std::uint64_t, std::uint32_t>{0, 0};
  default:
    return std::nullopt;
  }
}

// Whether `folder` is `inner` or a folder above it.
bool HoldsFolder(std::string_view folder, std::string_view inner) {
  const std::string outer = PathKey(FolderWithSeparator(folder));
  return PathKey(FolderWithSeparator(inner)).starts_with(outer);
}

// The path of a file below a folder relative to it, with "\" separators; the full path when it
// does not lie below.
std::string RelativeOrFull(std::string_view path, std::string_view folder) {
  const std::string prefix = FolderWithSeparator(folder);
  if (!prefix.empty() && PathKey(path).starts_with(PathKey(prefix))) {
    std::string relative(path.substr(prefix.size()));
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return relative;
  }
  return std::string(path);
}

} // namespace

TurnRecorder::TurnRecorder(const PackageIdentity& identity, std::string ide, std::string folder,
                           EarlierInstallation earlier)
    : earlier_(std::move(earlier)) {
  record_.name = identity.name;
  record_.version = identity.version;
  record_.ide = std::move(ide);
  record_.folder = FolderWithSeparator(folder);
  // The journal names the folder whose record this turn replaces, so that a run killed before its
  // end still leads from the new folder to the old one.
  for (const InstallRecord& part : earlier_.parts) {
    if (PathKey(part.folder) != PathKey(record_.folder)) {
      record_.previous = part.folder;
      break;
    }
  }
}

bool TurnRecorder::Index(const std::vector<IndexedFolder>& folders, Console& console) {
  const platform::UserListResult indexed = WriteIndex(record_.name, record_.ide, folders);
  if (indexed.outcome == platform::UserListOutcome::Changed ||
      indexed.outcome == platform::UserListOutcome::Present) {
    return true;
  }
  console.WriteLine(
      "Cannot note this installation in the user's registry (HKEY_CURRENT_USER\\" +
      RecordIndexKey(record_.name) + "): " +
      (indexed.detail.empty() ? "Wine programs of this prefix are running" : indexed.detail) +
      "; its record stays in " + InLine(record_.folder));
  return false;
}

std::vector<IndexedFolder> TurnRecorder::EarlierIndex() const {
  // The folders that hold something of the earlier installation, with the checksums the index
  // keeps of their records, which stay until this turn replaces them.
  std::unordered_set<std::string> holding;
  for (const InstallRecord& part : earlier_.parts) {
    holding.insert(PathKey(part.folder));
  }
  for (const std::string& path : earlier_.damaged) {
    holding.insert(PathKey(FolderOfPath(path)));
  }
  std::vector<IndexedFolder> folders;
  for (const IndexedFolder& folder : earlier_.indexed) {
    if (holding.contains(PathKey(folder.folder))) {
      folders.push_back(folder);
    }
  }
  return folders;
}

void TurnRecorder::Prepare(Console& console) {
  std::vector<IndexedFolder> folders{{record_.folder, {}}};
  for (const IndexedFolder& folder : EarlierIndex()) {
    if (PathKey(folder.folder) == PathKey(record_.folder)) {
      folders.front().checksum = folder.checksum;
    } else {
      folders.push_back(folder);
    }
  }
  indexed_ = Index(folders, console);
}

bool TurnRecorder::Begin(const std::vector<std::string>& createdFolders, Console& console) {
  journal_ = Journal::Open(record_);
  if (!journal_) {
    console.WriteLine("Cannot record this installation: could not write [" +
                      InLine(JournalPath(record_)) + "], so nothing is installed into " +
                      InLine(record_.folder) +
                      " (what is not recorded could not be removed or upgraded later)");
    record_.createdFolders = createdFolders; // for Abandon to remove
    return false;
  }
  recording_ = true;
  journalBegun_ = !journal_->Continued();
  for (const std::string& folder : createdFolders) {
    FolderCreated(folder);
  }
  return true;
}

void TurnRecorder::Abandon() {
  if (!record_.files.empty() || (recording_ && !journalBegun_)) {
    return; // what it wrote, or what an earlier turn's journal lists, stays noted
  }
  if (recording_) {
    journal_.reset();
    platform::RemoveFile(JournalPath(record_));
    recording_ = false;
  }
  // The folders it made for nothing, deepest first.
  for (auto it = record_.createdFolders.rbegin(); it != record_.createdFolders.rend(); ++it) {
    if (platform::IsFolder(*it)) {
      platform::RemoveEmptyFolder(*it);
    }
  }
  record_.createdFolders.clear();
  if (!indexed_) {
    return;
  }
  const std::vector<IndexedFolder> before = EarlierIndex();
  if (before.empty()) {
    RemoveIndex(record_.name, record_.ide);
  } else {
    WriteIndex(record_.name, record_.ide, before);
  }
  indexed_ = false;
}

void TurnRecorder::Journal(const std::string& line) {
  if (journal_) {
    journal_->Write(line); // when it fails, the record is still written from what is held here
  }
}

void TurnRecorder::FolderCreated(std::string_view folder) {
  record_.createdFolders.emplace_back(folder);
  Journal(RecordCreatedLine(folder));
}

void TurnRecorder::FileWritten(std::string_view path, std::uint64_t size, std::uint32_t crc,
                               std::uint32_t dosDateTime) {
  written_ = RecordedFile{RelativeOrFull(path, record_.folder), size, crc, dosDateTime};
  Journal(RecordFileLine(written_));
}

void TurnRecorder::FileCommitted() {
  record_.files.push_back(std::move(written_));
}

void TurnRecorder::LibraryIntended(const RecordedLibraryEntry& entry) {
  Journal(RecordLibraryLine(entry));
}

void TurnRecorder::LibraryEntry(RecordedLibraryEntry entry) {
  if (EarlierMade(entry.key, entry.value)) {
    ValueMade({entry.key, entry.value});
  }
  record_.library.push_back(std::move(entry));
}

void TurnRecorder::ValueMade(const RecordedValue& value) {
  const bool known = std::any_of(record_.madeValues.begin(), record_.madeValues.end(),
                                 [&](const RecordedValue& made) { return SameValue(made, value); });
  if (!known) {
    Journal(RecordMadeValueLine(value));
    record_.madeValues.push_back(value);
  }
}

bool TurnRecorder::EarlierMade(std::string_view key, std::string_view value) const {
  return std::any_of(earlier_.parts.begin(), earlier_.parts.end(), [&](const InstallRecord& part) {
    return std::any_of(
        part.madeValues.begin(), part.madeValues.end(),
        [&](const RecordedValue& made) { return ValueKey(made) == ValueKey(key, value); });
  });
}

bool TurnRecorder::FileBuilt(std::string_view path) {
  const std::optional<std::pair<std::uint64_t, std::uint32_t>> summary =
      ContentSummary(std::string(path));
  if (!summary) {
    return false;
  }
  // A built file has no stored time: the earliest one the record can hold stands for none.
  FileWritten(path, summary->first, summary->second, NO_STORED_TIME);
  FileCommitted();
  return true;
}

void TurnRecorder::RegisteredIntended(const RecordedValue& value) {
  Journal(RecordRegisteredLine(value));
}

void TurnRecorder::Registered(RecordedValue value) {
  record_.registered.push_back(std::move(value));
}

bool TurnRecorder::Complete(Console& console) {
  if (!recording_) {
    return true;
  }
  // What an unreadable record or a refused line names stays, and the turn says so by its result.
  bool complete = !earlier_.Faulty();
  std::size_t removedFiles = 0;
  // The package's turns for other installations may share this folder: their files stay, and the
  // folders they made there are this installation's too, so that whichever is removed last takes
  // them.
  const std::vector<InstallRecord> others = OtherInstallations(record_.name, record_.ide);
  if (!earlier_.Empty()) {
    std::vector<std::string> installed;
    installed.reserve(record_.files.size());
    for (const RecordedFile& file : record_.files) {
      installed.push_back(FileKey(record_, file));
    }
    for (const InstallRecord& other : others) {
      for (const RecordedFile& file : other.files) {
        installed.push_back(FileKey(other, file));
      }
    }
    const RemovalCount removed = RemoveEarlierFiles(earlier_, installed, console);
    complete = complete && removed.failed == 0;
    removedFiles = removed.files;
  }
  // The folders the earlier turns made and that still stand are this installation's now, where
  // they lie in or above its folder: a record may name no folder elsewhere, so one an upgrade
  // into a new folder left behind (it holds the user's files) stays the user's.
  std::unordered_set<std::string> known;
  for (const std::string& folder : record_.createdFolders) {
    known.insert(PathKey(FolderWithSeparator(folder)));
  }
  std::vector<std::string> inherited;
  auto inherit = [&](const InstallRecord& part) {
    for (const std::string& folder : part.createdFolders) {
      if ((HoldsFolder(folder, record_.folder) || HoldsFolder(record_.folder, folder)) &&
          known.insert(PathKey(FolderWithSeparator(folder))).second && platform::IsFolder(folder)) {
        inherited.push_back(folder);
      }
    }
  };
  for (const InstallRecord& part : earlier_.parts) {
    inherit(part);
  }
  for (const InstallRecord& other : others) {
    inherit(other);
  }
  // Outermost first, as a turn makes them.
  std::stable_sort(inherited.begin(), inherited.end(),
                   [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
  record_.createdFolders.insert(record_.createdFolders.begin(), inherited.begin(), inherited.end());

  const std::optional<std::string> checksum = WriteRecord(record_);
  if (!checksum) {
    console.WriteLine("Could not write the install record [" + InLine(RecordPath(record_)) +
                      "]; the journal beside it keeps what was installed");
    return false;
  }
  // The earlier records go before the journal: a run killed in between still has the journal
  // leading to whatever of theirs is left.
  RemoveRecordFiles(earlier_, record_.folder);
  journal_.reset();
  platform::RemoveFile(JournalPath(record_));
  // Earlier folders that the clean-up left empty go, now that their records are gone.
  const std::size_t folders = RemoveEarlierFolders(earlier_, record_.folder);
  if (indexed_) {
    Index({{record_.folder, *checksum}}, console);
  }
  if (removedFiles + folders > 0) {
    console.WriteLine("Removed " + Plural(removedFiles, "file", "files") + " and " +
                      Plural(folders, "folder", "folders") + " of " + record_.name +
                      (earlier_.Version().empty() ? "" : " " + earlier_.Version()) +
                      " that this version does not install.");
  }
  return complete;
}

} // namespace quillet
