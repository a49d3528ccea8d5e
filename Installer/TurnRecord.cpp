#include "Installer/TurnRecord.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Package/Crc32.h"
#include "Package/Sha256.h"
#include "Platform/Ascii.h"
#include "Platform/FileMapping.h"
#include "Platform/PathSplit.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// Journals that name the folder they replace are followed this deep at most: a chain longer than
// a few interrupted turns is a loop that hand edits made.
constexpr std::size_t MAX_FOLDERS_FOLLOWED = 16;

// What begins the index item that holds a record's checksum.
constexpr std::string_view CHECKSUM_PREFIX = "sha256:";

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

// Windows paths ignore ASCII letter case, and "/" is a separator too.
std::string PathKey(std::string_view path) {
  std::string key(path);
  for (char& c : key) {
    c = c == '/' ? '\\' : platform::AsciiLower(c);
  }
  return key;
}

std::string RecordIndexKey(std::string_view packageName) {
  return std::string(RECORD_INDEX_KEY) + "\\" + std::string(packageName);
}

std::vector<IndexedFolder> IndexedFoldersOfText(std::string_view text) {
  std::vector<IndexedFolder> folders;
  while (!text.empty()) {
    const std::size_t bar = text.find('|');
    const std::string_view item = TrimBlanks(text.substr(0, bar));
    text.remove_prefix(bar == std::string_view::npos ? text.size() : bar + 1);
    if (item.starts_with(CHECKSUM_PREFIX)) {
      const std::string_view digits = item.substr(CHECKSUM_PREFIX.size());
      const bool hex = digits.size() == 64 && std::all_of(digits.begin(), digits.end(), [](char c) {
                         return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                       });
      // A checksum belongs to the folder before it; a stray or malformed one proves nothing.
      if (hex && !folders.empty() && folders.back().checksum.empty()) {
        folders.back().checksum = digits;
      }
    } else if (!item.empty()) {
      folders.push_back({std::string(item), {}});
    }
  }
  return folders;
}

std::string IndexText(const std::vector<IndexedFolder>& folders) {
  std::string text;
  for (const IndexedFolder& folder : folders) {
    text += (text.empty() ? "" : "|") + folder.folder;
    if (!folder.checksum.empty()) {
      text += "|" + std::string(CHECKSUM_PREFIX) + folder.checksum;
    }
  }
  return text;
}

std::vector<std::string> FoldersOfIndexText(std::string_view text) {
  std::vector<std::string> folders;
  for (IndexedFolder& folder : IndexedFoldersOfText(text)) {
    folders.push_back(std::move(folder.folder));
  }
  return folders;
}

std::vector<IndexedFolder> IndexedFolders(std::string_view packageName, std::string_view ide) {
  for (const platform::UserTextValue& value :
       platform::ReadUserTexts(RecordIndexKey(packageName))) {
    if (platform::EqualIgnoringAsciiCase(value.name, ide)) {
      return IndexedFoldersOfText(value.text);
    }
  }
  return {};
}

std::optional<IdeInstallation> InstallationOfKey(std::string_view key) {
  const std::size_t last = key.rfind('\\');
  if (last == std::string_view::npos || last == 0) {
    return std::nullopt;
  }
  // Appended piece by piece: GCC 12 takes `"\\" + std::string(...)` for overlapping copies.
  std::string basePath = "\\";
  basePath.append(key.substr(0, last + 1));
  return IdeInstallation(basePath, key.substr(last + 1), {});
}

