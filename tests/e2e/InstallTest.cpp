// The whole installation, run through the built installer against a Wine-style prefix.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <filesystem>
#include <regex>
#include <thread>

#include "Common/Text.h"
#include "Installer/Installation.h"
#include "Installer/Options.h"
#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageCrc.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"
#include "tests/e2e/AnswerCases.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::IdeRegistration;
using test::RegText;

const std::string kBanner = std::string(PRODUCT_BANNER) + "\r\n";
const std::string kFinal = std::string(FINAL_PROMPT) + "\r\n";
const std::string kWelcome = "Welcome to the Tallowmere components";
const std::string kPatch = "{patched for %zel_root%|%Delphi%}";

// 2000-05-25 00:31:32.160, stored as day 36671 and 219/10000 of a day.
constexpr std::uint32_t kDate = 36671;
constexpr std::uint32_t kTime = 219;
constexpr std::time_t kStampUtc = 959214692; // 2000-05-25 00:31:32 UTC, the even second below

std::string Question(const std::string& proposed) {
  return std::string(FOLDER_QUESTION_HEAD) + proposed + "\r\n" + std::string(FOLDER_QUESTION_TAIL) +
         "\r\n";
}

std::string Line(const std::string& name, const std::string& result) {
  return "Installing " + name + " .. " + result + "\r\n";
}

PackageContents StandardPackage(const std::string& defaultFolder) {
  PackageContents package;
  package.defaultFolder = defaultFolder;
  package.entries = {
      MakeStoredEntry("", "Welcome.Txt", kWelcome, 0),
      MakeStoredEntry("", "patchinfo.txt", kPatch, 0),
      MakeStoredEntry("%zel_root%Source\\", "a.pas", "unit a;", ENTRY_INSTALL, kDate, kTime),
      MakeStoredEntry("%zel_root%Source", "b.pas", "unit b;", ENTRY_INSTALL | ENTRY_PREPEND_PATCH,
                      kDate, kTime),
      MakeStoredEntry("%zel_root%Source\\", "c.pas", "patch only", ENTRY_PREPEND_PATCH),
      MakeStoredEntry("%zel_root%", "README.html", "<html/>", ENTRY_INSTALL, kDate, kTime),
  };
  return package;
}

// The lines of one confirmed turn of the standard package.
std::string StandardTurn(const std::string& proposed) {
  return Question(proposed) + Line("a.pas", "OK") + Line("b.pas", "OK") + Line("README.html", "OK");
}

class Installation : public ::testing::Test {
protected:
  void Register(const std::vector<IdeRegistration>& ides) {
    driveC_ = test::MakeWinePrefix(prefix_, ides);
    fs::create_directories(work_);
  }
  void SetPackage(const PackageContents& package) {
    test::WriteFile(dir_ / "pkg.dat", SerializePackage(package));
  }
  test::ProgramOptions Options(std::optional<std::string> input) const {
    test::ProgramOptions options;
    options.input = std::move(input);
    options.environment["WINEPREFIX"] = prefix_.string();
    options.environment["TZ"] = "UTC";
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.workingDirectory = work_;
    return options;
  }
  test::ProgramResult Run(std::optional<std::string> input,
                          std::optional<test::ProgramOptions> options = std::nullopt) {
    return test::RunProgram(test::SfxPath(), {(dir_ / "pkg.dat").string()},
                            options ? *options : Options(std::move(input)));
  }

  // Delphi 7 at C:\D7, the standard package, and the options of a run without input.
  test::ProgramOptions PrepareOneDelphiRun() {
    Register({{"Delphi", "7.0", RegText("C:\\D7")}});
    SetPackage(StandardPackage("%Delphi%Pkg\\"));
    return Options(std::nullopt);
  }

  test::TempDir dir_;
  fs::path prefix_ = dir_ / "prefix";
  fs::path work_ = dir_ / "work";
  fs::path driveC_;
};

TEST_F(Installation, WholeRunWithOneInstallation) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE\\D7")}});
  SetPackage(StandardPackage("%Delphi%Components\\Demo\\"));
  const auto result = Run("\n");
  EXPECT_EQ(result.output, kBanner + "\r\n" + kWelcome + "\r\n" +
                               StandardTurn("C:\\IDE\\D7\\Components\\Demo\\") + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);

  const fs::path root = driveC_ / "IDE" / "D7" / "Components" / "Demo";
  EXPECT_EQ(test::ReadFile(root / "Source" / "a.pas"), "unit a;");
  EXPECT_EQ(test::ReadFile(root / "Source" / "b.pas"),
            "{patched for C:\\IDE\\D7\\Components\\Demo\\|C:\\IDE\\D7\\}unit b;");
  EXPECT_FALSE(fs::exists(root / "Source" / "c.pas"));
  EXPECT_EQ(test::ReadFile(root / "README.html"), "<html/>");
  struct stat info {};
  ASSERT_EQ(::stat((root / "Source" / "a.pas").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, kStampUtc);
  EXPECT_EQ((info.st_mode & 0777), 0666u & ~0022u) << "ordinary permissions under umask 022";
  // No temporary file is left behind.
  int files = 0;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    files += item.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 3);
}

