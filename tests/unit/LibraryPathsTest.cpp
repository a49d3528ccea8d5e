// Which user settings take a package's library folders, and the version bounds that pick the
// installations: the rules as rows over families and versions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Installer/LibraryPaths.h"
#include "Package/PackageIdes.h"
#include "Platform/Shell.h"

namespace quillet {
namespace {

TEST(LibraryTargets, KeysPerFamilyVersionAndPlatform) {
  const struct {
    std::string_view basePath;
    const char* version;
    const char* platformName;
    LibraryList list;
    std::vector<std::string> expected; // "KEY|VALUE", "?" first when the key may be missing
  } rows[] = {
      {DELPHI_BASE_PATH,
       "7.0",
       "Win32",
       LibraryList::Search,
       {"Software\\Borland\\Delphi\\7.0\\Library|Search Path"}},
      {DELPHI_BASE_PATH, "7.0", "Win64", LibraryList::Search, {}},
      {CBUILDER_BASE_PATH,
       "6.0",
       "win32",
       LibraryList::Browsing,
       {"Software\\Borland\\C++Builder\\6.0\\Library|Browsing Path"}},
      {BORLAND_BDS_BASE_PATH,
       "4.0",
       "Win32",
       LibraryList::Search,
       {"Software\\Borland\\BDS\\4.0\\Library|Search Path"}},
      {CODEGEAR_BDS_BASE_PATH,
       "6.0",
       "Win32",
       LibraryList::Search,
       {"Software\\CodeGear\\BDS\\6.0\\Library|Search Path",
        "?Software\\CodeGear\\BDS\\6.0\\C++\\Paths|LibraryPath"}},
      {EMBARCADERO_BDS_BASE_PATH, "8.0", "Win64", LibraryList::Search, {}},
      {EMBARCADERO_BDS_BASE_PATH,
       "9.0",
       "Win64",
       LibraryList::Browsing,
       {"Software\\Embarcadero\\BDS\\9.0\\Library\\Win64|Browsing Path",
        "?Software\\Embarcadero\\BDS\\9.0\\C++\\Paths\\Win64|BrowsingPath"}},
      {EMBARCADERO_BDS_BASE_PATH,
       "23.0",
       "Win32",
       LibraryList::Search,
       {"Software\\Embarcadero\\BDS\\23.0\\Library\\Win32|Search Path",
        "?Software\\Embarcadero\\BDS\\23.0\\C++\\Paths\\Win32|LibraryPath"}},
  };
  for (const auto& row : rows) {
    std::vector<std::string> got;
    for (const auto& target :
         LibraryTargets(row.basePath, row.version, row.platformName, row.list)) {
      got.push_back((target.required ? "" : "?") + target.key + "|" + target.value);
    }
    EXPECT_EQ(got, row.expected) << row.basePath << row.version << " " << row.platformName;
  }
}

TEST(VersionBounds, PickVersionSubkeysByNumber) {
  const struct {
    const char* subkey;
    const char* bounds;
    bool within;
  } rows[] = {
      {"23.0", ">=23.0", true},        {"22.0", ">=23.0", false},
      {"9.0", "<=22.0", true},         {"23", ">=23.0", true},
      {"22.0", ">=22.0,<=23.0", true}, {"24.0", ">= 22.0 , <=23.0", false},
      {"Globals", ">=1", false},       {"Globals", "", true},
      {"7.0", "=7.0", false},          {"7.0.1", "<=7.0", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(VersionWithin(row.subkey, row.bounds), row.within) << row.subkey << row.bounds;
  }
}

TEST(VersionBounds, TravelOnTheLineAfterTheirPath) {
  IdeBasePaths ides;
  ides.paths = {std::string(DELPHI_BASE_PATH), std::string(EMBARCADERO_BDS_BASE_PATH)};
  ides.bounds = {"", ">=22.0,<=23.0"};
  const std::string text = IdesEntryText(ides);
  EXPECT_EQ(IdeListOfText(text).bounds, ides.bounds);
  // What an installer without bounds reads: the paths alone.
  EXPECT_EQ(IdeBasePathsOfText(text), ides.paths);
}

TEST(PathList, HoldsAFolderWhateverItsCaseAndFinalSeparator) {
  const struct {
    const char* list;
    const char* folder;
    bool holds;
  } rows[] = {
      {"$(BDSLIB);C:\\Lib\\Source", "c:\\lib\\source\\", true},
      {"C:\\Lib\\Source\\ ;X", "C:\\Lib\\Source", true},
      {"C:\\Lib\\Source2", "C:\\Lib\\Source", false},
      {"", "C:\\Lib", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(platform::PathListHolds(row.list, row.folder), row.holds) << row.list;
  }
  EXPECT_EQ(platform::PathListWith("A;", "B"), "A;B");
}

} // namespace
} // namespace quillet