EarlierInstallation FindEarlier(std::string_view name, std::string_view ide,
                                const std::vector<IndexedFolder>& folders,
                                const std::optional<IdeInstallation>& installation,
                                const std::function<std::vector<std::string>()>& outputFolders) {
  EarlierInstallation earlier;
  std::unordered_map<std::string, std::string> checksums;
  for (const IndexedFolder& folder : folders) {
    if (!folder.checksum.empty()) {
      checksums.try_emplace(PathKey(FolderWithSeparator(folder.folder)), folder.checksum);
    }
  }
  std::vector<std::string> pending;
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    pending.push_back(it->folder);
  }
  std::unordered_set<std::string> visited;
  std::vector<RecordTrust> trust;
  while (!pending.empty() && visited.size() < MAX_FOLDERS_FOLLOWED) {
    const std::string folder = FolderWithSeparator(pending.back());
    pending.pop_back();
    if (folder.empty() || !visited.insert(PathKey(folder)).second) {
      continue;
    }
    const auto checksum = checksums.find(PathKey(folder));
    earlier.indexed.push_back(
        {folder, checksum == checksums.end() ? std::string() : checksum->second});
    // The record first: what was completed, then what a later turn began.
    for (const bool journal : {false, true}) {
      const std::string path =
          folder + (journal ? JournalFileName(name, ide) : RecordFileName(name, ide));
      if (!platform::PathExists(path)) {
        continue;
      }
      const std::optional<std::string> text = platform::ReadWholeFile(platform::NativePath(path));
      RecordReading reading;
      std::optional<InstallRecord> part = text ? RecordOfText(*text, &reading) : std::nullopt;
      // A journal may end in a line that a kill cut short; a record is whole, and a record that
      // the index keeps a checksum of has its end line.
      const bool indexed = !journal && checksum != checksums.end();
      const bool whole = part && reading.linesTaken &&
                         (journal || (reading.endsLine && (reading.ended || !indexed))) &&
                         platform::EqualIgnoringAsciiCase(part->name, name) &&
                         platform::EqualIgnoringAsciiCase(part->ide, ide);
      if (!whole) {
        earlier.damaged.push_back(path);
        // What can be read of it, for --force: judged as any record that is not the installer's.
        if (part && platform::EqualIgnoringAsciiCase(part->name, name) &&
            platform::EqualIgnoringAsciiCase(part->ide, ide)) {
          part->folder = folder;
          std::vector<std::string> refused;
          ConfineRecord(*part, RecordTrust::Unverified, RecordScope{installation, {}}, refused);
          earlier.damagedParts.push_back(std::move(*part));
        }
        continue;
      }
      const bool verified = indexed && Sha256Hex(*text) == checksum->second;
      if (indexed && !verified) {
        earlier.said.push_back("The record " + InLine(path) +
                               " was changed after the installer wrote it: it no longer matches "
                               "the checksum that the user's registry keeps of it.");
      }
      // The folder where it lies now: a folder the user moved keeps its files relative to it.
      part->folder = folder;
      if (!part->previous.empty()) {
        pending.push_back(part->previous);
      }
      trust.push_back(verified ? RecordTrust::Verified : RecordTrust::Unverified);
      earlier.recordFiles.push_back(path);
      earlier.parts.push_back(std::move(*part));
    }
  }
  // The IDE's package folders are looked up only for a part that names something outside its own
  // folder.
  RecordScope scope{installation, {}};
  bool outputsRead = false;
  for (std::size_t i = 0; i < earlier.parts.size(); ++i) {
    InstallRecord& part = earlier.parts[i];
    const bool outside =
        !part.registered.empty() ||
        std::any_of(part.files.begin(), part.files.end(),
                    [&](const RecordedFile& file) {
                      return !LiesAtOrBelow(RecordedFilePath(part, file), part.folder);
                    }) ||
        std::any_of(part.createdFolders.begin(), part.createdFolders.end(),
                    [&](const std::string& created) {
                      return !LiesAtOrBelow(FolderWithSeparator(created), part.folder);
                    });
    if (outside && !outputsRead && outputFolders && trust[i] == RecordTrust::Verified) {
      scope.outputFolders = outputFolders();
      outputsRead = true;
    }
    std::vector<std::string> refused;
    ConfineRecord(part, trust[i], scope, refused);
    earlier.refused += refused.size();
    std::move(refused.begin(), refused.end(), std::back_inserter(earlier.said));
  }
  return earlier;
}

void SayEarlier(const EarlierInstallation& earlier, Console& console) {
  for (const std::string& path : earlier.damaged) {
    console.WriteLine("The record " + InLine(path) +
                      " cannot be read whole: the files and settings it lists are not known, so "
                      "none of them is removed.");
  }
  for (const std::string& line : earlier.said) {
    console.WriteLine(line);
  }
}

std::vector<InstallRecord> OtherInstallations(std::string_view name, std::string_view ide) {
  std::vector<InstallRecord> parts;
  for (const platform::UserTextValue& value : platform::ReadUserTexts(RecordIndexKey(name))) {
    if (!platform::EqualIgnoringAsciiCase(value.name, ide)) {
      EarlierInstallation other = FindEarlier(name, value.name, IndexedFoldersOfText(value.text),
                                              InstallationOfKey(value.name), {});
      std::move(other.parts.begin(), other.parts.end(), std::back_inserter(parts));
    }
  }
  return parts;
}

std::vector<std::string> FilesOfOtherInstallations(std::string_view name, std::string_view ide) {
  std::vector<std::string> files;
  for (const InstallRecord& part : OtherInstallations(name, ide)) {
    for (const RecordedFile& file : part.files) {
      files.push_back(PathKey(RecordedFilePath(part, file)));
    }
  }
  return files;
}

