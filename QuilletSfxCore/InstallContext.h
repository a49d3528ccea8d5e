// The run values that macro expansion and entry installation read. One instance lives for the
// whole run; all four start empty and are never reset between turns.
#pragma once

#include <string>

namespace quillet {

struct InstallContext {
  std::string IdeRoot;     // root folder of the IDE installation whose turn it is
  std::string PackageRoot; // target folder of the package for the current turn
  std::string PatchText;   // content of the package's "patchinfo.txt"; empty when there is none
  std::string ReadmePath;  // target path of the last installable "readme.html" reached
};

} // namespace quillet
