// The version bounds that pick the installations, and the lists that take a package's library
// folders: the rules as rows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Package/PackageIdes.h"
#include "Platform/UserRegistry.h"

namespace quillet {
namespace {

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