namespace {

// Where a recorded path is removed from: the part's folder and the names below it, or, for a file
// in one of the IDE's package folders, that folder and the file's name. Nothing below the base is
// reached through a link.
std::pair<std::string, std::string> RemovalBase(const InstallRecord& part, std::string_view path) {
  const std::string folder = FolderWithSeparator(part.folder);
  if (LiesAtOrBelow(path, folder)) {
    std::string relative(path.substr(folder.size()));
    std::replace(relative.begin(), relative.end(), '/', '\\');
    while (!relative.empty() && relative.back() == '\\') {
      relative.pop_back();
    }
    return {folder, relative};
  }
  const platform::PathParts parts = platform::SplitAtLastSeparator(path, "\\/");
  return {std::string(parts.folder), std::string(parts.name)};
}

} // namespace

RemovalCount RemoveEarlierFiles(const EarlierInstallation& earlier,
                                const std::vector<std::string>& keep, Console& console) {
  RemovalCount count;
  const std::unordered_set<std::string> kept(keep.begin(), keep.end());
  // Each file once, with every content a part recorded for it: a file that an interrupted turn
  // replaced is the old content in one part and the new one in another.
  struct Planned {
    std::string path;
    const InstallRecord* part;
    std::vector<const RecordedFile*> contents;
  };
  std::vector<std::string> order;
  std::unordered_map<std::string, Planned> files;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedFile& file : part.files) {
      std::string path = RecordedFilePath(part, file);
      std::string key = PathKey(path);
      if (kept.contains(key)) {
        continue;
      }
      auto [found, added] = files.try_emplace(key, Planned{std::move(path), &part, {}});
      if (added) {
        order.push_back(key);
      }
      found->second.contents.push_back(&file);
    }
  }
  // Each folder is reached and read once for all of its files.
  const platform::FolderListingScope listings;
  for (const std::string& key : order) {
    const Planned& planned = files.at(key);
    const auto [base, relative] = RemovalBase(*planned.part, planned.path);
    bool unreadable = false;
    // The content is judged through the same open file that is then removed.
    const platform::RemovalResult result =
        platform::RemoveInstalledFile(base, relative, [&](std::span<const unsigned char> content) {
          Crc32 crc;
          crc.Add(content.data(), content.size());
          return std::any_of(planned.contents.begin(), planned.contents.end(),
                             [&](const RecordedFile* file) {
                               return file->size == content.size() && file->crc == crc.Value();
                             });
        });
    switch (result.outcome) {
    case platform::RemovalOutcome::Removed:
      ++count.files;
      break;
    case platform::RemovalOutcome::Missing:
      break; // gone already: removed by hand, or by a turn that was interrupted
    case platform::RemovalOutcome::Changed:
      console.WriteLine("Keeping " + InLine(planned.path) +
                        ": it was changed after it was installed");
      ++count.kept;
      break;
    case platform::RemovalOutcome::Link:
      console.WriteLine("Keeping " + InLine(planned.path) +
                        ": a link is there, or on the way to it, which removal never follows");
      ++count.failed;
      break;
    case platform::RemovalOutcome::NotEmpty:
    case platform::RemovalOutcome::Failed:
      unreadable = true;
      break;
    }
    if (unreadable) {
      console.WriteLine("Could not remove " + InLine(planned.path) +
                        (result.detail.empty() ? std::string() : ": " + InLine(result.detail)));
      ++count.failed;
    }
  }
  return count;
}

std::size_t RemoveEarlierFolders(const EarlierInstallation& earlier, std::string_view keepFolder) {
  // Folders deepest first, so that a folder emptied by its subfolders' removal goes too.
  std::vector<std::pair<std::string, const InstallRecord*>> folders;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const std::string& folder : part.createdFolders) {
      if (seen.insert(PathKey(FolderWithSeparator(folder))).second &&
          !(!keepFolder.empty() && HoldsFolder(folder, keepFolder))) {
        folders.emplace_back(folder, &part);
      }
    }
  }
  std::stable_sort(folders.begin(), folders.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
  std::size_t removed = 0;
  const platform::FolderListingScope listings;
  for (const auto& [folder, part] : folders) {
    if (!platform::IsFolder(folder)) {
      continue;
    }
    // A temporary file that a killed installer left would keep the folder.
    platform::FolderLock lock(folder);
    if (lock.TryTake()) {
      lock.RemoveStaleFiles();
    }
    // Below the part's folder, no link on the way is followed; a folder above it (one that the
    // turn made for it) is removed as the system reaches it, and only when it is empty.
    const std::string withSeparator = FolderWithSeparator(folder);
    const auto [base, relative] = LiesAtOrBelow(withSeparator, FolderWithSeparator(part->folder))
                                      ? RemovalBase(*part, withSeparator)
                                      : std::pair{withSeparator, std::string()};
    if (platform::RemoveInstalledFolder(base, relative).outcome ==
        platform::RemovalOutcome::Removed) {
      ++removed;
    }
  }
  return removed;
}

