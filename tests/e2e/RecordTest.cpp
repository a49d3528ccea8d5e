// Install records through the built installer: version 1 of a package, then version 2 or a
// removal, against a Wine-style prefix whose user keeps a library path.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/InstallRecord.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

const std::string kUserReg =
    "WINE REGISTRY Version 2\n\n[Software\\\\Borland\\\\Delphi\\\\7.0\\\\"
    "Library] 1700000001\n\"Search Path\"=\"$(DELPHI)\\\\Lib;C:\\\\Mine\"\n";

// Version 1 installs Source\a.pas, Source\old.pas and Extra\x.pas; version 2 installs a.pas with
// other content and b.pas, and `failing` adds an entry whose folder a file is in the way of.
PackageContents Version(int version, bool failing = false) {
  PackageContents package;
  package.defaultFolder = "C:\\W";
  LibrarySettings library;
  library.platforms = {"Win32"};
  library.searchPaths = {"%zel_root%Source"};
  PackageIdentity identity{"Widgets", version == 1 ? "1.0" : "2.0"};
  package.entries = {
      MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0),
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText(identity), 0),
      MakeStoredEntry("%zel_root%Source\\", "a.pas", version == 1 ? "unit a; {1}" : "unit a; {2}")};
  if (version == 1) {
    package.entries.push_back(MakeStoredEntry("%zel_root%Source\\", "old.pas", "unit old;"));
    package.entries.push_back(MakeStoredEntry("%zel_root%Extra\\", "x.pas", "unit x;"));
  } else {
    package.entries.push_back(MakeStoredEntry("%zel_root%Source\\", "b.pas", "unit b;"));
  }
  if (failing) {
    package.entries.push_back(MakeStoredEntry("%zel_root%New\\", "n.pas", "unit n;"));
  }
  return package;
}

struct RecordCase {
  const char* name;
  const char* secondTarget;         // where version 2 goes; nullptr: --uninstall=Widgets instead
  const char* changedOld = nullptr; // what the user makes of Source\old.pas after version 1
  bool failing = false;             // version 2 has an entry that cannot be installed
  int status = 0;
  std::vector<std::string> present; // below drive_c, after the second run
  std::vector<std::string> absent;
  const char* searchPath; // the value's data as user.reg holds it; nullptr: user.reg as at first
  const char* said = "";  // a line the second run shows
  // Before the second run, a turn into C:\N was killed after it began its journal, and the index
  // names only C:\N: the journal's "previous" line alone leads to C:\W.
  bool interrupted = false;
};

class Records : public ::testing::TestWithParam<RecordCase> {
protected:
  test::ProgramResult Run(const PackageContents& package, std::vector<std::string> arguments) {
    if (!package.entries.empty()) {
      test::WriteFile(dir_ / "pkg.dat", SerializePackage(package));
      arguments.insert(arguments.begin(), (dir_ / "pkg.dat").string());
    }
    test::ProgramOptions options;
    options.environment["WINEPREFIX"] = prefix_.string();
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    arguments.push_back("--yes");
    return test::RunProgram(test::SfxPath(), arguments, options);
  }
  test::TempDir dir_;
  fs::path prefix_ = dir_ / "prefix";
};

