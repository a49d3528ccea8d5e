// The packer's library: glob patterns, dates, the manifest, planning, and reading packages back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "Installer/DownloadAddress.h"
#include "Installer/Folders.h"
#include "Installer/Templates.h"
#include "Installer/Timestamps.h"
#include "Package/EntryContent.h"
#include "Package/PackageCrc.h"
#include "Package/PackageWriter.h"
#include "Packer/Attach.h"
#include "Packer/IdeFamilies.h"
#include "Packer/Manifest.h"
#include "Packer/PackCommand.h"
#include "Packer/PackageFiles.h"
#include "Packer/PackagePlan.h"
#include "Packer/PackageReport.h"
#include "Packer/PackageTime.h"
#include "Packer/PackerError.h"
#include "Packer/SourceGlob.h"
#include "Packer/TemplateCheck.h"
#include "Platform/Testing.h"
#include "tests/support/TestSupport.h"

namespace quillet::packer {
namespace {

using test::TempDir;
using test::WriteFile;

// --- Glob patterns ----------------------------------------------------------------------------

struct GlobCase {
  const char* pattern;
  const char* path;
  bool matches;
  bool caseSensitive = true;
};

class GlobMatchTest : public ::testing::TestWithParam<GlobCase> {};

TEST_P(GlobMatchTest, Matches) {
  EXPECT_EQ(GlobMatch(GetParam().pattern, GetParam().path, GetParam().caseSensitive),
            GetParam().matches)
      << GetParam().pattern << " against " << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, GlobMatchTest,
    ::testing::Values(
        GlobCase{"*.pas", "Unit1.pas", true}, GlobCase{"*.pas", "src/Unit1.pas", false},
        GlobCase{"*.pas", "Unit1.pass", false}, GlobCase{"*.PAS", "unit1.pas", false},
        GlobCase{"src/*.pas", "src/a.pas", true}, GlobCase{"**/*.pas", "a.pas", true},
        GlobCase{"**/*.pas", "x/y/z/a.pas", true}, GlobCase{"src/**", "src/a/b/c.inc", true},
        GlobCase{"src/**/b/*.inc", "src/b/c.inc", true},
        GlobCase{"src/**/b/*.inc", "src/a/c.inc", false}, GlobCase{"?.pas", "a.pas", true},
        GlobCase{"?.pas", "ab.pas", false}, GlobCase{"[ab].pas", "b.pas", true},
        GlobCase{"[ab].pas", "c.pas", false}, GlobCase{"[!ab].pas", "c.pas", true},
        GlobCase{"[^ab].pas", "a.pas", false}, GlobCase{"[a-c]x", "bx", true},
        GlobCase{"[a-c]x", "dx", false}, GlobCase{"[]]x", "]x", true},
        GlobCase{"[unclosed", "[unclosed", true}, GlobCase{"a*b*c", "aXXbYYc", true},
        GlobCase{"a*b*c", "aXXbYY", false}, GlobCase{"*a*a", "aaaaaaab", false},
        GlobCase{"*", ".hidden", false}, GlobCase{".*", ".hidden", true},
        GlobCase{"**/x.pas", ".git/x.pas", false}, GlobCase{"src//a.pas", "src/a.pas", true},
        // Without case: letters, classes and ranges in either case.
        GlobCase{"*.PAS", "unit1.pas", true, false},
        GlobCase{"Src/U?.Pas", "src/u1.PAS", true, false}, GlobCase{"[A-C]x", "bX", true, false},
        GlobCase{"[!a]x", "Ax", false, false}, GlobCase{"*.pas", "a.pa", false, false}));

// --- Dates and times --------------------------------------------------------------------------

struct CivilCase {
  int year;
  unsigned month, day, hour, minute, second;
  DayTime stored;
};

class DayTimeTest : public ::testing::TestWithParam<CivilCase> {};

TEST_P(DayTimeTest, ConvertsToDaysAndTenThousandths) {
  const CivilCase& c = GetParam();
  EXPECT_EQ(DayTimeFromCivil(c.year, c.month, c.day, c.hour, c.minute, c.second), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, DayTimeTest,
    ::testing::Values(CivilCase{1899, 12, 30, 0, 0, 0, {0, 0}},
                      CivilCase{1900, 1, 1, 0, 0, 0, {2, 0}},
                      CivilCase{1980, 1, 1, 0, 0, 0, {29221, 0}},
                      CivilCase{2000, 1, 1, 12, 0, 0, {36526, 5000}},
                      // Tick 219 installs as 00:31:32, tick 218 as 00:31:22.
                      CivilCase{2000, 5, 25, 0, 31, 32, {36671, 219}},
                      // 10:00:07: tick 4168 installs as 10:00:10, tick 4167 as 10:00:02.
                      CivilCase{2026, 1, 1, 10, 0, 7, {46023, 4168}},
                      CivilCase{2000, 2, 29, 6, 0, 0, {36585, 2500}},
                      // Nearer the next day's midnight than the day's last tick (23:59:50).
                      CivilCase{2099, 12, 31, 23, 59, 59, {73051, 0}},
                      CivilCase{2099, 12, 31, 23, 59, 54, {73050, 9999}},
                      CivilCase{2026, 1, 15, 10, 30, 0, {46037, 4375}}));

TEST(DayTime, RefusesImpossibleAndUnstorableMoments) {
  const CivilCase bad[] = {{2023, 2, 29, 0, 0, 0, {}}, {2026, 13, 1, 0, 0, 0, {}},
                           {2026, 4, 31, 0, 0, 0, {}}, {2026, 1, 1, 24, 0, 0, {}},
                           {2026, 1, 1, 0, 60, 0, {}}, {1899, 12, 29, 23, 59, 50, {}}};
  for (const CivilCase& c : bad) {
    EXPECT_THROW(DayTimeFromCivil(c.year, c.month, c.day, c.hour, c.minute, c.second), EPackerError)
        << c.year << "-" << c.month << "-" << c.day << " " << c.hour << ":" << c.minute;
  }
}

TEST(DayTime, FormatsStoredPairs) {
  const struct {
    DayTime stored;
    const char* text;
  } cases[] = {{{36671, 219}, "2000-05-25 00:31:32"},   {{36671, 211}, "2000-05-25 00:30:22"},
               {{36671, 10000}, "2000-05-26 00:00:00"}, {{0, 0}, "1899-12-30 00:00:00"},
               {{73050, 9999}, "2099-12-31 23:59:50"},  {{29220, 9999}, "1979-12-31 23:59:50"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FormatDayTime(c.stored.date, c.stored.time), c.text);
  }
}

// Through the installer's own conversion, every second of a day installs at most 5 s away.
TEST(DayTime, EverySecondInstallsAtTheNearestTick) {
  for (unsigned second = 0; second < 86400; ++second) {
    const DayTime stored =
        DayTimeFromCivil(2026, 3, 1, second / 3600, second / 60 % 60, second % 60);
    const std::uint32_t packed = EncodeDosDateTime(EntryDayValue(stored.date, stored.time));
    const int installed = static_cast<int>((packed >> 11 & 31) * 3600 + (packed >> 5 & 63) * 60 +
                                           (packed & 31) * 2 + (stored.date - 46082) * 86400);
    ASSERT_LE(std::abs(installed - static_cast<int>(second)), 5) << second;
  }
}

TEST(DayTime, FileTimesAreReadInLocalTime) {
  TempDir dir;
  WriteFile(dir / "a.pas", "unit a;");
  std::tm local{};
  local.tm_year = 2024 - 1900;
  local.tm_mon = 6; // July
  local.tm_mday = 14;
  local.tm_hour = 18;
  local.tm_min = 45;
  local.tm_sec = 30;
  local.tm_isdst = -1;
  const std::time_t moment = std::mktime(&local);
  ASSERT_NE(moment, static_cast<std::time_t>(-1));
  std::filesystem::last_write_time(
      dir / "a.pas",
      std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(moment)));
  EXPECT_EQ(DayTimeOfFile(dir / "a.pas"), DayTimeFromCivil(2024, 7, 14, 18, 45, 30));
}

// --- The manifest -----------------------------------------------------------------------------

TEST(Manifest, ReadsEveryKey) {
  TempDir dir;
  std::filesystem::create_directories(dir / "content");
  const Manifest m = ParseManifest(R"(name = "My Widgets"
version = "2.1-rc.1"
default-folder = '%Delphi%Components\Widgets\'
root = "content"
welcome-text = "Hello"
patch-file = "patch.txt"
timestamp = 2026-01-15T10:30:00
readme = 'docs/readme.html'
case-sensitive = true
line-ends = "keep"

[[entry]]
source = "src"

[[entry]]
source = ["docs/*.html", "docs/*.css"]
exclude = "docs/draft*"
folder = '%zel_root%Docs'
install = false
prepend-patch = true
)",
                                   dir / "m.toml");
  EXPECT_EQ(m.identity.name, "My Widgets");
  EXPECT_EQ(m.identity.version, "2.1-rc.1");
  EXPECT_EQ(m.defaultFolder, "%Delphi%Components\\Widgets\\");
  EXPECT_EQ(m.root, dir / "content");
  EXPECT_EQ(m.welcome.text, "Hello");
  EXPECT_FALSE(m.welcome.file);
  EXPECT_EQ(m.patch.file, dir / "content" / "patch.txt");
  EXPECT_EQ(m.timestamp, DayTimeFromCivil(2026, 1, 15, 10, 30, 0));
  ASSERT_EQ(m.entries.size(), 2u);
  EXPECT_EQ(m.entries[0].sources, std::vector<std::string>{"src"});
  EXPECT_EQ(m.entries[0].folder, "%zel_root%");
  EXPECT_TRUE(m.entries[0].install);
  EXPECT_FALSE(m.entries[0].prependPatch);
  EXPECT_EQ(m.readme, "docs/readme.html");
  EXPECT_TRUE(m.caseSensitive);
  EXPECT_EQ(m.lineEnds, LineEnds::Keep);
  EXPECT_EQ(m.entries[0].line, 12u);
  EXPECT_EQ(m.entries[1].sources, (std::vector<std::string>{"docs/*.html", "docs/*.css"}));
  EXPECT_EQ(m.entries[1].excludes, std::vector<std::string>{"docs/draft*"});
  EXPECT_EQ(m.entries[1].folder, "%zel_root%Docs");
  EXPECT_FALSE(m.entries[1].install);
  EXPECT_TRUE(m.entries[1].prependPatch);
}

TEST(Manifest, RootIsTheManifestsFolder) {
  const std::string text = "name = 'W'\ndefault-folder = 'x'\n[[entry]]\nsource = 'a'\n";
  EXPECT_EQ(ParseManifest(text, "pkg/m.toml").root, "pkg");
  EXPECT_EQ(ParseManifest(text, "m.toml").root, ".");
}

TEST(Manifest, DateAloneIsMidnight) {
  const Manifest m = ParseManifest("name = 'W'\ndefault-folder = 'x'\ntimestamp = 2000-01-01\n"
                                   "[[entry]]\n"
                                   "source = 'a'\n",
                                   "m.toml");
  EXPECT_EQ(m.timestamp, (DayTime{36526, 0}));
}

struct ManifestErrorCase {
  const char* name;
  const char* text;
  const char* message; // the start of the message, after the file name
};

class ManifestErrorTest : public ::testing::TestWithParam<ManifestErrorCase> {};

TEST_P(ManifestErrorTest, NamesFileAndLine) {
  try {
    ParseManifest(GetParam().text, "dir/m.toml");
    FAIL() << "accepted";
  } catch (const EPackerError& e) {
    EXPECT_EQ(std::string(e.what()).rfind(std::string("dir/m.toml") + GetParam().message, 0), 0u)
        << e.what();
  }
}

#define ENTRY "\nname = 'W'\n[[entry]]\nsource = 'a'\n"

INSTANTIATE_TEST_SUITE_P(
    Errors, ManifestErrorTest,
    ::testing::Values(
        ManifestErrorCase{"Syntax", "default-folder = 'x'\n\nsource = = 3\n", ":3:"},
        ManifestErrorCase{"UnclosedString", "default-folder = 'x\n", ":1:"},
        ManifestErrorCase{"UnknownKey", "default-folder = 'x'\ndefualt = 'y'" ENTRY,
                          ":2: unknown key 'defualt'"},
        ManifestErrorCase{"MissingDefaultFolder", "root = '.'" ENTRY, ": missing default-folder"},
        ManifestErrorCase{"NoEntry", "name = 'W'\ndefault-folder = 'x'\n", ": no [[entry]] table"},
        ManifestErrorCase{"NoName", "default-folder = 'x'\n[[entry]]\nsource = 'a'\n",
                          ": \"name\" is required: the installer records"},
        ManifestErrorCase{"NameRefused", "name = 'Widgets/2'\n[[entry]]\nsource = 'a'\n",
                          ":1: name 'Widgets/2': a package's name is 1 to 64 ASCII letters"},
        ManifestErrorCase{"VersionRefused", "default-folder = 'x'\nversion = '2.1 beta'" ENTRY,
                          ":2: version '2.1 beta': a version is 1 to 32 ASCII letters"},
        ManifestErrorCase{"EntryWithoutSource", "default-folder = 'x'\n\n[[entry]]\nfolder = 'y'\n",
                          ":3: [[entry]] without source"},
        ManifestErrorCase{"SourceNotString", "default-folder = 'x'\n[[entry]]\nsource = 5\n",
                          ":3: source must be a string or a list of strings"},
        ManifestErrorCase{"EmptyPattern", "default-folder = 'x'\n[[entry]]\nsource = ['']\n",
                          ":3: source holds an empty pattern"},
        ManifestErrorCase{"InstallNotBoolean",
                          "default-folder = 'x'\n[[entry]]\nsource = 'a'\ninstall = 'yes'\n",
                          ":4: install must be true or false"},
        ManifestErrorCase{"UnknownEntryKey",
                          "default-folder = 'x'\n[[entry]]\nsource = 'a'\nflags = 4\n",
                          ":4: unknown key 'flags' in [[entry]]"},
        ManifestErrorCase{"DefaultFolderNotString", "default-folder = 3" ENTRY,
                          ":1: default-folder must be a string"},
        ManifestErrorCase{"WelcomeTwice",
                          "default-folder = 'x'\nwelcome-file = 'w'\nwelcome-text = 'w'" ENTRY,
                          ":"}, // the line of whichever key comes second in the table's order
        ManifestErrorCase{"TimestampWithZone",
                          "default-folder = 'x'\ntimestamp = 2026-01-15T10:30:00Z" ENTRY,
                          ":2: timestamp must be a local date and time without a time zone"},
        ManifestErrorCase{"TimestampAsText", "default-folder = 'x'\ntimestamp = '2026'" ENTRY,
                          ":2: timestamp must be a date"},
        ManifestErrorCase{"TimestampBefore1899",
                          "default-folder = 'x'\ntimestamp = 1850-01-01" ENTRY,
                          ":2: timestamp: date 1850-1-1 lies outside"},
        ManifestErrorCase{"CodePageUnknown", "default-folder = 'x'\ncode-page = 65000" ENTRY,
                          ":2: code-page must be the number of a Windows ANSI code page"},
        ManifestErrorCase{"CodePageOem", "default-folder = 'x'\ncode-page = 437" ENTRY,
                          ":2: code-page must be the number of a Windows ANSI code page"},
        ManifestErrorCase{"CodePageAsText", "default-folder = 'x'\ncode-page = '1252'" ENTRY,
                          ":2: code-page must be"},
        ManifestErrorCase{"EntryNotTables", "default-folder = 'x'\nentry = 'a'\n",
                          ":2: entry must be written as [[entry]] tables"},
        ManifestErrorCase{"LineEndsUnknown", "default-folder = 'x'\nline-ends = 'lf'" ENTRY,
                          ":2: line-ends must be \"crlf\" or \"keep\""},
        ManifestErrorCase{"IdesUnknownFamily",
                          "default-folder = 'x'\nides = ['delphi', 'kylix']" ENTRY,
                          ":2: ides: unknown IDE family 'kylix'"},
        ManifestErrorCase{"IdesEmpty", "default-folder = 'x'\nides = []" ENTRY,
                          ":2: ides names no IDE family"},
        ManifestErrorCase{
            "IdesPathTwice",
            "default-folder = 'x'\nides = ['bds', '\\Software\\CodeGear\\BDS\\']" ENTRY,
            ":2: ides: '\\Software\\CodeGear\\BDS\\' and 'bds' both name"},
        ManifestErrorCase{"MissingRoot", "default-folder = 'x'\nroot = 'no/such/folder'" ENTRY,
                          ":2: root folder"},
        ManifestErrorCase{"PackagesWithoutPackage",
                          "default-folder = 'x'" ENTRY "[[packages]]\nplatforms = ['Win32']\n",
                          ":5: [[packages]] names no package"},
        ManifestErrorCase{"PackagesNotAProject",
                          "default-folder = 'x'" ENTRY "[[packages]]\nruntime = ['R.dpr']\n",
                          ":6: runtime: 'R.dpr' is not a Delphi package project (.dpk)"},
        ManifestErrorCase{"PackagesDesignNotStrings",
                          "default-folder = 'x'" ENTRY "[[packages]]\ndesign = [1]\n",
                          ":6: design must be a string"},
        ManifestErrorCase{"PackagesUnknownKey",
                          "default-folder = 'x'" ENTRY
                          "[[packages]]\ndesign = 'D.dpk'\nbpl = 'x'\n",
                          ":7: unknown key 'bpl' in [[packages]]"},
        ManifestErrorCase{"LibraryWithoutIdes",
                          "default-folder = 'x'" ENTRY "[[library]]\ninclude-path = 'I'\n",
                          ":5: [[library]] without ides"},
        ManifestErrorCase{"LibraryWithoutFolder",
                          "default-folder = 'x'" ENTRY "[[library]]\nides = ['bds']\n",
                          ":5: [[library]] names no folder"},
        ManifestErrorCase{"LibraryUnknownKey",
                          "default-folder = 'x'" ENTRY
                          "[[library]]\nides = ['bds']\nplatforms = []\n",
                          ":7: unknown key 'platforms' in [[library]]"}),
    [](const auto& info) { return info.param.name; });

TEST(Manifest, MissingFileIsNamed) {
  TempDir dir;
  try {
    ReadManifest(dir / "absent.toml");
    FAIL() << "accepted";
  } catch (const EPackerError& e) {
    EXPECT_EQ(std::string(e.what()),
              (dir / "absent.toml").string() + ": cannot read the manifest: no such file");
  }
}

// --- Planning ---------------------------------------------------------------------------------

// The plan's entries without the code-page and identity records that every package carries.
std::vector<EntrySource> Sources(const PackagePlan& plan) {
  std::vector<EntrySource> sources;
  std::copy_if(plan.entries.begin(), plan.entries.end(), std::back_inserter(sources),
               [](const EntrySource& e) {
                 return e.fileName != CODE_PAGE_ENTRY_NAME && e.fileName != IDENTITY_ENTRY_NAME;
               });
  return sources;
}

class PlanTest : public ::testing::Test {
protected:
  void Write(const std::string& path, const std::string& content = "x") {
    WriteFile(dir_.Path() / test::Utf8Path(path), content);
  }

