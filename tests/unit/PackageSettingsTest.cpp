// The package's settings, read once: which control entries count, and the texts they give.
#include <gtest/gtest.h>

#include "Package/PackageSettings.h"
#include "Package/PackageWriter.h"
#include "Platform/Text.h"

namespace quillet {
namespace {

struct SettingsCase {
  const char* name;
  const char* entry; // the control entry the package carries besides an installed file
  std::string content;
  std::uint32_t flags;
  bool damaged;
  // What is read: the recorded code page (0: none), the library's first folder and the readme, in
  // the program's text ("" for none).
  std::uint32_t codePage;
  const char* library;
  const char* readme;
  const char* identity = "|"; // name|version
};

class PackageSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(PackageSettingsTest, ReadsOnlyIntactListEntries) {
  const SettingsCase& c = GetParam();
  StoredEntry control = MakeStoredEntry("", c.entry, c.content, c.flags);
  control.crc ^= c.damaged ? 1u : 0u;
  // Code page 1251 names the readme's "\xC4" as U+0414 in every row that reads it.
  const StoredEntry codePage = MakeStoredEntry("", "codepage.txt", "1251\r\n", 0);
  std::vector<StoredEntry> entries = {MakeStoredEntry("%zel_root%", "a.pas", "a"), control};
  if (std::string_view(c.entry) == "openreadme.txt") {
    entries.push_back(codePage);
  }
  const std::string image = SerializePackage({"C:\\X\\", entries, std::nullopt});
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));

