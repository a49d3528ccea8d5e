// One turn of the installation: the package installed for one IDE installation (or for none) into
// the folder the user answers, then the IDE's packages and library paths, then the turn's record.
#pragma once

#include <optional>

#include "Installer/Console.h"
#include "Installer/EntryInstall.h"
#include "Installer/InstallContext.h"
#include "Installer/Installation.h"
#include "Installer/TurnRecord.h"
#include "Package/IdeInstallation.h"
#include "Package/PackageSettings.h"

namespace quillet {

class Turn {
public:
  Turn(const PackageSettings& settings, InstallContext& context, Console& console,
       const EntryDecoding& decoding, const DialogueChoices& choices)
      : settings_(settings), context_(context), console_(console), decoding_(decoding),
        choices_(choices) {}
  // The record goes with the turn: the context names none once it has ended.
  ~Turn();
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  // The turn of `installation`, whose root and shared folder the context holds already. False
  // when something of it was left undone; a skipped turn is no failure.
  bool Run(const IdeInstallation& installation);
  // The turn of a package that names its IDEs when none of them is installed: into a folder of the
  // user's choice, without an IDE. `ides` are those the package serves, for the question.
  bool RunWithoutIde(const IdeBasePaths& ides);

private:
  // Asks for the turn's folder (into context.PackageRoot); false when the answer skips the turn.
  bool AskFolder(const IdeInstallation& installation);
  // The earlier installation of a named package found and said, and the turn's record begun.
  void BeginRecord(const IdeInstallation* installation);
  // The turn's entries, and the readme they lead to; false when one of them failed.
  bool InstallEntries(const IdeInstallation* installation);
  // After entries that failed: what of the IDE's settings was left as it was.
  void SayIdeLeft(const IdeInstallation& installation);
  // Whether the IDE runs, said with its settings kept as they were and the record completed.
  bool IdeRunning(const IdeInstallation& installation);
  bool BuildPackages(const IdeInstallation& installation);
  bool AddLibrary(const IdeInstallation& installation);
  // Tells the IDE to write out its library settings again for command-line builds.
  void AskForSettingsUpdate(const IdeInstallation& installation);
  // The earlier installation's leftovers removed and the record written; false when not all.
  bool Complete();
  bool HasEarlierLibrary() const;
  void EndRecord();

  const PackageSettings& settings_;
  InstallContext& context_;
  Console& console_;
  const EntryDecoding& decoding_;
  const DialogueChoices& choices_;
  std::optional<TurnRecorder> recorder_; // a package with a name, in a folder the system takes
};

} // namespace quillet
