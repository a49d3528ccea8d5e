// Install records that someone else changed or that were damaged, through the built installer:
// removal touches nothing outside the installed folder, says what it refused, ends with a
// failure status and keeps the record's note in the registry until --force.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/Crc32.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

constexpr const char* RECORD = "Widgets.Borland-Delphi-7.0.quillet-record";
constexpr const char* INDEX_NOTE = "[Software\\\\Quillet\\\\Installed\\\\Widgets]";
const std::string kVictimIni = "[boot]\r\nshell=explorer.exe\r\n";
const std::string kUserReg = "WINE REGISTRY Version 2\n\n[Software\\\\Borland\\\\Delphi\\\\7.0\\\\"
                             "Library] 1700000001\n\"Search Path\"=\"$(DELPHI)\\\\Lib\"\n\n"
                             "[Software\\\\Victim] 1700000001\n"
                             "\"Important\"=\"keep\"\n\n[Software\\\\Victim\\\\Env] 1700000001\n"
                             "\"PATH\"=\"C:\\\\windows;C:\\\\other\"\n";

PackageContents Package() {
  PackageContents package;
  package.defaultFolder = "C:\\W";
  LibrarySettings library;
  library.platforms = {"Win32"};
  library.searchPaths = {"%zel_root%Source"};
  package.entries = {
      MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0),
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText({"Widgets", "1.0"}), 0),
      MakeStoredEntry("%zel_root%Source\\", "a.pas", "unit a;"),
      MakeStoredEntry("%zel_root%Source\\", "b.pas", "unit b;")};
  return package;
}

// A file line as the installer writes it, for content the attacker knows.
std::string FileLine(const std::string& content, const std::string& path) {
  Crc32 crc;
  crc.Add(content.data(), content.size());
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(crc.Value()));
  return "file\t" + std::to_string(content.size()) + "\t" + hex + "\t2024-03-01 12:00:00\t" + path +
         "\r\n";
}

// The record with `lines` put before its end line, whose count is set to match: a record changed
// by someone who knows its form.
std::string Forged(std::string text, const std::string& lines) {
  const std::size_t end = text.rfind("end\t");
  const int count = std::stoi(text.substr(end + 4));
  int added = 0;
  for (const char c : lines) {
    added += c == '\n' ? 1 : 0;
  }
  return text.substr(0, end) + lines + "end\t" + std::to_string(count + added) + "\r\n";
}

enum class Change {
  Forge,   // `text` put before the end line, the count set to match; "%V" is the victims' folder
  Append,  // `text` after the end line
  Replace, // the record becomes `text` ("<folder>": a folder takes its place)
  Cut,     // cut to `cut` per mille of its size, or just before its end line with -1
  Utf16,   // written again in UTF-16
};

struct TrustCase {
  const char* name;
  Change change;
  std::string text;
  int cut = 0;
  bool damaged = true; // cannot be read whole: nothing is removed before --force
};

// The record's text changed as the row says.
std::string Changed(const TrustCase& row, const std::string& text, const std::string& victims) {
  std::string line = row.text;
  if (const std::size_t at = line.find("%V"); at != std::string::npos) {
    line.replace(at, 2, victims);
  }
  switch (row.change) {
  case Change::Forge:
    return Forged(text, line);
  case Change::Append:
    return text + line;
  case Change::Replace:
    return line;
  case Change::Cut:
    return text.substr(0, row.cut < 0 ? text.rfind("end\t") : text.size() * row.cut / 1000);
  case Change::Utf16:
    break;
  }
  std::string wide = "\xFF\xFE";
  for (const char c : text) {
    wide += c;
    wide += '\0';
  }
  return wide;
}

