#include "Installer/Uninstall.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Common/Exception.h"
#include "Common/Text.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/Installation.h"
#include "Installer/RecordStore.h"
#include "Installer/Removal.h"
#include "Package/IdeInstallation.h"
#include "Platform/Ascii.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileSystem.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// "A, B and C".
std::string Listed(const std::vector<std::string>& items) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  }
  return text;
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

// One recorded installation of the package (one index value) and what its records say.
struct Recorded {
  std::string name;  // the package's
  std::string value; // the index value's name: the IDE's version key, or "none"
  std::string text;  // the index value's text
  std::optional<IdeInstallation> installation; // with the root discovery finds, if any
  std::string root;
  std::string ide;   // for the user: "HKEY_CURRENT_USER\..." or "no IDE"
  std::string named; // "NAME (IDE)"
  std::vector<IndexedFolder> indexed;
  EarlierInstallation earlier;
  RemovalList list; // what the records list, once they are to be acted on
};

// Reads the records of the installation that the index value names.
Recorded ReadRecorded(std::string_view name, const platform::UserTextValue& value) {
  Recorded r;
  r.name = name;
  r.value = value.name;
  r.text = value.text;
  r.installation = InstallationOfKey(value.name);
  r.ide = r.installation ? "HKEY_CURRENT_USER\\" + value.name : "no IDE";
  r.named = r.name + " (" + r.ide + ")";
  if (r.installation) {
    r.root = IdeRoot(*r.installation);
    r.installation = IdeInstallation(std::string(r.installation->BasePath()),
                                     std::string(r.installation->Version()), r.root);
  }
  r.indexed = IndexedFoldersOfText(value.text);
  const std::optional<IdeInstallation>& installation = r.installation;
  r.earlier = FindEarlier(name, value.name, r.indexed, installation, [&installation] {
    return PackageOutputFolders(*installation, IdeSharedFolder(*installation));
  });
  return r;
}

// Whether the records are there to be acted on; when not, says why, and removes the note that
// leads nowhere. `failed` is set when something stays that a later run is to finish.
bool RecordsToAct(const Recorded& r, bool force, Console& console, bool& failed) {
  if (r.earlier.Empty() && r.earlier.damaged.empty()) {
    const bool folderThere =
        std::any_of(r.indexed.begin(), r.indexed.end(),
                    [](const IndexedFolder& f) { return platform::IsFolder(f.folder); });
    if (folderThere && !force) {
      console.WriteLine("No record of " + r.named + " is left in " + InLine(r.text) +
                        ", though the folder is there: what it holds is not known, so nothing "
                        "is removed. The note in the registry stays; --force removes it.");
      failed = true;
      return false;
    }
    // The folder was removed or its record lost: the note leads nowhere.
    console.WriteLine("No record of " + r.named + " is left in " + InLine(r.text) +
                      "; its note in the registry is removed.");
    RemoveIndex(r.name, r.value);
    return false;
  }
  if (!r.earlier.damaged.empty() && !force) {
    console.WriteLine("Nothing of " + r.named +
                      " is removed, and its note in the registry stays: look at the record "
                      "above, then run again with --force to remove what the readable records "
                      "prove.");
    failed = true;
    return false;
  }
  return true;
}

// Says what the installation holds and asks; true when the user lets it go.
bool AskToRemove(const Recorded& r, const DialogueChoices& choices, Console& console) {
  console.WriteLine(
      r.name + (r.earlier.Empty() || r.earlier.Version().empty() ? "" : " " + r.earlier.Version()) +
      " for " + r.ide + " is installed in " + InLine(r.list.folder) + ": " +
      Plural(r.list.files.size(), "file", "files") + ", " +
      Plural(r.list.folders.size(), "folder", "folders") + " made by the installer, " +
      Plural(r.list.library.size(), "library-path entry", "library-path entries") + ".");
  for (const RecordedLibraryEntry& entry : r.list.library) {
    console.WriteLine("  " + entry.value + " (" + entry.key + "): " + entry.folder);
  }
  for (const RecordedValue& value : r.list.registered) {
    console.WriteLine("  Registered package (" + value.key + "): " + value.name);
  }
  console.WriteLine(REMOVAL_QUESTION);
  std::string answer;
  if (choices.confirm) {
    console.WriteLine("");
  } else {
    answer = console.ReadLine();
  }
  return !platform::EqualIgnoringAsciiCase(TrimBlanks(answer), "N");
}

// What removing one installation came to, for its last line.
struct Outcome {
  RemovalCount files;
  SettingsRemoval settings;
  std::size_t sharedFiles = 0;  // files the package's other installations list
  std::size_t foldersThere = 0; // of the folders listed, those there before the removal
  std::size_t folders = 0;      // folders removed
};

