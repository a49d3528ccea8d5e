#include "Installer/Installation.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "Common/Exception.h"
#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/Templates.h"
#include "Installer/Turn.h"
#include "Installer/TurnRecord.h"
#include "Package/Contract.h"
#include "Platform/Ascii.h"
#include "Platform/PathSplit.h"
#include "Platform/Process.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

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

// The installations of the IDEs the package serves, the registry read once for every base key
// (told ahead) rather than once per discovery.
std::vector<IdeInstallation> ServedInstallations(const IdeBasePaths& ides) {
  std::vector<IdeInstallation> installations;
  std::vector<std::string> keys;
  for (const std::string& basePath : ides.paths) {
    keys.emplace_back(IdeRegistryKey(basePath));
  }
  const platform::RegistryReadAhead readAhead(std::move(keys));
  for (std::size_t i = 0; i < ides.paths.size(); ++i) {
    DiscoverIdes(installations, ides.paths[i], ides.BoundsOf(i));
  }
  return installations;
}

// Each --ides choice that matches none of the served installations is said: as matching nothing,
// or as matching registered IDEs that this package does not serve.
void SayUnmatchedChoices(const DialogueChoices& choices,
                         const std::vector<IdeInstallation>& installations,
                         const IdeBasePaths& ides, Console& console) {
  for (const IdeChoice& choice : choices.ides) {
    if (std::any_of(installations.begin(), installations.end(),
                    [&](const IdeInstallation& i) { return ChoiceMatches(choice, i); })) {
      continue;
    }
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

// Whether the package names the IDE's shared folder anywhere: only then is it looked up (on POSIX
// another read of system.reg).
bool UsesSharedFolder(const PackageSettings& settings, const InstallContext& context) {
  const PackageTexts& texts = settings.text;
  bool usesShared =
      TemplateUsesMacro(texts.defaultFolder, Macro::IdeShared) ||
      TemplateUsesMacro(context.PatchText, Macro::IdeShared) ||
      (texts.readmeTarget && TemplateUsesMacro(*texts.readmeTarget, Macro::IdeShared));
  for (const auto* folders : {&texts.library.searchPaths, &texts.library.browsingPaths}) {
    for (const std::string& folder : *folders) {
      usesShared = usesShared || TemplateUsesMacro(folder, Macro::IdeShared);
    }
  }
  for (const PackageEntry& entry : settings.entries) {
    usesShared = usesShared || TemplateUsesMacro(entry.FolderTemplate(), Macro::IdeShared);
  }
  return usesShared;
}

} // namespace

bool RunInstallation(const PackageSettings& settings, InstallContext& context, Console& console,
                     const EntryDecoding& decoding, const DialogueChoices& choices) {
  // Entry names and the patch text are converted in each turn, from the package's code page.
  context.CodePage = settings.codePage;
  context.PatchText = settings.patch.bytes;
  context.PatchStatus = settings.patch.status;
  console.WriteLine("\r\n" + settings.text.welcome);

  // The package may name the registry keys of the IDEs it serves, with version bounds; otherwise
  // Delphi's and C++Builder's own.
  const IdeBasePaths& ides = settings.text.ides;
  const std::vector<IdeInstallation> installations = ServedInstallations(ides);
  SayUnmatchedChoices(choices, installations, ides, console);
  // One run of a package with a name at a time; an earlier record of it for an IDE this version
  // does not serve is said before the turns.
  std::optional<PackageRunLock> packageLock;
  if (!settings.identity.name.empty()) {
    packageLock.emplace(settings.identity.name, console);
    SayUnservedEarlier(settings.identity, installations, console);
  }

  const bool usesShared = UsesSharedFolder(settings, context);
  bool allInstalled = true;
  for (const IdeInstallation& installation : installations) {
    context.IdeRoot = installation.Root();
    context.IdeShared = usesShared ? IdeSharedFolder(installation) : std::string();
    Turn turn(settings, context, console, decoding, choices);
    allInstalled = turn.Run(installation) && allInstalled;
  }
  // A package that names its IDEs says when none of them is installed, and may still be installed
  // into a folder of the user's choice, in a turn without an IDE.
  if (installations.empty() && ides.source == IdeListSource::Package) {
    Turn turn(settings, context, console, decoding, choices);
    allInstalled = turn.RunWithoutIde(ides) && allInstalled;
  }

  if (!context.ReadmePath.empty() && choices.openReadme) {
    platform::OpenDocument(context.ReadmePath);
  }
  return allInstalled;
}

} // namespace quillet
