// What an IDE installation owns by the names it was found under: its family, its version key and
// the user settings that take a package's library folders, as rows over families and versions.
#include <gtest/gtest.h>

#include <string>

#include "Package/IdeInstallation.h"

namespace quillet {
namespace {

TEST(IdeInstallation, LibraryKeysPerFamilyVersionAndPlatform) {
  const struct {
    std::string_view basePath;
    const char* version;
    const char* platformName;
    LibraryList list;
    // "KEY|VALUE" per target, KEY below the version key and "?" first when it may be missing.
    const char* expected;
  } rows[] = {
      {DELPHI_BASE_PATH, "7.0", "Win32", LibraryList::Search, "\\Library|Search Path"},
      {DELPHI_BASE_PATH, "7.0", "Win64", LibraryList::Search, ""},
      {CBUILDER_BASE_PATH, "6.0", "win32", LibraryList::Browsing, "\\Library|Browsing Path"},
      // A family is told by its whole path, in any letter case, with or without the first "\".
      {"software\\borland\\c++builder\\", "6.0", "Win32", LibraryList::Search,
       "\\Library|Search Path"},
      // Delphi's last key but no family's path: it keeps its settings as BDS does.
      {"\\Software\\Acme\\Delphi\\", "7.0", "Win32", LibraryList::Search,
       "\\Library|Search Path;?\\C++\\Paths|LibraryPath"},
      {BORLAND_BDS_BASE_PATH, "4.0", "Win32", LibraryList::Search, "\\Library|Search Path"},
      {CODEGEAR_BDS_BASE_PATH, "6.0", "Win32", LibraryList::Search,
       "\\Library|Search Path;?\\C++\\Paths|LibraryPath"},
      {EMBARCADERO_BDS_BASE_PATH, "8.0", "Win64", LibraryList::Search, ""},
      {EMBARCADERO_BDS_BASE_PATH, "9.0", "Win64", LibraryList::Browsing,
       "\\Library\\Win64|Browsing Path;?\\C++\\Paths\\Win64|BrowsingPath"},
      {EMBARCADERO_BDS_BASE_PATH, "23.0", "Win32", LibraryList::Search,
       "\\Library\\Win32|Search Path;?\\C++\\Paths\\Win32|LibraryPath"},
      // The C++ include path: only where the C++ personality keeps its paths.
      {CBUILDER_BASE_PATH, "6.0", "Win32", LibraryList::Include, ""},
      {BORLAND_BDS_BASE_PATH, "4.0", "Win32", LibraryList::Include, ""},
      {CODEGEAR_BDS_BASE_PATH, "6.0", "Win32", LibraryList::Include, "?\\C++\\Paths|IncludePath"},
      {CODEGEAR_BDS_BASE_PATH, "7.0", "Win64", LibraryList::Include, ""},
      {EMBARCADERO_BDS_BASE_PATH, "37.0", "Win64", LibraryList::Include,
       "?\\C++\\Paths\\Win64|IncludePath"},
  };
  for (const auto& row : rows) {
    const IdeInstallation installation(row.basePath, row.version, "C:\\IDE\\");
    const std::string& versionKey = installation.VersionKey();
    std::string got;
    for (const auto& target : installation.LibraryTargets(row.platformName, row.list)) {
      EXPECT_TRUE(target.key.starts_with(versionKey)) << target.key;
      got += std::string(got.empty() ? "" : ";") + (target.required ? "" : "?") +
             target.key.substr(versionKey.size()) + "|" + target.value;
    }
    EXPECT_EQ(got, row.expected) << row.basePath << row.version << " " << row.platformName;
  }
  EXPECT_EQ(IdeInstallation(EMBARCADERO_BDS_BASE_PATH, "23.0", "").VersionKey(),
            "Software\\Embarcadero\\BDS\\23.0");
}

// What building and registering packages reads and writes, by version range: the compiler, the
// unit output switch, the key of the output folders, the 64-bit IDE's packages and Globals.
TEST(IdeInstallation, PackageSettingsPerVersionRange) {
  const struct {
    std::string_view basePath;
    const char* version;
    const char* win64Compiler; // "" when the version builds no Win64
    const char* unitSwitch;
    const char* libraryKey; // for Win64, below the version key
    bool x64Ide;
    bool globals;
  } rows[] = {
      {DELPHI_BASE_PATH, "7.0", "", "-N", "\\Library", false, false},
      {CBUILDER_BASE_PATH, "6.0", "", "-N", "\\Library", false, false},
      {BORLAND_BDS_BASE_PATH, "4.0", "", "-N", "\\Library", false, true},
      {EMBARCADERO_BDS_BASE_PATH, "8.0", "", "-N", "\\Library", false, true},
      {EMBARCADERO_BDS_BASE_PATH, "9.0", "C:\\IDE\\bin\\dcc64.exe", "-N", "\\Library\\Win64", false,
       true},
      {EMBARCADERO_BDS_BASE_PATH, "10.0", "C:\\IDE\\bin\\dcc64.exe", "-NU", "\\Library\\Win64",
       false, true},
      {EMBARCADERO_BDS_BASE_PATH, "22.0", "C:\\IDE\\bin\\dcc64.exe", "-NU", "\\Library\\Win64",
       false, true},
      {EMBARCADERO_BDS_BASE_PATH, "23.0", "C:\\IDE\\bin\\dcc64.exe", "-NU", "\\Library\\Win64",
       true, true},
      {EMBARCADERO_BDS_BASE_PATH, "37.0", "C:\\IDE\\bin\\dcc64.exe", "-NU", "\\Library\\Win64",
       true, true},
  };
  for (const auto& row : rows) {
    const IdeInstallation installation(row.basePath, row.version, "C:\\IDE");
    const std::string& key = installation.VersionKey();
    SCOPED_TRACE(key);
    EXPECT_EQ(installation.CompilerPath("Win32"), "C:\\IDE\\bin\\dcc32.exe");
    EXPECT_EQ(installation.CompilerPath("Win64"), row.win64Compiler);
    EXPECT_EQ(installation.UnitOutputSwitch(), row.unitSwitch);
    EXPECT_EQ(installation.LibraryKey("Win64"), key + row.libraryKey);
    EXPECT_EQ(installation.HasX64Ide(), row.x64Ide);
    EXPECT_EQ(installation.GlobalsKey(), row.globals ? key + "\\Globals" : "");
    EXPECT_EQ(installation.KnownPackagesKey(true), key + "\\Known Packages x64");
  }
}

} // namespace
} // namespace quillet
