#include "Installer/LibraryPaths.h"

#include <algorithm>
#include <string>
#include <vector>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/Removal.h"
#include "Installer/SettingRefusal.h"
#include "Installer/Templates.h"
#include "Installer/TurnRecord.h"
#include "Package/Contract.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// Where %platform% begins in a template, in any letter case, from `from` on; npos when nowhere.
std::size_t FindPlatformMacro(std::string_view text, std::size_t from) {
  for (std::size_t at = from; at + PLATFORM_MACRO.size() <= text.size(); ++at) {
    if (platform::EqualIgnoringAsciiCase(text.substr(at, PLATFORM_MACRO.size()), PLATFORM_MACRO)) {
      return at;
    }
  }
  return std::string_view::npos;
}

// The library entries of the earlier installation, each once, but for those of the IDE's PATH,
// which the package builds own (PackageBuild.h).
std::vector<RecordedLibraryEntry> EarlierEntries(const TurnRecorder* recorder,
                                                 const IdeInstallation& installation) {
  std::vector<RecordedLibraryEntry> entries;
  if (recorder == nullptr) {
    return entries;
  }
  for (const InstallRecord& part : recorder->Earlier().parts) {
    for (const RecordedLibraryEntry& entry : part.library) {
      if (!platform::EqualIgnoringAsciiCase(entry.key, installation.EnvironmentKey()) &&
          std::none_of(entries.begin(), entries.end(),
                       [&](const RecordedLibraryEntry& e) { return SameEntry(e, entry); })) {
        entries.push_back(entry);
      }
    }
  }
  return entries;
}

// A folder of this version's library and the values it goes in.
struct Planned {
  std::string folder;
  LibraryList list;
  std::vector<platform::UserListTarget> targets;
};

// What this version declares, folder by folder and value by value.
struct LibraryPlan {
  std::vector<Planned> planned;
  std::vector<RecordedLibraryEntry> declared;
};

LibraryPlan PlanLibrary(const LibrarySettings& settings, const IdeInstallation& installation,
                        const InstallContext& context) {
  LibraryPlan plan;
  auto planFor = [&](const std::string& folderTemplate, LibraryList list,
                     const std::vector<std::string>& platforms) {
    Planned item{platform::WindowsViewOfFolder(ExpandTemplate(folderTemplate, context)), list, {}};
    for (const std::string& platformName : platforms) {
      for (auto& target : installation.LibraryTargets(platformName, list)) {
        plan.declared.push_back({target.key, target.value, item.folder});
        item.targets.push_back(std::move(target));
      }
    }
    plan.planned.push_back(std::move(item));
  };
  auto planFolder = [&](const std::string& folderTemplate, LibraryList list) {
    // A library folder that names its platform is one folder per platform, each in that
    // platform's values alone.
    if (list == LibraryList::Search &&
        FindPlatformMacro(folderTemplate, 0) != std::string_view::npos) {
      for (const std::string& platformName : settings.platforms) {
        planFor(WithPlatformName(folderTemplate, platformName), list, {platformName});
      }
      return;
    }
    planFor(folderTemplate, list, settings.platforms);
  };
  const LibraryFolders folders =
      settings.FoldersFor(installation.BasePath(), installation.Version());
  for (const std::string& folder : folders.searchPaths) {
    planFolder(folder, LibraryList::Search);
  }
  for (const std::string& folder : folders.browsingPaths) {
    planFolder(folder, LibraryList::Browsing);
  }
  for (const std::string& folder : folders.includePaths) {
    planFolder(folder, LibraryList::Include);
  }
  return plan;
}

// A planned folder's targets grouped by the earlier folder whose place the new one takes in them,
// and whether each target held the folder, and existed, before.
struct TargetGroups {
  std::vector<std::pair<std::string, std::vector<platform::UserListTarget>>> groups;
  std::vector<bool> heldBefore;
  std::vector<bool> existedBefore;
};

