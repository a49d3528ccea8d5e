// The Windows installer under Wine against the Linux build: the same packages, registry and
// answers, compared by transcript, exit status and the tree each leaves in drive C:.
//
// Linux end-to-end cases left out here, and why: standard streams closed or non-blocking at
// start and a registry file that is a FIFO test the POSIX layer's own handling (Wine hands a
// Windows program its own handles, and the registry is Wine's); a full file system needs a tmpfs
// mounted by root; the readme is opened by xdg-open on Linux and by the shell on Windows, where
// the suite disables Wine's browser; a lone LF ends a line only on Linux, by design.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "Installer/RunInstaller.h"
#include "Package/PackageWriter.h"
#include "tests/e2e/AnswerCases.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"
#include "tests/wine/WineDriver.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::ProgramOptions;
using test::ProgramResult;
using test::TempDir;

// 2026-07-15 10:30: a summer date, whatever the season of the run.
constexpr std::uint32_t kSummerDate = 46218;
constexpr std::uint32_t kSummerTime = 4375;
PackageContents StandardPackage() {
  PackageContents package;
  package.defaultFolder = "%Delphi%Components\\Demo\\";
  package.entries = {
      MakeStoredEntry("", "welcome.txt", "Welcome", 0),
      MakeStoredEntry("", "patchinfo.txt", "{%zel_root%}", 0),
      MakeStoredEntry("%zel_root%Source", "a.pas", "unit a;", ENTRY_INSTALL, 36671, 219),
      MakeStoredEntry("%zel_root%Source", "b.pas", "unit b;", ENTRY_INSTALL | ENTRY_PREPEND_PATCH,
                      36671, 219),
      MakeStoredEntry("%zel_root%.", "readme.html", "<html/>", ENTRY_INSTALL, 36671, 219),
  };
  return package;
}

PackageContents DamagedPackage() {
  PackageContents package = StandardPackage();
  package.entries[3].crc ^= 1;
  return package;
}

PackageContents SummerPackage() {
  PackageContents package = StandardPackage();
  package.entries.push_back(MakeStoredEntry("%zel_root%", "summer.pas", "unit summer;",
                                            ENTRY_INSTALL, kSummerDate, kSummerTime));
  return package;
}

struct DifferentialCase {
  const char* name;
  std::function<PackageContents()> package;
  std::string answers;
  std::string timeZone;
  // Run before each build's turn, on the emptied target folder (C:\quillet-e2e).
  std::function<void(const fs::path&)> prepare;
  const char* packageFolder; // where the package file lies, below the test's folder
  int status;
};

std::string LongFolder() {
  std::string folder = "C:\\quillet-e2e\\Long";
  while (folder.size() < 280) {
    folder += "\\abcdefghijklmnopqrstuvwxyz";
  }
  return folder;
}

