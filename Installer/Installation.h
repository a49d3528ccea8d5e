// The installation: welcome text, one turn per IDE installation, the library paths, the readme,
// asked and told through the console.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/EntryInstall.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/InstallContext.h"
#include "Package/IdeInstallation.h"
#include "Package/PackageSettings.h"

namespace quillet {

inline constexpr std::string_view FOLDER_QUESTION_HEAD =
    "\r\nPackage will be installed into the following folder:\r\n";
inline constexpr std::string_view FOLDER_QUESTION_TAIL =
    "Press ENTER to confirm, enter new folder name or N to skip this folder:";
// When a package names its IDE families and none of their installations is registered.
inline constexpr std::string_view NO_FITTING_IDE_HEAD =
    "\r\nNo installed IDE fits this package, which serves: ";
inline constexpr std::string_view NO_FITTING_IDE_QUESTION =
    "Enter a folder to install into anyway, or press ENTER or N to skip:";
// After a turn in which an entry failed, in place of the library-path lines.
inline constexpr std::string_view LIBRARY_PATH_LEFT =
    "The library path was left as it was, because the installation is incomplete; run the "
    "installer again once the entries above can be installed.";

// After a turn whose IDE is running (Windows), in place of the library-path and package lines.
inline constexpr std::string_view IDE_RUNNING_HEAD = "The IDE in ";
inline constexpr std::string_view IDE_RUNNING_TAIL =
    " is running and would write its settings back when it ends: its library path and packages "
    "were left as they were; close it, then run the installer again.";
// The value that tells the IDE to write its settings out again for command-line builds.
inline constexpr std::string_view FORCE_ENV_OPTIONS_UPDATE = "ForceEnvOptionsUpdate";

// After a turn in which an entry failed, for a package that builds packages for its IDE.
inline constexpr std::string_view PACKAGES_LEFT =
    "The packages were not built, because the installation is incomplete.";

// After a turn in which an entry failed, when an earlier installation of the package is recorded.
inline constexpr std::string_view EARLIER_KEPT_HEAD = "The earlier installation in ";
inline constexpr std::string_view EARLIER_KEPT_TAIL =
    " was left as it was, because this one is incomplete.";

// Where the dialogue's answers come from besides the console: the command line's options. The
// default reads every answer from the console.
struct DialogueChoices {
  std::optional<std::string> folder; // the answer to every folder question, as if typed
  bool confirm = false;              // every proposed folder confirmed, nothing read
  std::vector<IdeChoice> ides;       // when not empty, only matching installations get a turn
  bool openReadme = true;
  // --force: removal goes on past records that cannot be read whole or lines it refused, taking
  // what the readable records prove, and drops the records and their notes.
  bool force = false;
};

// Said when an --ides choice matches no registered installation.
inline constexpr std::string_view IDES_CHOICE_UNMATCHED_HEAD =
    "\r\nNo registered IDE matches --ides ";

// Runs the whole installation over the settings of an open, valid package, talking through
// `console`. Gives false when at least one entry could not be installed. ERegistryException from
// IDE discovery passes through.
bool RunInstallation(const PackageSettings& settings, InstallContext& context, Console& console,
                     const EntryDecoding& decoding = {}, const DialogueChoices& choices = {});

} // namespace quillet