// The first earlier entry not yet taken in a target's value is the one the folder replaces there.
TargetGroups GroupTargets(const Planned& item, const std::vector<RecordedLibraryEntry>& earlier,
                          std::vector<bool>& consumed, const TurnRecorder* recorder) {
  TargetGroups grouped;
  for (const platform::UserListTarget& target : item.targets) {
    std::string replacing;
    // Only a recorded turn asks: what the user had there before is not the turn's to record.
    const std::optional<std::string> current =
        recorder != nullptr ? platform::ReadUserText(target.key, target.value) : std::nullopt;
    grouped.heldBefore.push_back(current && platform::PathListHolds(*current, item.folder));
    grouped.existedBefore.push_back(current.has_value());
    for (std::size_t i = 0; i < earlier.size() && !grouped.heldBefore.back(); ++i) {
      if (!consumed[i] && InValue(earlier[i], target.key, target.value)) {
        consumed[i] = true;
        replacing = earlier[i].folder;
        break;
      }
    }
    auto group = std::find_if(grouped.groups.begin(), grouped.groups.end(),
                              [&](const auto& g) { return g.first == replacing; });
    if (group == grouped.groups.end()) {
      grouped.groups.push_back({replacing, {}});
      group = std::prev(grouped.groups.end());
    }
    group->second.push_back(target);
  }
  return grouped;
}

const char* ListName(LibraryList list) {
  return list == LibraryList::Search     ? "library"
         : list == LibraryList::Browsing ? "browsing"
                                         : "include";
}

// Ends the folder's line when changing its values changed nothing: every value held the folder,
// or there was no value to put it in, since the keys of optional values (the C++ personality's) do
// not exist.
void SayUnchanged(const Planned& item, Console& console) {
  std::vector<std::string> missing;
  bool anyValue = false;
  for (const platform::UserListTarget& target : item.targets) {
    if (platform::ReadUserText(target.key, target.value)) {
      anyValue = true;
    } else {
      missing.push_back("HKEY_CURRENT_USER\\" + target.key);
    }
  }
  if (anyValue || missing.empty()) {
    console.WriteLine("already there");
    return;
  }
  std::string keys;
  for (std::size_t i = 0; i < missing.size(); ++i) {
    keys += (i == 0 ? "" : i + 1 == missing.size() ? " and " : ", ") + missing[i];
  }
  console.WriteLine("not added: " + keys +
                    (missing.size() == 1 ? " does not exist" : " do not exist") +
                    " (the IDE has no C++ settings for this user), so there is no " +
                    ListName(item.list) + " path to add it to");
}

// The turn owns the entries it added and those the earlier installation added; a folder that the
// user had put there before is the user's.
void RecordOwned(const Planned& item, const TargetGroups& grouped,
                 const std::vector<RecordedLibraryEntry>& earlier, TurnRecorder& recorder) {
  for (std::size_t i = 0; i < item.targets.size(); ++i) {
    const platform::UserListTarget& target = item.targets[i];
    const RecordedLibraryEntry entry{target.key, target.value, item.folder};
    const bool wasOurs =
        std::any_of(earlier.begin(), earlier.end(),
                    [&](const RecordedLibraryEntry& e) { return SameEntry(e, entry); });
    const std::optional<std::string> now = platform::ReadUserText(target.key, target.value);
    if (now && platform::PathListHolds(*now, item.folder) && (!grouped.heldBefore[i] || wasOurs)) {
      // A value that was not there is the turn's own: removal deletes it rather than leave it
      // empty.
      if (!grouped.existedBefore[i]) {
        recorder.ValueMade({target.key, target.value});
      }
      recorder.LibraryEntry(entry);
    }
  }
}

