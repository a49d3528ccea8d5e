#include "tests/support/RegisteredIdes.h"

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

std::filesystem::path MakeWinePrefix(const std::filesystem::path& prefix,
                                     const std::vector<IdeRegistration>& ides) {
  std::string reg = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n";
  for (const IdeRegistration& ide : ides) {
    reg += "\n[Software\\\\Borland\\\\" + ide.product + "\\\\" + ide.version + "] 1796736037\n";
    reg += "#time=1d6f1a2b3c4d5e6\n";
    reg += "\"RootDir\"=" + ide.value + "\n";
  }
  WriteFile(prefix / "system.reg", reg);
  std::filesystem::create_directories(prefix / "drive_c");
  std::filesystem::create_directories(prefix / "dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", prefix / "dosdevices" / "c:");
  return prefix / "drive_c";
}

} // namespace quillet::test
