// Building and registering a package's Delphi packages, with the stand-in compiler in the place of
// an IDE's: the Linux build runs it through Wine, the Windows build under Wine, and both must
// build, register and remove the same files and values. A row per outcome: built, failed, refused
// with and without prebuilt files, a running IDE.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Package/PackageOptions.h"
#include "Package/PackageWriter.h"
#include "Platform/UserRegistry.h"
#include "tests/support/TestSupport.h"
#include "tests/wine/WineDriver.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::ProgramOptions;
using test::ProgramResult;

constexpr const char* VERSION_KEY = "Software\\Embarcadero\\BDS\\23.0";
constexpr const char* TARGET = "C:\\quillet-pkg\\Tallow";

std::string Key(const std::string& below) {
  return std::string(VERSION_KEY) + "\\" + below;
}

fs::path Standin() {
  return test::wine::WindowsStandin();
}

struct PackageCase {
  const char* name;
  bool compiler = true;  // the stand-in is the IDE's dcc32.exe and dcc64.exe
  bool refuses = false;  // as an edition without command-line compiling
  bool failing = false;  // the design-time package does not compile
  bool prebuilt = false; // the package carries TallowR's and TallowD's .bpl and .dcp
  bool ideRunning = false;
  int status = EXIT_INSTALLED;
  // Lines each build's transcript holds ("W:" only the Windows build's, "L:" only Linux's).
  std::vector<std::string> lines;
  const char* registered;      // the Known Packages value names after the run, ";"-separated
  const char* designText = ""; // more text of the design-time package: a stand-in marker
  std::vector<std::string> options = {}; // more options of the install run
  std::size_t floodLines = 0; // the stand-in's lines of flood that the log must hold, each build
};

PackageContents TallowPackage(const PackageCase& c) {
  PackageSet set;
  set.ides = ParseIdeFamilies({"bds>=23.0"}).ides;
  set.runtime = {"%zel_root%Packages\\TallowR.dpk"};
  set.design = {"%zel_root%Packages\\TallowD.dpk"};
  set.platforms = {"Win32", "Win64"};
  if (c.prebuilt) {
    set.prebuilt = {"%zel_root%Bpl\\%platform%\\"};
  }
  IdeBasePaths ides = set.ides;
  PackageContents package;
  package.defaultFolder = TARGET + std::string("\\");
  package.entries = {
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText({"Tallow", "1.0"}), 0),
      MakeStoredEntry("", std::string(IDES_ENTRY_NAME), IdesEntryText(ides), 0),
      MakeStoredEntry("", std::string(PACKAGES_ENTRY_NAME), PackageSetsText({set}), 0),
      MakeStoredEntry(
          "%zel_root%Packages", "TallowR.dpk",
          "package TallowR;\r\n{$DESCRIPTION 'Tallow run-time'}\r\n{$LIBSUFFIX AUTO}\r\n"
          "{$RUNONLY}\r\nrequires rtl;\r\ncontains TallowUnit in "
          "'..\\Source\\TallowUnit.pas';\r\nend.\r\n"),
      MakeStoredEntry(
          "%zel_root%Packages", "TallowD.dpk",
          std::string("package TallowD;\r\n{$DESCRIPTION 'Tallow components'}\r\n"
                      "{$LIBSUFFIX AUTO}\r\n{$DESIGNONLY}\r\nrequires rtl, designide, "
                      "TallowR;\r\ncontains TallowReg in '..\\Source\\TallowReg.pas';\r\n") +
              (c.failing ? "{ standin-fail }\r\n" : "") + c.designText + "end.\r\n"),
      MakeStoredEntry("%zel_root%Source", "TallowUnit.pas", "unit TallowUnit;"),
      MakeStoredEntry("%zel_root%Source", "TallowReg.pas", "unit TallowReg;"),
  };
  if (c.prebuilt) {
    for (const char* platformName : {"Win32", "Win64"}) {
      const std::string folder = std::string("%zel_root%Bpl\\") + platformName;
      package.entries.push_back(MakeStoredEntry(folder, "TallowR290.bpl", "prebuilt R"));
      package.entries.push_back(MakeStoredEntry(folder, "TallowR.dcp", "prebuilt R dcp"));
      package.entries.push_back(MakeStoredEntry(folder, "TallowD290.bpl", "prebuilt D"));
      package.entries.push_back(MakeStoredEntry(folder, "TallowD.dcp", "prebuilt D dcp"));
    }
  }
  return package;
}

// The IDE's settings that the runs change, as one text to compare.
std::string Settings() {
  std::string text;
  for (const char* key : {"Known Packages", "Known Packages x64", "Disabled Packages"}) {
    for (const platform::UserTextValue& value : platform::ReadUserTexts(Key(key))) {
      text += std::string(key) + ": " + value.name + " = " + value.text + "\n";
    }
  }
  text +=
      "PATH: " + platform::ReadUserText(Key("Environment Variables"), "PATH").value_or("(none)") +
      "\n";
  text += "Force: " +
          platform::ReadUserText(Key("Globals"), "ForceEnvOptionsUpdate").value_or("(none)") + "\n";
  return text;
}

