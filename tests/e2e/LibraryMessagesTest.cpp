// What the installer says of library paths and of earlier installations, and which list values
// removal deletes, through the built installer against a Wine-style prefix.
#include <gtest/gtest.h>

#include <algorithm>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using Values = std::vector<std::pair<std::string, std::string>>;
const std::string kD7 = "Software\\Borland\\Delphi\\7.0\\Library";
const std::string kBds = "Software\\Embarcadero\\BDS\\23.0\\";

std::string Esc(std::string text) { // as user.reg holds it
  for (std::size_t at = 0; (at = text.find('\\', at)) != std::string::npos; at += 2) {
    text.insert(at, 1, '\\');
  }
  return text;
}
std::string Section(const std::string& key, const Values& values) {
  std::string text = "\n[" + Esc(key) + "] 1700000001\n";
  for (const auto& [name, data] : values) {
    text += "\"" + name + "\"=\"" + Esc(data) + "\"\n";
  }
  return text;
}
LibrarySettings Library(std::vector<std::string> platforms, std::vector<std::string> search,
                        std::vector<std::string> browsing = {}, std::vector<std::string> inc = {}) {
  return {std::move(platforms), std::move(search), std::move(browsing), std::move(inc), {}};
}
PackageContents Package(const std::string& version, const std::vector<std::string>& ides,
                        const LibrarySettings& library) {
  PackageContents package;
  package.defaultFolder = "%Delphi%W";
  package.entries = {
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText({"Widgets", version}), 0),
      MakeStoredEntry("", std::string(IDES_ENTRY_NAME), IdesEntryText(ParseIdeFamilies(ides).ides),
                      0),
      MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0),
      MakeStoredEntry("%zel_root%Source\\", "a.pas", "unit a; {" + version + "}")};
  return package;
}

enum class Then { Nothing, Uninstall, UninstallOldRecord, UserAddsThenUninstall, Upgrade };
struct Row {
  const char* name;
  std::string userKeys; // of BDS 23.0 at C:\BDS, or else of Delphi 7 at C:\D7
  LibrarySettings library;
  Then then;
  const char* said; // by the last run
  Values checks;    // user.reg holds the text below the key, or (with "!" first) does not
};

class LibraryRuns : public ::testing::TestWithParam<Row> {
protected:
  test::ProgramResult Run(const PackageContents* package, std::vector<std::string> arguments) {
    if (package != nullptr) {
      test::WriteFile(dir_ / "pkg.dat", SerializePackage(*package));
      arguments.insert(arguments.begin(), (dir_ / "pkg.dat").string());
    }
    test::ProgramOptions options;
    options.environment["WINEPREFIX"] = prefix_.string();
    arguments.push_back("--yes");
    return test::RunProgram(test::SfxPath(), arguments, options);
  }
  test::TempDir dir_;
  fs::path prefix_ = dir_ / "prefix";
};

TEST_P(LibraryRuns, SayWhatHappenedAndRemoveWhatWasMade) {
  const Row& row = GetParam();
  const bool bds = row.userKeys.find("BDS") != std::string::npos;
  const fs::path driveC = test::MakeWinePrefix(
      prefix_, {bds ? test::IdeRegistration{"BDS", "23.0", test::RegText("C:\\BDS"), "Embarcadero"}
                    : test::IdeRegistration{"Delphi", "7.0", test::RegText("C:\\D7")}});
  test::WriteFile(prefix_ / "user.reg", "WINE REGISTRY Version 2\n" + row.userKeys);
  fs::create_directories(driveC / "D7"); // a changed record may name only folders below its own
  const PackageContents first = Package("1.0", {bds ? "bds" : "delphi"}, row.library);
  test::ProgramResult last = Run(&first, {});
  const fs::path file = row.then == Then::UninstallOldRecord
                            ? driveC / "D7" / "W" / "Widgets.Borland-Delphi-7.0.quillet-record"
                            : prefix_ / "user.reg";
  std::string text = test::ReadFile(file);
  if (row.then == Then::UninstallOldRecord) { // as an earlier version wrote it, its count right
    text.erase(text.find("madevalue"), text.rfind("end\t") - text.find("madevalue"));
    const auto lines = std::count(text.begin(), text.end(), '\n') - 2;
    text.replace(text.rfind("end\t"), std::string::npos, "end\t" + std::to_string(lines) + "\r\n");
  } else if (row.then == Then::UserAddsThenUninstall) {
    text.insert(text.find("\"\n", text.find("Browsing Path\"=")), ";C:\\\\Mine");
  }
  test::WriteFile(file, text);
  if (row.then == Then::Upgrade) {
    const PackageContents second = Package("2.0", {"delphi"}, Library({"Win32"}, {"%zel_root%S"}));
    last = Run(&second, {});
  } else if (row.then != Then::Nothing) {
    last = Run(nullptr, {"--uninstall=Widgets"});
  }
  EXPECT_EQ(last.status, 0) << last.output;
  EXPECT_NE(last.output.find(row.said), std::string::npos) << last.output;
  const std::string userReg = test::ReadFile(prefix_ / "user.reg");
  for (const auto& [key, wanted] : row.checks) {
    const std::size_t head = userReg.find("[" + Esc(key) + "]");
    const std::string section = userReg.substr(head, userReg.find("\n[", head + 1) - head);
    EXPECT_EQ(section.find(Esc(wanted.substr(wanted[0] == '!'))) == std::string::npos,
              wanted[0] == '!')
        << key << " " << wanted << "\n"
        << userReg;
  }
}