TEST_F(Installation, TwoInstallationsEachWithItsOwnPatchText) {
  Register(
      {{"C++Builder", "6.0", RegText("C:\\IDE\\CB6")}, {"Delphi", "7.0", RegText("C:\\IDE\\D7")}});
  SetPackage(StandardPackage("%Delphi%Lib\\"));
  const auto result = Run("\r\n\r\n");
  // Delphi first, then C++Builder, whatever the order in the registry file.
  EXPECT_EQ(result.output, kBanner + "\r\n" + kWelcome + "\r\n" +
                               StandardTurn("C:\\IDE\\D7\\Lib\\") +
                               StandardTurn("C:\\IDE\\CB6\\Lib\\") + kFinal);
  EXPECT_EQ(test::ReadFile(driveC_ / "IDE" / "D7" / "Lib" / "Source" / "b.pas"),
            "{patched for C:\\IDE\\D7\\Lib\\|C:\\IDE\\D7\\}unit b;");
  EXPECT_EQ(test::ReadFile(driveC_ / "IDE" / "CB6" / "Lib" / "Source" / "b.pas"),
            "{patched for C:\\IDE\\CB6\\Lib\\|C:\\IDE\\CB6\\}unit b;");
}

TEST_F(Installation, PreviousTurnsFolderCarriesIntoTheDefault) {
  Register({{"Delphi", "5.0", RegText("C:\\D5")}, {"Delphi", "7.0", RegText("C:\\D7")}});
  PackageContents package;
  package.defaultFolder = "%zel_root%Next";
  package.entries = {MakeStoredEntry("%zel_root%Src", "x.pas", "x")};
  SetPackage(package);
  const auto result = Run("C:\\First\nN\n");
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("Next") + Line("x.pas", "OK") +
                               Question("C:\\First\\Next") + kFinal);
  EXPECT_EQ(test::ReadFile(driveC_ / "First" / "Src" / "x.pas"), "x");
}

class Answers : public Installation, public ::testing::WithParamInterface<test::AnswerCase> {};

TEST_P(Answers, DecideTheFolder) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  PackageContents package;
  package.defaultFolder = "C:\\Proposed";
  package.entries = {MakeStoredEntry("%zel_root%sub", "a.pas", "unit a;")};
  SetPackage(package);
  const test::AnswerCase& c = GetParam();
  const auto result = Run(c.answer + "\n");
  const std::string refusal = std::string(TrimBlanks(c.answer)) + std::string(NOT_A_FULL_PATH) +
                              std::string(FULL_PATH_EXAMPLES) + ".\r\n" +
                              std::string(FOLDER_QUESTION_TAIL) + "\r\n";
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("C:\\Proposed") +
                               (c.refused ? refusal : "") +
                               (c.result.empty() ? "" : Line("a.pas", c.result)) + kFinal);
  EXPECT_EQ(result.status, c.result == "OK" || c.result.empty() ? EXIT_ALL_DONE : EXIT_PART_FAILED);
  if (!c.folder.empty()) {
    EXPECT_EQ(test::ReadFile(dir_ / c.folder / "a.pas"), "unit a;");
  }
  EXPECT_EQ(fs::exists(driveC_ / "Proposed"), c.folder == "prefix/drive_c/Proposed/sub");
}

INSTANTIATE_TEST_SUITE_P(Cases, Answers, ::testing::ValuesIn(test::AnswerCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(Installation, TypedNativeFolder) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  PackageContents package;
  package.defaultFolder = "C:\\Proposed";
  package.entries = {MakeStoredEntry("%zel_root%sub", "a.pas", "unit a;")};
  SetPackage(package);
  const fs::path target = dir_ / "native folder";
  const auto result = Run(target.string() + "\n");
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(target / "sub" / "a.pas"), "unit a;");
}

// A root folder in characters outside the system's code page, and a package that records its
// own code page: the files go under the real names, whatever the locale. The patch text is file
// content in the package's code page; a root it cannot hold fails the entry that needs it.
struct UnicodeCase {
  const char* name;
  const char* locale;
  std::string root;                    // below C:\IDE\, in UTF-8
  std::optional<std::string> codePage; // what the package records
  std::string storedName;              // in the package's code page
  std::string madeName;                // in UTF-8
  std::optional<std::string> patched;  // the patched file's content; nullopt: the entry fails
};

class UnicodeFolders : public Installation, public ::testing::WithParamInterface<UnicodeCase> {};

