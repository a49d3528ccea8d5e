// Running the Windows installer under Wine next to the Linux one, for the Wine suite. The prefix
// is $WINEPREFIX, booted beforehand (scripts/wine-tests.sh); the .exe is $QUILLET_WINDOWS_SFX.
// LANG and LC_ALL reach Wine from the environment, so a caller chooses the code page there.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace quillet::test::wine {

// The Windows installer's native path; empty when the suite is not configured.
std::string WindowsSfx();
// The stand-in compiler of the Windows build: $QUILLET_WINDOWS_STANDIN, else tests/standin-dcc.exe
// in the build of the Windows installer; empty when the suite is not configured.
std::string WindowsStandin();
// The booted prefix ($WINEPREFIX).
std::filesystem::path Prefix();

// The Windows form of a native path: Wine shows the Linux root as drive Z:.
std::string WindowsPath(const std::filesystem::path& native);

// Runs a Windows program under Wine; arguments are given as the program sees them.
ProgramResult RunWindows(const std::string& exe, const std::vector<std::string>& arguments,
                         const ProgramOptions& options);

// Registers RootDir values in the 32-bit registry view and waits until Wine has written them to
// system.reg, where the Linux build reads them.
void RegisterIdes(const std::vector<std::pair<std::string, std::string>>& keysAndRootDirs);

// One file or folder of a tree: its content (folders: empty), last-write time in seconds and
// whether it is read-only.
struct TreeItem {
  bool folder = false;
  std::string content;
  long long mtime = 0;
  bool readOnly = false;
  bool operator==(const TreeItem&) const = default;
};
using Tree = std::map<std::string, TreeItem>;
Tree Snapshot(const std::filesystem::path& root);
// The first difference between two trees, or empty.
std::string FirstDifference(const Tree& linux, const Tree& windows);

} // namespace quillet::test::wine
