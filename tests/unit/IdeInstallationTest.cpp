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

} // namespace
} // namespace quillet