// Adds one planned folder to its values, in place of the earlier folder it replaces there, on one
// console line. False when a value refused it.
bool AddPlanned(const Planned& item, const std::vector<RecordedLibraryEntry>& earlier,
                std::vector<bool>& consumed, TurnRecorder* recorder, Console& console) {
  const TargetGroups grouped = GroupTargets(item, earlier, consumed, recorder);
  std::string replaced;
  for (const auto& group : grouped.groups) {
    if (!group.first.empty()) {
      replaced += (replaced.empty() ? "" : ", ") + group.first;
    }
  }
  const char* listName = ListName(item.list);
  console.WriteText(replaced.empty() ? "Adding " + item.folder + " to the " + listName + " path .. "
                                     : "Putting " + item.folder + " in place of " + replaced +
                                           " on the " + listName + " path .. ");
  for (std::size_t i = 0; recorder != nullptr && i < item.targets.size(); ++i) {
    if (!grouped.heldBefore[i]) {
      recorder->LibraryIntended({item.targets[i].key, item.targets[i].value, item.folder});
    }
  }
  bool changed = false;
  std::optional<SettingRefusal> refusal;
  for (const auto& [replacing, targets] : grouped.groups) {
    const platform::UserListResult result =
        platform::ChangeUserLists(targets, item.folder, replacing);
    changed = changed || result.outcome == platform::UserListOutcome::Changed;
    if (!refusal) {
      refusal = SettingRefusal::Of(result);
    }
  }
  if (refusal) {
    console.WriteLine(refusal->Said("not added"));
  } else if (changed) {
    console.WriteLine("OK");
  } else {
    SayUnchanged(item, console);
  }
  if (recorder != nullptr) {
    RecordOwned(item, grouped, earlier, *recorder);
  }
  return !refusal;
}

} // namespace

bool AddLibraryPaths(const LibrarySettings& settings, const IdeInstallation& installation,
                     const InstallContext& context, Console& console) {
  TurnRecorder* recorder = context.Recorder;
  const LibraryPlan plan = PlanLibrary(settings, installation, context);
  const std::vector<RecordedLibraryEntry> earlier = EarlierEntries(recorder, installation);
  // The earlier entries that this version no longer declares: a new folder takes the place of the
  // first of them in its value, so that the library keeps its order; the rest are removed.
  std::vector<bool> consumed(earlier.size(), false);
  for (std::size_t i = 0; i < earlier.size(); ++i) {
    consumed[i] =
        std::any_of(plan.declared.begin(), plan.declared.end(),
                    [&](const RecordedLibraryEntry& d) { return SameEntry(d, earlier[i]); });
  }

  bool allAdded = true;
  for (const Planned& item : plan.planned) {
    if (item.targets.empty()) {
      continue; // this version keeps no library for the package's platforms
    }
    allAdded = AddPlanned(item, earlier, consumed, recorder, console) && allAdded;
  }

  // What the earlier installation added and no folder of this version took the place of.
  for (std::size_t i = 0; i < earlier.size(); ++i) {
    if (consumed[i]) {
      continue;
    }
    const RecordedLibraryEntry& entry = earlier[i];
    console.WriteText("Removing " + entry.folder + " from " + entry.value + " (" + entry.key +
                      ") .. ");
    const platform::UserListResult result =
        platform::ChangeUserLists({{entry.key, entry.value, false}}, "", entry.folder);
    const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result);
    console.WriteLine(
        refusal ? refusal->Said("not removed")
                : (result.outcome == platform::UserListOutcome::Changed ? "OK" : "already gone"));
    if (refusal) {
      allAdded = false;
      recorder->LibraryEntry(entry); // still there: still this installation's
    } else if (recorder->EarlierMade(entry.key, entry.value)) {
      RemoveValueLeftEmpty(entry.key, entry.value);
    }
  }
  return allAdded;
}

std::string WithPlatformName(std::string_view folderTemplate, std::string_view platformName) {
  std::string result;
  std::size_t from = 0;
  for (std::size_t at; (at = FindPlatformMacro(folderTemplate, from)) != std::string_view::npos;) {
    result.append(folderTemplate.substr(from, at - from)).append(platformName);
    from = at + PLATFORM_MACRO.size();
  }
  return result.append(folderTemplate.substr(from));
}

} // namespace quillet