// Each build runs on drive C: as the booted prefix left it and an empty working folder; the tree
// compared is everything the run added there.
class WineFixture : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static bool registered = false;
    if (test::wine::WindowsSfx().empty() || registered) {
      return; // not configured, or prepared by an earlier suite
    }
    // The Linux end-to-end tests' installations, one under each key an IDE family names.
    std::vector<std::pair<std::string, std::string>> keys;
    for (const test::IdeRegistration& ide : test::EveryIdeFamily()) {
      keys.emplace_back("HKLM\\Software\\" + ide.vendor + "\\" + ide.product + "\\" + ide.version,
                        RegTextValue(ide.value));
    }
    test::wine::RegisterIdes(keys);
    registered = true;
  }
  // What the booted prefix holds at the top of drive C:, which no run may change.
  static bool Booted(const fs::path& item) {
    static const std::set<std::string> names = {"windows", "users", "Program Files",
                                                "Program Files (x86)", "ProgramData"};
    return names.contains(item.filename().string());
  }
  // The text of a system.reg string value as RegText writes it.
  static std::string RegTextValue(const std::string& value) {
    std::string text;
    for (std::size_t i = 1; i + 1 < value.size(); ++i) {
      i += value[i] == '\\' ? 1 : 0;
      text.push_back(value[i]);
    }
    return text;
  }

  void SetUp() override {
    if (test::wine::WindowsSfx().empty()) {
      GTEST_SKIP() << "QUILLET_WINDOWS_SFX and WINEPREFIX are set by scripts/wine-tests.sh";
    }
  }

  ProgramOptions Options(const std::string& answers, const std::string& timeZone) const {
    ProgramOptions options;
    options.input = answers;
    options.environment["TZ"] = timeZone;
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.workingDirectory = Work();
    return options;
  }

  fs::path Work() const { return dir_ / "work"; }

  void Reset(const std::function<void(const fs::path&)>& prepare) {
    for (const auto& item : fs::directory_iterator(test::wine::Prefix() / "drive_c")) {
      if (!Booted(item.path())) {
        fs::remove_all(item.path());
      }
    }
    fs::remove_all(Work());
    fs::create_directories(Work());
    if (prepare) {
      prepare(test::wine::Prefix() / "drive_c");
    }
  }

  test::wine::Tree Trees() const {
    test::wine::Tree all;
    const auto add = [&all](const std::string& label, const fs::path& root) {
      for (auto& [path, item] : test::wine::Snapshot(root)) {
        all[label + "/" + path] = item;
      }
    };
    for (const auto& item : fs::directory_iterator(test::wine::Prefix() / "drive_c")) {
      if (!Booted(item.path())) {
        add("C:/" + item.path().filename().string(), item.path());
      }
    }
    add("work", Work());
    return all;
  }

  // Runs the Linux build on `package` and the Windows program under Wine on the same answers,
  // and compares what they wrote and left. Gives the Linux build's result.
  ProgramResult Compare(const std::string& answers, const std::string& timeZone,
                        const std::function<void(const fs::path&)>& prepare,
                        const fs::path& package, const std::string& exe,
                        const std::vector<std::string>& windowsArguments) {
    Reset(prepare);
    const ProgramResult linux =
        test::RunProgram(test::SfxPath(), {package.string()}, Options(answers, timeZone));
    const auto linuxTree = Trees();
    Reset(prepare);
    const ProgramResult windows =
        test::wine::RunWindows(exe, windowsArguments, Options(answers, timeZone));
    const auto windowsTree = Trees();

    EXPECT_EQ(windows.status, linux.status);
    EXPECT_EQ(windows.output, linux.output);
    EXPECT_EQ(test::wine::FirstDifference(linuxTree, windowsTree), "");
    return linux;
  }

  ProgramResult Compare(const DifferentialCase& c, const fs::path& package, const std::string& exe,
                        const std::vector<std::string>& windowsArguments) {
    const ProgramResult linux =
        Compare(c.answers, c.timeZone, c.prepare, package, exe, windowsArguments);
    EXPECT_EQ(linux.status, c.status) << linux.output;
    EXPECT_GT(Trees().size(), 2u) << "the run installed something to compare";
    return linux;
  }

  TempDir dir_;
};

class WineDifferential : public WineFixture,
                         public ::testing::WithParamInterface<DifferentialCase> {};

TEST_P(WineDifferential, BothBuildsAgree) {
  const DifferentialCase& c = GetParam();
  const fs::path package = dir_ / c.packageFolder / "pkg.dat";
  test::WriteFile(package, SerializePackage(c.package()));
  Compare(c, package, test::wine::WindowsSfx(), {test::wine::WindowsPath(package)});
}

