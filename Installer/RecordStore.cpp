#include "Installer/RecordStore.h"

#include <algorithm>
#include <iterator>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Package/Sha256.h"
#include "Platform/Ascii.h"
#include "Platform/FileMapping.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// Journals that name the folder they replace are followed this deep at most: a chain longer than
// a few interrupted turns is a loop that hand edits made.
constexpr std::size_t MAX_FOLDERS_FOLLOWED = 16;

// What begins the index item that holds a record's checksum.
constexpr std::string_view CHECKSUM_PREFIX = "sha256:";

} // namespace

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
    // Appended piece by piece: GCC 12 takes `"|" + std::string(...)` for overlapping copies.
    text.append(text.empty() ? "" : "|").append(folder.folder);
    if (!folder.checksum.empty()) {
      text.append("|").append(CHECKSUM_PREFIX).append(folder.checksum);
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

PackageRunLock::PackageRunLock(std::string_view packageName, Console& console)
    : lock_("quillet-package-" + PathKey(packageName)) {
  if (!lock_.TryTake()) {
    console.WriteLine("Waiting for another run of the installer on " + std::string(packageName) +
                      " to end...");
    console.Flush();
    lock_.Take();
  }
}

platform::UserListResult WriteIndex(std::string_view packageName, std::string_view ide,
                                    const std::vector<IndexedFolder>& folders) {
  return platform::SetUserText(RecordIndexKey(packageName), ide, IndexText(folders));
}

platform::UserListResult RemoveIndex(std::string_view packageName, std::string_view ide) {
  return platform::RemoveUserValue(RecordIndexKey(packageName), ide, INDEX_PARENTS);
}

std::string RecordPath(const InstallRecord& record) {
  return FolderWithSeparator(record.folder) + RecordFileName(record.name, record.ide);
}

std::string JournalPath(const InstallRecord& record) {
  return FolderWithSeparator(record.folder) + JournalFileName(record.name, record.ide);
}

std::optional<Journal> Journal::Open(const InstallRecord& record) {
  const std::string path = JournalPath(record);
  const bool continued = platform::PathExists(path);
  std::optional<platform::AppendFile> file = platform::AppendFile::Open(platform::NativePath(path));
  if (!file || (!continued && !file->Write(RecordHeaderText(record)))) {
    file.reset();
    if (!continued) {
      platform::RemoveFile(path);
    }
    return std::nullopt;
  }
  return Journal(std::move(*file), continued);
}

void Journal::Write(const std::string& line) {
  if (file_ && !file_->Write(line)) {
    file_.reset();
  }
}

std::optional<std::string> WriteRecord(const InstallRecord& record) {
  InstallRecord finished = record;
  finished.previous.clear();
  const std::string text = RecordText(finished);
  std::optional<platform::OutputFile> file =
      platform::OutputFile::CreateFor(RecordPath(record), platform::OutputKind::UserRecord);
  if (!file || !file->Write(text.data(), text.size()) || !file->Commit()) {
    return std::nullopt;
  }
  return Sha256Hex(text);
}

} // namespace quillet