TEST_P(UnicodeFolders, LandUnderTheirRealNames) {
  const UnicodeCase& c = GetParam();
  Register({{"Delphi", "7.0", test::RegUnicodeText("C:\\IDE\\" + c.root)}});
  PackageContents package;
  package.defaultFolder = "%Delphi%Lib\\";
  package.entries = {
      MakeStoredEntry("", "patchinfo.txt", "{%Delphi%}", 0),
      MakeStoredEntry("%zel_root%", c.storedName, "unit a;", ENTRY_INSTALL),
      MakeStoredEntry("%zel_root%", "p.pas", "unit p;", ENTRY_INSTALL | ENTRY_PREPEND_PATCH)};
  if (c.codePage) {
    package.entries.push_back(MakeStoredEntry("", "codepage.txt", *c.codePage + "\r\n", 0));
  }
  SetPackage(package);
  test::ProgramOptions options = Options("\n");
  options.environment["LC_ALL"] = c.locale;
  const auto result = Run(std::nullopt, options);

  const fs::path folder =
      driveC_ / "IDE" / fs::path(std::u8string(c.root.begin(), c.root.end())) / "Lib";
  EXPECT_EQ(test::ReadFile(folder / fs::path(std::u8string(c.madeName.begin(), c.madeName.end()))),
            "unit a;")
      << result.output;
  if (c.patched) {
    EXPECT_EQ(test::ReadFile(folder / "p.pas"), *c.patched);
    EXPECT_EQ(result.status, EXIT_ALL_DONE) << result.output;
  } else {
    EXPECT_FALSE(fs::exists(folder / "p.pas"));
    EXPECT_NE(result.output.find("p.pas .. could not write ["), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("]: the patch text cannot name the folder in code page 1252"),
              std::string::npos);
    EXPECT_EQ(result.status, EXIT_PART_FAILED);
  }
  // Nothing went to a look-alike folder.
  std::size_t folders = 0;
  for (const auto& item : fs::directory_iterator(driveC_ / "IDE")) {
    folders += item.is_directory() ? 1 : 0;
  }
  EXPECT_EQ(folders, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnicodeFolders,
    ::testing::Values(
        UnicodeCase{"LodzUnder1252", "C.UTF-8", "\u0141\u00f3d\u017a", std::nullopt, "a.pas",
                    "a.pas", std::nullopt},
        UnicodeCase{"TokyoUnder1252", "C.UTF-8", "\u6771\u4eac", std::nullopt, "a.pas", "a.pas",
                    std::nullopt},
        UnicodeCase{"TokyoInACp932Package", "C.UTF-8", "\u6771\u4eac", "932", "a.pas", "a.pas",
                    "{C:\\IDE\\\x93\x8C\x8B\x9E\\}unit p;"},
        UnicodeCase{"UnrecordedCodePageIsTheSystems", "C.UTF-8", "D7", std::nullopt, "Caf\xE9.pas",
                    "Caf\u00e9.pas", "{C:\\IDE\\D7\\}unit p;"},
        UnicodeCase{"Cp936NamesUnderC", "C.UTF-8", "D7", "936", "\xD6\xD0\xCE\xC4.pas",
                    "\u4e2d\u6587.pas", "{C:\\IDE\\D7\\}unit p;"},
        UnicodeCase{"Cp936NamesUnderGerman", "de_DE.UTF-8", "D7", "936", "\xD6\xD0\xCE\xC4.pas",
                    "\u4e2d\u6587.pas", "{C:\\IDE\\D7\\}unit p;"},
        UnicodeCase{"Cp936NamesUnderChinese", "zh_CN.UTF-8", "D7", "936", "\xD6\xD0\xCE\xC4.pas",
                    "\u4e2d\u6587.pas", "{C:\\IDE\\D7\\}unit p;"}),
    [](const auto& info) { return std::string(info.param.name); });

// A locale whose encoding lacks the root's characters cannot name the folder: its entries fail,
// and no folder with "?" for them is made.
TEST_F(Installation, FolderTheLocaleCannotNameIsNotMade) {
  if (std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") == nullptr) {
    GTEST_SKIP() << "the locale de_DE.ISO-8859-1 is not installed";
  }
  std::setlocale(LC_CTYPE, "C");
  Register({{"Delphi", "7.0", test::RegUnicodeText("C:\\IDE\\\u6771\u4eac")}});
  SetPackage(StandardPackage("%Delphi%Lib\\"));
  test::ProgramOptions options = Options("\n");
  options.environment["LC_ALL"] = "de_DE.ISO-8859-1";
  const auto result = Run(std::nullopt, options);
  EXPECT_NE(result.output.find("a.pas .. could not create ["), std::string::npos) << result.output;
  EXPECT_EQ(result.status, EXIT_PART_FAILED);
  EXPECT_FALSE(fs::exists(driveC_ / "IDE")) << "no look-alike folder";
}

TEST_F(Installation, SameNameInTwoFoldersGetsItsOwnContent) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  PackageContents package;
  package.defaultFolder = "C:\\Pkg";
  package.entries = {MakeStoredEntry("%zel_root%one", "unit.pas", "first"),
                     MakeStoredEntry("%zel_root%two", "UNIT.PAS", "second")};
  SetPackage(package);
  const auto result = Run("");
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "one" / "unit.pas"), "first");
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "two" / "UNIT.PAS"), "second");
}

