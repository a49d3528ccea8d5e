#include "Installer/Removal.h"

#include <algorithm>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/SettingRefusal.h"
#include "Package/Crc32.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"

namespace quillet {

namespace {

// Whether `folder` is `inner` or a folder above it.
bool HoldsFolder(std::string_view folder, std::string_view inner) {
  const std::string outer = PathKey(FolderWithSeparator(folder));
  return PathKey(FolderWithSeparator(inner)).starts_with(outer);
}

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
      std::string key = FileKey(part, file);
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

void RemoveRecordFiles(const EarlierInstallation& earlier, std::string_view keepFolder,
                       bool damaged) {
  for (const std::string& path : earlier.recordFiles) {
    if (keepFolder.empty() ||
        PathKey(FolderOfPath(path)) != PathKey(FolderWithSeparator(keepFolder))) {
      platform::RemoveFile(path);
    }
  }
  for (const std::string& path : damaged ? earlier.damaged : std::vector<std::string>{}) {
    const platform::PathParts parts = platform::SplitAtLastSeparator(path, "\\/");
    platform::RemoveInstalledFile(parts.folder, parts.name, nullptr);
  }
}

platform::UserListResult RemoveListEntry(const RecordedLibraryEntry& entry) {
  const platform::UserListResult result =
      platform::ChangeUserLists({{entry.key, entry.value, false}}, "", entry.folder);
  if (result.outcome == platform::UserListOutcome::Changed &&
      platform::EqualIgnoringAsciiCase(entry.value, PATH_VALUE) &&
      TrimBlanks(platform::ReadUserText(entry.key, entry.value).value_or("")) == SYSTEM_PATH) {
    platform::RemoveUserValue(entry.key, entry.value);
  }
  return result;
}

platform::UserListResult RemoveValueLeftEmpty(std::string_view key, std::string_view value) {
  const std::optional<std::string> text = platform::ReadUserText(key, value);
  if (!text || text->find_first_not_of(" \t;") != std::string::npos) {
    return {platform::UserListOutcome::Present, {}};
  }
  return platform::RemoveUserValue(key, value);
}

std::vector<RecordedLibraryEntry> LibraryEntries(const EarlierInstallation& earlier) {
  std::vector<RecordedLibraryEntry> entries;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedLibraryEntry& entry : part.library) {
      if (seen.insert(EntryKey(entry)).second) {
        entries.push_back(entry);
      }
    }
  }
  return entries;
}

std::vector<RecordedValue> RegisteredValues(const EarlierInstallation& earlier) {
  std::vector<RecordedValue> values;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedValue& value : part.registered) {
      if (seen.insert(ValueKey(value)).second) {
        values.push_back(value);
      }
    }
  }
  return values;
}

std::vector<RecordedValue> MadeValues(const EarlierInstallation& earlier,
                                      const std::vector<RecordedLibraryEntry>& library) {
  std::vector<RecordedValue> values;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedValue& value : part.madeValues) {
      const bool holdsEntry =
          std::any_of(library.begin(), library.end(), [&](const RecordedLibraryEntry& entry) {
            return InValue(entry, value.key, value.name);
          });
      if (holdsEntry && seen.insert(ValueKey(value)).second) {
        values.push_back(value);
      }
    }
  }
  return values;
}

RemovalList ListRemoval(const EarlierInstallation& earlier) {
  RemovalList list;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedFile& file : part.files) {
      list.files.insert(FileKey(part, file));
    }
    for (const std::string& created : part.createdFolders) {
      if (list.folders.insert(PathKey(FolderWithSeparator(created))).second) {
        list.folderPaths.push_back(FolderWithSeparator(created));
      }
    }
  }
  list.library = LibraryEntries(earlier);
  list.registered = RegisteredValues(earlier);
  list.folder = earlier.Empty() ? (earlier.damaged.empty() ? std::string()
                                                           : FolderOfPath(earlier.damaged.front()))
                                : earlier.Folder();
  return list;
}

std::size_t RemoveEmptyIndexedFolders(const std::vector<IndexedFolder>& indexed,
                                      const RemovalList& list) {
  std::size_t removed = 0;
  for (const IndexedFolder& folder : indexed) {
    removed += !list.folders.contains(PathKey(FolderWithSeparator(folder.folder))) &&
                       platform::IsFolder(folder.folder) &&
                       platform::RemoveEmptyFolder(folder.folder)
                   ? 1
                   : 0;
  }
  return removed;
}

