// Building and registering a package's Delphi packages, with the stand-in compiler in the place of
// an IDE's: the Linux build runs it through Wine, the Windows build under Wine, and both must
// build, register and remove the same files and values. A row per outcome: built, failed, refused
// with and without prebuilt files, a running IDE, packages listed against their requires order,
// a resource file the installer makes, C++ output, and Delphi 7 in a long folder with blanks.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Package/PackageWriter.h"
#include "Package/ResourceFile.h"
#include "Package/SettingsTexts.h"
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
// A folder with blanks whose package folder is past the 126 characters that Delphi 7's compiler
// takes in a path.
constexpr const char* LONG_TARGET =
    "C:\\quillet-pkg\\Tallow Components for Delphi Seven and Older Compilers\\"
    "Sources and Packages of the Tallow Library in a Rather Long Folder";

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
  int status = EXIT_ALL_DONE;
  // Lines each build's transcript holds ("W:" only the Windows build's, "L:" only Linux's).
  std::vector<std::string> lines;
  const char* registered;      // the Known Packages value names after the run, ";"-separated
  const char* designText = ""; // more text of the design-time package: a stand-in marker
  std::vector<std::string> options = {}; // more options of the install run
  std::size_t floodLines = 0;   // the stand-in's lines of flood that the log must hold, each build
  bool delphi7 = false;         // Delphi 7 in LONG_TARGET instead of BDS 23.0 in TARGET
  bool againstRequires = false; // the run-time list names TallowC (requiring TallowR) first
  int resource = 0;             // TallowR names {$R *.res}: 1 without a .dproj, 2 with one
  bool cpp = false;             // the IDE has its C++ personality
  int libraryFolders = 0;       // search folders of the package's library, each with a unit
};

// The case's IDE: Delphi 7 (rooted as the end-to-end tests register it, RegisteredIdes.cpp) into
// LONG_TARGET, or BDS 23.0 into TARGET; the design-time .bpl without {$LIBSUFFIX AUTO} before 10.4.
struct Ide {
  std::string key, root, target, designBpl;
};
Ide IdeOf(const PackageCase& c) {
  return c.delphi7
             ? Ide{"Software\\Borland\\Delphi\\7.0", "C:\\IDE\\D7", LONG_TARGET, "TallowD.bpl"}
             : Ide{VERSION_KEY, "C:\\IDE\\23.0", TARGET, "TallowD290.bpl"};
}

std::string Key(const PackageCase& c, const std::string& below) {
  return IdeOf(c).key + "\\" + below;
}

fs::path Native(const std::string& windowsPath) {
  std::string path = windowsPath.substr(3);
  std::replace(path.begin(), path.end(), '\\', '/');
  return test::wine::Prefix() / "drive_c" / path;
}