  // With the name that every manifest needs, before its first table so that the lines above it
  // keep their numbers.
  Manifest Parse(std::string text) {
    text.insert(text.find("[[entry]]"), "name = 'W'\n");
    return ParseManifest(text, dir_ / "m.toml");
  }

  std::string PlanError(const std::string& text) {
    try {
      PlanPackage(Parse(text));
    } catch (const EPackerError& e) {
      return e.what();
    }
    return "accepted";
  }

  TempDir dir_;
};

TEST_F(PlanTest, TextsFirstThenEntriesInManifestOrderAndSortedPaths) {
  Write("welcome.txt", "Welcome!");
  Write("src/b.pas", "unit b;");
  Write("src/a.pas", "unit a;");
  Write("src/sub/c.pas", "unit c;");
  Write("src/100%.inc", "{$I}");
  Write("src/.hidden/d.pas");
  Write("docs/readme.html", "<html>");
  const PackagePlan plan =
      PlanPackage(Parse("default-folder = '%Delphi%W\\'\nwelcome-file = 'welcome.txt'\n"
                        "patch-text = '{ patch }'\ntimestamp = 2026-01-15T10:30:00\n"
                        "ides = ['bds', 'Delphi']\n"
                        "[[entry]]\nsource = 'docs/readme.html'\n"
                        "[[entry]]\nsource = 'src/**/*.*'\nfolder = '%zel_root%Source'\n"
                        "prepend-patch = true\n"));
  EXPECT_EQ(plan.defaultFolder, "%Delphi%W\\");
  struct Expected {
    const char* folder;
    const char* name;
    std::uint32_t flags;
    const char* content;
  } const expected[] = {
      {"", "welcome.txt", 0, "Welcome!"},
      {"", "patchinfo.txt", 0, "{ patch }"},
      {"", "ides.txt", 0,
       "\\Software\\Borland\\BDS\\\r\n\\Software\\CodeGear\\BDS\\\r\n"
       "\\Software\\Embarcadero\\BDS\\\r\n\\Software\\Borland\\Delphi\\\r\n"},
      {"%zel_root%.", "readme.html", ENTRY_INSTALL, "<html>"},
      {"%zel_root%Source", "100%%.inc", ENTRY_INSTALL | ENTRY_PREPEND_PATCH, "{$I}"},
      {"%zel_root%Source", "a.pas", ENTRY_INSTALL | ENTRY_PREPEND_PATCH, "unit a;"},
      {"%zel_root%Source", "b.pas", ENTRY_INSTALL | ENTRY_PREPEND_PATCH, "unit b;"},
      {"%zel_root%Source\\sub", "c.pas", ENTRY_INSTALL | ENTRY_PREPEND_PATCH, "unit c;"},
  };
  const std::vector<EntrySource> sources = Sources(plan);
  ASSERT_EQ(sources.size(), std::size(expected));
  ASSERT_EQ(plan.entries.size(), sources.size() + 2);
  EXPECT_EQ(plan.entries[3].fileName, CODE_PAGE_ENTRY_NAME) << "a list entry, after the others";
  EXPECT_EQ(plan.entries[3].flags, 0u);
  EXPECT_EQ(plan.entries[3].load(), "1252\r\n");
  EXPECT_EQ(plan.entries[3].date, 46037u) << "the manifest's timestamp";
  EXPECT_EQ(plan.entries[4].fileName + plan.entries[4].load(), "identity.txtname=W\r\n");
  EXPECT_EQ(plan.entries[4].flags, 0u);
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const EntrySource& e = sources[i];
    EXPECT_EQ(e.folderTemplate, expected[i].folder) << i;
    EXPECT_EQ(e.fileName, expected[i].name) << i;
    EXPECT_EQ(e.flags, expected[i].flags) << i;
    EXPECT_EQ(e.load(), expected[i].content) << i;
    EXPECT_EQ(e.date, 46037u) << i;
    EXPECT_EQ(e.time, 4375u) << i;
  }
}

