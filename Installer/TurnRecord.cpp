#include "Installer/TurnRecord.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Package/Crc32.h"
#include "Platform/Ascii.h"
#include "Platform/FileMapping.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// Journals that name the folder they replace are followed this deep at most: a chain longer than
// a few interrupted turns is a loop that hand edits made.
constexpr std::size_t MAX_FOLDERS_FOLLOWED = 16;

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

std::vector<std::string> FoldersOfIndexText(std::string_view text) {
  std::vector<std::string> folders;
  while (!text.empty()) {
    const std::size_t bar = text.find('|');
    if (const std::string_view folder = TrimBlanks(text.substr(0, bar)); !folder.empty()) {
      folders.emplace_back(folder);
    }
    text.remove_prefix(bar == std::string_view::npos ? text.size() : bar + 1);
  }
  return folders;
}

std::vector<std::string> IndexedFolders(std::string_view packageName, std::string_view ide) {
  for (const platform::UserTextValue& value :
       platform::ReadUserTexts(RecordIndexKey(packageName))) {
    if (platform::EqualIgnoringAsciiCase(value.name, ide)) {
      return FoldersOfIndexText(value.text);
    }
  }
  return {};
}

EarlierInstallation FindEarlier(std::string_view name, std::string_view ide,
                                const std::vector<std::string>& folders) {
  EarlierInstallation earlier;
  std::vector<std::string> pending(folders.rbegin(), folders.rend());
  std::unordered_set<std::string> visited;
  while (!pending.empty() && visited.size() < MAX_FOLDERS_FOLLOWED) {
    const std::string folder = FolderWithSeparator(pending.back());
    pending.pop_back();
    if (folder.empty() || !visited.insert(PathKey(folder)).second) {
      continue;
    }
    // The record first: what was completed, then what a later turn began.
    for (const std::string& fileName : {RecordFileName(name, ide), JournalFileName(name, ide)}) {
      const std::string path = folder + fileName;
      const std::optional<std::string> text = platform::ReadWholeFile(platform::NativePath(path));
      std::optional<InstallRecord> part = text ? RecordOfText(*text) : std::nullopt;
      if (!part || !platform::EqualIgnoringAsciiCase(part->name, name) ||
          !platform::EqualIgnoringAsciiCase(part->ide, ide)) {
        continue;
      }
      // The folder where it lies now: a folder the user moved keeps its files relative to it.
      part->folder = folder;
      if (!part->previous.empty()) {
        pending.push_back(part->previous);
      }
      earlier.recordFiles.push_back(path);
      earlier.parts.push_back(std::move(*part));
    }
  }
  return earlier;
}