// The last line: what was removed, what stays and why, and what was gone already, so that the
// counts above the question are all accounted for.
std::string RemovedLine(const Recorded& r, const Outcome& o) {
  std::vector<std::string> keptFolders;
  for (const std::string& path : r.list.folderPaths) {
    if (platform::IsFolder(path)) {
      keptFolders.push_back(path);
    }
  }
  std::vector<std::string> kept;
  if (o.files.kept > 0) {
    kept.push_back(Plural(o.files.kept, "file", "files") + " that the user changed");
  }
  if (o.sharedFiles > 0) {
    kept.push_back(Plural(o.sharedFiles, "file", "files") +
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
  const std::size_t accounted = o.files.files + o.files.kept + o.sharedFiles;
  const std::size_t filesGone =
      r.list.files.size() > accounted ? r.list.files.size() - accounted : 0;
  const std::size_t foldersGone = r.list.folderPaths.size() - o.foldersThere;
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
  const std::size_t packages = o.settings.packages;
  return "Removed " + Plural(o.files.files, "file", "files") + ", " +
         Plural(o.folders, "folder", "folders") + (packages > 0 ? ", " : " and ") +
         Plural(o.settings.entries, "library-path entry", "library-path entries") +
         (packages > 0 ? " and " + Plural(packages, "registered package", "registered packages")
                       : std::string()) +
         " of " + r.name + (rest.empty() ? std::string() : "; " + rest[0]) +
         (rest.size() > 1 ? "; " + rest[1] : std::string()) + ".";
}

// Removes the installation's files and settings, then, when all of them went, its records,
// folders and note. False when something stays for a later run (said on its line).
bool RemoveRecorded(const Recorded& r, bool force, Console& console) {
  // A running IDE writes its settings back when it ends, and holds its packages open.
  if (r.installation && !r.root.empty() &&
      platform::ProgramRunning(r.installation->IdePrograms())) {
    console.WriteLine(std::string(IDE_RUNNING_HEAD) + InLine(r.root) +
                      " is running and would write its settings back when it ends: nothing was "
                      "removed; close it, then run again.");
    return false;
  }
  Outcome o;
  const std::vector<std::string> othersFiles = FilesOfOtherInstallations(r.name, r.value);
  o.sharedFiles = std::count_if(othersFiles.begin(), othersFiles.end(),
                                [&](const std::string& key) { return r.list.files.contains(key); });
  o.foldersThere = std::count_if(r.list.folderPaths.begin(), r.list.folderPaths.end(),
                                 [](const std::string& f) { return platform::IsFolder(f); });
  o.files = RemoveEarlierFiles(r.earlier, othersFiles, console);
  o.settings = RemoveSettings(r.list.library, MadeValues(r.earlier, r.list.library),
                              r.list.registered, console);
  // Command-line builds read the library settings again once the IDE has written them out.
  if (r.installation && !r.installation->GlobalsKey().empty() &&
      o.settings.entries + o.settings.packages > 0) {
    platform::SetUserText(r.installation->GlobalsKey(), FORCE_ENV_OPTIONS_UPDATE, "1");
  }
  const std::size_t failed = o.files.failed + o.settings.failed;
  if (failed > 0 || (r.earlier.Faulty() && !force)) {
    // The record stays, so that a later run can finish what this one could not.
    console.WriteLine("The record of " + r.name + " stays in " + InLine(r.list.folder) +
                      ", so that running again removes the rest" +
                      (failed == 0 ? std::string("; the lines it could not take are said above, "
                                                 "and --force removes the record and its note")
                                   : std::string()) +
                      ".");
    return false;
  }
  // Forced: the records that could not be read go with the rest.
  RemoveRecordFiles(r.earlier, {}, true);
  o.folders = RemoveEarlierFolders(r.earlier, {});
  o.folders += RemoveEmptyIndexedFolders(r.indexed, r.list);
  RemoveIndex(r.name, r.value);
  console.WriteLine(RemovedLine(r, o));
  return true;
}

} // namespace

bool RunUninstall(std::string_view name, Console& console, const DialogueChoices& choices) {
  // One run at a time changes what the records of one package list.
  const PackageRunLock packageLock(name, console);
  const std::vector<platform::UserTextValue> recorded =
      platform::ReadUserTexts(RecordIndexKey(name));
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
    const std::optional<IdeInstallation> installation = InstallationOfKey(value.name);
    if (!choices.ides.empty() && !(installation && IdeChosen(choices.ides, *installation))) {
      continue;
    }
    Recorded r = ReadRecorded(name, value);
    console.WriteLine("");
    SayEarlier(r.earlier, console);
    bool failed = false;
    if (!RecordsToAct(r, choices.force, console, failed)) {
      allRemoved = allRemoved && !failed;
      continue;
    }
    // Forced: what the damaged records prove goes too.
    r.earlier.TakeDamagedParts();
    r.list = ListRemoval(r.earlier);
    if (!AskToRemove(r, choices, console)) {
      continue;
    }
    if (!RemoveRecorded(r, choices.force, console)) {
      allRemoved = false;
      continue;
    }
    removedParts.insert(removedParts.end(), r.earlier.parts.begin(), r.earlier.parts.end());
  }
  RemoveEarlierFolders(EarlierInstallation{std::move(removedParts), {}, {}, {}, {}, {}, 0}, {});
  return allRemoved;
}

} // namespace quillet
