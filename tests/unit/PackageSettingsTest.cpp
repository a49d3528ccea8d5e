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

} // namespace
} // namespace quillet
