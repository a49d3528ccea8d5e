// The installation dialogue: welcome text, one turn per IDE installation, the readme.
#pragma once

#include <string_view>

#include "QuilletCore/PackageFormat.h"
#include "QuilletSfxCore/Console.h"
#include "QuilletSfxCore/EntryInstall.h"
#include "QuilletSfxCore/InstallContext.h"

namespace quillet {

inline constexpr std::string_view FOLDER_QUESTION_HEAD =
    "\r\nPackage will be installed into the following folder:\r\n";
inline constexpr std::string_view FOLDER_QUESTION_TAIL =
    "Press ENTER to confirm, enter new folder name or N to skip this folder:";

// Equal lengths and equal bytes once a-z are folded to A-Z; no other byte folds.
bool SameTextAscii(std::string_view a, std::string_view b);

struct InstallOptions {
  // Threads for checking and decompressing entries; 1 means none besides the writer.
  unsigned threads = 1;
  EntryDecoder decoder = StreamEntry;
};

// Runs the whole installation with an open, valid package, talking through `console`. Gives false
// when at least one entry could not be installed. ERegistryException from IDE discovery passes
// through.
bool RunInstallationDialogue(const PackageLayout& layout, InstallContext& context, Console& console,
                             const InstallOptions& options = {});

// Installs every entry of the package for the current turn, in index order; false when one of
// them failed.
bool InstallAllEntries(const PackageLayout& layout, InstallContext& context, Console& console,
                       const InstallOptions& options = {});

} // namespace quillet