void ReadOnlyB(const fs::path& driveC) {
  const fs::path file = driveC / "IDE" / "D7" / "Components" / "Demo" / "Source" / "b.pas";
  test::WriteFile(file, "kept");
  // The same time before each build's run, so that only what the run did can differ.
  fs::last_write_time(file, std::chrono::file_clock::from_sys(
                                std::chrono::sys_seconds(std::chrono::seconds(1700000000))));
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineDifferential,
    ::testing::Values(
        DifferentialCase{"TwoTurns", StandardPackage, "\r\n\r\n", "UTC", {}, ".", EXIT_ALL_DONE},
        DifferentialCase{"SkipThenTypedFolder",
                         StandardPackage,
                         "N\r\nC:\\quillet-e2e\\Typed\r\n",
                         "UTC",
                         {},
                         ".",
                         EXIT_ALL_DONE},
        DifferentialCase{
            "DamagedEntry", DamagedPackage, "\r\n\r\n", "UTC", {}, ".", EXIT_PART_FAILED},
        // A summer date stamped in winter gets the summer offset on both.
        DifferentialCase{"SummerDateInBerlin",
                         SummerPackage,
                         "\r\n\r\n",
                         "Europe/Berlin",
                         {},
                         ".",
                         EXIT_ALL_DONE},
        DifferentialCase{"ReadOnlyTargetIsKept", StandardPackage, "\r\nN\r\n", "UTC", ReadOnlyB,
                         ".", EXIT_PART_FAILED},
        DifferentialCase{"TargetsLongerThanMaxPath",
                         StandardPackage,
                         LongFolder() + "\r\nN\r\n",
                         "UTC",
                         {},
                         ".",
                         EXIT_ALL_DONE},
        DifferentialCase{"PackageInANonAnsiFolder",
                         StandardPackage,
                         "\r\nN\r\n",
                         "UTC",
                         {},
                         "\xC5\x81ukasz \xE4\xB8\x8B\xE8\xBD\xBD",
                         EXIT_ALL_DONE}),
    [](const auto& info) { return std::string(info.param.name); });

// An installer signed after attaching, with a certificate made here: the signature holds, the
// packer lists and tests it, refuses to attach to it, and it installs as the Linux build does.
using WineSigned = WineFixture;

TEST_F(WineSigned, SignedInstallerInstallsAndIsListedAndTested) {
  const fs::path package = dir_ / "pkg.dat";
  const fs::path setup = dir_ / "setup.exe";
  const fs::path signedSetup = dir_ / "signed.exe";
  test::WriteFile(package, SerializePackage(StandardPackage()));
  const auto run = [](const std::string& program, const std::vector<std::string>& arguments) {
    return test::RunProgram(program, arguments, {});
  };
  ASSERT_EQ(run(test::PackPath(),
                {"attach", test::wine::WindowsSfx(), package.string(), "-o", setup.string()})
                .status,
            0);
  const std::string key = (dir_ / "key.pem").string();
  const std::string cert = (dir_ / "cert.pem").string();
  ASSERT_EQ(run("/usr/bin/openssl",
                {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                 "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=Quillet test"})
                .status,
            0);
  ASSERT_EQ(run("/usr/bin/osslsigncode", {"sign", "-certs", cert, "-key", key, "-n", "Quillet",
                                          "-in", setup.string(), "-out", signedSetup.string()})
                .status,
            0);
  const auto verified =
      run("/usr/bin/osslsigncode", {"verify", "-CAfile", cert, "-in", signedSetup.string()});
  EXPECT_EQ(verified.status, 0) << verified.output;

  const auto listed = run(test::PackPath(), {"list", signedSetup.string()});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find("readme.html"), std::string::npos) << listed.output;
  const auto tested = run(test::PackPath(), {"test", signedSetup.string()});
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_EQ(run(test::PackPath(), {"attach", signedSetup.string(), package.string(), "-o",
                                   (dir_ / "again.exe").string()})
                .status,
            1);
  EXPECT_FALSE(fs::exists(dir_ / "again.exe"));

  const DifferentialCase c{"Signed", StandardPackage, "\r\nN\r\n", "UTC", {}, ".", EXIT_ALL_DONE};
  Compare(c, signedSetup, signedSetup.string(), {});

  // Removing the signature leaves the zeros that padded up to it: the package is still found,
  // and attach still refuses the installer.
  const fs::path unsignedSetup = dir_ / "unsigned.exe";
  ASSERT_EQ(run("/usr/bin/osslsigncode",
                {"remove-signature", "-in", signedSetup.string(), "-out", unsignedSetup.string()})
                .status,
            0);
  EXPECT_EQ(fs::file_size(unsignedSetup) - fs::file_size(setup),
            (8 - fs::file_size(setup) % 8) % 8);
  EXPECT_EQ(run(test::PackPath(), {"test", unsignedSetup.string()}).status, 0);
  EXPECT_EQ(run(test::PackPath(), {"attach", unsignedSetup.string(), package.string(), "-o",
                                   (dir_ / "again.exe").string()})
                .status,
            1);
  Compare(c, unsignedSetup, unsignedSetup.string(), {});
}

