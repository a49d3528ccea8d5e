// The run values that macro expansion and entry installation read. One instance lives for the
// whole run; all four start empty and are never reset between turns.
#pragma once

#include <string>

#include "Package/EntryContent.h"

namespace quillet {

struct InstallContext {
  std::string IdeRoot;     // root folder of the IDE installation whose turn it is
  std::string PackageRoot; // target folder of the package for the current turn
  std::string IdeShared;   // shared documents folder of that installation; empty without an IDE
  std::string PatchText;   // content of the package's "patchinfo.txt"; empty when there is none
  std::string ReadmePath;  // target path of the last installable "readme.html" reached
  // How taking "patchinfo.txt" went: entries that ask for the patch text fail with it rather than
  // be installed without it.
  EntryStatus PatchStatus = EntryStatus::Content;
};

} // namespace quillet