class RecordTrust : public ::testing::TestWithParam<TrustCase> {
protected:
  test::ProgramResult Run(std::vector<std::string> arguments) {
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

TEST_P(RecordTrust, NothingOutsideTheFolderIsTouched) {
  const TrustCase& row = GetParam();
  const fs::path driveC =
      test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", test::RegText("C:\\D7")}});
  fs::create_directory_symlink("/", prefix_ / "dosdevices" / "z:");
  test::WriteFile(prefix_ / "user.reg", kUserReg);
  test::WriteFile(dir_ / "pkg.dat", SerializePackage(Package()));
  ASSERT_EQ(Run({(dir_ / "pkg.dat").string(), "--target", "C:\\W"}).status, 0);

  // What other users' forged lines aim at: files and folders of the user's, and their settings.
  const fs::path victims = dir_ / "victims";
  test::WriteFile(driveC / "windows" / "system.ini", kVictimIni);
  test::WriteFile(driveC / "empty.txt", "");
  fs::create_directories(driveC / "EmptyDocs");
  test::WriteFile(victims / "rootrel.txt", kVictimIni);
  std::string windowsVictims = victims.string();
  for (char& c : windowsVictims) {
    c = c == '/' ? '\\' : c;
  }
  const fs::path record = driveC / "W" / RECORD;
  const std::string text = test::ReadFile(record);
  const std::string changed = Changed(row, text, windowsVictims);
  if (changed == "<folder>") {
    fs::remove(record);
    fs::create_directories(record / "inside");
  } else {
    test::WriteFile(record, changed);
  }

  const auto victimsIntact = [&](const std::string& output) {
    EXPECT_EQ(test::ReadFile(driveC / "windows" / "system.ini"), kVictimIni) << output;
    EXPECT_TRUE(fs::exists(driveC / "empty.txt")) << output;
    EXPECT_TRUE(fs::is_directory(driveC / "EmptyDocs")) << output;
    EXPECT_TRUE(fs::exists(victims / "rootrel.txt")) << output;
    const std::string userReg = test::ReadFile(prefix_ / "user.reg");
    EXPECT_NE(userReg.find("\"Important\"=\"keep\""), std::string::npos) << output;
    EXPECT_NE(userReg.find("\"PATH\"=\"C:\\\\windows;C:\\\\other\""), std::string::npos) << output;
  };
  const test::ProgramResult removal = Run({"--uninstall=Widgets"});
  EXPECT_EQ(removal.status, EXIT_PART_FAILED) << removal.output;
  victimsIntact(removal.output);
  // A damaged record proves nothing: its files stay until the user decides.
  EXPECT_EQ(fs::exists(driveC / "W" / "Source" / "a.pas"), row.damaged) << removal.output;
  EXPECT_NE(test::ReadFile(prefix_ / "user.reg").find(INDEX_NOTE), std::string::npos)
      << removal.output;

  const test::ProgramResult forced = Run({"--uninstall=Widgets", "--force"});
  EXPECT_EQ(forced.status, 0) << forced.output;
  victimsIntact(forced.output);
  EXPECT_EQ(test::ReadFile(prefix_ / "user.reg").find(INDEX_NOTE), std::string::npos)
      << forced.output;
}

const std::string kIni = FileLine(kVictimIni, "C:\\windows\\system.ini");

INSTANTIATE_TEST_SUITE_P(
    Records, RecordTrust,
    ::testing::Values(
        TrustCase{"SystemFile", Change::Forge, kIni, 0, false},
        TrustCase{"ClimbingFullPath", Change::Forge,
                  FileLine(kVictimIni, "C:\\W\\..\\windows\\system.ini"), 0, false},
        TrustCase{"DriveZ", Change::Forge, FileLine(kVictimIni, "Z:%V\\rootrel.txt"), 0, false},
        TrustCase{"RootRelative", Change::Forge, FileLine(kVictimIni, "%V\\rootrel.txt"), 0, false},
        TrustCase{"AnyEmptyFile", Change::Forge, FileLine("", "C:\\empty.txt"), 0, false},
        TrustCase{"UsersEmptyFolder", Change::Forge, "created\tC:\\EmptyDocs\r\n", 0, false},
        TrustCase{"UnrelatedValue", Change::Forge, "registered\tSoftware\\Victim\tImportant\r\n", 0,
                  false},
        TrustCase{"UnrelatedList", Change::Forge,
                  "library\tSoftware\\Victim\\Env\tPATH\tC:\\windows\r\n", 0, false},
        TrustCase{"LinesAfterTheEnd", Change::Append, kIni + "created\tC:\\EmptyDocs\r\n"},
        TrustCase{"Garbage", Change::Replace, "\x01\x02garbage\xff\r\n"},
        TrustCase{"Empty", Change::Replace, ""},
        TrustCase{"CarriageReturnsOnly", Change::Replace, "\r\r\r\r"},
        TrustCase{"AFolder", Change::Replace, "<folder>"},
        TrustCase{"CutAt5Percent", Change::Cut, "", 50},
        TrustCase{"CutAt60Percent", Change::Cut, "", 600},
        TrustCase{"CutAtALineEnd", Change::Cut, "", -1}, TrustCase{"Utf16", Change::Utf16, ""}),
    [](const ::testing::TestParamInfo<TrustCase>& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
