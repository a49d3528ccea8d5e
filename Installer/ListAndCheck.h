// --list and --check: the package shown or verified through the console, nothing written.
#pragma once

#include "Installer/Console.h"
#include "Package/PackageSettings.h"

namespace quillet {

// One line per entry that a turn installs (date, size, folder template, name) and the IDE
// families the package serves.
void ShowPackageList(const PackageSettings& settings, Console& console);

// Checks every entry as the installer would (CheckEntry): one line per failed entry and a
// summary. False when an entry failed.
bool CheckPackageEntries(const PackageSettings& settings, Console& console);

} // namespace quillet
