// What the installer says of library paths and earlier installations, and what removal leaves of
// the values an installation made, through the built installer against a Wine-style prefix.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Package/PackageOptions.h"
#include "Package/PackageWriter.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

const std::string kD7 = "Software\\Borland\\Delphi\\7.0";
const std::string kBds = "Software\\Embarcadero\\BDS\\23.0";

// A text as user.reg holds it: backslashes doubled.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  }
  return out;
}

// One key's section of user.reg with its value lines ("Name", "data" pairs).
std::string Section(const std::string& key,
                    const std::vector<std::pair<std::string, std::string>>& values) {
  std::string text = "\n[" + Escaped(key) + "] 1700000001\n";
  for (const auto& [name, data] : values) {
    text += "\"" + name + "\"=\"" + Escaped(data) + "\"\n";
  }
  return text;
}

// The lines of one key's section in a user.reg text; empty when it has none.
std::string SectionOf(const std::string& userReg, const std::string& key) {
  const std::size_t head = userReg.find("[" + Escaped(key) + "]");
  if (head == std::string::npos) {
    return {};
  }
  const std::size_t next = userReg.find("\n[", head);
  return userReg.substr(head, next == std::string::npos ? std::string::npos : next - head);
}

PackageContents Package(const std::string& version, const std::vector<std::string>& ides,
                        const LibrarySettings& library) {
  PackageContents package;
  package.defaultFolder = "%Delphi%W";
  PackageIdentity identity{"Widgets", version};
  package.entries = {
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText(identity), 0),
      MakeStoredEntry("", std::string(IDES_ENTRY_NAME), IdesEntryText(ParseIdeFamilies(ides).ides),
                      0),
      MakeStoredEntry("%zel_root%Source\\", "a.pas", "unit a; {" + version + "}")};
  if (!library.Empty()) {
    package.entries.push_back(
        MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0));
  }
  return package;
}

class Runs : public ::testing::Test {
protected:
  test::ProgramResult Run(const PackageContents* package, std::vector<std::string> arguments) {
    if (package != nullptr) {
      test::WriteFile(dir_ / "pkg.dat", SerializePackage(*package));
      arguments.insert(arguments.begin(), (dir_ / "pkg.dat").string());
    }
    test::ProgramOptions options;
    options.environment["WINEPREFIX"] = prefix_.string();
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    arguments.push_back("--yes");
    return test::RunProgram(test::SfxPath(), arguments, options);
  }
  std::string UserReg() const { return test::ReadFile(prefix_ / "user.reg"); }

  test::TempDir dir_;
  fs::path prefix_ = dir_ / "prefix";
};

// What one turn says of a library list, and where the folder went.
struct LibraryCase {
  const char* name;
  bool bds;                // BDS 23.0 at C:\BDS, else Delphi 7 at C:\D7
  const char* userKeys;    // user.reg after its header
  LibrarySettings library; // of the package
  const char* said;        // a line of the run
  // Per key: a text its section holds, or (with a leading "!") does not.
  std::vector<std::pair<std::string, std::string>> sections;
};

class LibraryLines : public Runs, public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(LibraryLines, SayWhatHappened) {
  const LibraryCase& row = GetParam();
  test::MakeWinePrefix(
      prefix_,
      {row.bds ? test::IdeRegistration{"BDS", "23.0", test::RegText("C:\\BDS"), "Embarcadero"}
               : test::IdeRegistration{"Delphi", "7.0", test::RegText("C:\\D7")}});
  test::WriteFile(prefix_ / "user.reg", std::string("WINE REGISTRY Version 2\n") + row.userKeys);
  const PackageContents package = Package("1.0", {row.bds ? "bds" : "delphi"}, row.library);
  const test::ProgramResult result = Run(&package, {});
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_NE(result.output.find(row.said), std::string::npos) << result.output;
  const std::string userReg = UserReg();
  for (const auto& [key, text] : row.sections) {
    const std::string section = SectionOf(userReg, key);
    if (text.starts_with('!')) {
      EXPECT_EQ(section.find(Escaped(text.substr(1))), std::string::npos) << key << "\n" << userReg;
    } else {
      EXPECT_NE(section.find(Escaped(text)), std::string::npos) << key << "\n" << userReg;
    }
  }
}