void RemoveRecordFiles(const EarlierInstallation& earlier, std::string_view keepFolder) {
  for (const std::string& path : earlier.recordFiles) {
    if (keepFolder.empty() ||
        PathKey(FolderOfPath(path)) != PathKey(FolderWithSeparator(keepFolder))) {
      platform::RemoveFile(path);
    }
  }
}

PackageRunLock::PackageRunLock(std::string_view packageName, Console& console)
    : lock_("quillet-package-" + PathKey(packageName)) {
  if (!lock_.TryTake()) {
    console.WriteLine("Waiting for another run of the installer on " + std::string(packageName) +
                      " to end...");
    console.Flush();
    lock_.Take();
  }
}

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

bool TurnRecorder::Index(const std::string& folders, Console& console) {
  const platform::UserListResult indexed =
      platform::SetUserText(RecordIndexKey(record_.name), record_.ide, folders);
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
  indexed_ = Index(IndexText(folders), console);
}

bool TurnRecorder::Begin(const std::vector<std::string>& createdFolders, Console& console) {
  const std::string path = record_.folder + JournalFileName(record_.name, record_.ide);
  // A journal that an interrupted turn left goes on: its lines still name files on disk.
  const bool continued = platform::PathExists(path);
  journal_ = platform::AppendFile::Open(platform::NativePath(path));
  if (!journal_ || (!continued && !journal_->Write(RecordHeaderText(record_)))) {
    console.WriteLine("Cannot record this installation: could not write [" + InLine(path) +
                      "], so nothing is installed into " + InLine(record_.folder) +
                      " (what is not recorded could not be removed or upgraded later)");
    journal_.reset();
    if (!continued) {
      platform::RemoveFile(path);
    }
    record_.createdFolders = createdFolders; // for Abandon to remove
    return false;
  }
  recording_ = true;
  journalBegun_ = !continued;
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
    platform::RemoveFile(record_.folder + JournalFileName(record_.name, record_.ide));
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
    platform::RemoveUserValue(RecordIndexKey(record_.name), record_.ide, INDEX_PARENTS);
  } else {
    platform::SetUserText(RecordIndexKey(record_.name), record_.ide, IndexText(before));
  }
  indexed_ = false;
}

void TurnRecorder::Journal(const std::string& line) {
  if (journal_ && !journal_->Write(line)) {
    journal_.reset(); // the record is still written at the end from what is held here
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
  const bool known = std::any_of(
      record_.madeValues.begin(), record_.madeValues.end(), [&](const RecordedValue& made) {
        return PathKey(made.key) == PathKey(value.key) && PathKey(made.name) == PathKey(value.name);
      });
  if (!known) {
    Journal(RecordMadeValueLine(value));
    record_.madeValues.push_back(value);
  }
}

bool TurnRecorder::EarlierMade(std::string_view key, std::string_view value) const {
  return std::any_of(earlier_.parts.begin(), earlier_.parts.end(), [&](const InstallRecord& part) {
    return std::any_of(
        part.madeValues.begin(), part.madeValues.end(), [&](const RecordedValue& made) {
          return PathKey(made.key) == PathKey(key) && PathKey(made.name) == PathKey(value);
        });
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
      installed.push_back(PathKey(RecordedFilePath(record_, file)));
    }
    for (const InstallRecord& other : others) {
      for (const RecordedFile& file : other.files) {
        installed.push_back(PathKey(RecordedFilePath(other, file)));
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

  const std::string recordPath = record_.folder + RecordFileName(record_.name, record_.ide);
  InstallRecord finished = record_;
  finished.previous.clear();
  const std::string text = RecordText(finished);
  std::optional<platform::OutputFile> file =
      platform::OutputFile::CreateFor(recordPath, platform::OutputKind::UserRecord);
  if (!file || !file->Write(text.data(), text.size()) || !file->Commit()) {
    console.WriteLine("Could not write the install record [" + InLine(recordPath) +
                      "]; the journal beside it keeps what was installed");
    return false;
  }
  // The earlier records go before the journal: a run killed in between still has the journal
  // leading to whatever of theirs is left.
  RemoveRecordFiles(earlier_, record_.folder);
  journal_.reset();
  platform::RemoveFile(record_.folder + JournalFileName(record_.name, record_.ide));
  // Earlier folders that the clean-up left empty go, now that their records are gone.
  const std::size_t folders = RemoveEarlierFolders(earlier_, record_.folder);
  if (indexed_) {
    Index(IndexText({{record_.folder, Sha256Hex(text)}}), console);
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