TEST_F(Installation, DamagedEntriesLeaveExistingFilesAlone) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  PackageContents package;
  package.defaultFolder = "C:\\Pkg";
  StoredEntry crc = MakeStoredEntry("%zel_root%", "crc.pas", "new content");
  crc.crc ^= 1;
  StoredEntry data = MakeStoredEntry("%zel_root%", "data.pas", "new content");
  data.stored = "BZh9 this is no bzip2 stream";
  data.crc = PackageCrc(data.stored.data(), data.stored.size());
  StoredEntry fresh = MakeStoredEntry("%zel_root%", "fresh.pas", "new content");
  fresh.stored.resize(fresh.stored.size() / 2); // a stream that ends early
  fresh.crc = PackageCrc(fresh.stored.data(), fresh.stored.size());
  package.entries = {crc, data, fresh, MakeStoredEntry("%zel_root%", "good.pas", "fine")};
  SetPackage(package);
  test::WriteFile(driveC_ / "Pkg" / "crc.pas", "old crc");
  test::WriteFile(driveC_ / "Pkg" / "data.pas", "old data");

  const auto result = Run("");
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("C:\\Pkg") +
                               Line("crc.pas", "CRC Error") + Line("data.pas", "Data Error") +
                               Line("fresh.pas", "Data Error") + Line("good.pas", "OK") + kFinal);
  EXPECT_EQ(result.status, EXIT_PART_FAILED);
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "crc.pas"), "old crc");
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "data.pas"), "old data");
  EXPECT_FALSE(fs::exists(driveC_ / "Pkg" / "fresh.pas"));
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "good.pas"), "fine");
}

// Entries that ask for a patch text that failed its check keep the old file.
TEST_F(Installation, DamagedPatchTextFailsTheEntriesThatNeedIt) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}});
  PackageContents package = StandardPackage("%Delphi%Pkg\\");
  package.entries[1].crc ^= 1;
  SetPackage(package);
  const fs::path source = driveC_ / "D7" / "Pkg" / "Source";
  test::WriteFile(source / "b.pas", "old b");
  const auto result = Run("");
  EXPECT_EQ(result.output, kBanner + "\r\n" + kWelcome + "\r\n" + Question("C:\\D7\\Pkg\\") +
                               Line("a.pas", "OK") + Line("b.pas", "CRC Error") +
                               Line("README.html", "OK") + kFinal);
  EXPECT_EQ(result.status, EXIT_PART_FAILED);
  EXPECT_EQ(test::ReadFile(source / "b.pas"), "old b");
}

// package.crc is never installed; a record changed after the build stops the run before the
// question, as a malformed package does.
TEST_F(Installation, RecordCheckRefusesChangedRecords) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}});
  PackageContents package = StandardPackage("%Delphi%Pkg\\");
  AddRecordCheck(package);
  SetPackage(package);
  auto result = Run("");
  EXPECT_EQ(result.output,
            kBanner + "\r\n" + kWelcome + "\r\n" + StandardTurn("C:\\D7\\Pkg\\") + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);

  fs::remove_all(driveC_ / "D7");
  package.entries[2].folderTemplate = "%zel_root%Sourcf\\"; // changed after the checksum
  SetPackage(package);
  result = Run("");
  EXPECT_EQ(result.output,
            kBanner + std::string(ABSENT_PACKAGE_MESSAGE) + std::string(DOWNLOAD_ADDRESS) + "\r\n");
  EXPECT_EQ(result.status, EXIT_NO_PACKAGE);
  EXPECT_FALSE(fs::exists(driveC_ / "D7"));
}

TEST_F(Installation, FileInTheWayOfAFolder) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  PackageContents package;
  package.defaultFolder = "C:\\Pkg";
  package.entries = {MakeStoredEntry("%zel_root%Blocker\\sub", "x.pas", "x"),
                     MakeStoredEntry("%zel_root%", "Folder", "y"),
                     MakeStoredEntry("%zel_root%", "after.pas", "z")};
  SetPackage(package);
  test::WriteFile(driveC_ / "Pkg" / "Blocker", "a file, not a folder");
  fs::create_directories(driveC_ / "Pkg" / "Folder");
  const auto result = Run("");
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("C:\\Pkg") +
                               Line("x.pas", "could not create [C:\\Pkg\\Blocker\\sub\\x.pas]") +
                               Line("Folder", "could not create [C:\\Pkg\\\\Folder]") +
                               Line("after.pas", "OK") + kFinal);
  EXPECT_EQ(result.status, EXIT_PART_FAILED);
  EXPECT_TRUE(fs::is_directory(driveC_ / "Pkg" / "Folder"));
  EXPECT_TRUE(fs::is_empty(driveC_ / "Pkg" / "Folder"));
}

// The IDE's library path changes only after a turn whose entries all arrived: a failed entry
// leaves user.reg byte for byte as it was, with one line in place of the library-path line.
TEST_F(Installation, LibraryPathOnlyAfterACompleteTurn) {
  const std::string userReg = "WINE REGISTRY Version 2\n\n[Software\\\\Borland\\\\Delphi"
                              "\\\\7.0\\\\Library] 1700000001\n\"Search Path\"=\"$(DELPHI)\"\n";
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "an entry fails" : "every entry installs");
    fs::remove_all(prefix_);
    Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
    test::WriteFile(prefix_ / "user.reg", userReg);
    PackageContents package;
    package.defaultFolder = "C:\\Pkg";
    LibrarySettings library;
    library.platforms = {"Win32"};
    library.searchPaths = {"%zel_root%Source"};
    package.entries = {
        MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0),
        MakeStoredEntry("%zel_root%Source\\", "a.pas", "unit a;")};
    SetPackage(package);
    if (blocked) {
      test::WriteFile(driveC_ / "Pkg" / "Source", "a file in the way of the folder");
    }
    const auto result = Run("");
    const std::string tail =
        blocked ? Line("a.pas", "could not create [C:\\Pkg\\Source\\a.pas]") +
                      std::string(LIBRARY_PATH_LEFT) + "\r\n"
                : Line("a.pas", "OK") + "Adding C:\\Pkg\\Source to the library path .. OK\r\n";
    EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("C:\\Pkg") + tail + kFinal);
    EXPECT_EQ(result.status, blocked ? EXIT_PART_FAILED : 0);
    EXPECT_EQ(test::ReadFile(prefix_ / "user.reg") == userReg, blocked);
  }
}