TEST_F(PlanTest, FolderPatternsTakeWholeTreesAndExcludesApply) {
  Write("lib/a.pas");
  Write("lib/x/b.pas");
  Write("lib/x/old/c.pas");
  Write("lib/y/d.dcu");
  const PackagePlan plan =
      PlanPackage(Parse("default-folder = 'd'\ntimestamp = 2000-01-01\n[[entry]]\n"
                        "source = ['lib/*', 'lib/x']\nexclude = ['**/old', '*/*/*.dcu']\n"
                        "folder = 'T:'\n"));
  std::vector<std::string> paths;
  for (const EntrySource& e : Sources(plan)) {
    paths.push_back(e.folderTemplate + "|" + e.fileName);
  }
  // lib/x is named twice (by lib/* and by itself) but packed once, with its folder kept below
  // the first pattern's fixed part.
  EXPECT_EQ(paths, (std::vector<std::string>{"T:|a.pas", "T:x|b.pas"}));
}

TEST_F(PlanTest, DefaultFolderTakesSubfoldersDirectlyAfterTheMacro) {
  Write("src/a.pas");
  Write("src/sub/b.pas");
  Write("src/sub/deep/c.pas");
  const PackagePlan plan = PlanPackage(
      Parse("default-folder = 'd'\ntimestamp = 2000-01-01\n[[entry]]\nsource = 'src/**/*.pas'\n"));
  std::vector<std::string> paths;
  for (const EntrySource& e : Sources(plan)) {
    paths.push_back(e.folderTemplate + "|" + e.fileName);
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"%zel_root%.|a.pas", "%zel_root%sub|b.pas",
                                             "%zel_root%sub\\deep|c.pas"}));
}

// What each manifest packs from one tree, as "folder template|name" in package order, and the
// warnings it gets (each expected as a part of one warning, in order).
struct LayoutCase {
  const char* name;
  std::string manifest; // after default-folder and timestamp
  std::vector<std::string> entries;
  std::vector<std::string> warnings;
  bool link = false; // Source/doclink, a link to the folder Doc
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
  *out << c.name;
}

class PlanLayoutTest : public PlanTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(PlanLayoutTest, PacksTheExpectedFiles) {
  for (const char* path : {"Source/Unit1.pas", "Source/sub/Grid.pas", "Source/notes.md",
                           "Source/.svn/entries", "Source/CVS/Root", "Doc/readme.html",
                           "Doc/api/readme.html", "README.md", "Source/backup/Old.pas"}) {
    Write(path);
  }
  std::filesystem::create_directories(dir_ / "Source" / "empty");
  if (GetParam().link) {
    if (!test::SymlinksWork(dir_.Path())) {
      GTEST_SKIP() << "no symbolic links here, and the case counts one";
    }
    std::filesystem::create_directory_symlink(dir_ / "Doc", dir_ / "Source" / "doclink");
  }
  const PackagePlan plan =
      PlanPackage(Parse("default-folder = 'd'\ntimestamp = 2000-01-01\n" + GetParam().manifest));
  std::vector<std::string> paths;
  for (const EntrySource& e : Sources(plan)) {
    paths.push_back(e.folderTemplate + "|" + e.fileName);
  }
  EXPECT_EQ(paths, GetParam().entries);
  ASSERT_EQ(plan.warnings.size(), GetParam().warnings.size())
      << ::testing::PrintToString(plan.warnings);
  for (std::size_t i = 0; i < plan.warnings.size(); ++i) {
    EXPECT_NE(plan.warnings[i].find(GetParam().warnings[i]), std::string::npos) << plan.warnings[i];
  }
}

INSTANTIATE_TEST_SUITE_P(
    Manifests, PlanLayoutTest,
    ::testing::Values(
        LayoutCase{"FolderKeepsItsName",
                   "[[entry]]\nsource = 'Source'\nexclude = ['*.md', 'backup/']\n",
                   {"%zel_root%Source|Unit1.pas", "%zel_root%Source\\sub|Grid.pas"},
                   {"skipped 1 link to folders and 1 empty folder"},
                   true},
        LayoutCase{"FinalSlashTakesTheContents",
                   "[[entry]]\nsource = 'source\\'\nexclude = ['/Source/*.md', 'Old.pas']\n"
                   "folder = '%zel_root%Src'\n",
                   {"%zel_root%Src|Unit1.pas", "%zel_root%Src\\sub|Grid.pas"},
                   {"skipped 0 links to folders and 1 empty folder"}},
        LayoutCase{"WildcardsIgnoreCaseAndBackslashes",
                   "[[entry]]\nsource = 'SOURCE\\**\\*.PAS'\nexclude = ['backup', 'nothing*']\n",
                   {"%zel_root%.|Unit1.pas", "%zel_root%sub|Grid.pas"},
                   {"exclude 'nothing*' leaves out no file"}},
        LayoutCase{"VersionControlFolderNamed",
                   "[[entry]]\nsource = 'Source/CVS'\n",
                   {"%zel_root%CVS|Root"},
                   {}},
        LayoutCase{"SeveralReadmes",
                   "[[entry]]\nsource = 'Doc'\n",
                   {"%zel_root%Doc\\api|readme.html", "%zel_root%Doc|readme.html"},
                   {"2 installed entries are named readme.html; the installer opens the last "
                    "one, %zel_root%Doc\\readme.html from "}},
        LayoutCase{"ReadmeKeyGoesLast",
                   "readme = 'Doc\\readme.html'\n[[entry]]\nsource = ['Doc', 'README.md']\n",
                   {"%zel_root%Doc\\api|readme.html", "%zel_root%.|README.md",
                    "%zel_root%Doc|readme.html"},
                   {}}),
    [](const auto& info) { return info.param.name; });

