#include "Installer/Installation.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "Common/Exception.h"
#include "Common/Text.h"
#include "Installer/EntryInstall.h"
#include "Installer/Folders.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/LibraryPaths.h"
#include "Installer/Options.h"
#include "Installer/PackageBuild.h"
#include "Installer/Templates.h"
#include "Installer/TurnRecord.h"
#include "Package/Contract.h"
#include "Platform/Ascii.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/Process.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

// The answer to a folder question: the option's folder, shown as if typed; an empty answer that
// confirms; or the console's next line. A typed folder that is not a full path would be taken from
// the current folder and recorded as typed: it is said, and `question` asked again. `skips` tells
// the answer that skips the turn (empty, or not, it needs no folder).
std::string FolderAnswer(Console& console, const DialogueChoices& choices,
                         std::string_view question, bool (*skips)(std::string_view)) {
  if (choices.folder) {
    console.WriteLine(InLine(*choices.folder));
    return *choices.folder;
  }
  if (choices.confirm) {
    return std::string();
  }
  for (;;) {
    std::string answer = console.ReadLine();
    const std::string_view folder = TrimBlanks(answer);
    if (folder.empty() || skips(answer) || platform::IsFullPath(folder)) {
      return answer;
    }
    console.WriteLine(InLine(folder) + std::string(NOT_A_FULL_PATH) +
                      std::string(FULL_PATH_EXAMPLES) + ".");
    console.WriteLine(question);
  }
}

// "N" skips an installation's turn; " N" is a folder there.
bool SkipsTurn(std::string_view answer) {
  return platform::EqualIgnoringAsciiCase(answer, "N");
}

// Blanks around the "N" that skips the turn without an IDE do not matter.
bool SkipsTurnWithoutIde(std::string_view answer) {
  return platform::EqualIgnoringAsciiCase(TrimBlanks(answer), "N");
}

bool ChoiceMatches(const IdeChoice& choice, const IdeInstallation& installation) {
  for (std::size_t i = 0; i < choice.paths.paths.size(); ++i) {
    if (platform::EqualIgnoringAsciiCase(IdeRegistryKey(choice.paths.paths[i]),
                                         IdeRegistryKey(installation.BasePath())) &&
        VersionWithin(installation.Version(), choice.paths.BoundsOf(i))) {
      return true;
    }
  }
  return false;
}

// How the user is shown an installation: the product key and the version ("Delphi 7.0", "BDS
// 23.0"), with its root folder when it has one.
std::string IdeLabel(const IdeInstallation& installation) {
  const std::string_view base = IdeRegistryKey(installation.BasePath());
  const std::string_view trimmed = base.ends_with('\\') ? base.substr(0, base.size() - 1) : base;
  const std::size_t last = trimmed.rfind('\\');
  const std::string_view product =
      last == std::string_view::npos ? trimmed : trimmed.substr(last + 1);
  std::string label = std::string(product) + " " + installation.Version();
  if (!installation.Root().empty()) {
    label += " (" + InLine(installation.Root()) + ")";
  }
  return label;
}

// The --ides choice that names this installation alone: its family, or its base path, with its
// version as both bounds, quoted for a shell and for the Windows command line alike.
std::string IdesChoiceOf(const IdeInstallation& installation) {
  const std::string ides = installation.Family() != nullptr
                               ? std::string(installation.Family()->name)
                               : installation.BasePath();
  return "\"" + ides + ">=" + installation.Version() + ",<=" + installation.Version() + "\"";
}

// The command that removes the package from one installation.
std::string UninstallCommand(std::string_view name, const IdeInstallation& installation) {
  const std::string program =
      std::string(platform::SplitAtLastSeparator(platform::OwnProgramPath(), "/\\").name);
  std::string option = "--uninstall=" + std::string(name);
  if (option.find(' ') != std::string::npos) {
    option = "\"" + option + "\"";
  }
  return program + " " + option + " --ides " + IdesChoiceOf(installation);
}

// The registered installations under the choice's base paths, whatever their versions, that the
// choice matches.
std::vector<IdeInstallation> RegisteredMatches(const IdeChoice& choice) {
  std::vector<IdeInstallation> registered;
  for (const std::string& basePath : choice.paths.paths) {
    try {
      DiscoverIdes(registered, basePath, {});
    } catch (const ERegistryException&) {
      // A registration that cannot be read is no installation to name.
    }
  }
  std::erase_if(registered, [&](const IdeInstallation& i) { return !ChoiceMatches(choice, i); });
  return registered;
}

