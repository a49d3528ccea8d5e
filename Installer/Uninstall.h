// --uninstall: removes what the install records of a package list, one question per IDE
// installation that holds one.
#pragma once

#include <string_view>

#include "Installer/Console.h"
#include "Installer/Installation.h"

namespace quillet {

// Said when the user's registry notes no installation of the package.
inline constexpr std::string_view NOTHING_RECORDED_HEAD = "No installation of ";
inline constexpr std::string_view NOTHING_RECORDED_TAIL = " is recorded for this user.";
// --uninstall with a package that has no name: nothing of it was recorded.
inline constexpr std::string_view PACKAGE_WITHOUT_NAME =
    "This package has no name, so the installer recorded nothing of it: its files and library "
    "paths are removed by hand.";
// The last prompt of a removal.
inline constexpr std::string_view REMOVAL_FINAL_PROMPT = "\r\nPress ENTER to finish...";
inline constexpr std::string_view REMOVAL_QUESTION = "Press ENTER to remove it, or N to keep it:";

// Removes the recorded installations of the package `name` that the choices select (--ides), each
// after its question (answered by --yes). False when something listed could not be removed; files
// the user changed are kept on purpose and count as done.
bool RunUninstall(std::string_view name, Console& console, const DialogueChoices& choices);

} // namespace quillet