TEST_F(PlanTest, TextsGetCrLfUnlessKept) {
  Write("w.txt", "one\ntwo\r\nthree\rfour\n");
  const std::string manifest =
      "default-folder = 'd'\ntimestamp = 2000-01-01\nwelcome-file = 'w.txt'\n"
      "patch-text = \"{ a }\\n{ b }\\n\"\n[[entry]]\nsource = 'w.txt'\n";
  const PackagePlan crLf = PlanPackage(Parse(manifest));
  EXPECT_EQ(crLf.entries[0].load(), "one\r\ntwo\r\nthree\r\nfour\r\n");
  EXPECT_EQ(crLf.entries[1].load(), "{ a }\r\n{ b }\r\n");
  EXPECT_EQ(Sources(crLf)[2].load(), "one\ntwo\r\nthree\rfour\n") << "installed files stay";
  const PackagePlan kept = PlanPackage(Parse("line-ends = 'keep'\n" + manifest));
  EXPECT_EQ(kept.entries[0].load(), "one\ntwo\r\nthree\rfour\n");
}

TEST(TemplateCheck, AcceptsWhatTheInstallerExpandsAsMeant) {
  for (const char* text : {"%Delphi%Lib\\", "%ZEL_ROOT%Source", "50%% done", "%zel_root%%%\\x",
                           "C:\\Fixed\\", "", "%delphi%"}) {
    EXPECT_EQ(TemplateProblem(text, TemplateKind::Folder), "") << text;
  }
  // In the patch text a separator after a macro is the author's business.
  EXPECT_EQ(TemplateProblem("{$I %zel_root%\\inc.inc}", TemplateKind::Text), "");
  EXPECT_NE(TemplateProblem("{$I %zel_root%\\inc.inc}", TemplateKind::Folder), "");
}

// Why the installer refuses an entry, judged on the stored folder and name as it joins them.
TEST(TemplateCheck, EntryNameProblemJudgesEveryComponentTheTemplateShows) {
  const struct {
    const char* folder;
    const char* name;
    const char* problem; // its start; "" for none
  } cases[] = {
      {"%zel_root%.", "CON", "'CON' is a device"},
      {"%zel_root%.", "con.pas", "'con.pas' is a device"},
      {"%zel_root%.", "aux .x", "'aux .x' is a device"},
      {"%zel_root%.", "dot.", "'dot.' ends in"},
      {"%zel_root%.", "space ", "'space ' ends in"},
      {"%zel_root%.", "a\tb.pas", "'a\tb.pas' holds a control"},
      {"%zel_root%.", "..\t\\x", "'..\t' holds a control"},
      {"%zel_root%.", "..\\x", "its name leads out"},
      {"%zel_root%Lpt1\\sub", "a.pas", "'Lpt1' is a device"},
      {"%zel_root%50%%.", "a.pas", "'50%.' ends in"}, // "%%" is one percent sign
      {"C:", "nul", "'nul' is a device"},             // the drive is no component
      {"%zel_root%.", "prn%x", "'prn' is a device"},  // an unclosed "%" drops the rest
      {" %zel_root%Src\t", "a.pas", ""},              // trimmed as the installer trims it
      {"con%Delphi%.x", "a.pas", ""},                 // "con" joins the macro's value
      {"%Delphi%..\\Shared", "com10.pas", ""},
  };
  for (const auto& c : cases) {
    const std::string problem = EntryNameProblem(c.folder, c.name);
    EXPECT_EQ(problem.substr(0, std::string_view(c.problem).size()), c.problem)
        << c.folder << " + " << c.name << ": " << problem;
    EXPECT_EQ(problem.empty(), *c.problem == '\0') << c.folder << " + " << c.name;
  }
}

TEST_F(PlanTest, FilesWithoutTimestampTakeTheirModificationTime) {
  Write("a.pas");
  std::tm local{};
  local.tm_year = 2021 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 2;
  local.tm_hour = 3;
  local.tm_isdst = -1;
  std::filesystem::last_write_time(
      dir_ / "a.pas", std::chrono::file_clock::from_sys(
                          std::chrono::system_clock::from_time_t(std::mktime(&local))));
  const PackagePlan plan =
      PlanPackage(Parse("default-folder = 'd'\n[[entry]]\nsource = 'a.pas'\n"));
  ASSERT_EQ(Sources(plan).size(), 1u);
  const DayTime expected = DayTimeFromCivil(2021, 1, 2, 3, 0, 0);
  EXPECT_EQ(Sources(plan)[0].date, expected.date);
  EXPECT_EQ(Sources(plan)[0].time, expected.time);
}

struct PlanErrorCase {
  const char* name;
  std::string manifest;
  std::string message; // expected inside the error, after "<dir>/"
};

class PlanErrorTest : public PlanTest, public ::testing::WithParamInterface<PlanErrorCase> {};

TEST_P(PlanErrorTest, NamesTheFile) {
  Write("src/a.pas");
  Write("src/b/a.pas");
  Write("jp/\xE6\x97\xA5.pas");
  Write("journal/w.Quillet-Journal");
  Write("record/w.QUILLET-RECORD");
  if (std::string_view(GetParam().name) == "CaseSensitiveMiss" &&
      test::NamesIgnoreCase(dir_.Path())) {
    GTEST_SKIP() << "the file system finds SRC as src";
  }
  const std::string error = PlanError(GetParam().manifest);
  // The path that starts the message as the system writes it, with its own separator.
  std::string message = GetParam().message;
  const std::size_t pathEnd = std::min({message.find(' '), message.find(':'), message.size()});
  std::replace(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(pathEnd), '/',
               static_cast<char>(std::filesystem::path::preferred_separator));
  EXPECT_NE(error.find((dir_.Path() / "").string() + message), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, PlanErrorTest,
    ::testing::Values(
        PlanErrorCase{"PatternMatchesNothing",
                      "default-folder = 'd'\n[[entry]]\nsource = '*.cpp'\n",
                      "m.toml:3: source pattern '*.cpp' matches no file"},
        PlanErrorCase{"MissingWelcomeFile",
                      "default-folder = 'd'\nwelcome-file = 'w.txt'\n[[entry]]\nsource = 'src'\n",
                      "m.toml:2: "},
        PlanErrorCase{"DefaultFolderLongerThan255",
                      "default-folder = '" + std::string(256, 'd') +
                          "'\n[[entry]]\nsource = 'src'\n",
                      "m.toml:1: default-folder is longer than 255 bytes"},
        PlanErrorCase{"NameOutsideTheCodePage", "default-folder = 'd'\n[[entry]]\nsource = 'jp'\n",
                      "jp/\xE6\x97\xA5.pas: the file name holds the character '\xE6\x97\xA5' "
                      "(U+65E5), which code page 1252 cannot hold"},
        PlanErrorCase{"TextOutsideTheCodePage",
                      "default-folder = 'd'\ncode-page = 1251\nwelcome-text = '\xC3\xA9'\n"
                      "[[entry]]\nsource = 'src'\n",
                      "m.toml:3: the text holds the character '\xC3\xA9' (U+00E9), which code "
                      "page 1251 cannot hold"},
        PlanErrorCase{"TwoEntriesOneTarget",
                      "default-folder = 'd'\n[[entry]]\nsource = 'src/a.pas'\n[[entry]]\n"
                      "source = 'src/b/a.pas'\n",
                      "src/b/a.pas (source 'src/b/a.pas' of the [[entry]] at line 5) and "},
        PlanErrorCase{"OneFileTwice",
                      "default-folder = 'd'\n[[entry]]\nsource = 'src/A.PAS'\n[[entry]]\n"
                      "source = 'src/*.pas'\n",
                      "src/a.pas (source 'src/*.pas' of the [[entry]] at line 5) and "},
        PlanErrorCase{"UnknownMacro",
                      "default-folder = 'd'\n[[entry]]\nsource = 'src'\nfolder = '%BCB%Packages'\n",
                      "m.toml:5: folder: unknown macro %BCB% in '%BCB%Packages', which the "
                      "installer would drop (the installer knows %Delphi%, %zel_root% and "
                      "%BDSCOMMONDIR%); write "
                      "%% for a percent sign"},
        PlanErrorCase{"LonePercentInPatchText",
                      "default-folder = 'd'\npatch-text = '{ 100% free }'\n[[entry]]\n"
                      "source = 'src'\n",
                      "m.toml:2: patch-text: lone % in '{ 100% free }'"},
        PlanErrorCase{"SeparatorAfterMacro",
                      "default-folder = 'd'\n[[entry]]\nsource = 'src'\n"
                      "folder = '%zel_root%\\Source\\%delphi%/x'\n",
                      "m.toml:5: folder: separator right after a macro in "
                      "'%zel_root%\\Source\\%delphi%/x': the macro ends in one already, and the "
                      "doubled one keeps the installer from creating the folder; write "
                      "'%zel_root%Source\\%delphi%x'"},
        PlanErrorCase{"SeparatorAfterMacroInDefaultFolder",
                      "default-folder = '%Delphi%\\Lib\\'\n[[entry]]\nsource = 'src'\n",
                      "m.toml:1: default-folder: separator right after a macro in "
                      "'%Delphi%\\Lib\\'"},
        PlanErrorCase{"ReadmeNotPacked",
                      "default-folder = 'd'\nreadme = 'src/a.pas'\n[[entry]]\nsource = 'src'\n",
                      "m.toml:2: readme " + std::string()},
        PlanErrorCase{"JournalName", "default-folder = 'd'\n[[entry]]\nsource = 'journal'\n",
                      "journal/w.Quillet-Journal: a file named *.quillet-record or"},
        PlanErrorCase{"RecordName", "default-folder = 'd'\n[[entry]]\nsource = 'record'\n",
                      "record/w.QUILLET-RECORD: a file named *.quillet-record or"},
        PlanErrorCase{"ProjectNotInstalled",
                      "default-folder = 'd'\ntimestamp = 2026-01-01\n[[entry]]\nsource = 'src'\n"
                      "[[packages]]\nruntime = ['%zel_root%src\\a.pas.dpk']\n",
                      "m.toml:7: runtime: %zel_root%src\\a.pas.dpk is no file that an [[entry]] "
                      "installs there"},
        PlanErrorCase{
            "PlatformMacroOutsidePrebuilt",
            "default-folder = 'd'\n[[entry]]\nsource = 'src'\nfolder = '%platform%'\n",
            "m.toml:5: folder: the macro %platform% in '%platform%' stands for a platform only in "
            "the prebuilt folders of [[packages]]"},
        PlanErrorCase{"CaseSensitiveMiss",
                      "default-folder = 'd'\ncase-sensitive = true\n[[entry]]\n"
                      "source = 'SRC/*.pas'\n",
                      "m.toml:4: source pattern 'SRC/*.pas' matches no file"}),
    [](const auto& info) { return info.param.name; });

// A set's projects are found among the installed files however their paths are spelt, go into
// "packages.txt", and an order the compiler cannot build in is a warning.
TEST_F(PlanTest, PackageSetsNameInstalledProjectsInAnOrderTheyBuildIn) {
  Write("Packages/R.dpk", "package R; requires rtl; end.");
  Write("Packages/R2.dpk", "package R2; requires R; end.");
  Write("Packages/D.dpk", "{ requires R2; } package D; {$DESIGNONLY} requires designide, R2; end.");
  Write("Packages/E.dpk", "package E; requires r; end.");
  const PackagePlan plan = PlanPackage(
      Parse("default-folder = 'd'\ntimestamp = 2026-01-01\n[[entry]]\nsource = 'Packages'\n"
            "[[packages]]\nides = ['bds>=23.0']\nruntime = ['%ZEL_ROOT%packages/r.DPK']\n"
            "design = ['%zel_root%Packages\\D.dpk', '%zel_root%.\\Packages\\R2.dpk']\n"
            "prebuilt = '%zel_root%Bpl\\%platform%\\'\n"
            "[[packages]]\nruntime = '%zel_root%Packages\\E.dpk'\n"));
  const auto sets = std::ranges::find(plan.entries, PACKAGES_ENTRY_NAME, &EntrySource::fileName);
  ASSERT_NE(sets, plan.entries.end());
  EXPECT_EQ(sets->flags, 0u);
  EXPECT_EQ(sets->load(),
            "set\r\nide=\\Software\\Borland\\BDS\\\r\nbounds=>=23.0\r\n"
            "ide=\\Software\\CodeGear\\BDS\\\r\nbounds=>=23.0\r\n"
            "ide=\\Software\\Embarcadero\\BDS\\\r\nbounds=>=23.0\r\nplatform=Win32\r\n"
            "runtime=%ZEL_ROOT%packages/r.DPK\r\ndesign=%zel_root%Packages\\D.dpk\r\n"
            "design=%zel_root%.\\Packages\\R2.dpk\r\nprebuilt=%zel_root%Bpl\\%platform%\\\r\n"
            "set\r\nplatform=Win32\r\nruntime=%zel_root%Packages\\E.dpk\r\n");
  // D before R2, which it requires, is an order the installer mends; the comment's clause is no
  // requirement. E requires R, which only the first set builds, and only for some IDEs.
  EXPECT_EQ(plan.warnings, (std::vector<std::string>{
                               (dir_ / "m.toml").string() +
                               ":11: %zel_root%Packages\\E.dpk requires r, which the [[packages]] "
                               "set at line 6 builds, but not for every IDE and platform this "
                               "set is built for"}));
}

// The warnings about what the sets' projects require and the resources they name.
struct ProjectWarningCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files; // below P/
  std::string sets;                                       // from line 6 on
  std::vector<std::string> warnings;                      // after "m.toml"
  friend void PrintTo(const ProjectWarningCase& row, std::ostream* out) { *out << row.name; }
};