SettingsRemoval RemoveSettings(const std::vector<RecordedLibraryEntry>& library,
                               const std::vector<RecordedValue>& made,
                               const std::vector<RecordedValue>& registered, Console& console) {
  SettingsRemoval count;
  for (const RecordedLibraryEntry& entry : library) {
    const platform::UserListResult result = RemoveListEntry(entry);
    switch (result.outcome) {
    case platform::UserListOutcome::Changed:
      ++count.entries;
      break;
    case platform::UserListOutcome::Present:
    case platform::UserListOutcome::KeyMissing:
      break; // gone already, or the IDE's settings with it
    case platform::UserListOutcome::InUse:
      console.WriteLine("Could not remove " + entry.folder + " from " + entry.value + " (" +
                        entry.key + "): Wine programs of this prefix are running" +
                        (result.detail.empty() ? "" : " (" + result.detail + ")") +
                        "; close them, then run again");
      ++count.failed;
      break;
    case platform::UserListOutcome::Failed:
      console.WriteLine("Could not remove " + entry.folder + " from " + entry.value + " (" +
                        entry.key + "): " + result.detail);
      ++count.failed;
      break;
    }
  }
  // A value the installation made and that holds nothing now goes, rather than stay empty.
  for (const RecordedValue& value : made) {
    const platform::UserListResult result = RemoveValueLeftEmpty(value.key, value.name);
    if (const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result)) {
      console.WriteLine("Could not remove the empty value " + value.name + " (" + value.key +
                        ") that the installer made: " + refusal->Reason());
      ++count.failed;
    }
  }
  for (const RecordedValue& value : registered) {
    const platform::UserListResult result = platform::RemoveUserValue(value.key, value.name);
    if (const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result)) {
      console.WriteLine("Could not remove the registered package " + value.name + " (" + value.key +
                        "): " + refusal->Reason());
      ++count.failed;
    } else if (result.outcome == platform::UserListOutcome::Changed) {
      ++count.packages;
    }
  }
  return count;
}

BuildSettingsLeft RemoveEarlierBuildSettings(const EarlierInstallation& earlier,
                                             const IdeInstallation& installation,
                                             const std::vector<RecordedValue>& registered,
                                             const std::vector<std::string>& pathFolders, bool keep,
                                             Console& console) {
  BuildSettingsLeft left;
  const std::string environment = installation.EnvironmentKey();
  std::vector<RecordedValue> held = registered;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedValue& value : part.registered) {
      if (std::any_of(held.begin(), held.end(),
                      [&](const RecordedValue& v) { return SameValue(v, value); })) {
        continue;
      }
      if (keep) {
        left.registered.push_back(value); // its package may not have been built this time
        continue;
      }
      const bool x64 = NameKey(value.key) == NameKey(installation.KnownPackagesKey(true));
      console.WriteText(
          "Removing " +
          InLine(std::string(platform::SplitAtLastSeparator(value.name, "\\/").name)) +
          " from the IDE's packages" + (x64 ? " (64-bit)" : "") + " .. ");
      const platform::UserListResult result = platform::RemoveUserValue(value.key, value.name);
      const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result);
      console.WriteLine(refusal ? refusal->Said("not removed") : "OK");
      if (refusal) {
        left.allRemoved = false;
        left.registered.push_back(value); // still there: still this installation's
        held.push_back(value);
      }
    }
    for (const RecordedLibraryEntry& entry : part.library) {
      if (!platform::EqualIgnoringAsciiCase(entry.key, environment) ||
          std::any_of(pathFolders.begin(), pathFolders.end(), [&](const std::string& f) {
            return FolderKey(entry.folder) == FolderKey(f);
          })) {
        continue;
      }
      if (keep) {
        left.pathEntries.push_back(entry); // its packages may still be the earlier ones
        continue;
      }
      console.WriteText("Removing " + InLine(entry.folder) + " from the IDE's PATH .. ");
      const platform::UserListResult result = RemoveListEntry(entry);
      const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result);
      console.WriteLine(refusal ? refusal->Said("not removed") : "OK");
      if (refusal) {
        left.allRemoved = false;
        left.pathEntries.push_back(entry);
      }
    }
  }
  return left;
}

} // namespace quillet