// An installation as the index names it (its version key), with its root folder when it is still
// registered.
IdeInstallation RegisteredOrNot(const IdeInstallation& fromKey) {
  std::vector<IdeInstallation> found;
  try {
    DiscoverIdes(found, fromKey.BasePath(), {});
  } catch (const ERegistryException&) {
    return fromKey;
  }
  for (IdeInstallation& candidate : found) {
    if (platform::EqualIgnoringAsciiCase(candidate.Version(), fromKey.Version())) {
      return std::move(candidate);
    }
  }
  return fromKey;
}

// The installations that hold an earlier record of the package although this version does not
// serve them (an upgrade that drops an IDE): each is said, with the command that removes it, and
// kept as it is.
void SayUnservedEarlier(const PackageIdentity& identity, const std::vector<IdeInstallation>& served,
                        Console& console) {
  for (const platform::UserTextValue& value :
       platform::ReadUserTexts(RecordIndexKey(identity.name))) {
    const bool isServed =
        std::any_of(served.begin(), served.end(), [&](const IdeInstallation& installation) {
          return platform::EqualIgnoringAsciiCase(installation.VersionKey(), value.name);
        });
    const std::optional<IdeInstallation> fromKey = InstallationOfKey(value.name);
    if (isServed || !fromKey) {
      continue; // a turn of this run upgrades it, or it was installed without an IDE
    }
    const IdeInstallation installation = RegisteredOrNot(*fromKey);
    const EarlierInstallation earlier = FindEarlier(
        identity.name, value.name, IndexedFoldersOfText(value.text), installation, [&installation] {
          return PackageOutputFolders(installation, IdeSharedFolder(installation));
        });
    if (earlier.Empty() && earlier.damaged.empty()) {
      continue; // a note that leads to no record: nothing of the package is known to be there
    }
    const std::string folder =
        earlier.Empty() ? FolderOfPath(earlier.damaged.front()) : earlier.Folder();
    const std::string version =
        earlier.Empty() || earlier.Version().empty() ? "" : " " + earlier.Version();
    console.WriteLine("\r\n" + identity.name + version + " stays installed for " +
                      IdeLabel(installation) + " in " + InLine(folder) + ": this version" +
                      (identity.version.empty() ? "" : " (" + identity.version + ")") +
                      " does not serve that IDE, so its files and settings there are left as "
                      "they are. To remove it: " +
                      UninstallCommand(identity.name, installation));
  }
}

} // namespace

bool IdeChosen(const DialogueChoices& choices, const IdeInstallation& installation) {
  return choices.ides.empty() ||
         std::any_of(choices.ides.begin(), choices.ides.end(),
                     [&](const IdeChoice& choice) { return ChoiceMatches(choice, installation); });
}