  const PackageSettings settings = ReadPackageSettings(layout);
  const std::uint32_t recorded = std::string_view(c.entry) == "openreadme.txt" ? 1251u : c.codePage;
  EXPECT_EQ(settings.codePageRecorded, recorded != 0);
  EXPECT_EQ(settings.codePageRecorded ? settings.codePage : 0u, recorded);
  EXPECT_EQ(settings.text.library.Empty() ? "" : settings.text.library.searchPaths.front(),
            c.library);
  EXPECT_EQ(settings.text.readmeTarget.value_or(""), c.readme);
  EXPECT_EQ(settings.identity.name + "|" + settings.identity.version, c.identity);
  // The installed file is installed; control entries never are, unless flagged so.
  EXPECT_EQ(settings.toInstall.size(), (c.flags & ENTRY_INSTALL) != 0 ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackageSettingsTest,
    ::testing::Values(
        SettingsCase{"Library", "librarypaths.txt", "library-path=%zel_root%Src\r\n", 0, false, 0,
                     "%zel_root%Src", ""},
        // A file of that name that the package installs is the author's file, not a setting.
        SettingsCase{"InstalledLibraryFile", "LibraryPaths.txt", "library-path=S\r\n",
                     ENTRY_INSTALL, false, 0, "", ""},
        SettingsCase{"DamagedLibrary", "librarypaths.txt", "library-path=S\r\n", 0, true, 0, "",
                     ""},
        SettingsCase{"CodePage", "codepage.txt", " 932 \r\n", 0, false, 932, "", ""},
        SettingsCase{"CodePageZero", "codepage.txt", "0\r\n", 0, false, 0, "", ""},
        SettingsCase{"CodePageNotANumber", "codepage.txt", "932x\r\n", 0, false, 0, "", ""},
        SettingsCase{"DamagedCodePage", "codepage.txt", "932\r\n", 0, true, 0, "", ""},
        // Read in the recorded code page: "\xC4" is U+0414 in 1251.
        SettingsCase{"ReadmeInItsCodePage", "openreadme.txt", "%zel_root%\xC4.html\r\nmore", 0,
                     false, 0, "", "%zel_root%\xD0\x94.html"},
        SettingsCase{"EmptyReadme", "openreadme.txt", "  \r\n", 0, false, 0, "", ""},
        SettingsCase{"Identity", "identity.txt", "name= My W \r\nversion=2.1-rc\r\nx=1", 0, false,
                     0, "", "", "My W|2.1-rc"},
        SettingsCase{"InstalledIdentityFile", "identity.txt", "name=W\r\n", ENTRY_INSTALL, false, 0,
                     "", ""},
        SettingsCase{"IdentityRefused", "identity.txt", "name=W\\x\nversion=1 0\n", 0, false, 0, "",
                     ""}),
    [](const auto& info) { return info.param.name; });

// Each text reads back into the settings it came from: a row is a text written as the packer
// writes it.
TEST(SettingsTexts, ReadsBackAsWritten) {
  const struct {
    const char* name;
    std::string text;
    bool packages; // "packages.txt", else "librarypaths.txt"
  } rows[] = {
      {"VersionedLibrary",
       "platform=Win32\r\nplatform=Win64\r\nlibrary-path=%zel_root%Source\r\n"
       "include-path=%zel_root%Include\r\n"
       "for=\\Software\\Embarcadero\\BDS\\\r\nfor-bounds=>=23.0\r\n"
       "for=\\Software\\Acme\\IDE\\\r\nfor-library-path=%zel_root%Lib23\r\n"
       "for-include-path=%zel_root%Inc23\r\n"
       "for=\\Software\\Borland\\Delphi\\\r\nfor-bounds=<=7.0\r\nfor-browsing-path=%zel_root%"
       "D7\r\n",
       false},
      {"TwoSets",
       "set\r\nide=\\Software\\Embarcadero\\BDS\\\r\nbounds=>=23.0\r\nplatform=Win32\r\n"
       "platform=Win64\r\nruntime=R.dpk\r\nruntime=R2.dpk\r\n"
       "design=%zel_root%Packages\\D.dpk\r\nprebuilt=%zel_root%Bpl\\%platform%\\\r\n"
       "set\r\nplatform=Win32\r\ndesign=%zel_root%D7.dpk\r\n",
       true},
  };
  for (const auto& row : rows) {
    const std::string again = row.packages ? PackageSetsText(PackageSetsOfText(row.text))
                                           : LibrarySettingsText(LibrarySettingsOfText(row.text));
    EXPECT_EQ(again, row.text) << row.name;
  }
  // An installer that knows only the unversioned keys finds none of the versioned folders.
  EXPECT_EQ(LibrarySettingsOfText(rows[0].text).searchPaths,
            std::vector<std::string>{"%zel_root%Source"});
}

TEST(SettingsTexts, FoldersAndSetsServeTheirInstallationsOnly) {
  IdeBasePaths bds;
  bds.paths = {std::string(EMBARCADERO_BDS_BASE_PATH)};
  bds.bounds = {">=23.0"};
  LibrarySettings library;
  library.searchPaths = {"%zel_root%Source"};
  // The same folder in another letter case is added once.
  library.versioned.push_back({bds, {{"%zel_root%Lib23", "%ZEL_ROOT%source"}, {}, {"I"}}});
  PackageSet set{bds, {"R.dpk"}, {}, {"Win32"}, {}};
  const struct {
    std::string_view basePath;
    const char* version;
    bool served;
  } rows[] = {
      {EMBARCADERO_BDS_BASE_PATH, "22.0", false},
      {EMBARCADERO_BDS_BASE_PATH, "23.0", true},
      {EMBARCADERO_BDS_BASE_PATH, "37.0", true},
      // As the registry compares keys: without the leading "\", in another letter case.
      {"software\\EMBARCADERO\\bds\\", "23.0", true},
      {DELPHI_BASE_PATH, "23.0", false},
      {CODEGEAR_BDS_BASE_PATH, "23.0", false},
  };
  for (const auto& row : rows) {
    const LibraryFolders folders = library.FoldersFor(row.basePath, row.version);
    const std::vector<std::string> searched =
        row.served ? std::vector<std::string>{"%zel_root%Source", "%zel_root%Lib23"}
                   : std::vector<std::string>{"%zel_root%Source"};
    EXPECT_EQ(folders.searchPaths, searched) << row.basePath << row.version;
    EXPECT_EQ(folders.includePaths.size(), row.served ? 1u : 0u) << row.basePath << row.version;
    EXPECT_EQ(set.Serves(row.basePath, row.version), row.served) << row.basePath << row.version;
  }
  // A set that names no IDE serves every installation.
  EXPECT_TRUE(PackageSet{}.Serves(DELPHI_BASE_PATH, "7.0"));
}

// The sets' paths reach the program's text in the package's code page; platforms stay as stored.
TEST(PackageSettings, ConvertsPackageSetsFromTheCodePage) {
  const std::string image = SerializePackage(
      {"C:\\X\\",
       {MakeStoredEntry("%zel_root%", "a.pas", "a"),
        MakeStoredEntry("", "codepage.txt", "1251\r\n", 0),
        MakeStoredEntry("", "packages.txt",
                        "set\r\nplatform=Win64\r\nruntime=%zel_root%\xC4.dpk\r\n", 0)},
       std::nullopt});
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  const PackageSettings settings = ReadPackageSettings(layout);
  ASSERT_EQ(settings.text.packages.size(), 1u);
  EXPECT_EQ(settings.text.packages[0].runtime[0], "%zel_root%\xD0\x94.dpk");
  EXPECT_EQ(settings.text.packages[0].platforms, std::vector<std::string>{"Win64"});
}

} // namespace
} // namespace quillet
