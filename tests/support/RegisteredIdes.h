// A Wine-style prefix in a temporary folder: system.reg with registered IDEs, and dosdevices/c:
// pointing at the prefix's drive_c.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quillet::test {

struct IdeRegistration {
  std::string product;            // "Delphi", "C++Builder" or "BDS"
  std::string version;            // the subkey name, e.g. "7.0"
  std::string value;              // what follows "RootDir"= in system.reg, e.g. "dword:1"
  std::string vendor = "Borland"; // the key below Software: "Borland", "CodeGear", "Embarcadero"
};

// A REG_SZ value line for a Windows path: backslashes escaped as Wine writes them.
std::string RegText(const std::string& text);

// The same for a UTF-8 text of the Basic Multilingual Plane, with the characters outside ASCII as
// Wine writes them ("\x0141").
std::string RegUnicodeText(const std::string& utf8);

// Writes <prefix>/system.reg and <prefix>/dosdevices/c: -> ../drive_c; gives the drive_c folder.
std::filesystem::path MakeWinePrefix(const std::filesystem::path& prefix,
                                     const std::vector<IdeRegistration>& ides);

// One installation under each of the five keys the IDE families name, written out of order:
// Delphi 7 at C:\IDE\D7, C++Builder 6 at C:\IDE\CB6, and BDS 4.0 (Borland), 7.0 (CodeGear),
// 22.0 and 23.0 (Embarcadero) at C:\IDE\BDS<major>.
std::vector<IdeRegistration> EveryIdeFamily();

// A package's "ides.txt" and the IDE roots its installer offers on EveryIdeFamily(), in turn order.
struct IdeListCase {
  const char* name;
  std::optional<std::string> idesText; // nullopt: the package has no "ides.txt"
  bool damaged = false;                // the entry fails its checksum
  std::vector<std::string> roots;
};

const std::vector<IdeListCase>& IdeListCases();

} // namespace quillet::test