std::vector<InstallRecord> OtherInstallations(std::string_view name, std::string_view ide) {
  std::vector<InstallRecord> parts;
  for (const platform::UserTextValue& value : platform::ReadUserTexts(RecordIndexKey(name))) {
    if (!platform::EqualIgnoringAsciiCase(value.name, ide)) {
      EarlierInstallation other = FindEarlier(name, value.name, FoldersOfIndexText(value.text));
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

RemovalCount RemoveEarlierFiles(const EarlierInstallation& earlier,
                                const std::vector<std::string>& keep, Console& console) {
  RemovalCount count;
  const std::unordered_set<std::string> kept(keep.begin(), keep.end());
  // Each file once, with every content a part recorded for it: a file that an interrupted turn
  // replaced is the old content in one part and the new one in another.
  std::vector<std::string> order;
  std::unordered_map<std::string, std::pair<std::string, std::vector<const RecordedFile*>>> files;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedFile& file : part.files) {
      std::string path = RecordedFilePath(part, file);
      std::string key = PathKey(path);
      if (kept.contains(key)) {
        continue;
      }
      auto [found, added] =
          files.try_emplace(key, std::move(path), std::vector<const RecordedFile*>{});
      if (added) {
        order.push_back(key);
      }
      found->second.second.push_back(&file);
    }
  }
  // Each folder is reached and read once for all of its files.
  const platform::FolderListingScope listings;
  for (const std::string& key : order) {
    const auto& [path, contents] = files.at(key);
    if (!platform::PathExists(path)) {
      continue; // gone already: removed by hand, or by a turn that was interrupted
    }
    const auto summary = ContentSummary(path);
    const bool unchanged =
        summary && std::any_of(contents.begin(), contents.end(), [&](const RecordedFile* file) {
          return file->size == summary->first && file->crc == summary->second;
        });
    if (!unchanged) {
      console.WriteLine("Keeping " + InLine(path) +
                        (summary ? ": it was changed after it was installed"
                                 : ": it cannot be read, so it is not known to be unchanged"));
      ++count.kept;
      continue;
    }
    if (!platform::RemoveFile(path)) {
      console.WriteLine("Could not remove " + InLine(path));
      ++count.failed;
      continue;
    }
    ++count.files;
  }
  return count;
}

std::size_t RemoveEarlierFolders(const EarlierInstallation& earlier, std::string_view keepFolder) {
  // Folders deepest first, so that a folder emptied by its subfolders' removal goes too.
  std::vector<std::string> folders;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const std::string& folder : part.createdFolders) {
      if (seen.insert(PathKey(FolderWithSeparator(folder))).second &&
          !(!keepFolder.empty() && HoldsFolder(folder, keepFolder))) {
        folders.push_back(folder);
      }
    }
  }
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::size_t removed = 0;
  const platform::FolderListingScope listings;
  for (const std::string& folder : folders) {
    if (!platform::IsFolder(folder)) {
      continue;
    }
    // A temporary file that a killed installer left would keep the folder.
    platform::FolderLock lock(folder);
    if (lock.TryTake()) {
      lock.RemoveStaleFiles();
    }
    if (platform::RemoveEmptyFolder(folder)) {
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
  if (indexed.outcome == platform::UserListOutcome::Added ||
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

void TurnRecorder::Prepare(Console& console) {
  std::string folders = record_.folder;
  std::unordered_set<std::string> named{PathKey(record_.folder)};
  for (const InstallRecord& part : earlier_.parts) {
    if (named.insert(PathKey(part.folder)).second) {
      folders += "|" + part.folder;
    }
  }
  indexed_ = Index(folders, console);
}

void TurnRecorder::Begin(const std::vector<std::string>& createdFolders, Console& console) {
  const std::string path = record_.folder + JournalFileName(record_.name, record_.ide);
  // A journal that an interrupted turn left goes on: its lines still name files on disk.
  const bool continued = platform::PathExists(path);
  journal_ = platform::AppendFile::Open(platform::NativePath(path));
  if (!journal_ || (!continued && !journal_->Write(RecordHeaderText(record_)))) {
    console.WriteLine("Cannot record this installation: could not write [" + InLine(path) +
                      "]; it will have to be removed by hand");
    journal_.reset();
    return;
  }
  recording_ = true;
  for (const std::string& folder : createdFolders) {
    FolderCreated(folder);
  }
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
  record_.library.push_back(std::move(entry));
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
  bool complete = true;
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
    complete = removed.failed == 0;
    removedFiles = removed.files;
  }
  // The folders the earlier turns made and that still stand are this installation's now.
  std::unordered_set<std::string> known;
  for (const std::string& folder : record_.createdFolders) {
    known.insert(PathKey(FolderWithSeparator(folder)));
  }
  std::vector<std::string> inherited;
  auto inherit = [&](const InstallRecord& part, bool related) {
    for (const std::string& folder : part.createdFolders) {
      if ((!related || HoldsFolder(folder, record_.folder) ||
           HoldsFolder(record_.folder, folder)) &&
          known.insert(PathKey(FolderWithSeparator(folder))).second && platform::IsFolder(folder)) {
        inherited.push_back(folder);
      }
    }
  };
  for (const InstallRecord& part : earlier_.parts) {
    inherit(part, false);
  }
  for (const InstallRecord& other : others) {
    inherit(other, true);
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
    Index(record_.folder, console);
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
