#include "Installer/Uninstall.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "Common/Exception.h"
#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/Installation.h"
#include "Installer/LibraryPaths.h"
#include "Installer/PackageBuild.h"
#include "Installer/SettingRefusal.h"
#include "Installer/TurnRecord.h"
#include "Package/IdeInstallation.h"
#include "Platform/Ascii.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// Each library entry of the parts once.
std::vector<RecordedLibraryEntry> LibraryEntries(const EarlierInstallation& earlier) {
  std::vector<RecordedLibraryEntry> entries;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedLibraryEntry& entry : part.library) {
      if (seen.insert(PathKey(entry.key + '\t' + entry.value + '\t' + entry.folder)).second) {
        entries.push_back(entry);
      }
    }
  }
  return entries;
}

// Each list value that a part says it made once, when a library entry of the parts lies in it:
// an entry is what the record's trust lets removal act on, and a value without one is not the
// installation's to delete.
std::vector<RecordedValue> MadeValues(const EarlierInstallation& earlier,
                                      const std::vector<RecordedLibraryEntry>& library) {
  std::vector<RecordedValue> values;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedValue& value : part.madeValues) {
      const bool holdsEntry =
          std::any_of(library.begin(), library.end(), [&](const RecordedLibraryEntry& entry) {
            return PathKey(entry.key) == PathKey(value.key) &&
                   PathKey(entry.value) == PathKey(value.name);
          });
      if (holdsEntry && seen.insert(PathKey(value.key + '\t' + value.name)).second) {
        values.push_back(value);
      }
    }
  }
  return values;
}

// "A, B and C".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return text;
}

// Each registered value of the parts once.
std::vector<RecordedValue> RegisteredValues(const EarlierInstallation& earlier) {
  std::vector<RecordedValue> values;
  std::unordered_set<std::string> seen;
  for (const InstallRecord& part : earlier.parts) {
    for (const RecordedValue& value : part.registered) {
      if (seen.insert(PathKey(value.key + '\t' + value.name)).second) {
        values.push_back(value);
      }
    }
  }
  return values;
}

// The root folder of a registered installation, as discovery finds it; empty when it is gone.
std::string IdeRoot(const IdeInstallation& installation) {
  std::vector<IdeInstallation> found;
  try {
    DiscoverIdes(found, installation.BasePath(), {});
  } catch (const ERegistryException&) {
    return {}; // a registration that cannot be read names no program to look for
  }
  for (const IdeInstallation& candidate : found) {
    if (platform::EqualIgnoringAsciiCase(candidate.Version(), installation.Version())) {
      return candidate.Root();
    }
  }
  return {};
}

} // namespace

