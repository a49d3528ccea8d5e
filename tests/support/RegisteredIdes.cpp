#include "tests/support/RegisteredIdes.h"

#include <cstdio>

#include "Platform/Utf8.h"
#include "tests/support/TestSupport.h"

namespace quillet::test {

std::string RegText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
    }
    out.push_back(c);
  }
  return out + "\"";
}

std::string RegUnicodeText(const std::string& utf8) {
  std::string out = "\"";
  for (const char32_t c : platform::DecodeUtf8(utf8)) {
    if (c == '\\' || c == '"') {
      out.push_back('\\');
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char escape[16];
    std::snprintf(escape, sizeof escape, "\\x%04x", static_cast<unsigned>(c));
    out += escape;
  }
  return out + "\"";
}

std::filesystem::path MakeWinePrefix(const std::filesystem::path& prefix,
                                     const std::vector<IdeRegistration>& ides) {
  std::string reg = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n";
  for (const IdeRegistration& ide : ides) {
    reg += "\n[Software\\\\" + ide.vendor + "\\\\" + ide.product + "\\\\" + ide.version +
           "] 1796736037\n";
    reg += "#time=1d6f1a2b3c4d5e6\n";
    reg += "\"RootDir\"=" + ide.value + "\n";
  }
  WriteFile(prefix / "system.reg", reg);
  std::filesystem::create_directories(prefix / "drive_c");
  std::filesystem::create_directories(prefix / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  return prefix / "drive_c";
}

std::vector<IdeRegistration> EveryIdeFamily() {
  return {{"BDS", "23.0", RegText("C:\\IDE\\BDS23"), "Embarcadero"},
          {"C++Builder", "6.0", RegText("C:\\IDE\\CB6")},
          {"BDS", "7.0", RegText("C:\\IDE\\BDS7"), "CodeGear"},
          {"BDS", "22.0", RegText("C:\\IDE\\BDS22"), "Embarcadero"},
          {"Delphi", "7.0", RegText("C:\\IDE\\D7")},
          {"BDS", "4.0", RegText("C:\\IDE\\BDS4")}};
}

const std::vector<IdeListCase>& IdeListCases() {
  // What quillet-pack writes for ides = ["delphi", "cbuilder", "bds"].
  static const std::string everyFamily =
      "\\Software\\Borland\\Delphi\\\r\n\\Software\\Borland\\C++Builder\\\r\n"
      "\\Software\\Borland\\BDS\\\r\n\\Software\\CodeGear\\BDS\\\r\n"
      "\\Software\\Embarcadero\\BDS\\\r\n";
  static const std::vector<IdeListCase> cases = {
      // The installer as it always was: Delphi's and C++Builder's own keys, nothing else.
      {"WithoutIdesTxt", std::nullopt, false, {"C:\\IDE\\D7", "C:\\IDE\\CB6"}},
      {"EveryFamily",
       everyFamily,
       false,
       {"C:\\IDE\\D7", "C:\\IDE\\CB6", "C:\\IDE\\BDS4", "C:\\IDE\\BDS7", "C:\\IDE\\BDS22",
        "C:\\IDE\\BDS23"}},
      // Lines that are blank or do not start and end with "\" are passed over.
      {"ListOrderAndLinesPassedOver",
       "\n  \\Software\\Embarcadero\\BDS\\ \r\n\r\nSoftware\\CodeGear\\BDS\\\n"
       "\\Software\\Borland\\C++Builder\r\\Software\\Borland\\Delphi\\",
       false,
       {"C:\\IDE\\BDS22", "C:\\IDE\\BDS23", "C:\\IDE\\D7"}},
      {"DamagedFallsBack", everyFamily, true, {"C:\\IDE\\D7", "C:\\IDE\\CB6"}},
  };
  return cases;
}

} // namespace quillet::test