LibrarySettings Library(std::vector<std::string> platforms, std::vector<std::string> search,
                        std::vector<std::string> include = {}) {
  LibrarySettings library;
  library.platforms = std::move(platforms);
  library.searchPaths = std::move(search);
  library.includePaths = std::move(include);
  return library;
}

const std::string kBdsLibraries =
    Section(kBds + "\\Library\\Win32", {{"Search Path", "$(BDSLIB)\\Win32"}}) +
    Section(kBds + "\\Library\\Win64", {{"Search Path", "$(BDSLIB)\\Win64"}});

INSTANTIATE_TEST_SUITE_P(
    Rules, LibraryLines,
    ::testing::Values(
        // A Delphi-only BDS: no C++ key holds an include path, and nothing is "already there".
        LibraryCase{"IncludePathWithoutCppKeys",
                    true,
                    kBdsLibraries.c_str(),
                    Library({"Win32"}, {}, {"%zel_root%Include"}),
                    "Adding C:\\BDS\\W\\Include to the include path .. not added: "
                    "HKEY_CURRENT_USER\\Software\\Embarcadero\\BDS\\23.0\\C++\\Paths\\Win32 does "
                    "not exist",
                    {}},
        LibraryCase{"IncludePathThatIsThere",
                    true,
                    (kBdsLibraries + Section(kBds + "\\C++\\Paths\\Win32",
                                             {{"IncludePath", "C:\\BDS\\W\\Include"}}))
                        .c_str(),
                    Library({"Win32"}, {}, {"%zel_root%Include"}),
                    "Adding C:\\BDS\\W\\Include to the include path .. already there",
                    {}},
        // Each platform's folder in its own key, and in no other.
        LibraryCase{"PlatformFolderPerKey",
                    true,
                    kBdsLibraries.c_str(),
                    Library({"Win32", "Win64"}, {"%zel_root%Lib\\%Platform%"}),
                    "Adding C:\\BDS\\W\\Lib\\Win64 to the library path .. OK",
                    {{kBds + "\\Library\\Win32", "$(BDSLIB)\\Win32;C:\\BDS\\W\\Lib\\Win32\""},
                     {kBds + "\\Library\\Win32", "!Lib\\Win64"},
                     {kBds + "\\Library\\Win64", "$(BDSLIB)\\Win64;C:\\BDS\\W\\Lib\\Win64\""}}},
        // One library key: the Win32 folder alone.
        LibraryCase{"PlatformFolderOfOneLibraryKey",
                    false,
                    Section(kD7 + "\\Library", {{"Search Path", "$(DELPHI)\\Lib"}}).c_str(),
                    Library({"Win32", "Win64"}, {"%zel_root%Lib\\%platform%"}),
                    "Adding C:\\D7\\W\\Lib\\Win32 to the library path .. OK",
                    {{kD7 + "\\Library", "$(DELPHI)\\Lib;C:\\D7\\W\\Lib\\Win32\""},
                     {kD7 + "\\Library", "!Win64"}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Removal of what an installation made in a list value: an install adds a folder to Delphi 7's
// search and browsing paths, then the package is removed (or upgraded to a version without a
// browsing path).
struct MadeValueCase {
  const char* name;
  const char* browsingBefore; // nullptr: the value is not there before the install
  bool oldRecord = false;     // the record loses its madevalue lines, as an earlier version wrote
  bool userAdds = false;      // the user appends a folder of their own to the browsing path
  bool upgrade = false;       // version 2 keeps the library path but drops the browsing path
  const char* browsingAfter;  // the value's data afterwards; nullptr: no such value
};

class MadeValues : public Runs, public ::testing::WithParamInterface<MadeValueCase> {};

TEST_P(MadeValues, RemovalDeletesWhatItMade) {
  const MadeValueCase& row = GetParam();
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")}});
  std::vector<std::pair<std::string, std::string>> values = {{"Search Path", "$(DELPHI)\\Lib"}};
  if (row.browsingBefore != nullptr) {
    values.push_back({"Browsing Path", row.browsingBefore});
  }
  test::WriteFile(prefix_ / "user.reg",
                  "WINE REGISTRY Version 2\n" + Section(kD7 + "\\Library", values));
  LibrarySettings library = Library({"Win32"}, {"%zel_root%Source"});
  library.browsingPaths = {"%zel_root%Source"};
  const PackageContents first = Package("1.0", {"delphi"}, library);
  ASSERT_EQ(Run(&first, {}).status, 0);
  const fs::path record = driveC / "D7" / "W" / "Widgets.Borland-Delphi-7.0.quillet-record";
  std::string text = test::ReadFile(record);
  ASSERT_EQ(text.find("madevalue") != std::string::npos, row.browsingBefore == nullptr) << text;
  if (row.oldRecord) {
    // Without the madevalue line, with the end line's count one less.
    const std::size_t at = text.find("madevalue");
    text.erase(at, text.find('\n', at) + 1 - at);
    const std::size_t end = text.rfind("end\t");
    text.replace(end, std::string::npos,
                 "end\t" + std::to_string(std::stoul(text.substr(end + 4)) - 1) + "\r\n");
    test::WriteFile(record, text);
  }
  if (row.userAdds) {
    std::string userReg = UserReg();
    const std::string entry = "\"Browsing Path\"=\"C:\\\\D7\\\\W\\\\Source\"";
    ASSERT_NE(userReg.find(entry), std::string::npos) << userReg;
    userReg.replace(userReg.find(entry), entry.size(),
                    "\"Browsing Path\"=\"C:\\\\D7\\\\W\\\\Source;C:\\\\Mine\"");
    test::WriteFile(prefix_ / "user.reg", userReg);
  }
  test::ProgramResult second;
  if (row.upgrade) {
    const PackageContents next =
        Package("2.0", {"delphi"}, Library({"Win32"}, {"%zel_root%Source"}));
    second = Run(&next, {});
  } else {
    second = Run(nullptr, {"--uninstall=Widgets"});
  }
  EXPECT_EQ(second.status, 0) << second.output;
  const std::string section = SectionOf(UserReg(), kD7 + "\\Library");
  if (row.browsingAfter == nullptr) {
    EXPECT_EQ(section.find("Browsing Path"), std::string::npos) << section << second.output;
  } else {
    EXPECT_NE(section.find("\"Browsing Path\"=\"" + Escaped(row.browsingAfter) + "\"\n"),
              std::string::npos)
        << section << second.output;
  }
  if (row.upgrade) {
    // Upgraded again and removed: the marker went with the value, and nothing is left.
    second = Run(nullptr, {"--uninstall=Widgets"});
    EXPECT_EQ(second.status, 0) << second.output;
    EXPECT_EQ(SectionOf(UserReg(), kD7 + "\\Library").find("W\\\\Source"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MadeValues,
    ::testing::Values(
        MadeValueCase{"MadeValueGoes", nullptr, false, false, false, nullptr},
        MadeValueCase{"ValueThatWasThereStays", "C:\\Mine", false, false, false, "C:\\Mine"},
        MadeValueCase{"EarlierRecordLeavesItEmpty", nullptr, true, false, false, ""},
        MadeValueCase{"UserEntryKeepsIt", nullptr, false, true, false, "C:\\Mine"},
        MadeValueCase{"UpgradeThatDropsItDeletesIt", nullptr, false, false, true, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The removal's last line accounts for what the line before the question counted: Delphi 7's
// turn made C:\D7\W and C:\D7\W\Source and wrote two files there.
struct CountCase {
  const char* name;
  const char* userFile;    // a file of the user's put below C:\D7\W; nullptr: none
  const char* deletedFile; // an installed file deleted by hand; nullptr: none
  const char* said;
};

class RemovalCounts : public Runs, public ::testing::WithParamInterface<CountCase> {};

TEST_P(RemovalCounts, AddUp) {
  const CountCase& row = GetParam();
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")}});
  test::WriteFile(prefix_ / "user.reg", "WINE REGISTRY Version 2\n");
  PackageContents package = Package("1.0", {"delphi"}, {});
  package.entries.push_back(MakeStoredEntry("%zel_root%Source\\", "b.pas", "unit b;"));
  ASSERT_EQ(Run(&package, {}).status, 0);
  if (row.userFile != nullptr) {
    test::WriteFile(driveC / "D7" / "W" / row.userFile, "mine");
  }
  if (row.deletedFile != nullptr) {
    fs::remove(driveC / "D7" / "W" / row.deletedFile);
  }
  const test::ProgramResult removal = Run(nullptr, {"--uninstall=Widgets"});
  EXPECT_EQ(removal.status, 0) << removal.output;
  EXPECT_NE(removal.output.find("is installed in C:\\D7\\W\\: 2 files, 2 folders made by the "
                                "installer, 0 library-path entries."),
            std::string::npos)
      << removal.output;
  EXPECT_NE(removal.output.find(row.said), std::string::npos) << removal.output;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RemovalCounts,
    ::testing::Values(
        CountCase{"AllRemoved", nullptr, nullptr,
                  "Removed 2 files, 2 folders and 0 library-path entries of Widgets.\r\n"},
        CountCase{"FoldersKeptForAUserFile", "Source/mine.txt", nullptr,
                  "Removed 2 files, 0 folders and 0 library-path entries of Widgets; kept 2 "
                  "folders that still hold other files or folders (C:\\D7\\W\\, ...).\r\n"},
        CountCase{"FileGoneAlready", nullptr, "Source/b.pas",
                  "Removed 1 file, 2 folders and 0 library-path entries of Widgets; 1 file was "
                  "gone already.\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// Version 1 serves Delphi 7 and BDS 23.0, version 2 BDS alone: the upgrade leaves Delphi 7's
// installation as it is and says how to remove it, and that command removes it alone.
TEST_F(Runs, UpgradeThatDropsAnIdeSaysSoAndKeepsIt) {
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")},
                                     {"BDS", "23.0", test::RegText("C:\\BDS"), "Embarcadero"}});
  test::WriteFile(prefix_ / "user.reg", "WINE REGISTRY Version 2\n");
  const PackageContents first = Package("1.0", {"delphi", "bds"}, {});
  ASSERT_EQ(Run(&first, {}).status, 0);
  const PackageContents second = Package("2.0", {"bds"}, {});
  const test::ProgramResult upgrade = Run(&second, {"--ides", "delphi,bds"});
  EXPECT_EQ(upgrade.status, 0) << upgrade.output;
  const std::string command = "quillet-sfx --uninstall=Widgets --ides \"delphi>=7.0,<=7.0\"";
  for (const std::string& said :
       {"--ides delphi matches Delphi 7.0 (C:\\D7\\), which this package does not serve; it "
        "serves bds.",
        "Widgets 1.0 stays installed for Delphi 7.0 (C:\\D7\\) in C:\\D7\\W\\: this version "
        "(2.0) does not serve that IDE, so its files and settings there are left as they are. "
        "To remove it: " +
            command,
        std::string("Upgrading Widgets 1.0 in C:\\BDS\\W\\ to 2.0.")}) {
    EXPECT_NE(upgrade.output.find(said), std::string::npos) << said << "\n" << upgrade.output;
  }
  EXPECT_EQ(test::ReadFile(driveC / "D7" / "W" / "Source" / "a.pas"), "unit a; {1.0}");
  EXPECT_EQ(test::ReadFile(driveC / "BDS" / "W" / "Source" / "a.pas"), "unit a; {2.0}");
  // The command as said, its quotes taken off as a shell would.
  const test::ProgramResult removal =
      Run(nullptr, {"--uninstall=Widgets", "--ides", "delphi>=7.0,<=7.0"});
  EXPECT_EQ(removal.status, 0) << removal.output;
  EXPECT_FALSE(fs::exists(driveC / "D7" / "W")) << removal.output;
  EXPECT_TRUE(fs::exists(driveC / "BDS" / "W" / "Source" / "a.pas")) << removal.output;
}

} // namespace
} // namespace quillet