// A read-only file is protected, as the read-only attribute protects it on Windows, even for root.
TEST_F(Installation, ReadOnlyFileIsNotReplaced) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  PackageContents package;
  package.defaultFolder = "C:\\Pkg";
  package.entries = {MakeStoredEntry("%zel_root%", "x.pas", "new x"),
                     MakeStoredEntry("%zel_root%", "after.pas", "z")};
  SetPackage(package);
  const fs::path target = driveC_ / "Pkg" / "x.pas";
  test::WriteFile(target, "precious");
  fs::permissions(target, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  const auto result = Run("");
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("C:\\Pkg") +
                               Line("x.pas", "could not create [C:\\Pkg\\\\x.pas]") +
                               Line("after.pas", "OK") + kFinal);
  EXPECT_EQ(result.status, EXIT_PART_FAILED);
  EXPECT_EQ(test::ReadFile(target), "precious");
  EXPECT_EQ(fs::status(target).permissions(), fs::perms(0444));
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(driveC_ / "Pkg")) {
    names.push_back(item.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"after.pas", "x.pas"})) << "no temporary file left";
}

// A full file system: a small tmpfs mounted over a folder of drive C.
TEST_F(Installation, FullFileSystemIsAFailedWrite) {
  Register({{"Delphi", "7.0", RegText("C:\\IDE")}});
  const fs::path mountPoint = driveC_ / "Small";
  fs::create_directories(mountPoint);
  if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "mounting a tmpfs needs root";
  }
  struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mountPoint};

  PackageContents package;
  package.defaultFolder = "C:\\Small";
  package.entries = {MakeStoredEntry("%zel_root%", "big.pas", std::string(1 << 20, 'b')),
                     MakeStoredEntry("%zel_root%", "small.pas", "fits")};
  SetPackage(package);
  test::WriteFile(mountPoint / "big.pas", "the old big.pas");
  const auto result = Run("");
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + Question("C:\\Small") +
                               Line("big.pas", "could not write [C:\\Small\\\\big.pas]") +
                               Line("small.pas", "OK") + kFinal);
  EXPECT_EQ(result.status, EXIT_PART_FAILED);
  EXPECT_EQ(test::ReadFile(mountPoint / "big.pas"), "the old big.pas");
  int files = 0;
  for (const auto& item : fs::directory_iterator(mountPoint)) {
    files += item.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 2) << "the temporary file was removed";
}

TEST_F(Installation, ReadmeOfTheLastTurnIsOpenedOnce) {
  Register({{"Delphi", "5.0", RegText("C:\\D5")}, {"Delphi", "7.0", RegText("C:\\D7")}});
  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  const fs::path bin = dir_ / "bin";
  const fs::path log = dir_ / "opened.log";
  const fs::path mask = dir_ / "blocked.txt";
  // Perl, not sh: dash clears the blocked signals when it starts.
  test::WriteFile(bin / "xdg-open",
                  "#!/usr/bin/perl\nopen(S, '/proc/self/status'); open(M, '>', '" + mask.string() +
                      "'); print M grep(/^SigBlk/, <S>); close(M);\nopen(L, '>>', '" +
                      log.string() + "'); print L \"$ARGV[0]\\n\";\n");
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  auto options = Options("");
  options.environment["DISPLAY"] = ":99";
  options.environment["PATH"] = bin.string() + ":/usr/bin:/bin";
  const auto result = Run(std::nullopt, options);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  // The viewer runs detached: give it time to write its log.
  for (int i = 0; i < 300 && !fs::exists(log); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(fs::exists(log));
  std::string opened = test::ReadFile(log);
  ASSERT_EQ(std::count(opened.begin(), opened.end(), '\n'), 1) << opened;
  opened.pop_back();
  EXPECT_TRUE(fs::equivalent(fs::path(opened), driveC_ / "D7" / "Pkg" / "README.html")) << opened;
  // The installer blocks its interrupt signals in every thread; the viewer gets none blocked.
  EXPECT_EQ(test::ReadFile(mask), "SigBlk:\t0000000000000000\n");
}

TEST_F(Installation, ReadmeIsNotOpenedWithoutADesktopOrAFile) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}});
  const fs::path bin = dir_ / "bin";
  const fs::path log = dir_ / "opened.log";
  test::WriteFile(bin / "xdg-open", "#!/bin/sh\necho \"$1\" >> '" + log.string() + "'\n");
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);

  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  auto noDesktop = Options("");
  noDesktop.environment["PATH"] = bin.string() + ":/usr/bin:/bin";
  EXPECT_EQ(Run(std::nullopt, noDesktop).status, EXIT_ALL_DONE);

  // With a desktop, but the readme's turn was skipped: no file, nothing opened.
  fs::remove_all(driveC_ / "D7");
  auto desktop = noDesktop;
  desktop.environment["DISPLAY"] = ":99";
  desktop.input = "N\n";
  EXPECT_EQ(Run(std::nullopt, desktop).status, EXIT_ALL_DONE);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(fs::exists(log));
}