TEST_P(Records, UpgradeOrRemoveWhatTheRecordLists) {
  const RecordCase& row = GetParam();
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")}});
  test::WriteFile(prefix_ / "user.reg", kUserReg);
  ASSERT_EQ(Run(Version(1), {"--target", "C:\\W"}).status, 0);
  // The user puts a folder of their own after the package's.
  std::string userReg = test::ReadFile(prefix_ / "user.reg");
  const std::string added = "C:\\\\W\\\\Source\"";
  ASSERT_NE(userReg.find(added), std::string::npos) << userReg;
  userReg.replace(userReg.find(added), added.size(), "C:\\\\W\\\\Source;C:\\\\After\"");
  test::WriteFile(prefix_ / "user.reg", userReg);
  if (row.changedOld != nullptr) {
    test::WriteFile(driveC / "W" / "Source" / "old.pas", row.changedOld);
  }
  if (row.failing) {
    test::WriteFile(driveC / "W" / "New", "a file in the way of the folder");
  }
  if (row.interrupted) {
    InstallRecord journal;
    journal.name = "Widgets";
    journal.version = "2.0";
    journal.ide = "Software\\Borland\\Delphi\\7.0";
    journal.folder = "C:\\N\\";
    journal.previous = "C:\\W\\";
    fs::create_directories(driveC / "N");
    test::WriteFile(driveC / "N" / JournalFileName(journal.name, journal.ide),
                    RecordHeaderText(journal));
    test::WriteFile(prefix_ / "user.reg",
                    std::regex_replace(test::ReadFile(prefix_ / "user.reg"),
                                       std::regex(R"(C:\\\\W\\\\\|sha256:[0-9a-f]+)"),
                                       R"(C:\\N\\)"));
  }

  const test::ProgramResult second =
      row.secondTarget ? Run(Version(2, row.failing), {"--target", row.secondTarget})
                       : Run({}, {"--uninstall=Widgets"});
  EXPECT_EQ(second.status, row.status) << second.output;
  EXPECT_NE(second.output.find(row.said), std::string::npos) << second.output;
  for (const std::string& path : row.present) {
    EXPECT_TRUE(fs::exists(driveC / path)) << path << "\n" << second.output;
  }
  for (const std::string& path : row.absent) {
    EXPECT_FALSE(fs::exists(driveC / path)) << path << "\n" << second.output;
  }
  const std::string after = test::ReadFile(prefix_ / "user.reg");
  if (row.searchPath == nullptr) {
    // Removal gives the user's settings back as they were, the user's own folder kept.
    std::string expected = kUserReg;
    expected.replace(expected.find("Mine\""), 5, "Mine;C:\\\\After\"");
    EXPECT_EQ(after, expected);
  } else {
    EXPECT_NE(after.find("\"Search Path\"=\"" + std::string(row.searchPath) + "\"\n"),
              std::string::npos)
        << after;
  }
}

// Two installations' turns into one folder keep a record each and share the files: removing one
// leaves them to the other, and removing the other then takes files and folders.
TEST_F(Records, TurnsOfTwoInstallationsShareOneFolder) {
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")},
                                     {"C++Builder", "6.0", test::RegText("C:\\CB6")}});
  test::WriteFile(prefix_ / "user.reg", "WINE REGISTRY Version 2\n");
  PackageContents package = Version(2);
  package.entries.erase(package.entries.begin()); // no library path: C++Builder has no settings
  ASSERT_EQ(Run(package, {"--target", "C:\\W"}).status, 0);
  EXPECT_TRUE(fs::exists(driveC / "W" / "Widgets.Borland-C++Builder-6.0.quillet-record"));
  ASSERT_EQ(Run({}, {"--uninstall=Widgets", "--ides", "delphi"}).status, 0);
  EXPECT_TRUE(fs::exists(driveC / "W" / "Source" / "b.pas"));
  EXPECT_FALSE(fs::exists(driveC / "W" / "Widgets.Borland-Delphi-7.0.quillet-record"));
  ASSERT_EQ(Run({}, {"--uninstall=Widgets"}).status, 0);
  EXPECT_FALSE(fs::exists(driveC / "W"));
}