class ProjectWarningTest : public PlanTest,
                           public ::testing::WithParamInterface<ProjectWarningCase> {};

TEST_P(ProjectWarningTest, WarnsOfWhatNoBuildOrderMends) {
  for (const auto& [file, text] : GetParam().files) {
    Write("P/" + file, text);
  }
  const PackagePlan plan = PlanPackage(Parse(
      "default-folder = 'd'\ntimestamp = 2026-01-01\n[[entry]]\nsource = 'P'\n" + GetParam().sets));
  std::vector<std::string> expected;
  for (const std::string& warning : GetParam().warnings) {
    expected.push_back((dir_ / "m.toml").string() + warning);
  }
  EXPECT_EQ(plan.warnings, expected);
}

const std::string DESIGN = "{$DESIGNONLY} ";

INSTANTIATE_TEST_SUITE_P(
    Rows, ProjectWarningTest,
    ::testing::Values(
        // Listed alphabetically, as a library's package folder lists them: every order is mended.
        ProjectWarningCase{
            "LibraryListedAlphabetically",
            {{"JvCore.dpk", "package JvCore; requires rtl, vcl, vclx; end."},
             {"JvSystem.dpk", "package JvSystem; requires JvCore, rtl, vcl; end."},
             {"JvStdCtrls.dpk", "package JvStdCtrls; requires JvCore, JvSystem, vclimg; end."},
             {"JvControls.dpk", "package JvControls; requires JvCore, JvStdCtrls, JvSystem; end."},
             {"JvDB.dpk", "package JvDB; requires JvControls, JvCore, dbrtl, vcldb, adortl; end."},
             {"JvCoreDesign.dpk",
              "package JvCoreDesign; " + DESIGN + "requires JvCore, designide, dclstd; end."},
             {"JvSystemDesign.dpk",
              "package JvSystemDesign; " + DESIGN + "requires JvSystem, JvCoreDesign; end."},
             {"JvStdCtrlsDesign.dpk",
              "package JvStdCtrlsDesign; " + DESIGN + "requires JvStdCtrls, JvCoreDesign; end."},
             {"JvControlsDesign.dpk", "package JvControlsDesign; " + DESIGN +
                                          "requires JvControls, JvStdCtrlsDesign; end."},
             {"JvDBDesign.dpk", "package JvDBDesign; " + DESIGN + "requires JvDB, dcldb; end."}},
            "[[packages]]\nruntime = ['%zel_root%P\\JvControls.dpk', '%zel_root%P\\JvCore.dpk', "
            "'%zel_root%P\\JvDB.dpk', '%zel_root%P\\JvStdCtrls.dpk', '%zel_root%P\\JvSystem.dpk']\n"
            "design = ['%zel_root%P\\JvControlsDesign.dpk', '%zel_root%P\\JvCoreDesign.dpk', "
            "'%zel_root%P\\JvDBDesign.dpk', '%zel_root%P\\JvStdCtrlsDesign.dpk', "
            "'%zel_root%P\\JvSystemDesign.dpk']\n",
            {}},
        ProjectWarningCase{"DesignRequiresDesignListedAfter",
                           {{"B.dpk", "package B; " + DESIGN + "requires A, designide; end."},
                            {"A.dpk", "package A; " + DESIGN + "requires designide; end."}},
                           "[[packages]]\ndesign = ['%zel_root%P\\B.dpk', '%zel_root%P\\A.dpk']\n",
                           {}},
        ProjectWarningCase{
            "Cycle",
            {{"A.dpk", "package A; requires B; end."},
             {"B.dpk", "package B; requires C; end."},
             {"C.dpk", "package C; requires rtl, A; end."}},
            "[[packages]]\nruntime = ['%zel_root%P\\A.dpk', '%zel_root%P\\B.dpk', "
            "'%zel_root%P\\C.dpk']\n",
            {":6: the requires clauses of the set's package projects go round: A requires B, "
             "which requires C, which requires A; no build order satisfies them"}},
        ProjectWarningCase{
            "MissingPackagesNamedWithTheirLibrary",
            {{"R.dpk", "package R; requires rtl, JclVcl, Widgets; end."},
             {"S.dpk", "package S; requires JCLVCL; end."}},
            "[[packages]]\nruntime = ['%zel_root%P\\R.dpk', '%zel_root%P\\S.dpk']\n",
            {":6: %zel_root%P\\R.dpk requires JclVcl (as 1 more project of the set does), which "
             "no [[packages]] set of this package "
             "builds and the IDE does not ship; it is a package of the JEDI Code Library (JCL), "
             "which the user needs installed",
             ":6: %zel_root%P\\R.dpk requires Widgets, which no [[packages]] set of this package "
             "builds and the IDE does not ship; the user needs the package that provides it "
             "installed"}},
        ProjectWarningCase{
            "IdePackagesNeedNothing",
            {{"R.dpk", "package R; requires RTL, IndyProtocols, FireDACCommonDriver, vclimg, "
                       "xmlrtl, bindcompvcl; end."},
             {"D.dpk", "package D; " + DESIGN + "requires R, designide, dclIndyCore, dcldb; end."}},
            "[[packages]]\nruntime = '%zel_root%P\\R.dpk'\ndesign = '%zel_root%P\\D.dpk'\n",
            {}},
        ProjectWarningCase{
            "PackageOfALaterSet",
            {{"R.dpk", "package R; requires S; end."}, {"S.dpk", "package S; end."}},
            "[[packages]]\nruntime = '%zel_root%P\\R.dpk'\n[[packages]]\n"
            "runtime = '%zel_root%P\\S.dpk'\n",
            {":6: %zel_root%P\\R.dpk requires S, which only the [[packages]] set at line 8 builds, "
             "after this one: sets are built in manifest order"}},
        // A.dpk lacks its .res (and is named twice), B carries it, C has a .dproj and a .dcr.
        ProjectWarningCase{
            "MissingResourceOncePerProject",
            {{"A.dpk", "package A; {$R *.res} end."},
             {"B.dpk", "package B; {$R *.res} end."},
             {"B.res", ""},
             {"C.dpk", "package C; {$R *.RES} {$R C.dcr} end."},
             {"C.dproj", "<Project/>"}},
            "[[packages]]\nruntime = ['%zel_root%P\\A.dpk', '%zel_root%P\\B.dpk']\n"
            "design = '%zel_root%P\\C.dpk'\n[[packages]]\nruntime = '%zel_root%p/a.dpk'\n",
            {":7: %zel_root%P\\A.dpk names the resource A.res ({$R *.res}), which the package "
             "does not carry; the installer makes it when it builds the package, as an empty one "
             "(the package carries no A.dproj)",
             ":8: %zel_root%P\\C.dpk names the resource C.RES ({$R *.RES}), which the package "
             "does not carry; the installer makes it when it builds the package, from the version "
             "information of C.dproj"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Names, folders and texts are stored in the manifest's code page, as the installer reads them.
TEST_F(PlanTest, NamesAndTextsAreStoredInTheCodePage) {
  Write("w.txt", "Gr\xC3\xBC\xC3\x9F");                  // Grüß in UTF-8
  Write("src/caf\xC3\xA9/\xE2\x82\xAC.pas");             // café/€.pas
  Write("jp/\xE8\xA1\xA8/\xE6\x97\xA5\xE6\x9C\xAC.pas"); // 表/日本.pas
  const struct {
    const char* manifest;
    const char* defaultFolder;
    const char* folder;
    const char* name;
    const char* welcome;
    const char* summary; // the folder as the build summary shows it
  } cases[] = {
      {"default-folder = 'C:\\\xC3\xA9'\nwelcome-file = 'w.txt'\n[[entry]]\nsource = 'src'\n",
       "C:\\\xE9", "%zel_root%src\\caf\xE9", "\x80.pas", "Gr\xFC\xDF",
       "%zel_root%src\\caf\xC3\xA9"},
      {"default-folder = '\xE8\xA1\xA8'\ncode-page = 932\n[[entry]]\nsource = 'jp'\n"
       "folder = '%zel_root%\xE8\xA1\xA8'\n",
       "\x95\x5C", "%zel_root%\x95\x5C\\jp\\\x95\x5C", "\x93\xFA\x96\x7B.pas", nullptr,
       "%zel_root%\xE8\xA1\xA8\\jp\\\xE8\xA1\xA8"},
  };
  for (const auto& c : cases) {
    const PackagePlan plan = PlanPackage(Parse(c.manifest));
    EXPECT_EQ(plan.defaultFolder, c.defaultFolder);
    const EntrySource& file = plan.entries.back();
    EXPECT_EQ(file.folderTemplate, c.folder);
    EXPECT_EQ(file.fileName, c.name);
    EXPECT_EQ(TargetFolders(plan).back().first, c.summary);
    if (c.welcome != nullptr) {
      EXPECT_EQ(plan.entries.front().load(), c.welcome);
    }
  }
}

TEST_F(PlanTest, ExactlyTheLimitsAreAccepted) {
  Write(std::string(255, 'n'));
  const std::string folder = "%zel_root%" + std::string(245, 'f');
  const PackagePlan plan =
      PlanPackage(Parse("default-folder = '" + std::string(255, 'd') + "'\n[[entry]]\nsource = '" +
                        std::string(255, 'n') + "'\nfolder = '" + folder + "'\n"));
  ASSERT_EQ(Sources(plan).size(), 1u);
  EXPECT_EQ(Sources(plan)[0].folderTemplate.size(), 255u);
  EXPECT_EQ(Sources(plan)[0].fileName.size(), 255u);
}

// --- Joining subfolders to folder templates -----------------------------------------------------

struct JoinCase {
  const char* name;
  std::string folder;      // the entry's folder template in the manifest
  const char* rootLevel;   // stored for a file at the pattern's fixed part
  const char* inSubfolder; // stored for a file in sub/deep below it
  // Where the installer puts a.pas from each, with IdeRoot C:\IDE and PackageRoot D:\Lib.
  const char* rootLevelTarget;
  const char* inSubfolderTarget;
};

void PrintTo(const JoinCase& c, std::ostream* out) {
  *out << c.name;
}

class JoinFolderTemplateTest : public ::testing::TestWithParam<JoinCase> {};

// The installer's target path: FolderWithSeparator(folder template) + file name, expanded.
std::string InstallTarget(const std::string& folderTemplate) {
  InstallContext context;
  context.IdeRoot = "C:\\IDE";
  context.PackageRoot = "D:\\Lib";
  return ExpandTemplate(FolderWithSeparator(folderTemplate) + "a.pas", context);
}

TEST_P(JoinFolderTemplateTest, StoresTemplatesThatInstallWithoutDoubledSeparators) {
  const JoinCase& c = GetParam();
  const std::string rootLevel = JoinFolderTemplate(c.folder, "");
  const std::string inSubfolder = JoinFolderTemplate(c.folder, "sub/deep");
  EXPECT_EQ(rootLevel, c.rootLevel);
  EXPECT_EQ(inSubfolder, c.inSubfolder);
  EXPECT_EQ(InstallTarget(rootLevel), c.rootLevelTarget);
  EXPECT_EQ(InstallTarget(inSubfolder), c.inSubfolderTarget);
}

INSTANTIATE_TEST_SUITE_P(
    Templates, JoinFolderTemplateTest,
    ::testing::Values(
        JoinCase{"PackageRoot", "%zel_root%", "%zel_root%.", "%zel_root%sub\\deep",
                 "D:\\Lib\\.\\a.pas", "D:\\Lib\\sub\\deep\\a.pas"},
        JoinCase{"MacroInAnyCase", "%ZEL_Root%", "%ZEL_Root%.", "%ZEL_Root%sub\\deep",
                 "D:\\Lib\\.\\a.pas", "D:\\Lib\\sub\\deep\\a.pas"},
        JoinCase{"IdeRoot", "%Delphi%", "%Delphi%.", "%Delphi%sub\\deep", "C:\\IDE\\.\\a.pas",
                 "C:\\IDE\\sub\\deep\\a.pas"},
        JoinCase{"FolderBelowPackageRoot", "%zel_root%Source", "%zel_root%Source",
                 "%zel_root%Source\\sub\\deep", "D:\\Lib\\Source\\a.pas",
                 "D:\\Lib\\Source\\sub\\deep\\a.pas"},
        JoinCase{"EndsInSeparator", "%Delphi%Lib\\", "%Delphi%Lib\\", "%Delphi%Lib\\sub\\deep",
                 "C:\\IDE\\Lib\\a.pas", "C:\\IDE\\Lib\\sub\\deep\\a.pas"},
        JoinCase{"FixedFolder", "C:\\Fixed", "C:\\Fixed", "C:\\Fixed\\sub\\deep",
                 "C:\\Fixed\\a.pas", "C:\\Fixed\\sub\\deep\\a.pas"},
        JoinCase{"DriveOnly", "C:", "C:", "C:sub\\deep", "C:a.pas", "C:sub\\deep\\a.pas"},
        JoinCase{"EndsInSlash", "T:/x/", "T:/x/", "T:/x/sub\\deep", "T:/x/a.pas",
                 "T:/x/sub\\deep\\a.pas"},
        // "%%" is a percent sign, not a macro, even though the last byte is "%".
        JoinCase{"LiteralPercent", "50%%", "50%%", "50%%\\sub\\deep", "50%\\a.pas",
                 "50%\\sub\\deep\\a.pas"},
        JoinCase{"MacroThenLiteralPercent", "%zel_root%%%", "%zel_root%%%",
                 "%zel_root%%%\\sub\\deep", "D:\\Lib\\%\\a.pas", "D:\\Lib\\%\\sub\\deep\\a.pas"},
        // "%%" then "Delphi" then a macro that stays open: the final "%" closes nothing.
        JoinCase{"OpenMacroAtTheEnd", "%%Delphi%", "%%Delphi%", "%%Delphi%\\sub\\deep", "%Delphi",
                 "%Delphi"},
        JoinCase{"Empty", "", "", "sub\\deep", "a.pas", "sub\\deep\\a.pas"},
        JoinCase{"BlanksAroundAMacro", " \t%zel_root% \r\n", "%zel_root%.", "%zel_root%sub\\deep",
                 "D:\\Lib\\.\\a.pas", "D:\\Lib\\sub\\deep\\a.pas"},
        // Any closed macro counts; a name the installer does not know expands to nothing.
        JoinCase{"UnknownMacro", "%other%", "%other%.", "%other%sub\\deep", ".\\a.pas",
                 "sub\\deep\\a.pas"}),
    [](const auto& info) { return info.param.name; });

TEST(JoinFolderTemplate, PercentInASubfolderStaysLiteral) {
  EXPECT_EQ(JoinFolderTemplate("%zel_root%", "50%/x"), "%zel_root%50%%\\x");
  // A subfolder ending in "%" leaves no macro at the end: nothing more is appended.
  EXPECT_EQ(JoinFolderTemplate("%zel_root%", "100%"), "%zel_root%100%%");
  EXPECT_EQ(InstallTarget(JoinFolderTemplate("%zel_root%", "100%")), "D:\\Lib\\100%\\a.pas");
}

// --- Reading packages back --------------------------------------------------------------------

class InspectTest : public ::testing::Test {
protected:
  std::string WritePackage(const PackageContents& contents, const std::string& name = "p.qpk") {
    const auto path = dir_ / name;
    WriteFile(path, SerializePackage(contents));
    return path.string();
  }

  static PackageContents ThreeEntries() {
    PackageContents contents;
    contents.defaultFolder = "%Delphi%Lib\\";
    contents.entries.push_back(MakeStoredEntry("", "welcome.txt", "Hi", 0, 36671, 219));
    contents.entries.push_back(MakeStoredEntry("%zel_root%Source", "a.pas", "unit a;",
                                               ENTRY_INSTALL | ENTRY_PREPEND_PATCH, 46037, 4375));
    contents.entries.push_back(MakeStoredEntry("%zel_root%", "readme.html", "<html>"));
    return contents;
  }

  std::string OpenError(const std::string& path) {
    try {
      PackageFile file(path);
    } catch (const EPackerError& e) {
      return e.what();
    }
    return "accepted";
  }

  TempDir dir_;
};

TEST_F(InspectTest, ListShowsEveryField) {
  PackageContents contents = ThreeEntries();
  contents.entries.insert(contents.entries.begin() + 1,
                          MakeStoredEntry("", "identity.txt", "name=W\r\nversion=2.1\r\n", 0));
  const std::string path = WritePackage(contents);
  const PackageFile package(path);
  std::ostringstream out;
  std::ostringstream warnings;
  ListPackage(package, out, warnings);
  const std::string text = out.str();
  const auto stored = std::to_string(ThreeEntries().entries[1].stored.size());
  EXPECT_NE(text.find(path + ": package of "), std::string::npos) << text;
  EXPECT_NE(text.find("entries\nName: W\nVersion: 2.1\nDefault folder: %Delphi%Lib\\\nIDE "
                      "families: delphi, cbuilder (the "
                      "default: the package names none)\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("    0  --"), std::string::npos) << text;
  EXPECT_NE(text.find("2000-05-25 00:31:32                    welcome.txt\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("    2  IP     " + std::string(8 - stored.size(), ' ') + stored +
                      "         7  2026-01-15 10:30:00  %zel_root%Source  a.pas\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("    3  I-"), std::string::npos) << text;
  EXPECT_EQ(warnings.str(), "");
}

TEST_F(InspectTest, ListShowsIncludePathsVersionedLibrariesAndPackageSets) {
  PackageContents contents = ThreeEntries();
  contents.entries.insert(
      contents.entries.begin() + 1,
      {MakeStoredEntry("", "librarypaths.txt",
                       "include-path=%zel_root%Inc\r\nfor=\\Software\\Embarcadero\\BDS\\\r\n"
                       "for-bounds=>=23.0\r\nfor-include-path=%zel_root%Inc23\r\n",
                       0),
       MakeStoredEntry("", "packages.txt",
                       "set\r\nplatform=Win64\r\nruntime=R.dpk\r\nruntime=S.dpk\r\n"
                       "prebuilt=%zel_root%%platform%\r\n",
                       0)});
  std::ostringstream out;
  std::ostringstream warnings;
  ListPackage(PackageFile(WritePackage(contents)), out, warnings);
  EXPECT_NE(out.str().find("Include path: %zel_root%Inc\n"
                           "Library for \\Software\\Embarcadero\\BDS\\>=23.0: include path "
                           "%zel_root%Inc23\nPlatforms: Win32\n"
                           "Packages for every IDE: run-time R.dpk, S.dpk; platforms Win64; "
                           "prebuilt %zel_root%%platform%\n"),
            std::string::npos)
      << out.str();
}

TEST(IdeFamilies, ListLineNamesThemAsAManifestWould) {
  const struct {
    IdeBasePaths ides;
    const char* line;
  } cases[] = {
      {IdeListOfFamilies({"\\Software\\Own\\", "delphi", "CBuilder", "bds"}),
       "IDE families: \\Software\\Own\\, delphi, cbuilder, bds"},
      // Bounds follow their family, stored without blanks; a family split by bounds is no family.
      {IdeListOfFamilies({"bds>=22.0, <=23.0", "delphi<=7", "\\Software\\Own\\>=1.0"}),
       "IDE families: bds>=22.0,<=23.0, delphi<=7, \\Software\\Own\\>=1.0"},
      {{IdeListSource::Package,
        {std::string(BORLAND_BDS_BASE_PATH), std::string(CODEGEAR_BDS_BASE_PATH),
         std::string(EMBARCADERO_BDS_BASE_PATH)},
        {">=5.0", "", ""}},
       "IDE families: \\Software\\Borland\\BDS\\>=5.0, \\Software\\CodeGear\\BDS\\, "
       "\\Software\\Embarcadero\\BDS\\"},
      {{IdeListSource::Damaged, IdeListOfFamilies({"delphi", "cbuilder"}).paths, {}},
       "IDE families: delphi, cbuilder (ides.txt is damaged; the installer falls back to these)"},
      {{IdeListSource::Package, {}, {}},
       "IDE families: none (ides.txt names no registry path; the installer offers no "
       "installation)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IdeFamiliesLine(c.ides), c.line);
  }
}

TEST_F(InspectTest, ListAndTestFindThePackageBehindAnInstaller) {
  const std::string installer = std::string(100000, '\x90');
  WriteFile(dir_ / "setup", installer + SerializePackage(ThreeEntries()));
  const PackageFile package((dir_ / "setup").string());
  EXPECT_EQ(package.Layout().header, 100000u);
  EXPECT_EQ(package.Entries().size(), 3u);
  std::ostringstream out;
  EXPECT_TRUE(TestPackage(package, out).Passed()) << out.str();
}

TEST_F(InspectTest, TestReportsEachDamagedEntryAndGoesOn) {
  PackageContents contents = ThreeEntries();
  contents.entries[0].stored[20] ^= 1; // checksum no longer matches
  contents.entries[1].stored.resize(contents.entries[1].stored.size() - 4);
  contents.entries[1].crc =
      PackageCrc(contents.entries[1].stored.data(), contents.entries[1].stored.size());
  contents.entries[2].unpackedSize = 99;
  const PackageFile package(WritePackage(contents));
  std::ostringstream out;
  const TestSummary summary = TestPackage(package, out);
  EXPECT_EQ(summary.tested, 3u);
  EXPECT_EQ(summary.failed, 2u);
  EXPECT_FALSE(summary.Passed());
  EXPECT_EQ(out.str(), "CRC Error   welcome.txt\n"
                       "Data Error  %zel_root%Source\\a.pas\n"
                       "OK          %zel_root%\\readme.html  (unpacked size field 99, content 6 "
                       "bytes)\n" +
                           package.Path() + ": 3 entries tested, 1 OK, 2 failed\n");
}

// The installer fails an entry that asks for a damaged patch text; so does the test.
TEST_F(InspectTest, TestFailsEntriesThatNeedADamagedPatchText) {
  PackageContents contents = ThreeEntries();
  contents.entries.insert(contents.entries.begin() + 1,
                          MakeStoredEntry("", "patchinfo.txt", "{ patch }", 0));
  contents.entries[1].crc ^= 1;
  const PackageFile package(WritePackage(contents));
  std::ostringstream out;
  const TestSummary summary = TestPackage(package, out);
  EXPECT_EQ(summary.failed, 2u);
  EXPECT_NE(out.str().find("CRC Error   %zel_root%Source\\a.pas\n"), std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("OK          %zel_root%\\readme.html\n"), std::string::npos)
      << out.str();
}

// Names the installer refuses fail the test and are warned about by list; no control character
// of a stored text reaches the report.
TEST_F(InspectTest, BadNamesFailAndControlCharactersAreShownAsMarks) {
  PackageContents contents = ThreeEntries();
  contents.entries.push_back(MakeStoredEntry("%zel_root%\x1B[2J", "con.pas", "x"));
  contents.entries.push_back(MakeStoredEntry("%zel_root%..", "x", "y", 0)); // never installed
  const PackageFile package(WritePackage(contents));
  std::ostringstream out;
  EXPECT_EQ(TestPackage(package, out).failed, 1u);
  EXPECT_NE(out.str().find("Bad name    %zel_root%?[2J\\con.pas  ('?[2J' holds a control "
                           "character)\n"),
            std::string::npos)
      << out.str();
  std::ostringstream listed;
  std::ostringstream warnings;
  ListPackage(package, listed, warnings);
  EXPECT_NE(listed.str().find("  %zel_root%?[2J    con.pas\n"), std::string::npos) << listed.str();
  EXPECT_EQ(warnings.str(), "quillet-pack: warning: " + package.Path() +
                                ": entry 3 (%zel_root%?[2J\\con.pas): the installer will not "
                                "create it: '?[2J' holds a control character\n");
}

TEST_F(InspectTest, HeaderCountAndUnreachableBytesAreProblems) {
  PackageContents contents = ThreeEntries();
  contents.entryCount = 5;
  // The middle record's signature is broken: the walk stops after the first entry.
  std::string image = SerializePackage(contents);
  const std::size_t second =
      header_field::SIZE + entry_field::SIZE + contents.entries[0].stored.size();
  image[second] = 'X';
  WriteFile(dir_ / "p.qpk", image);
  const PackageFile package((dir_ / "p.qpk").string());
  EXPECT_EQ(package.Entries().size(), 1u);
  const auto problems = package.Problems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "the header counts 5 entries, but 1 can be reached");
  EXPECT_EQ(problems[1].rfind("the entries end at offset " + std::to_string(second), 0), 0u);
  std::ostringstream out;
  const TestSummary summary = TestPackage(package, out);
  EXPECT_EQ(summary.failed, 0u);
  EXPECT_EQ(summary.problems, 2u);
  EXPECT_FALSE(summary.Passed());
}

TEST_F(InspectTest, FilesWithoutAPackageAreNamed) {
  WriteFile(dir_ / "empty", "");
  WriteFile(dir_ / "text", std::string(4000, 'a'));
  std::string damaged = SerializePackage(ThreeEntries());
  damaged[0] = 'X'; // header signature
  WriteFile(dir_ / "damaged", damaged);
  std::filesystem::create_directory(dir_ / "folder");
  const struct {
    const char* name;
    const char* message;
  } cases[] = {{"absent", ": no such file"},
               {"empty", ": empty file, holds no package"},
               {"text", ": holds no package (no package trailer at the end of the file)"},
               {"damaged", ": holds a damaged package: its trailer does not lead to a valid "
                           "header and first entry"},
               {"folder", ": is a folder, not a package"}};
  for (const auto& c : cases) {
    EXPECT_EQ(OpenError((dir_ / c.name).string()), (dir_ / c.name).string() + c.message);
  }
}

TEST_F(InspectTest, AttachAppendsAStandAlonePackageOnly) {
  const std::string package = WritePackage(ThreeEntries());
  WriteFile(dir_ / "sfx", std::string(5000, 'P'));
  AttachPackage(dir_ / "sfx", package, dir_ / "setup.exe");
  const std::string setup = test::ReadFile(dir_ / "setup.exe");
  EXPECT_EQ(setup, std::string(5000, 'P') + test::ReadFile(package));
  // Windows reports a file as executable by its extension.
  const auto perms = std::filesystem::status(dir_ / "setup.exe").permissions();
  EXPECT_NE(perms & std::filesystem::perms::owner_exec, std::filesystem::perms::none);

  // An installer that already carries a package, and one given as the package.
  const auto refused = [&](const std::filesystem::path& installer,
                           const std::filesystem::path& pkg) {
    try {
      AttachPackage(installer, pkg, dir_ / "again");
    } catch (const EPackerError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(refused(dir_ / "setup.exe", package),
            (dir_ / "setup.exe").string() +
                ": already carries a package at offset 5000; attach to the bare installer");
  EXPECT_EQ(refused(dir_ / "sfx", dir_ / "setup.exe"),
            (dir_ / "setup.exe").string() +
                ": is an installer with a package appended at offset 5000, not a stand-alone "
                "package");
  EXPECT_EQ(refused(dir_ / "none", package), (dir_ / "none").string() + ": no such file");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "again"));
}

// --- The download address --------------------------------------------------------------------

TEST(DownloadAddress, AttachWritesItIntoTheInstallersField) {
  const std::string field =
      std::string(DOWNLOAD_ADDRESS_MARKER) + "https://old\0" + std::string(300, '\0');
  // The marker's text alone, followed by other data, as an unoptimised build may hold it.
  const std::string bare =
      std::string(DOWNLOAD_ADDRESS_MARKER) + std::string(1, '\0') + "code" + std::string(300, '\0');
  const struct {
    std::string address;
    std::string installer;
    const char* error;    // empty: written
    std::size_t kept = 0; // leading bytes that stay as they were
  } cases[] = {
      {"https://example.org/widgets", "ELF" + field, ""},
      {"https://example.org/widgets", bare + field, "", bare.size()},
      {"https://x", bare, "sfx: has no download address field"},
      {std::string(255, 'u'), field + "tail", ""},
      {std::string(256, 'u'), "ELF" + field,
       "download address of 256 bytes: the installer's field "
       "holds at most 255"},
      {"https://x", std::string(4000, 'P'), "sfx: has no download address field"},
      {"https://x\r\nEvil", "ELF" + field,
       "download address 'https://x\r\nEvil' is empty or holds"},
      {"https://x", "ELF" + field.substr(0, 200), "sfx: has no download address field"},
  };
  for (const auto& c : cases) {
    std::string installer = c.installer;
    try {
      WriteDownloadAddress(installer, c.address, "sfx");
      EXPECT_STREQ(c.error, "") << c.address;
      const std::size_t at =
          installer.rfind(DOWNLOAD_ADDRESS_MARKER) + DOWNLOAD_ADDRESS_MARKER.size();
      EXPECT_EQ(DownloadAddressFromField(installer.data() + at), c.address);
      EXPECT_EQ(installer.size(), c.installer.size());
      EXPECT_EQ(installer.substr(0, c.kept), c.installer.substr(0, c.kept));
    } catch (const EPackerError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.error, 0), 0u) << e.what();
      EXPECT_EQ(installer, c.installer) << "unchanged when refused";
    }
  }
}

// --- Writing results ------------------------------------------------------------------------

// A close that reports lost data is a failed write: an older output stays, and nothing is left
// of a new one.
TEST(WriteFileReplacing, FailedCloseKeepsTheOldOutput) {
  for (const bool old : {true, false}) {
    TempDir dir;
    if (old) {
      WriteFile(dir / "out", "old package");
    }
    platform::testing::FailNextOutputFileClose();
    try {
      WriteFileReplacing(dir / "out", "package", false);
      ADD_FAILURE() << "written";
    } catch (const EPackerError& e) {
      EXPECT_NE(std::string(e.what()).find(": cannot write the file"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), old ? 1 : 0);
    if (old) {
      EXPECT_EQ(test::ReadFile(dir / "out"), "old package");
    }
  }
}

// The output goes to a new, exclusively created file: a link at the name the packer once used for
// its temporary file, or at the output, leads nowhere; a folder at the output is refused.
TEST(WriteFileReplacing, NeverWritesThroughALink) {
  TempDir dir;
  if (!test::SymlinksWork(dir.Path())) {
    GTEST_SKIP() << "no symbolic links here";
  }
  WriteFile(dir / "victim", "keep me");
  std::filesystem::create_symlink(dir / "victim", dir / "out.quillet-part");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling.quillet-part");
  WriteFileReplacing(dir / "out", "package", false);
  WriteFileReplacing(dir / "dangling", "package", false);
  EXPECT_EQ(test::ReadFile(dir / "victim"), "keep me");
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
  EXPECT_EQ(test::ReadFile(dir / "out"), "package");

  std::filesystem::create_symlink(dir / "victim", dir / "linked");
  WriteFileReplacing(dir / "linked", "new", true);
  EXPECT_EQ(test::ReadFile(dir / "victim"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "linked"));
  EXPECT_EQ(test::ReadFile(dir / "linked"), "new");

  std::filesystem::create_directory(dir / "folder");
  EXPECT_THROW(WriteFileReplacing(dir / "folder", "x", false), EPackerError);
  std::size_t names = 0;
  for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(dir.Path())) {
    ++names;
  }
  EXPECT_EQ(names, 7u) << "no temporary file is left behind";
}

// --- The command line -------------------------------------------------------------------------

struct UsageCase {
  const char* name;
  std::vector<std::string> arguments;
  int status;
  const char* expected; // in standard output for help, in standard error otherwise
};

class PackCommandUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(PackCommandUsageTest, ExitsWithItsStatus) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunPackCommand(GetParam().arguments, out, err);
  EXPECT_EQ(status, GetParam().status);
  const std::string& text = status == EXIT_OK ? out.str() : err.str();
  EXPECT_NE(text.find(GetParam().expected), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, PackCommandUsageTest,
    ::testing::Values(
        UsageCase{"ToolHelp", {"--help"}, EXIT_OK, "Usage: quillet-pack [OPTIONS] SUBCOMMAND"},
        UsageCase{"BuildHelp", {"build", "--help"}, EXIT_OK, "--level"},
        UsageCase{"AttachHelp", {"attach", "--help"}, EXIT_OK, "INSTALLER"},
        UsageCase{"ListHelp", {"list", "--help"}, EXIT_OK, "quillet-pack list"},
        UsageCase{"TestHelp", {"test", "--help"}, EXIT_OK, "quillet-pack test"},
        UsageCase{"Version", {"--version"}, EXIT_OK, "quillet-pack 1.0.2"},
        UsageCase{"NoCommand", {}, EXIT_USAGE, "A subcommand is required"},
        UsageCase{"UnknownCommand", {"pack"}, EXIT_USAGE, "pack"},
        UsageCase{"BuildWithoutOutput", {"build", "m.toml"}, EXIT_USAGE, "--output is required"},
        UsageCase{"LevelOutOfRange",
                  {"build", "m.toml", "-o", "p", "--level", "10"},
                  EXIT_USAGE,
                  "--level"},
        UsageCase{"JobsNotANumber",
                  {"build", "m.toml", "-o", "p", "--jobs", "many"},
                  EXIT_USAGE,
                  "--jobs"},
        UsageCase{
            "AttachWithoutPackage", {"attach", "-o", "setup"}, EXIT_USAGE, "PACKAGE is required"},
        UsageCase{"AttachForAnInstallerNamed",
                  {"attach", "sfx", "p.qpk", "-o", "setup", "--for", "linux"},
                  EXIT_USAGE,
                  "--for: looks up an installer; it cannot go with INSTALLER"},
        UsageCase{"AttachForUnknownPlatform",
                  {"attach", "p.qpk", "-o", "setup", "--for", "macos"},
                  EXIT_USAGE,
                  "--for"}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillet::packer
