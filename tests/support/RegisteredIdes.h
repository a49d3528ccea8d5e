// A Wine-style prefix in a temporary folder: system.reg with registered IDEs, and dosdevices/c:
// pointing at the prefix's drive_c.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace quillet::test {

struct IdeRegistration {
  std::string product; // "Delphi" or "C++Builder"
  std::string version; // the subkey name, e.g. "7.0"
  std::string value;   // what follows "RootDir"= in system.reg, e.g. "\"C:\\\\IDE\"" or "dword:1"
};

// A REG_SZ value line for a Windows path: backslashes escaped as Wine writes them.
std::string RegText(const std::string& text);

// Writes <prefix>/system.reg and <prefix>/dosdevices/c: -> ../drive_c; gives the drive_c folder.
std::filesystem::path MakeWinePrefix(const std::filesystem::path& prefix,
                                     const std::vector<IdeRegistration>& ides);

} // namespace quillet::test