bool RunUninstall(std::string_view name, Console& console, const DialogueChoices& choices) {
  const std::string indexKey = RecordIndexKey(name);
  // One run at a time changes what the records of one package list.
  const PackageRunLock packageLock(name, console);
  const std::vector<platform::UserTextValue> recorded = platform::ReadUserTexts(indexKey);
  if (recorded.empty()) {
    console.WriteLine(std::string(NOTHING_RECORDED_HEAD) + std::string(name) +
                      std::string(NOTHING_RECORDED_TAIL));
    return true;
  }
  bool allRemoved = true;
  // The records removed: a folder that another installation's files still kept goes once they
  // are gone too.
  std::vector<InstallRecord> removedParts;
  for (const platform::UserTextValue& value : recorded) {
    std::optional<IdeInstallation> installation = InstallationOfKey(value.name);
    const std::string ide = installation ? "HKEY_CURRENT_USER\\" + value.name : "no IDE";
    if (!choices.ides.empty() && !(installation && IdeChosen(choices, *installation))) {
      continue;
    }
    std::string root;
    if (installation) {
      root = IdeRoot(*installation);
      installation = IdeInstallation(std::string(installation->BasePath()),
                                     std::string(installation->Version()), root);
    }
    const std::vector<IndexedFolder> indexed = IndexedFoldersOfText(value.text);
    EarlierInstallation earlier =
        FindEarlier(name, value.name, indexed, installation, [&installation] {
          return PackageOutputFolders(*installation, IdeSharedFolder(*installation));
        });
    console.WriteLine("");
    SayEarlier(earlier, console);
    const std::string named = std::string(name) + " (" + ide + ")";
    if (earlier.Empty() && earlier.damaged.empty()) {
      const bool folderThere =
          std::any_of(indexed.begin(), indexed.end(),
                      [](const IndexedFolder& f) { return platform::IsFolder(f.folder); });
      if (folderThere && !choices.force) {
        console.WriteLine("No record of " + named + " is left in " + InLine(value.text) +
                          ", though the folder is there: what it holds is not known, so nothing "
                          "is removed. The note in the registry stays; --force removes it.");
        allRemoved = false;
        continue;
      }
      // The folder was removed or its record lost: the note leads nowhere.
      console.WriteLine("No record of " + named + " is left in " + InLine(value.text) +
                        "; its note in the registry is removed.");
      platform::RemoveUserValue(indexKey, value.name, INDEX_PARENTS);
      continue;
    }
    if (!earlier.damaged.empty() && !choices.force) {
      console.WriteLine("Nothing of " + named +
                        " is removed, and its note in the registry stays: look at the record "
                        "above, then run again with --force to remove what the readable records "
                        "prove.");
      allRemoved = false;
      continue;
    }
    // Forced: what the damaged records prove goes too.
    std::move(earlier.damagedParts.begin(), earlier.damagedParts.end(),
              std::back_inserter(earlier.parts));
    earlier.damagedParts.clear();
    // Each file and folder once over all the parts, folders with their final separator, as the
    // removal takes them.
    std::unordered_set<std::string> files;
    std::vector<std::string> folderPaths;
    {
      std::unordered_set<std::string> seenFolders;
      for (const InstallRecord& part : earlier.parts) {
        for (const RecordedFile& file : part.files) {
          files.insert(PathKey(RecordedFilePath(part, file)));
        }
        for (const std::string& created : part.createdFolders) {
          if (seenFolders.insert(PathKey(FolderWithSeparator(created))).second) {
            folderPaths.push_back(FolderWithSeparator(created));
          }
        }
      }
    }
    const std::unordered_set<std::string> folders = [&] {
      std::unordered_set<std::string> keys;
      for (const std::string& path : folderPaths) {
        keys.insert(PathKey(path));
      }
      return keys;
    }();
    const std::string folder =
        earlier.Empty() ? FolderOfPath(earlier.damaged.front()) : earlier.Folder();
    const std::vector<RecordedLibraryEntry> library = LibraryEntries(earlier);
    const std::vector<RecordedValue> registered = RegisteredValues(earlier);
    console.WriteLine(
        std::string(name) +
        (earlier.Empty() || earlier.Version().empty() ? "" : " " + earlier.Version()) + " for " +
        ide + " is installed in " + InLine(folder) + ": " + Plural(files.size(), "file", "files") +
        ", " + Plural(folders.size(), "folder", "folders") + " made by the installer, " +
        Plural(library.size(), "library-path entry", "library-path entries") + ".");
    for (const RecordedLibraryEntry& entry : library) {
      console.WriteLine("  " + entry.value + " (" + entry.key + "): " + entry.folder);
    }
    for (const RecordedValue& value : registered) {
      console.WriteLine("  Registered package (" + value.key + "): " + value.name);
    }
    console.WriteLine(REMOVAL_QUESTION);
    std::string answer;
    if (choices.confirm) {
      console.WriteLine("");
    } else {
      answer = console.ReadLine();
    }
    if (platform::EqualIgnoringAsciiCase(TrimBlanks(answer), "N")) {
      continue;
    }

    // A running IDE writes its settings back when it ends, and holds its packages open.
    if (installation && !root.empty() && platform::ProgramRunning(installation->IdePrograms())) {
      console.WriteLine(std::string(IDE_RUNNING_HEAD) + InLine(root) +
                        " is running and would write its settings back when it ends: nothing was "
                        "removed; close it, then run again.");
      allRemoved = false;
      continue;
    }
    const std::vector<std::string> othersFiles = FilesOfOtherInstallations(name, value.name);
    const std::size_t sharedFiles =
        std::count_if(othersFiles.begin(), othersFiles.end(),
                      [&](const std::string& key) { return files.contains(key); });
    const std::size_t foldersThere =
        std::count_if(folderPaths.begin(), folderPaths.end(),
                      [](const std::string& f) { return platform::IsFolder(f); });
    const RemovalCount removed = RemoveEarlierFiles(earlier, othersFiles, console);
    std::size_t failed = removed.failed;
    std::size_t entries = 0;
    for (const RecordedLibraryEntry& entry : library) {
      const platform::UserListResult result = RemoveListEntry(entry);
      switch (result.outcome) {
      case platform::UserListOutcome::Changed:
        ++entries;
        break;
      case platform::UserListOutcome::Present:
      case platform::UserListOutcome::KeyMissing:
        break; // gone already, or the IDE's settings with it
      case platform::UserListOutcome::InUse:
        console.WriteLine("Could not remove " + entry.folder + " from " + entry.value + " (" +
                          entry.key + "): Wine programs of this prefix are running" +
                          (result.detail.empty() ? "" : " (" + result.detail + ")") +
                          "; close them, then run again");
        ++failed;
        break;
      case platform::UserListOutcome::Failed:
        console.WriteLine("Could not remove " + entry.folder + " from " + entry.value + " (" +
                          entry.key + "): " + result.detail);
        ++failed;
        break;
      }
    }
    // A value the installation made and that holds nothing now goes, rather than stay empty.
    for (const RecordedValue& made : MadeValues(earlier, library)) {
      const platform::UserListResult result = RemoveValueLeftEmpty(made.key, made.name);
      if (const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result)) {
        console.WriteLine("Could not remove the empty value " + made.name + " (" + made.key +
                          ") that the installer made: " + refusal->Reason());
        ++failed;
      }
    }
    std::size_t packages = 0;
    for (const RecordedValue& registeredValue : registered) {
      const platform::UserListResult result =
          platform::RemoveUserValue(registeredValue.key, registeredValue.name);
      if (const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result)) {
        console.WriteLine("Could not remove the registered package " + registeredValue.name + " (" +
                          registeredValue.key + "): " + refusal->Reason());
        ++failed;
      } else if (result.outcome == platform::UserListOutcome::Changed) {
        ++packages;
      }
    }
    // Command-line builds read the library settings again once the IDE has written them out.
    if (installation && !installation->GlobalsKey().empty() && entries + packages > 0) {
      platform::SetUserText(installation->GlobalsKey(), FORCE_ENV_OPTIONS_UPDATE, "1");
    }
    if (failed > 0 || (earlier.Faulty() && !choices.force)) {
      // The record stays, so that a later run can finish what this one could not.
      console.WriteLine("The record of " + std::string(name) + " stays in " + InLine(folder) +
                        ", so that running again removes the rest" +
                        (failed == 0 ? std::string("; the lines it could not take are said above, "
                                                   "and --force removes the record and its note")
                                     : std::string()) +
                        ".");
      allRemoved = false;
      continue;
    }
    RemoveRecordFiles(earlier, {});
    // Forced: the records that could not be read go with the rest.
    for (const std::string& path : earlier.damaged) {
      const platform::PathParts parts = platform::SplitAtLastSeparator(path, "\\/");
      platform::RemoveInstalledFile(parts.folder, parts.name, nullptr);
    }
    std::size_t folderCount = RemoveEarlierFolders(earlier, {});
    removedParts.insert(removedParts.end(), earlier.parts.begin(), earlier.parts.end());
    // A turn killed between making its folder and beginning its journal left that folder empty.
    for (const IndexedFolder& indexedFolder : indexed) {
      folderCount += !folders.contains(PathKey(FolderWithSeparator(indexedFolder.folder))) &&
                             platform::IsFolder(indexedFolder.folder) &&
                             platform::RemoveEmptyFolder(indexedFolder.folder)
                         ? 1
                         : 0;
    }
    platform::RemoveUserValue(indexKey, value.name, INDEX_PARENTS);
    // The counts above the question, accounted for: what was removed, what stays and why, and
    // what was gone already.
    std::vector<std::string> keptFolders;
    for (const std::string& path : folderPaths) {
      if (platform::IsFolder(path)) {
        keptFolders.push_back(path);
      }
    }
    std::vector<std::string> kept;
    if (removed.kept > 0) {
      kept.push_back(Plural(removed.kept, "file", "files") + " that the user changed");
    }
    if (sharedFiles > 0) {
      kept.push_back(Plural(sharedFiles, "file", "files") +
                     " that the package's installations for other IDEs list");
    }
    if (!keptFolders.empty()) {
      kept.push_back(Plural(keptFolders.size(), "folder", "folders") +
                     " that still hold other files or folders (" + InLine(keptFolders.front()) +
                     (keptFolders.size() > 1 ? ", ..." : "") + ")");
    }
    std::vector<std::string> rest;
    if (!kept.empty()) {
      rest.push_back("kept " + Listed(kept));
    }
    const std::size_t accounted = removed.files + removed.kept + sharedFiles;
    const std::size_t filesGone = files.size() > accounted ? files.size() - accounted : 0;
    const std::size_t foldersGone = folderPaths.size() - foldersThere;
    if (filesGone + foldersGone > 0) {
      std::vector<std::string> gone;
      if (filesGone > 0) {
        gone.push_back(Plural(filesGone, "file", "files"));
      }
      if (foldersGone > 0) {
        gone.push_back(Plural(foldersGone, "folder", "folders"));
      }
      rest.push_back(Listed(gone) + (filesGone + foldersGone == 1 ? " was" : " were") +
                     " gone already");
    }
    console.WriteLine("Removed " + Plural(removed.files, "file", "files") + ", " +
                      Plural(folderCount, "folder", "folders") + (packages > 0 ? ", " : " and ") +
                      Plural(entries, "library-path entry", "library-path entries") +
                      (packages > 0
                           ? " and " + Plural(packages, "registered package", "registered packages")
                           : std::string()) +
                      " of " + std::string(name) + (rest.empty() ? std::string() : "; " + rest[0]) +
                      (rest.size() > 1 ? "; " + rest[1] : std::string()) + ".");
  }
  RemoveEarlierFolders(EarlierInstallation{std::move(removedParts), {}, {}, {}, {}, {}, 0}, {});
  return allRemoved;
}

} // namespace quillet
