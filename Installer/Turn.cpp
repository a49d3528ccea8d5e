#include "Installer/Turn.h"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/LibraryPaths.h"
#include "Installer/Options.h"
#include "Installer/PackageBuild.h"
#include "Installer/Templates.h"
#include "Package/InstallRecord.h"
#include "Package/PackageIdes.h"
#include "Platform/Ascii.h"
#include "Platform/ChildProcess.h"
#include "Platform/FileSystem.h"
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

} // namespace

Turn::~Turn() {
  EndRecord();
}

bool Turn::Run(const IdeInstallation& installation) {
  if (!AskFolder(installation)) {
    return true;
  }
  if (!InstallEntries(&installation)) {
    SayIdeLeft(installation);
    EndRecord();
    return false;
  }
  if (IdeRunning(installation)) {
    return false;
  }
  // The packages first: on Linux the compiler runs under Wine, whose server holds the registry
  // until it ends.
  bool done = BuildPackages(installation);
  done = AddLibrary(installation) && done;
  AskForSettingsUpdate(installation);
  return Complete() && done;
}

bool Turn::RunWithoutIde(const IdeBasePaths& ides) {
  console_.WriteLine(std::string(NO_FITTING_IDE_HEAD) + InLine(DescribeIdes(ides)) + ".");
  console_.WriteLine(NO_FITTING_IDE_QUESTION);
  const std::string answer =
      FolderAnswer(console_, choices_, NO_FITTING_IDE_QUESTION, SkipsTurnWithoutIde);
  if (TrimBlanks(answer).empty() || SkipsTurnWithoutIde(answer)) {
    return true;
  }
  context_.IdeRoot.clear();
  context_.IdeShared.clear();
  context_.PackageRoot = answer;
  // Its clean-up and record only after a turn in which every entry arrived.
  return InstallEntries(nullptr) && Complete();
}

bool Turn::AskFolder(const IdeInstallation& installation) {
  // Expanded before PackageRoot is assigned: %zel_root% still holds the previous turn's folder.
  context_.PackageRoot = ExpandTemplate(settings_.text.defaultFolder, context_);
  console_.WriteLine(std::string(FOLDER_QUESTION_HEAD) + InLine(context_.PackageRoot));
  console_.WriteLine(FOLDER_QUESTION_TAIL);
  // Not among --ides: skipped as if so answered.
  const bool chosen = IdeChosen(choices_.ides, installation);
  if (!chosen) {
    console_.WriteLine("N");
  }
  const std::string answer = chosen
                                 ? FolderAnswer(console_, choices_, FOLDER_QUESTION_TAIL, SkipsTurn)
                                 : std::string(1, 'N');
  if (!TrimBlanks(answer).empty()) {
    context_.PackageRoot = answer;
  }
  return !SkipsTurn(context_.PackageRoot);
}

// A package with a name is recorded per IDE installation (its index value): an earlier record of
// it, in the folder the index names or in this turn's, is what the turn upgrades.
void Turn::BeginRecord(const IdeInstallation* installation) {
  EndRecord();
  const PackageIdentity& identity = settings_.identity;
  const std::string ide =
      installation ? installation->VersionKey() : std::string(NO_IDE_INDEX_VALUE);
  const std::optional<std::string> folder =
      SystemFormOfPath(FolderWithSeparator(context_.PackageRoot));
  if (identity.name.empty() || !folder) {
    return;
  }
  std::vector<IndexedFolder> folders = IndexedFolders(identity.name, ide);
  folders.push_back({*folder, {}});
  EarlierInstallation earlier =
      FindEarlier(identity.name, ide, folders,
                  installation ? std::optional<IdeInstallation>(*installation) : std::nullopt,
                  installation ? std::function<std::vector<std::string>()>([installation] {
                    return PackageOutputFolders(*installation, IdeSharedFolder(*installation));
                  })
                               : nullptr);
  SayEarlier(earlier, console_);
  if (!earlier.Empty()) {
    console_.WriteLine("Upgrading " + identity.name +
                       (earlier.Version().empty() ? "" : " " + earlier.Version()) + " in " +
                       InLine(earlier.Folder()) +
                       (identity.version.empty() ? "" : " to " + identity.version) + ".");
  }
  recorder_.emplace(identity, std::string(ide), FolderWithSeparator(*folder), std::move(earlier));
  recorder_->Prepare(console_);
  context_.Recorder = &*recorder_;
}