TEST_F(Installation, NoIdeFound) {
  Register({});
  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  const auto result = Run("never read as a folder\n");
  EXPECT_EQ(result.output, kBanner + "\r\n" + kWelcome + "\r\n" + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

// A package that names its families says when none fits, and installs into a typed folder as a
// turn without an IDE: %Delphi% stands for nothing there.
TEST_F(Installation, NoFittingInstallationOffersATypedFolder) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}});
  PackageContents package = StandardPackage("%Delphi%Pkg\\");
  package.entries.insert(
      package.entries.begin() + 2,
      MakeStoredEntry("", "ides.txt", "\\Software\\Borland\\Delphi\\\r\n>=8.0\r\n", 0));
  SetPackage(package);
  const std::string head = kBanner + "\r\n" + kWelcome + "\r\n" + std::string(NO_FITTING_IDE_HEAD) +
                           "delphi>=8.0.\r\n" + std::string(NO_FITTING_IDE_QUESTION) + "\r\n";
  for (const char* skip : {"\n", " n \n"}) {
    EXPECT_EQ(Run(skip).output, head + kFinal);
  }
  const auto result = Run("C:\\Typed\n");
  EXPECT_EQ(result.output,
            head + Line("a.pas", "OK") + Line("b.pas", "OK") + Line("README.html", "OK") + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(driveC_ / "Typed" / "Source" / "b.pas"),
            "{patched for C:\\Typed\\|}unit b;");
}

TEST_F(Installation, RootDirOfTheWrongTypeEndsInTheFailureReport) {
  Register({{"Delphi", "7.0", "dword:00000001"}});
  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  const auto result = Run("\n");
  const std::string head = kBanner + "\r\n" + kWelcome + "\r\n" + kFinal;
  ASSERT_EQ(result.output.substr(0, head.size()), head);
  EXPECT_TRUE(std::regex_match(
      result.output.substr(head.size()),
      std::regex("Exception ERegistryException in module quillet-sfx at [0-9A-F]{8}\\.\n"
                 "Invalid data type for 'RootDir'\\.\r\n")))
      << result.output.substr(head.size());
  EXPECT_EQ(result.status, EXIT_FAILURE_REPORT);
}

TEST_F(Installation, InputAtItsEndConfirmsEveryFolder) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}, {"C++Builder", "6.0", RegText("C:\\CB6")}});
  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  const auto result = Run(std::nullopt); // standard input is /dev/null
  EXPECT_EQ(result.output, kBanner + "\r\n" + kWelcome + "\r\n" + StandardTurn("C:\\D7\\Pkg\\") +
                               StandardTurn("C:\\CB6\\Pkg\\") + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

TEST_F(Installation, QuestionIsSeenBeforeTheAnswerIsRead) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}});
  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  test::InteractiveProgram installer(test::SfxPath(), {(dir_ / "pkg.dat").string()},
                                     Options(std::nullopt));
  ASSERT_TRUE(installer.WaitForOutput(std::string(FOLDER_QUESTION_TAIL) + "\r\n"))
      << installer.Output();
  EXPECT_FALSE(fs::exists(driveC_ / "D7")); // nothing installed before the answer
  installer.Write("C:\\Answered\n");
  ASSERT_TRUE(installer.WaitForOutput(std::string(FINAL_PROMPT))) << installer.Output();
  installer.Write("\n");
  const auto result = installer.Finish();
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(driveC_ / "Answered" / "Source" / "a.pas"), "unit a;");
}

// Another program truncates the package while the question waits: the entries whose bytes are
// gone fail, the old file stays, and the run ends normally with all its output.
TEST_F(Installation, PackageThatShrinksDuringTheRunFailsTheEntry) {
  Register({{"Delphi", "7.0", RegText("C:\\D7")}});
  std::string noise(4u << 20, '\0');
  std::uint32_t state = 12345;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24); // incompressible, so the stored bytes span many pages
  }
  PackageContents package;
  package.defaultFolder = "C:\\Pkg";
  package.entries = {MakeStoredEntry("%zel_root%", "first.pas", "first"),
                     MakeStoredEntry("%zel_root%", "big.bin", noise)};
  SetPackage(package);
  test::WriteFile(driveC_ / "Pkg" / "big.bin", "old big");
  test::InteractiveProgram installer(test::SfxPath(), {(dir_ / "pkg.dat").string()},
                                     Options(std::nullopt));
  ASSERT_TRUE(installer.WaitForOutput(std::string(FOLDER_QUESTION_TAIL) + "\r\n"));
  fs::resize_file(dir_ / "pkg.dat", 1u << 20);
  installer.Write("\n");
  ASSERT_TRUE(installer.WaitForOutput(std::string(FINAL_PROMPT))) << installer.Output();
  installer.Write("\n");
  const auto result = installer.Finish();
  EXPECT_EQ(result.status, EXIT_PART_FAILED) << result.output;
  EXPECT_TRUE(std::regex_search(result.output,
                                std::regex("Installing big\\.bin \\.\\. (CRC|Data) Error\r\n")))
      << result.output;
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "first.pas"), "first");
  EXPECT_EQ(test::ReadFile(driveC_ / "Pkg" / "big.bin"), "old big");
}