const std::string kBdsKeys = Section(kBds + "Library\\Win32", {{"Search Path", "L32"}}) +
                             Section(kBds + "Library\\Win64", {{"Search Path", "L64"}});
const std::string kD7Keys = Section(kD7, {{"Search Path", "$(DELPHI)\\Lib"}});
const LibrarySettings kBoth = Library({"Win32"}, {"%zel_root%Source"}, {"%zel_root%Source"});

INSTANTIATE_TEST_SUITE_P(
    Rules, LibraryRuns,
    ::testing::Values(
        Row{"IncludePathWithoutCppKeys",
            kBdsKeys,
            Library({"Win32"}, {}, {}, {"%zel_root%Inc"}),
            Then::Nothing,
            "Adding C:\\BDS\\W\\Inc to the include path .. not added: HKEY_CURRENT_USER\\"
            "Software\\Embarcadero\\BDS\\23.0\\C++\\Paths\\Win32 does not exist",
            {}},
        Row{"PlatformFolderPerKey",
            kBdsKeys,
            Library({"Win32", "Win64"}, {"%zel_root%Lib\\%Platform%"}),
            Then::Nothing,
            "Adding C:\\BDS\\W\\Lib\\Win64 to the library path .. OK",
            {{kBds + "Library\\Win32", "L32;C:\\BDS\\W\\Lib\\Win32\""},
             {kBds + "Library\\Win64", "L64;C:\\BDS\\W\\Lib\\Win64\""}}},
        Row{"PlatformFolderOfOneLibraryKey",
            kD7Keys,
            Library({"Win32", "Win64"}, {"%zel_root%Lib\\%platform%"}),
            Then::Nothing,
            "Adding C:\\D7\\W\\Lib\\Win32 to the library path .. OK",
            {{kD7, "Lib;C:\\D7\\W\\Lib\\Win32\""}, {kD7, "!Win64"}}},
        Row{"MadeValueGoes",
            kD7Keys,
            kBoth,
            Then::Uninstall,
            "Removed 1 file, 2 folders and 2 library-path entries of Widgets.\r\n",
            {{kD7, "\"Search Path\"=\"$(DELPHI)\\Lib\""}, {kD7, "!Browsing Path"}}},
        Row{"ValueThatWasThereStays",
            Section(kD7, {{"Search Path", "$(DELPHI)\\Lib"}, {"Browsing Path", "C:\\Mine"}}),
            kBoth,
            Then::Uninstall,
            "of Widgets.",
            {{kD7, "\"Browsing Path\"=\"C:\\Mine\""}}},
        Row{"EarlierRecordLeavesItEmpty",
            kD7Keys,
            kBoth,
            Then::UninstallOldRecord,
            "of Widgets.",
            {{kD7, "\"Browsing Path\"=\"\""}}},
        Row{"UserEntryKeepsIt",
            kD7Keys,
            kBoth,
            Then::UserAddsThenUninstall,
            "of Widgets.",
            {{kD7, "\"Browsing Path\"=\"C:\\Mine\""}}},
        Row{"UpgradeThatDropsItDeletesIt",
            kD7Keys,
            kBoth,
            Then::Upgrade,
            "Removing C:\\D7\\W\\Source from Browsing Path",
            {{kD7, "!Browsing Path"}, {kD7, "Lib;C:\\D7\\W\\S\""}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Version 1 serves Delphi 7 and BDS 23.0, version 2 BDS alone: the upgrade keeps Delphi 7's
// installation, says how to remove it, and that command removes it alone.
TEST_F(LibraryRuns, UpgradeThatDropsAnIdeSaysSoAndKeepsIt) {
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")},
                                     {"BDS", "23.0", test::RegText("C:\\BDS"), "Embarcadero"}});
  test::WriteFile(prefix_ / "user.reg", "WINE REGISTRY Version 2\n");
  const PackageContents first = Package("1.0", {"delphi", "bds"}, {});
  ASSERT_EQ(Run(&first, {}).status, 0);
  const PackageContents second = Package("2.0", {"bds"}, {});
  const test::ProgramResult upgrade = Run(&second, {"--ides", "delphi,bds"});
  EXPECT_EQ(upgrade.status, 0) << upgrade.output;
  for (const char* said :
       {"--ides delphi matches Delphi 7.0 (C:\\D7), which this package does not serve; it "
        "serves bds.",
        "Widgets 1.0 stays installed for Delphi 7.0 (C:\\D7) in C:\\D7\\W\\: this version (2.0) "
        "does not serve that IDE, so its files and settings there are left as they are. To remove "
        "it: quillet-sfx --uninstall=Widgets --ides \"delphi>=7.0,<=7.0\"\r\n",
        "Upgrading Widgets 1.0 in C:\\BDS\\W\\ to 2.0."}) {
    EXPECT_NE(upgrade.output.find(said), std::string::npos) << said << "\n" << upgrade.output;
  }
  EXPECT_EQ(test::ReadFile(driveC / "D7" / "W" / "Source" / "a.pas"), "unit a; {1.0}");
  // The command as said, its quotes taken off as a shell does.
  EXPECT_EQ(Run(nullptr, {"--uninstall=Widgets", "--ides", "delphi>=7.0,<=7.0"}).status, 0);
  EXPECT_FALSE(fs::exists(driveC / "D7" / "W"));
  EXPECT_EQ(test::ReadFile(driveC / "BDS" / "W" / "Source" / "a.pas"), "unit a; {2.0}");
}

} // namespace
} // namespace quillet