bool Turn::InstallEntries(const IdeInstallation* installation) {
  BeginRecord(installation);
  const bool installed = InstallAllEntries(settings_.toInstall, context_, console_, decoding_);
  // The named readme is the one to open, from the last turn that installed into a folder.
  if (settings_.text.readmeTarget) {
    context_.ReadmePath = ExpandTemplate(*settings_.text.readmeTarget, context_);
  }
  if (!installed && recorder_ && !recorder_->Earlier().Empty()) {
    console_.WriteLine(std::string(EARLIER_KEPT_HEAD) + InLine(recorder_->Earlier().Folder()) +
                       std::string(EARLIER_KEPT_TAIL));
  }
  if (!installed && recorder_ && !recorder_->WroteFiles()) {
    recorder_->Abandon(); // nothing to note, nothing to remove later
  }
  return installed;
}

// The IDE is not pointed at a library that is incomplete, or at folders that were never made: its
// settings wait for a turn in which every entry arrived.
void Turn::SayIdeLeft(const IdeInstallation& installation) {
  if (!settings_.text.library.Empty()) {
    console_.WriteLine(LIBRARY_PATH_LEFT);
  }
  if (AnySetServes(settings_.text.packages, installation)) {
    console_.WriteLine(PACKAGES_LEFT);
  }
}

// A running IDE writes its settings back when it ends, over any change made now.
bool Turn::IdeRunning(const IdeInstallation& installation) {
  if (!platform::ProgramRunning(installation.IdePrograms())) {
    return false;
  }
  console_.WriteLine(std::string(IDE_RUNNING_HEAD) + InLine(installation.Root()) +
                     std::string(IDE_RUNNING_TAIL));
  KeepEarlierSettings(context_);
  Complete();
  return true;
}

bool Turn::BuildPackages(const IdeInstallation& installation) {
  return BuildPackageSets(
      settings_.text.packages,
      settings_.text.library.FoldersFor(installation.BasePath(), installation.Version()),
      installation, context_, console_);
}

bool Turn::AddLibrary(const IdeInstallation& installation) {
  const LibrarySettings& library = settings_.text.library;
  return (library.Empty() && !HasEarlierLibrary()) ||
         AddLibraryPaths(library, installation, context_, console_);
}

// Command-line builds (MSBuild) read the IDE's library settings from a file of their own, which the
// IDE writes again when it starts and finds this set.
void Turn::AskForSettingsUpdate(const IdeInstallation& installation) {
  if (!installation.GlobalsKey().empty() &&
      (!settings_.text.library.Empty() || HasEarlierLibrary() ||
       AnySetServes(settings_.text.packages, installation))) {
    platform::SetUserText(installation.GlobalsKey(), FORCE_ENV_OPTIONS_UPDATE, "1");
  }
}

// After a turn in which every entry arrived: the earlier installation's leftovers go and the record
// is written.
bool Turn::Complete() {
  const bool complete = !recorder_ || recorder_->Complete(console_);
  EndRecord();
  return complete;
}

bool Turn::HasEarlierLibrary() const {
  return recorder_ &&
         std::any_of(recorder_->Earlier().parts.begin(), recorder_->Earlier().parts.end(),
                     [](const InstallRecord& part) { return !part.library.empty(); });
}

void Turn::EndRecord() {
  recorder_.reset();
  context_.Recorder = nullptr;
}

} // namespace quillet