// The IDE families a package names choose the installations and their order; without a list, or
// with a damaged one, the transcript is that of a package made before lists existed.
class IdeLists : public Installation, public ::testing::WithParamInterface<test::IdeListCase> {};

TEST_P(IdeLists, OfferTheListedInstallationsInOrder) {
  const test::IdeListCase& c = GetParam();
  Register(test::EveryIdeFamily());
  PackageContents package = StandardPackage("%Delphi%Pkg\\");
  if (c.idesText) {
    StoredEntry ides = MakeStoredEntry("", "ides.txt", *c.idesText, 0);
    ides.crc ^= c.damaged ? 1 : 0;
    package.entries.insert(package.entries.begin() + 2, ides);
  }
  SetPackage(package);
  std::string expected = kBanner + "\r\n" + kWelcome + "\r\n";
  for (const std::string& root : c.roots) {
    expected += StandardTurn(root + "\\Pkg\\");
  }
  const auto result = Run(std::nullopt);
  EXPECT_EQ(result.output, expected + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

INSTANTIATE_TEST_SUITE_P(Cases, IdeLists, ::testing::ValuesIn(test::IdeListCases()),
                         [](const auto& info) { return info.param.name; });

// Standard streams in unusual states: closed at start, or handed over in non-blocking mode.
TEST_F(Installation, ClosedInputReadsAsEmptyLines) {
  auto options = PrepareOneDelphiRun();
  options.closeInput = true; // the package must not take descriptor 0 and be read as answers
  const auto result = Run(std::nullopt, options);
  EXPECT_EQ(result.output,
            kBanner + "\r\n" + kWelcome + "\r\n" + StandardTurn("C:\\D7\\Pkg\\") + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(driveC_ / "D7" / "Pkg" / "Source" / "a.pas"), "unit a;");
}

TEST_F(Installation, ClosedOutputStillInstalls) {
  auto options = PrepareOneDelphiRun();
  options.closeOutput = true;
  const auto result = Run(std::nullopt, options);
  EXPECT_EQ(result.output, "");
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(driveC_ / "D7" / "Pkg" / "Source" / "a.pas"), "unit a;");
}

TEST_F(Installation, NonBlockingInputStillWaitsForTheAnswer) {
  auto options = PrepareOneDelphiRun();
  options.nonBlockingInput = true;
  test::InteractiveProgram installer(test::SfxPath(), {(dir_ / "pkg.dat").string()}, options);
  ASSERT_TRUE(installer.WaitForOutput(std::string(FOLDER_QUESTION_TAIL) + "\r\n"))
      << installer.Output();
  // Give an installer that does not wait the time to run on without the answer.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  installer.Write("C:\\Answered\n");
  ASSERT_TRUE(installer.WaitForOutput(std::string(FINAL_PROMPT))) << installer.Output();
  installer.Write("\n");
  const auto result = installer.Finish();
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
  EXPECT_EQ(test::ReadFile(driveC_ / "Answered" / "Source" / "a.pas"), "unit a;");
  EXPECT_FALSE(fs::exists(driveC_ / "D7" / "Pkg")) << "the proposed folder was not confirmed";
}

TEST_F(Installation, RegistryFileThatIsAFifoIsAnEmptyRegistry) {
  Register({});
  fs::remove(prefix_ / "system.reg");
  ASSERT_EQ(::mkfifo((prefix_ / "system.reg").c_str(), 0600), 0);
  SetPackage(StandardPackage("%Delphi%Pkg\\"));
  const auto result = Run("\n");
  EXPECT_EQ(result.output, kBanner + "\r\n" + kWelcome + "\r\n" + kFinal);
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

// One row per command-line option, over Delphi 5 and 7 and the standard package; a viewer that
// logs what it is asked to open stands in for the desktop's.
struct OptionRow {
  const char* name;
  std::vector<std::string> arguments; // after the package
  std::optional<std::string> input;   // nullopt: standard input closed
  int status;
  std::string shown;             // a part of standard output
  std::string installed;         // a file below C: that the run leaves, or ""
  std::string absent = "D7/Pkg"; // a path below C: that the run must not make
  bool readmeOpened = false;
  std::string logged = ""; // a part of run.log
  bool damaged = false;    // a.pas fails its checksum
};

class OptionRows : public Installation, public ::testing::WithParamInterface<OptionRow> {};

TEST_P(OptionRows, DoWhatTheySay) {
  const OptionRow& row = GetParam();
  Register({{"Delphi", "5.0", RegText("C:\\D5")}, {"Delphi", "7.0", RegText("C:\\D7")}});
  PackageContents package = StandardPackage("%Delphi%Pkg\\");
  package.entries[2].crc ^= row.damaged ? 1 : 0;
  SetPackage(package);
  const std::string packed = test::ReadFile(dir_ / "pkg.dat");
  const fs::path opened = dir_ / "opened.log";
  test::WriteFile(dir_ / "bin" / "xdg-open",
                  "#!/bin/sh\necho \"$1\" >> '" + opened.string() + "'\n");
  fs::permissions(dir_ / "bin" / "xdg-open", fs::perms::owner_all);
  auto options = Options(row.input);
  options.closeInput = !row.input;
  options.environment["DISPLAY"] = ":99";
  options.environment["PATH"] = (dir_ / "bin").string() + ":/usr/bin:/bin";
  std::vector<std::string> arguments = {(dir_ / "pkg.dat").string()};
  arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
  const auto result = test::RunProgram(test::SfxPath(), arguments, options);

  EXPECT_EQ(result.status, row.status);
  EXPECT_NE(result.output.find(row.shown), std::string::npos) << result.output;
  EXPECT_EQ(test::ReadFile(dir_ / "pkg.dat"), packed) << "no option writes into the package";
  if (!row.installed.empty()) {
    EXPECT_TRUE(fs::exists(driveC_ / row.installed)) << result.output;
  }
  EXPECT_TRUE(row.absent.empty() || !fs::exists(driveC_ / row.absent)) << result.output;
  if (!row.logged.empty()) {
    EXPECT_NE(test::ReadFile(work_ / "run.log").find(row.logged), std::string::npos);
  }
  for (int i = 0; i < 150 && row.readmeOpened && !fs::exists(opened); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(row.readmeOpened ? 0 : 300));
  EXPECT_EQ(fs::exists(opened), row.readmeOpened);
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionRows,
    ::testing::Values(
        OptionRow{"Yes", {"--yes"}, std::nullopt, EXIT_ALL_DONE, kFinal, "D5/Pkg/Source/a.pas", ""},
        OptionRow{"Target",
                  {"--target", "C:\\Out"},
                  "\n",
                  EXIT_ALL_DONE,
                  "\r\nC:\\Out\r\n",
                  "Out/Source/a.pas",
                  "D7/Pkg",
                  true},
        OptionRow{"Ides",
                  {"-y", "--ides", "delphi>=7.0,cbuilder"},
                  std::nullopt,
                  EXIT_ALL_DONE,
                  "No registered IDE matches --ides cbuilder.",
                  "D7/Pkg/Source/a.pas",
                  "D5/Pkg"},
        OptionRow{"Log",
                  {"-y", "--log", "run.log"},
                  std::nullopt,
                  EXIT_ALL_DONE,
                  "",
                  "D7/Pkg/Source/a.pas",
                  "",
                  false,
                  "Installing a.pas (C:\\D7\\Pkg\\Source\\a.pas) .. OK\r\n"},
        OptionRow{
            "NoReadme", {"--no-readme"}, "\n\n\n", EXIT_ALL_DONE, "", "D7/Pkg/Source/a.pas", ""},
        OptionRow{
            "List", {"--list"}, std::nullopt, EXIT_ALL_DONE, "%zel_root%Source\\, a.pas\r\n", ""},
        OptionRow{"Check",
                  {"--check"},
                  std::nullopt,
                  EXIT_PART_FAILED,
                  "CRC Error   %zel_root%Source\\a.pas\r\n",
                  "",
                  "D7/Pkg",
                  false,
                  "",
                  true},
        OptionRow{"Help", {"--help"}, std::nullopt, EXIT_ALL_DONE, "Usage: quillet-sfx", ""},
        OptionRow{"Version", {"--version"}, std::nullopt, EXIT_ALL_DONE, kBanner, ""},
        OptionRow{"Unknown", {"--bogus"}, std::nullopt, EXIT_BAD_COMMAND_LINE, "", ""},
        OptionRow{
            "RelativeTarget", {"-y", "--target", "rel\\dir"}, "", EXIT_BAD_COMMAND_LINE, "", ""},
        // The package by another spelling of its path (the run starts in work/), and a folder.
        OptionRow{
            "LogIsThePackage", {"-y", "--log", "./../pkg.dat"}, "", EXIT_BAD_COMMAND_LINE, "", ""},
        OptionRow{"LogIsAFolder", {"-y", "--log", "."}, "", EXIT_BAD_COMMAND_LINE, "", ""},
        // A log that takes nothing, or cannot be made: said, status 3, the installation done.
        OptionRow{"LogOnAFullDevice",
                  {"-y", "--log", "/dev/full"},
                  "",
                  EXIT_PART_FAILED,
                  "\r\nThe log file '/dev/full' cannot be written: ",
                  "D7/Pkg/Source/a.pas",
                  ""},
        OptionRow{"LogInAMissingFolder",
                  {"-y", "--log", "no/such/run.log"},
                  "",
                  EXIT_PART_FAILED,
                  "The log file 'no/such/run.log' cannot be opened: ",
                  "D7/Pkg/Source/a.pas",
                  ""},
        // On Linux a drive path goes through the prefix, as a folder does.
        OptionRow{"LogOnADrive", {"-y", "--log", "c:/Q.log"}, "", EXIT_ALL_DONE, "", "Q.log", ""}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