std::string Registered() {
  std::string names;
  for (const platform::UserTextValue& value : platform::ReadUserTexts(Key("Known Packages"))) {
    names += (names.empty() ? "" : ";") + value.name;
  }
  return names;
}

void WaitForWine() {
  test::RunProgram("/usr/bin/wineserver", {"-w"});
}

class WinePackages : public ::testing::TestWithParam<PackageCase> {
protected:
  void SetUp() override {
    if (test::wine::WindowsSfx().empty() || !fs::exists(Standin())) {
      GTEST_SKIP() << "QUILLET_WINDOWS_SFX, WINEPREFIX and the stand-in compiler are set up by "
                      "scripts/wine-tests.sh";
    }
    static bool registered = false;
    if (!registered) {
      test::wine::RegisterIdes({{std::string("HKLM\\") + VERSION_KEY, "C:\\IDE\\23.0"}});
      registered = true;
    }
  }

  // Drive C: and the IDE's settings as before any run: the stand-in in the IDE's bin folder, the
  // package output folders named in the settings as the IDE names them.
  void Reset(const PackageCase& c) {
    WaitForWine();
    const fs::path driveC = test::wine::Prefix() / "drive_c";
    for (const char* folder : {"quillet-pkg", "quillet-out", "IDE"}) {
      fs::remove_all(driveC / folder);
    }
    const fs::path bin = driveC / "IDE" / "23.0" / "bin";
    fs::create_directories(bin);
    if (c.compiler) {
      fs::copy_file(Standin(), bin / "dcc32.exe");
      fs::copy_file(Standin(), bin / "dcc64.exe");
    }
    fs::copy_file(Standin(), bin / "bds.exe");
    if (c.refuses) {
      test::WriteFile(bin / "standin-refuses", "");
    }
    for (const char* key : {"Known Packages", "Known Packages x64", "Disabled Packages"}) {
      for (const platform::UserTextValue& value : platform::ReadUserTexts(Key(key))) {
        platform::RemoveUserValue(Key(key), value.name);
      }
    }
    platform::RemoveUserValue(Key("Environment Variables"), "PATH");
    platform::RemoveUserValue(Key("Globals"), "ForceEnvOptionsUpdate");
    // An earlier copy of the design-time package elsewhere, which registering replaces.
    platform::SetUserText(Key("Known Packages"), "C:\\Old\\TallowD290.bpl", "old copy");
    platform::SetUserText(Key("Library\\Win32"), "Package DPL Output", "C:\\quillet-out\\Bpl");
    platform::SetUserText(Key("Library\\Win32"), "Package DCP Output", "C:\\quillet-out\\Dcp");
    platform::SetUserText(Key("Library\\Win64"), "Package DPL Output",
                          "C:\\quillet-out\\Bpl\\$(Platform)");
    platform::SetUserText(Key("Library\\Win64"), "Package DCP Output",
                          "C:\\quillet-out\\Dcp\\$(Platform)");
  }

  ProgramOptions Options(const std::string& input) const {
    ProgramOptions options;
    options.input = input;
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.workingDirectory = dir_.Path();
    return options;
  }

  // One build's run: the installer, then --uninstall; the transcript, the settings and the files
  // after the install, and what --uninstall left.
  struct Outcome {
    ProgramResult install;
    std::string settings;
    std::string registered;
    ProgramResult uninstall;
    std::string settingsAfter;
    bool outEmptyAfter = false;
  };

  Outcome Run(const PackageCase& c, const fs::path& package, bool windows) {
    Reset(c);
    std::thread ide;
    const fs::path stop =
        test::wine::Prefix() / "drive_c" / "IDE" / "23.0" / "bin" / "standin-stop";
    if (c.ideRunning) {
      ide = std::thread(
          [] { test::wine::RunWindows("C:\\IDE\\23.0\\bin\\bds.exe", {}, ProgramOptions{}); });
      std::this_thread::sleep_for(std::chrono::seconds(3));
    }
    auto run = [&](const std::vector<std::string>& arguments, const std::string& input) {
      ProgramResult result =
          windows ? test::wine::RunWindows(test::wine::WindowsSfx(), arguments, Options(input))
                  : test::RunProgram(test::SfxPath(), arguments, Options(input));
      return result;
    };
    Outcome outcome;
    std::vector<std::string> arguments = c.options;
    arguments.push_back(windows ? test::wine::WindowsPath(package) : package.string());
    if (c.floodLines > 0) {
      arguments.push_back("--log");
      arguments.push_back(windows ? test::wine::WindowsPath(Log()) : Log().string());
      fs::remove(Log());
    }
    outcome.install = run(arguments, "\r\n");
    if (c.ideRunning) {
      test::WriteFile(stop, "");
      ide.join();
    }
    WaitForWine();
    outcome.settings = Settings();
    outcome.registered = Registered();
    outcome.uninstall = run({"--uninstall=Tallow", "--yes"}, "");
    WaitForWine();
    outcome.settingsAfter = Settings();
    const auto left = test::wine::Snapshot(test::wine::Prefix() / "drive_c" / "quillet-out");
    outcome.outEmptyAfter = std::none_of(left.begin(), left.end(),
                                         [](const auto& item) { return !item.second.folder; });
    return outcome;
  }