bool RunInstallation(const PackageSettings& settings, InstallContext& context, Console& console,
                     const EntryDecoding& decoding, const DialogueChoices& choices) {
  // Entry names and the patch text are converted in each turn, from the package's code page.
  context.CodePage = settings.codePage;
  context.PatchText = settings.patch.bytes;
  context.PatchStatus = settings.patch.status;
  const PackageTexts& texts = settings.text;
  console.WriteLine("\r\n" + texts.welcome);

  std::vector<IdeInstallation> installations;
  // The package may name the registry keys of the IDEs it serves, with version bounds; otherwise
  // Delphi's and C++Builder's own.
  const IdeBasePaths& ides = texts.ides;
  {
    // Told ahead, the registry is read once for every base key, not once per discovery.
    std::vector<std::string> keys;
    for (const std::string& basePath : ides.paths) {
      keys.emplace_back(IdeRegistryKey(basePath));
    }
    const platform::RegistryReadAhead readAhead(std::move(keys));
    for (std::size_t i = 0; i < ides.paths.size(); ++i) {
      DiscoverIdes(installations, ides.paths[i], ides.BoundsOf(i));
    }
  }
  for (const IdeChoice& choice : choices.ides) {
    if (std::none_of(installations.begin(), installations.end(),
                     [&](const IdeInstallation& i) { return ChoiceMatches(choice, i); })) {
      // Registered, but not among the IDEs this package serves: that is what the user is told.
      const std::vector<IdeInstallation> registered = RegisteredMatches(choice);
      if (registered.empty()) {
        console.WriteLine(std::string(IDES_CHOICE_UNMATCHED_HEAD) + InLine(choice.text) + ".");
        continue;
      }
      std::string names;
      for (std::size_t i = 0; i < registered.size(); ++i) {
        names += (i == 0                       ? ""
                  : i + 1 == registered.size() ? " and "
                                               : ", ") +
                 IdeLabel(registered[i]);
      }
      console.WriteLine("\r\n--ides " + InLine(choice.text) + " matches " + names +
                        ", which this package does not serve; it serves " +
                        InLine(DescribeIdes(ides)) + ".");
    }
  }
  const LibrarySettings& library = texts.library;
  const std::optional<std::string>& readmeTarget = texts.readmeTarget;
  const std::string& defaultFolder = texts.defaultFolder;
  // The named readme is the one to open, from the last turn that installed into a folder.
  // A package with a name is recorded per IDE installation (its index value): an earlier record
  // of it, in the folder the index names or in this turn's, is what the turn upgrades.
  const PackageIdentity& identity = settings.identity;
  std::optional<TurnRecorder> recorder;
  std::optional<PackageRunLock> packageLock;
  if (!identity.name.empty()) {
    packageLock.emplace(identity.name, console);
    SayUnservedEarlier(identity, installations, console);
  }
  auto installTurn = [&](const IdeInstallation* installation) {
    const std::string ide =
        installation ? installation->VersionKey() : std::string(NO_IDE_INDEX_VALUE);
    recorder.reset();
    context.Recorder = nullptr;
    const std::optional<std::string> folder =
        SystemFormOfPath(FolderWithSeparator(context.PackageRoot));
    if (!identity.name.empty() && folder) {
      std::vector<IndexedFolder> folders = IndexedFolders(identity.name, ide);
      folders.push_back({*folder, {}});
      EarlierInstallation earlier =
          FindEarlier(identity.name, ide, folders,
                      installation ? std::optional<IdeInstallation>(*installation) : std::nullopt,
                      installation ? std::function<std::vector<std::string>()>([installation] {
                        return PackageOutputFolders(*installation, IdeSharedFolder(*installation));
                      })
                                   : nullptr);
      SayEarlier(earlier, console);
      if (!earlier.Empty()) {
        console.WriteLine("Upgrading " + identity.name +
                          (earlier.Version().empty() ? "" : " " + earlier.Version()) + " in " +
                          InLine(earlier.Folder()) +
                          (identity.version.empty() ? "" : " to " + identity.version) + ".");
      }
      recorder.emplace(identity, std::string(ide), FolderWithSeparator(*folder),
                       std::move(earlier));
      recorder->Prepare(console);
      context.Recorder = &*recorder;
    }
    const bool installed = InstallAllEntries(settings.toInstall, context, console, decoding);
    if (readmeTarget) {
      context.ReadmePath = ExpandTemplate(*readmeTarget, context);
    }
    if (!installed && recorder && !recorder->Earlier().Empty()) {
      console.WriteLine(std::string(EARLIER_KEPT_HEAD) + InLine(recorder->Earlier().Folder()) +
                        std::string(EARLIER_KEPT_TAIL));
    }
    if (!installed && recorder && !recorder->WroteFiles()) {
      recorder->Abandon(); // nothing to note, nothing to remove later
    }
    return installed;
  };
  // After a turn in which every entry arrived: the earlier installation's leftovers go and the
  // record is written.
  auto completeTurn = [&] {
    const bool complete = !recorder || recorder->Complete(console);
    recorder.reset();
    context.Recorder = nullptr;
    return complete;
  };
  auto hasEarlierLibrary = [&] {
    return recorder &&
           std::any_of(recorder->Earlier().parts.begin(), recorder->Earlier().parts.end(),
                       [](const InstallRecord& part) { return !part.library.empty(); });
  };

  // The shared folder is looked up (on POSIX another read of system.reg) only for a package that
  // names it.
  bool usesShared = TemplateUsesMacro(defaultFolder, Macro::IdeShared) ||
                    TemplateUsesMacro(context.PatchText, Macro::IdeShared) ||
                    (readmeTarget && TemplateUsesMacro(*readmeTarget, Macro::IdeShared));
  for (const auto* folders : {&library.searchPaths, &library.browsingPaths}) {
    for (const std::string& folder : *folders) {
      usesShared = usesShared || TemplateUsesMacro(folder, Macro::IdeShared);
    }
  }
  for (const PackageEntry& entry : settings.entries) {
    usesShared = usesShared || TemplateUsesMacro(entry.FolderTemplate(), Macro::IdeShared);
  }

  bool allInstalled = true;
  for (const IdeInstallation& installation : installations) {
    context.IdeRoot = installation.Root();
    context.IdeShared = usesShared ? IdeSharedFolder(installation) : std::string();
    // Expanded before PackageRoot is assigned: %zel_root% still holds the previous turn's folder.
    context.PackageRoot = ExpandTemplate(defaultFolder, context);
    console.WriteLine(std::string(FOLDER_QUESTION_HEAD) + InLine(context.PackageRoot));
    console.WriteLine(FOLDER_QUESTION_TAIL);
    // Not among --ides: skipped as if so answered.
    const bool chosen = IdeChosen(choices, installation);
    if (!chosen) {
      console.WriteLine("N");
    }
    const std::string answer = chosen
                                   ? FolderAnswer(console, choices, FOLDER_QUESTION_TAIL, SkipsTurn)
                                   : std::string(1, 'N');
    if (!TrimBlanks(answer).empty()) {
      context.PackageRoot = answer;
    }
    if (SkipsTurn(context.PackageRoot)) {
      continue;
    }
    if (!installTurn(&installation)) {
      // The IDE is not pointed at a library that is incomplete, or at folders that were never
      // made: its settings wait for a turn in which every entry arrived.
      allInstalled = false;
      if (!library.Empty()) {
        console.WriteLine(LIBRARY_PATH_LEFT);
      }
      if (AnySetServes(settings.text.packages, installation)) {
        console.WriteLine(PACKAGES_LEFT);
      }
      recorder.reset();
      context.Recorder = nullptr;
      continue;
    }
    // A running IDE writes its settings back when it ends, over any change made now.
    if (platform::ProgramRunning(installation.IdePrograms())) {
      console.WriteLine(std::string(IDE_RUNNING_HEAD) + InLine(installation.Root()) +
                        std::string(IDE_RUNNING_TAIL));
      KeepEarlierSettings(context);
      completeTurn();
      allInstalled = false;
      continue;
    }
    // The packages first: on Linux the compiler runs under Wine, whose server holds the registry
    // until it ends.
    if (!BuildPackageSets(settings.text.packages,
                          library.FoldersFor(installation.BasePath(), installation.Version()),
                          installation, context, console)) {
      allInstalled = false;
    }
    if ((!library.Empty() || hasEarlierLibrary()) &&
        !AddLibraryPaths(library, installation, context, console)) {
      allInstalled = false;
    }
    // Command-line builds (MSBuild) read the IDE's library settings from a file of their own,
    // which the IDE writes again when it starts and finds this set.
    if (!installation.GlobalsKey().empty() &&
        (!library.Empty() || hasEarlierLibrary() ||
         AnySetServes(settings.text.packages, installation))) {
      platform::SetUserText(installation.GlobalsKey(), FORCE_ENV_OPTIONS_UPDATE, "1");
    }
    if (!completeTurn()) {
      allInstalled = false;
    }
  }

  // A package that names its IDEs says when none of them is installed, and may still be installed
  // into a folder of the user's choice, in a turn without an IDE.
  if (installations.empty() && ides.source == IdeListSource::Package) {
    console.WriteLine(std::string(NO_FITTING_IDE_HEAD) + InLine(DescribeIdes(ides)) + ".");
    console.WriteLine(NO_FITTING_IDE_QUESTION);
    const std::string answer =
        FolderAnswer(console, choices, NO_FITTING_IDE_QUESTION, SkipsTurnWithoutIde);
    if (!TrimBlanks(answer).empty() && !SkipsTurnWithoutIde(answer)) {
      context.IdeRoot.clear();
      context.IdeShared.clear();
      context.PackageRoot = answer;
      // Its clean-up and record only after a turn in which every entry arrived.
      allInstalled = installTurn(nullptr) && completeTurn();
      recorder.reset();
      context.Recorder = nullptr;
    }
  }

  if (!context.ReadmePath.empty() && choices.openReadme) {
    platform::OpenDocument(context.ReadmePath);
  }
  return allInstalled;
}

} // namespace quillet