// The record of an upgrade into a new folder names only what stays: removing it afterwards takes
// both folders and succeeds.
TEST_F(Records, RemovalAfterAnUpgradeIntoANewFolder) {
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")}});
  test::WriteFile(prefix_ / "user.reg", kUserReg);
  ASSERT_EQ(Run(Version(1), {"--target", "C:\\W"}).status, 0);
  ASSERT_EQ(Run(Version(2), {"--target", "C:\\N"}).status, 0);
  const test::ProgramResult removal = Run({}, {"--uninstall=Widgets"});
  EXPECT_EQ(removal.status, 0) << removal.output;
  EXPECT_FALSE(fs::exists(driveC / "W"));
  EXPECT_FALSE(fs::exists(driveC / "N"));
  EXPECT_EQ(test::ReadFile(prefix_ / "user.reg"), kUserReg);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Records,
    ::testing::Values(
        RecordCase{
            "UpgradeInPlace",
            "C:\\W",
            nullptr,
            false,
            0,
            {"W/Source/a.pas", "W/Source/b.pas", "W/Widgets.Borland-Delphi-7.0.quillet-record"},
            {"W/Source/old.pas", "W/Extra", "W/Widgets.Borland-Delphi-7.0.quillet-journal"},
            "$(DELPHI)\\\\Lib;C:\\\\Mine;C:\\\\W\\\\Source;C:\\\\After",
            "Upgrading Widgets 1.0 in C:\\W\\ to 2.0."},
        // The new folder takes the old one's place in the list, before the user's own.
        RecordCase{
            "UpgradeIntoNewFolder",
            "C:\\N",
            nullptr,
            false,
            0,
            {"N/Source/a.pas", "N/Source/b.pas", "N/Widgets.Borland-Delphi-7.0.quillet-record"},
            {"W"},
            "$(DELPHI)\\\\Lib;C:\\\\Mine;C:\\\\N\\\\Source;C:\\\\After",
            "Putting C:\\N\\Source in place of C:\\W\\Source on the library path .. OK"},
        RecordCase{"ChangedFileIsKept",
                   "C:\\W",
                   "unit old; { mine }",
                   false,
                   0,
                   {"W/Source/old.pas", "W/Source/b.pas"},
                   {"W/Extra"},
                   "$(DELPHI)\\\\Lib;C:\\\\Mine;C:\\\\W\\\\Source;C:\\\\After",
                   "Keeping C:\\W\\Source\\old.pas: it was changed after it was installed"},
        // Changed to the same size: the content tells it, not the size alone.
        RecordCase{"SameSizeChangeIsKept",
                   "C:\\W",
                   "unit OLD;",
                   false,
                   0,
                   {"W/Source/old.pas", "W/Source/b.pas"},
                   {"W/Extra"},
                   "$(DELPHI)\\\\Lib;C:\\\\Mine;C:\\\\W\\\\Source;C:\\\\After",
                   "Keeping C:\\W\\Source\\old.pas: it was changed after it was installed"},
        // A failed entry leaves version 1 whole: its files, its record and its library entry.
        RecordCase{
            "FailedTurnKeepsTheOld",
            "C:\\W",
            nullptr,
            true,
            EXIT_PART_FAILED,
            {"W/Source/old.pas", "W/Extra/x.pas", "W/Widgets.Borland-Delphi-7.0.quillet-record"},
            {},
            "$(DELPHI)\\\\Lib;C:\\\\Mine;C:\\\\W\\\\Source;C:\\\\After",
            "The earlier installation in C:\\W\\ was left as it was"},
        RecordCase{"Removal",
                   nullptr,
                   nullptr,
                   false,
                   0,
                   {},
                   {"W"},
                   nullptr,
                   "Removed 3 files, 3 folders and 1 library-path entry of Widgets."},
        RecordCase{"RemovalFollowsAnInterruptedTurnToTheFolderItReplaces",
                   nullptr,
                   nullptr,
                   false,
                   0,
                   {},
                   {"W", "N/Widgets.Borland-Delphi-7.0.quillet-journal"},
                   nullptr,
                   "is installed in C:\\N\\: 3 files, 3 folders made by the installer, 1 "
                   "library-path entry.",
                   true},
        RecordCase{"RemovalKeepsAChangedFile",
                   nullptr,
                   "unit old; { mine }",
                   false,
                   0,
                   {"W/Source/old.pas"},
                   {"W/Source/a.pas", "W/Extra", "W/Widgets.Borland-Delphi-7.0.quillet-record"},
                   nullptr,
                   "Keeping C:\\W\\Source\\old.pas: it was changed after it was installed"},
        // The last line accounts for what stays of the counts shown before the question.
        RecordCase{"RemovalCountsWhatStays",
                   nullptr,
                   "unit old; { mine }",
                   false,
                   0,
                   {"W/Source/old.pas"},
                   {},
                   nullptr,
                   "Removed 2 files, 1 folder and 1 library-path entry of Widgets; kept 1 file "
                   "that the user changed and 2 folders that still hold other files or folders "
                   "(C:\\W\\, ...)."}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