  fs::path Log() const { return dir_.Path() / "install.log"; }

  test::TempDir dir_;
};

TEST_P(WinePackages, BothBuildsBuildRegisterAndRemove) {
  const PackageCase& c = GetParam();
  const fs::path package = dir_.Path() / "tallow.dat";
  test::WriteFile(package, SerializePackage(TallowPackage(c)));
  for (const bool windows : {false, true}) {
    SCOPED_TRACE(windows ? "Windows build" : "Linux build");
    const Outcome outcome = Run(c, package, windows);
    EXPECT_EQ(outcome.install.status, c.status) << outcome.install.output;
    for (const std::string& line : c.lines) {
      const bool only = line.starts_with("W:") || line.starts_with("L:");
      if (only && (line[0] == 'W') != windows) {
        continue;
      }
      EXPECT_NE(outcome.install.output.find(only ? line.substr(2) : line), std::string::npos)
          << line << "\n"
          << outcome.install.output;
    }
    EXPECT_EQ(outcome.registered, c.registered) << outcome.settings;
    if (c.floodLines > 0) {
      // Every line of the flood reached the log, whose installer kept only the output's tail.
      std::ifstream log(Log(), std::ios::binary);
      std::size_t lines = 0;
      for (std::string line; std::getline(log, line);) {
        lines += line.starts_with(std::string(63, 'w')) ? 1 : 0;
      }
      EXPECT_EQ(lines, c.floodLines);
    }
    // --uninstall takes back everything the install built and registered.
    EXPECT_EQ(outcome.uninstall.status, EXIT_INSTALLED) << outcome.uninstall.output;
    EXPECT_TRUE(outcome.outEmptyAfter) << outcome.uninstall.output;
    EXPECT_EQ(outcome.settingsAfter.find("quillet-out"), std::string::npos)
        << outcome.settingsAfter;
  }
}

const std::string BUILT_R = "Building TallowR.dpk for Win32 .. OK";

INSTANTIATE_TEST_SUITE_P(
    Cases, WinePackages,
    ::testing::Values(
        PackageCase{"Built",
                    true,
                    false,
                    false,
                    false,
                    false,
                    EXIT_INSTALLED,
                    {BUILT_R, "Building TallowR.dpk for Win64 .. OK",
                     "Building TallowD.dpk for Win32 .. OK",
                     "Registering TallowD290.bpl in the IDE .. OK",
                     "Adding C:\\quillet-out\\Bpl to the IDE's PATH .. OK"},
                    "C:\\quillet-out\\Bpl\\TallowD290.bpl"},
        PackageCase{"FailingPackage",
                    true,
                    false,
                    true,
                    false,
                    false,
                    3,
                    {BUILT_R, "Building TallowD.dpk for Win32 .. failed: Fatal: F2063"},
                    "C:\\Old\\TallowD290.bpl"},
        PackageCase{"RefusingEdition",
                    true,
                    true,
                    false,
                    false,
                    false,
                    3,
                    {"Building TallowR.dpk for Win32 .. refused",
                     "Build TallowD.dpk for Win32 in the IDE: this edition"},
                    "C:\\Old\\TallowD290.bpl"},
        PackageCase{"RefusingEditionWithPrebuilt",
                    true,
                    true,
                    false,
                    true,
                    false,
                    EXIT_INSTALLED,
                    {"Copying the prebuilt TallowR290.bpl for Win64 .. OK",
                     "Copying the prebuilt TallowD290.bpl for Win32 .. OK",
                     "Registering TallowD290.bpl in the IDE .. OK"},
                    "C:\\quillet-out\\Bpl\\TallowD290.bpl"},
        PackageCase{"NoCompilerWithPrebuilt",
                    false,
                    false,
                    false,
                    true,
                    false,
                    EXIT_INSTALLED,
                    {"Copying the prebuilt TallowD290.bpl for Win32 .. OK"},
                    "C:\\quillet-out\\Bpl\\TallowD290.bpl"},
        PackageCase{"RunningIde",
                    true,
                    false,
                    false,
                    false,
                    true,
                    3,
                    {"W:The IDE in C:\\IDE\\23.0 is running",
                     "L:The packages are not built: Wine programs of this prefix are running"},
                    "C:\\Old\\TallowD290.bpl"},
        PackageCase{"HangingCompiler",
                    true,
                    false,
                    false,
                    false,
                    false,
                    3,
                    {BUILT_R, "Building TallowD.dpk for Win32 .. failed: the compiler did not end "
                              "within 5 s and was stopped"},
                    "C:\\Old\\TallowD290.bpl",
                    "{ standin-hang }\r\n",
                    {"--build-timeout", "5"}},
        PackageCase{"FloodingCompiler",
                    true,
                    false,
                    false,
                    false,
                    false,
                    EXIT_INSTALLED,
                    {"Building TallowD.dpk for Win32 .. OK"},
                    "C:\\quillet-out\\Bpl\\TallowD290.bpl",
                    "{ standin-flood 100 }\r\n",
                    {},
                    100 * 16384}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