PackageContents TallowPackage(const PackageCase& c) {
  PackageSet set;
  set.ides = ParseIdeFamilies({c.delphi7 ? "delphi>=7.0,<=7.0" : "bds>=23.0"}).ides;
  set.runtime = {"%zel_root%Packages\\TallowR.dpk"};
  if (c.againstRequires) {
    set.runtime.insert(set.runtime.begin(), "%zel_root%Packages\\TallowC.dpk");
  }
  set.design = {"%zel_root%Packages\\TallowD.dpk"};
  set.platforms = {"Win32"};
  if (!c.delphi7) {
    set.platforms.push_back("Win64");
  }
  if (c.prebuilt) {
    set.prebuilt = {"%zel_root%Bpl\\%platform%\\"};
  }
  IdeBasePaths ides = set.ides;
  PackageContents package;
  package.defaultFolder = IdeOf(c).target + "\\";
  package.entries = {
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText({"Tallow", "1.0"}), 0),
      MakeStoredEntry("", std::string(IDES_ENTRY_NAME), IdesEntryText(ides), 0),
      MakeStoredEntry("", std::string(PACKAGES_ENTRY_NAME), PackageSetsText({set}), 0),
      MakeStoredEntry("%zel_root%Packages", "TallowR.dpk",
                      std::string("package TallowR;\r\n") +
                          (c.resource > 0 ? "{$R *.res}\r\n" : "") +
                          "{$DESCRIPTION 'Tallow run-time'}\r\n{$LIBSUFFIX AUTO}\r\n"
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
  if (c.libraryFolders > 0) {
    LibrarySettings library;
    for (int i = 0; i < c.libraryFolders; ++i) {
      const std::string folder =
          "%zel_root%Source\\Tallow units kept apart for the command line " + std::to_string(i);
      library.searchPaths.push_back(folder);
      package.entries.push_back(MakeStoredEntry(folder, "Unit" + std::to_string(i) + ".pas",
                                                "unit Unit" + std::to_string(i) + ";"));
    }
    package.entries.push_back(
        MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0));
  }
  if (c.againstRequires) {
    package.entries.push_back(MakeStoredEntry(
        "%zel_root%Packages", "TallowC.dpk",
        "package TallowC;\r\n{$RUNONLY}\r\nrequires rtl, TallowR;\r\ncontains TallowChart in "
        "'..\\Source\\TallowChart.pas';\r\nend.\r\n"));
    package.entries.push_back(
        MakeStoredEntry("%zel_root%Source", "TallowChart.pas", "unit TallowChart;"));
  }
  if (c.resource == 2) {
    package.entries.push_back(MakeStoredEntry(
        "%zel_root%Packages", "TallowR.dproj",
        "<Project>\r\n<PropertyGroup Condition=\"'$(Base)'!=''\">\r\n"
        "<VerInfo_IncludeVerInfo>true</VerInfo_IncludeVerInfo>\r\n"
        "<VerInfo_MajorVer>3</VerInfo_MajorVer>\r\n<VerInfo_Locale>1031</VerInfo_Locale>\r\n"
        "<VerInfo_Keys>CompanyName=Tallow;FileVersion=3.0.0.0</VerInfo_Keys>\r\n"
        "</PropertyGroup>\r\n</Project>\r\n"));
  }
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
std::string Settings(const PackageCase& c) {
  std::string text;
  for (const char* key : {"Known Packages", "Known Packages x64", "Disabled Packages"}) {
    for (const platform::UserTextValue& value : platform::ReadUserTexts(Key(c, key))) {
      text += std::string(key) + ": " + value.name + " = " + value.text + "\n";
    }
  }
  text += "PATH: " +
          platform::ReadUserText(Key(c, "Environment Variables"), "PATH").value_or("(none)") + "\n";
  text += "Force: " +
          platform::ReadUserText(Key(c, "Globals"), "ForceEnvOptionsUpdate").value_or("(none)") +
          "\n";
  return text;
}

std::string Registered(const PackageCase& c) {
  std::string names;
  for (const platform::UserTextValue& value : platform::ReadUserTexts(Key(c, "Known Packages"))) {
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
      test::wine::RegisterIdes({{std::string("HKLM\\") + VERSION_KEY, "C:\\IDE\\23.0"},
                                {"HKLM\\Software\\Borland\\Delphi\\7.0", "C:\\IDE\\D7"}});
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
    const fs::path bin = Native(IdeOf(c).root) / "bin";
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
      for (const platform::UserTextValue& value : platform::ReadUserTexts(Key(c, key))) {
        platform::RemoveUserValue(Key(c, key), value.name);
      }
    }
    platform::RemoveUserValue(Key(c, "Environment Variables"), "PATH");
    platform::RemoveUserValue(Key(c, "Globals"), "ForceEnvOptionsUpdate");
    // An earlier copy of the design-time package elsewhere, which registering replaces.
    platform::SetUserText(Key(c, "Known Packages"), "C:\\Old\\" + IdeOf(c).designBpl, "old copy");
    // And one the user disabled, which would keep the new one from loading just the same.
    platform::SetUserText(Key(c, "Disabled Packages"), "C:\\Old\\" + IdeOf(c).designBpl,
                          "old copy");
    // Delphi 7 keeps its folders in "Library", BDS from 9.0 in "Library\\<Platform>".
    const std::string win32 = c.delphi7 ? "Library" : "Library\\Win32";
    platform::SetUserText(Key(c, win32), "Package DPL Output", "C:\\quillet-out\\Bpl");
    platform::SetUserText(Key(c, win32), "Package DCP Output", "C:\\quillet-out\\Dcp");
    if (!c.delphi7) {
      platform::SetUserText(Key(c, "Library\\Win64"), "Package DPL Output",
                            "C:\\quillet-out\\Bpl\\$(Platform)");
      platform::SetUserText(Key(c, "Library\\Win64"), "Package DCP Output",
                            "C:\\quillet-out\\Dcp\\$(Platform)");
      platform::SetUserText(Key(c, "Library\\Win64"), "HPP Output Directory",
                            "C:\\quillet-out\\Hpp\\$(Platform)");
    }
    // The C++ personality, which has the compiler write .bpi, .lib and .hpp files too.
    const std::string personalities = std::string("HKLM\\") + IdeOf(c).key + "\\Personalities";
    test::RunProgram("/usr/bin/wine", c.cpp
                                          ? std::vector<std::string>{"reg", "add", personalities,
                                                                     "/v", "BCB", "/reg:32", "/f"}
                                          : std::vector<std::string>{"reg", "delete", personalities,
                                                                     "/v", "BCB", "/reg:32", "/f"});
    WaitForWine();
    fs::remove_all(HppFolder());
  }

  // The default folder of C++ headers: "hpp" in the shared folder of BDS 23.0.
  static fs::path HppFolder() {
    return test::wine::Prefix() / "drive_c" / "users" / "Public" / "Documents" / "Embarcadero" /
           "Studio" / "23.0" / "hpp";
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
    std::string resource;          // TallowR.res after the install, "(none)" when missing
    std::string unrecorded;        // files the compiler wrote that the record does not name
    std::vector<std::string> left; // files left in the package's folder and the .hpp folder
    bool win64HeaderSet = false;   // TallowR.hpp in Win64's "HPP Output Directory"
  };

  Outcome Run(const PackageCase& c, const fs::path& package, bool windows) {
    Reset(c);
    std::thread ide;
    const fs::path stop = Native(IdeOf(c).root) / "bin" / "standin-stop";
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
    if (c.floodLines > 0 || c.libraryFolders > 0) {
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
    outcome.settings = Settings(c);
    outcome.registered = Registered(c);
    const fs::path target = Native(IdeOf(c).target);
    const fs::path resource = target / "Packages" / "TallowR.res";
    outcome.resource = fs::exists(resource) ? test::ReadFile(resource) : "(none)";
    outcome.win64HeaderSet = fs::exists(Native("C:\\quillet-out\\Hpp\\Win64\\TallowR.hpp"));
    // Every file in the output folders and in the package's unit folders is one the record names.
    std::string record;
    for (const auto& entry : fs::directory_iterator(target)) {
      if (entry.path().extension() == ".quillet-record") {
        record += test::ReadFile(entry.path());
      }
    }
    for (const fs::path& folder : {Native("C:\\quillet-out"), target / "Dcu", HppFolder()}) {
      for (const auto& [name, item] : test::wine::Snapshot(folder)) {
        const std::string file = fs::path(name).filename().string();
        if (!item.folder && record.find(file) == std::string::npos) {
          outcome.unrecorded += name + " ";
        }
      }
    }
    outcome.uninstall = run({"--uninstall=Tallow", "--yes"}, "");
    WaitForWine();
    outcome.settingsAfter = Settings(c);
    const auto left = test::wine::Snapshot(Native("C:\\quillet-out"));
    outcome.outEmptyAfter = std::none_of(left.begin(), left.end(),
                                         [](const auto& item) { return !item.second.folder; });
    for (const fs::path& folder : {target, HppFolder()}) {
      for (const auto& [name, item] : test::wine::Snapshot(folder)) {
        if (!item.folder) {
          outcome.left.push_back(name);
        }
      }
    }
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
    if (c.resource > 0) {
      // Made before the build: the null entry alone, or with a .dproj the version resource after.
      EXPECT_EQ(outcome.resource.substr(0, 32), EmptyResourceFile()) << outcome.install.output;
      EXPECT_EQ(outcome.resource.size() == 32, c.resource == 1) << outcome.resource.size();
    }
    EXPECT_EQ(outcome.unrecorded, "") << outcome.install.output;
    EXPECT_EQ(outcome.win64HeaderSet, c.cpp) << outcome.install.output;
    if (c.floodLines > 0) {
      // Every line of the flood reached the log, whose installer kept only the output's tail.
      std::ifstream log(Log(), std::ios::binary);
      std::size_t lines = 0;
      for (std::string line; std::getline(log, line);) {
        lines += line.starts_with(std::string(63, 'w')) ? 1 : 0;
      }
      EXPECT_EQ(lines, c.floodLines);
    }
    if (c.libraryFolders > 0) {
      // Too long a command line for Delphi 7: the switches went by a dcc32.cfg, logged.
      EXPECT_NE(test::ReadFile(Log()).find("\\dcc32.cfg:"), std::string::npos);
    }
    // The disabled earlier copy goes where the registered one does.
    EXPECT_EQ(outcome.settings.find("Disabled Packages: C:\\Old\\") == std::string::npos,
              outcome.registered.find("C:\\Old\\") == std::string::npos)
        << outcome.settings;
    // --uninstall takes back everything the install built and registered, and the IDE's PATH
    // that the install made goes whole rather than stay naming only the system's.
    EXPECT_NE(outcome.settingsAfter.find("PATH: (none)\n"), std::string::npos)
        << outcome.settingsAfter;
    EXPECT_EQ(outcome.uninstall.status, EXIT_ALL_DONE) << outcome.uninstall.output;
    EXPECT_TRUE(outcome.outEmptyAfter) << outcome.uninstall.output;
    // (Not after a run beside the IDE: the Linux build cannot index its record in the held
    // registry, and --uninstall finds none.)
    if (!c.ideRunning || windows) {
      EXPECT_EQ(outcome.left, std::vector<std::string>()) << outcome.uninstall.output;
    }
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
                    EXIT_ALL_DONE,
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
                    EXIT_ALL_DONE,
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
                    EXIT_ALL_DONE,
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
                    EXIT_ALL_DONE,
                    {"Building TallowD.dpk for Win32 .. OK"},
                    "C:\\quillet-out\\Bpl\\TallowD290.bpl",
                    "{ standin-flood 100 }\r\n",
                    {},
                    100 * 16384},
        PackageCase{.name = "ListedAgainstRequires",
                    .lines = {"Building TallowR.dpk for Win32 .. OK",
                              "Building TallowC.dpk for Win32 .. OK",
                              "Building TallowC.dpk for Win64 .. OK"},
                    .registered = "C:\\quillet-out\\Bpl\\TallowD290.bpl",
                    .againstRequires = true},
        PackageCase{.name = "MissingResourceMadeEmpty",
                    .lines = {"Making TallowR.res for TallowR.dpk .. OK", BUILT_R},
                    .registered = "C:\\quillet-out\\Bpl\\TallowD290.bpl",
                    .resource = 1},
        PackageCase{.name = "MissingResourceFromDproj",
                    .lines = {"Making TallowR.res for TallowR.dpk from the version information of "
                              "TallowR.dproj .. OK"},
                    .registered = "C:\\quillet-out\\Bpl\\TallowD290.bpl",
                    .resource = 2},
        PackageCase{.name = "CppPersonality",
                    .lines = {"Building TallowD.dpk for Win32 .. OK"},
                    .registered = "C:\\quillet-out\\Bpl\\TallowD290.bpl",
                    .cpp = true},
        PackageCase{.name = "Delphi7LongFolderWithBlanks",
                    .lines = {"Building TallowR.dpk for Win32 .. OK",
                              "Building TallowD.dpk for Win32 .. OK",
                              "Registering TallowD.bpl in the IDE .. OK"},
                    .registered = "C:\\quillet-out\\Bpl\\TallowD.bpl",
                    .delphi7 = true,
                    .resource = 1},
        PackageCase{.name = "Delphi7SwitchesInConfigFile",
                    .lines = {"Building TallowR.dpk for Win32 .. OK",
                              "Building TallowD.dpk for Win32 .. OK"},
                    .registered = "C:\\quillet-out\\Bpl\\TallowD.bpl",
                    .delphi7 = true,
                    .libraryFolders = 24}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