// A stored time installed by both builds in a zone: the file's time against the instant from
// tzdata (Python's zoneinfo, fold 0). `windowsLag`: how much earlier Windows sets it where its
// zone data holds no rule of that year.
struct DateCase {
  const char* name;
  const char* zone;
  std::uint32_t date;
  std::uint32_t time; // 5000 is noon, 1042 02:30:02
  long long utc;
  long long windowsLag;
};

class WineDates : public WineFixture, public ::testing::WithParamInterface<DateCase> {};

TEST_P(WineDates, TakeTheRulesOfTheirYear) {
  const DateCase& c = GetParam();
  const fs::path package = dir_ / "pkg.dat";
  test::WriteFile(package, SerializePackage({"C:\\Dates",
                                             {MakeStoredEntry("%zel_root%", "a.pas", "a",
                                                              ENTRY_INSTALL, c.date, c.time)},
                                             std::nullopt}));
  std::vector<ProgramResult> results;
  std::vector<long long> times;
  for (const std::string& exe : {std::string(), test::wine::WindowsSfx()}) {
    Reset({});
    const auto options = Options("\r\nN\r\n", c.zone);
    results.push_back(
        exe.empty() ? test::RunProgram(test::SfxPath(), {package.string()}, options)
                    : test::wine::RunWindows(exe, {test::wine::WindowsPath(package)}, options));
    times.push_back(test::wine::Snapshot(test::wine::Prefix() / "drive_c/Dates")["a.pas"].mtime);
  }
  EXPECT_EQ(results[0].status, EXIT_ALL_DONE) << results[0].output;
  EXPECT_EQ(results[1].output, results[0].output);
  EXPECT_EQ(times, (std::vector<long long>{c.utc, c.utc - c.windowsLag}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineDates,
    ::testing::Values(
        // Windows holds no rule of 1995 for Berlin: its one rule keeps summer time into October.
        DateCase{"Berlin1995", "Europe/Berlin", 34982, 5000, 813322800, 3600},
        DateCase{"BerlinSkipped", "Europe/Berlin", 46110, 1042, 1774747802, 0},
        DateCase{"BerlinRepeated", "Europe/Berlin", 46320, 1042, 1792888202, 0},
        DateCase{"NewYork2006Spring", "America/New_York", 38796, 5000, 1142874000, 0},
        DateCase{"NewYork2006Autumn", "America/New_York", 39020, 5000, 1162227600, 0},
        DateCase{"Sydney2007", "Australia/Sydney", 39171, 5000, 1175220000, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The program's own file and a package argument are opened by their Unicode names only: beside a
// folder "é" whose ANSI bytes read as UTF-8 "é", "Ã©" names its own files.
using WineNames = WineFixture;

TEST_F(WineNames, AreOpenedByTheirUnicodeNamesOnly) {
  PackageContents other = StandardPackage();
  other.defaultFolder = "%Delphi%Other\\";
  const fs::path chosen = dir_ / "amb" / "\xC3\x83\xC2\xA9";
  for (const auto& [folder, contents] :
       {std::pair(chosen, StandardPackage()), std::pair(dir_ / "amb" / "\xC3\xA9", other)}) {
    test::WriteFile(folder / "pkg.dat", SerializePackage(contents));
    test::RunProgram(test::PackPath(),
                     {"attach", test::wine::WindowsSfx(), (folder / "pkg.dat").string(), "-o",
                      (folder / "Setup.exe").string()},
                     {});
  }
  const DifferentialCase c{"Own", StandardPackage, "\r\nN\r\n", "UTC", {}, ".", EXIT_ALL_DONE};
  Compare(c, chosen / "Setup.exe", (chosen / "Setup.exe").string(), {});
  Compare(c, chosen / "pkg.dat", test::wine::WindowsSfx(),
          {test::wine::WindowsPath(chosen / "pkg.dat")});
}

// A readme at a path of MAX_PATH characters or more is opened: an association for .html, made
// for this test (and removed after it), copies the opened document to C:\quillet-opened.html.
using WineReadme = WineFixture;

TEST_F(WineReadme, IsOpenedBeyondMaxPath) {
  const auto reg = [](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "reg");
    return test::RunProgram("/usr/bin/wine", arguments, {}).status;
  };
  const std::shared_ptr<void> removal(nullptr, [&reg](void*) {
    reg({"delete", "HKCR\\.html", "/f"});
    reg({"delete", "HKCR\\QuilletReadme", "/f"});
  });
  reg({"add", "HKCR\\.html", "/ve", "/d", "QuilletReadme", "/f"});
  reg({"add", "HKCR\\QuilletReadme\\shell\\open\\command", "/ve", "/d",
       "C:\\windows\\system32\\cmd.exe /c copy \"%1\" C:\\quillet-opened.html", "/f"});
  test::WriteFile(dir_ / "pkg.dat", SerializePackage(StandardPackage()));
  Reset({});
  test::wine::RunWindows(test::wine::WindowsSfx(), {test::wine::WindowsPath(dir_ / "pkg.dat")},
                         Options(LongFolder() + "\r\nN\r\n", "UTC"));
  const fs::path opened = test::wine::Prefix() / "drive_c" / "quillet-opened.html";
  for (int i = 0; i < 100 && !fs::exists(opened); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the copy's end
  EXPECT_EQ(fs::exists(opened) ? test::ReadFile(opened) : "not opened", "<html/>");
}

// The Linux end-to-end tests' answers to the folder question, on both builds. Lines end with
// CR LF, which ends a line on both; the second turn (C++Builder) is skipped.
class WineAnswers : public WineFixture, public ::testing::WithParamInterface<test::AnswerCase> {};

TEST_P(WineAnswers, BothBuildsDecideTheSameFolder) {
  PackageContents contents;
  contents.defaultFolder = "C:\\Proposed";
  // Stamped, so that the trees compare equal in time too (an unstamped file keeps the moment
  // it was written).
  contents.entries = {
      MakeStoredEntry("%zel_root%sub", "a.pas", "unit a;", ENTRY_INSTALL, 36671, 219)};
  const fs::path package = dir_ / "pkg.dat";
  test::WriteFile(package, SerializePackage(contents));
  const ProgramResult linux = Compare(GetParam().answer + "\r\nN\r\n", "UTC", {}, package,
                                      test::wine::WindowsSfx(), {test::wine::WindowsPath(package)});
  EXPECT_NE(linux.output.find(GetParam().result), std::string::npos) << linux.output;
}

INSTANTIATE_TEST_SUITE_P(Cases, WineAnswers, ::testing::ValuesIn(test::AnswerCases()),
                         [](const auto& info) { return info.param.name; });

// The Linux end-to-end tests' IDE lists: which installations a package names, in which order.
class WineIdeLists : public WineFixture, public ::testing::WithParamInterface<test::IdeListCase> {};

TEST_P(WineIdeLists, BothBuildsOfferTheSameInstallations) {
  const test::IdeListCase& c = GetParam();
  PackageContents contents = StandardPackage();
  if (c.idesText) {
    StoredEntry ides = MakeStoredEntry("", "ides.txt", *c.idesText, 0);
    ides.crc ^= c.damaged ? 1 : 0;
    contents.entries.insert(contents.entries.begin() + 2, ides);
  }
  const fs::path package = dir_ / "pkg.dat";
  test::WriteFile(package, SerializePackage(contents));
  // No answers: the end of input confirms every proposed folder.
  const ProgramResult linux =
      Compare("", "UTC", {}, package, test::wine::WindowsSfx(), {test::wine::WindowsPath(package)});
  EXPECT_EQ(linux.status, EXIT_ALL_DONE) << linux.output;
  for (const std::string& root : c.roots) {
    EXPECT_NE(linux.output.find(root + "\\Components\\Demo\\"), std::string::npos) << root;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, WineIdeLists, ::testing::ValuesIn(test::IdeListCases()),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillet
