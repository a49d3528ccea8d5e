// Three component libraries packed as their authors keep them (their own .dpk files, no .res,
// `{$R *.res}` in every project) installed into Delphi 7, RAD Studio 11 and RAD Studio 12 of one
// prefix, with the stand-in as each IDE's compiler: each build builds every package for each IDE
// the library serves, registers its design-time packages, and --uninstall takes back every file
// and registry value it made. The Linux and the Windows build must leave the same files and
// values. A row per library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageIdes.h"
#include "Package/PackageWriter.h"
#include "Package/SettingsTexts.h"
#include "Platform/Ascii.h"
#include "Platform/UserRegistry.h"
#include "tests/support/TestSupport.h"
#include "tests/wine/WineDriver.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::ProgramOptions;
using test::ProgramResult;

// The three installations: registry key, root folder (blanks in it, as the setups make them), and
// whether it is a BDS one.
struct Ide {
  const char* key;
  const char* root;
  bool bds;
};
const Ide D7{"Software\\Borland\\Delphi\\7.0", "C:\\Program Files (x86)\\Borland\\Delphi7", false};
const Ide S22{"Software\\Embarcadero\\BDS\\22.0",
              "C:\\Program Files (x86)\\Embarcadero\\Studio\\22.0", true};
const Ide S23{"Software\\Embarcadero\\BDS\\23.0",
              "C:\\Program Files (x86)\\Embarcadero\\Studio\\23.0", true};
const Ide* const IDES[] = {&D7, &S22, &S23};

// Where each installation's packages land: its `Package DPL Output`, expanded.
const std::map<std::string, std::string> BPL_FOLDERS = {
    {"D7", std::string(D7.root) + "\\Projects\\Bpl\\"},
    {"S22", "C:\\users\\Public\\Documents\\Embarcadero\\Studio\\22.0\\Bpl\\"},
    {"S23", "C:\\users\\Public\\Documents\\Embarcadero\\Studio\\23.0\\Bpl\\"},
    {"S23x64", "C:\\users\\Public\\Documents\\Embarcadero\\Studio\\23.0\\Bpl\\Win64\\"},
};

// An empty 32-bit resource file: what a .dcr holds before its bitmaps.
std::string EmptyResource() {
  std::string res(32, '\0');
  res[4] = 0x20;
  for (int i : {8, 9, 12, 13}) {
    res[static_cast<std::size_t>(i)] = '\xFF';
  }
  return res;
}

const std::string BOM = "\xEF\xBB\xBF";

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at = text.find(separator); at != std::string::npos;
       at = text.find(separator, start)) {
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
  parts.push_back(text.substr(start));
  return parts;
}

// A .dpk as the IDE writes one.
std::string Dpk(const std::string& name, const std::string& description, const std::string& kind,
                const std::string& suffix, const std::vector<std::string>& requires_,
                const std::vector<std::pair<std::string, std::string>>& contains,
                const std::string& more = "") {
  std::string text = "package " + name + ";\r\n\r\n{$R *.res}\r\n" + more +
                     "{$ALIGN 8}\r\n{$BOOLEVAL OFF}\r\n{$DESCRIPTION '" + description + "'}\r\n" +
                     (suffix.empty() ? "" : "{$LIBSUFFIX " + suffix + "}\r\n") + "{$" + kind +
                     "}\r\n{$IMPLICITBUILD OFF}\r\n\r\nrequires\r\n";
  for (std::size_t i = 0; i < requires_.size(); ++i) {
    text += "  " + requires_[i] + (i + 1 < requires_.size() ? ",\r\n" : ";\r\n");
  }
  text += "\r\ncontains\r\n";
  for (std::size_t i = 0; i < contains.size(); ++i) {
    text += "  " + contains[i].first + " in '" + contains[i].second + "'" +
            (i + 1 < contains.size() ? ",\r\n" : ";\r\n");
  }
  return text + "\r\nend.\r\n";
}

std::string Unit(const std::string& name, bool include) {
  return "unit " + name + ";\r\n\r\n" + (include ? "{$I SynEdit.inc}\r\n\r\n" : "") +
         "interface\r\n\r\nimplementation\r\n\r\nend.\r\n";
}

PackageContents Library(const std::string& name, const std::string& version,
                        const std::vector<PackageSet>& sets, const LibrarySettings& library,
                        std::vector<StoredEntry> files) {
  IdeBasePaths ides = ParseIdeFamilies({"delphi", "bds>=22.0"}).ides;
  PackageContents package;
  package.defaultFolder = "C:\\Components\\" + name + "\\";
  package.entries = {
      MakeStoredEntry("", std::string(IDENTITY_ENTRY_NAME), IdentityText({name, version}), 0),
      MakeStoredEntry("", std::string(IDES_ENTRY_NAME), IdesEntryText(ides), 0),
      MakeStoredEntry("", std::string(PACKAGES_ENTRY_NAME), PackageSetsText(sets), 0),
      MakeStoredEntry("", std::string(LIBRARY_ENTRY_NAME), LibrarySettingsText(library), 0),
  };
  for (StoredEntry& file : files) {
    package.entries.push_back(std::move(file));
  }
  return package;
}

PackageSet Set(const std::vector<std::string>& families, std::vector<std::string> runtime,
               std::vector<std::string> design) {
  PackageSet set;
  set.ides = ParseIdeFamilies(families).ides;
  set.runtime = std::move(runtime);
  set.design = std::move(design);
  set.platforms = {"Win32", "Win64"};
  return set;
}

LibrarySettings Paths(std::vector<std::string> search) {
  LibrarySettings library;
  library.platforms = {"Win32", "Win64"};
  library.searchPaths = std::move(search);
  return library;
}

// SynEdit's way: a folder of projects per compiler generation below Packages, the units two
// levels up in Source, each including the library's SynEdit.inc; the design-time package carries
// its palette bitmaps as SynEditReg.dcr.
PackageContents SynEditLike() {
  const std::vector<std::pair<std::string, std::string>> units = {
      {"SynEdit", "..\\..\\Source\\SynEdit.pas"},
      {"SynEditHighlighter", "..\\..\\Source\\SynEditHighlighter.pas"},
      {"SynEditKeyCmds", "..\\..\\Source\\SynEditKeyCmds.pas"}};
  const std::vector<std::pair<std::string, std::string>> reg = {
      {"SynEditReg", "..\\..\\Source\\SynEditReg.pas"}};
  std::vector<StoredEntry> files;
  for (const auto& [folder, suffix] :
       {std::pair<std::string, std::string>{"Delphi7", "'70'"}, {"Studio", "AUTO"}}) {
    const std::string at = "%zel_root%Packages\\" + folder;
    files.push_back(MakeStoredEntry(at, "SynEdit_R.dpk",
                                    Dpk("SynEdit_R", "SynEdit component suite runtime", "RUNONLY",
                                        suffix, {"rtl", "vcl"}, units)));
    files.push_back(MakeStoredEntry(
        at, "SynEdit_D.dpk",
        Dpk("SynEdit_D", "SynEdit component suite designtime", "DESIGNONLY", suffix,
            {"rtl", "vcl", "designide", "SynEdit_R"}, reg, "{$R SynEditReg.dcr}\r\n")));
    files.push_back(MakeStoredEntry(at, "SynEditReg.dcr", EmptyResource()));
  }
  for (const auto& [unit, path] : units) {
    files.push_back(MakeStoredEntry("%zel_root%Source", unit + ".pas", Unit(unit, true)));
  }
  files.push_back(MakeStoredEntry("%zel_root%Source", "SynEditReg.pas", Unit("SynEditReg", true)));
  files.push_back(MakeStoredEntry("%zel_root%Source", "SynEdit.inc",
                                  "{$IFDEF VER150}\r\n  {$DEFINE SYN_DELPHI_7}\r\n{$ENDIF}\r\n"));
  const std::string d7 = "%zel_root%Packages\\Delphi7\\";
  const std::string studio = "%zel_root%Packages\\Studio\\";
  return Library("SynEdit", "2.1.0",
                 {Set({"delphi"}, {d7 + "SynEdit_R.dpk"}, {d7 + "SynEdit_D.dpk"}),
                  Set({"bds>=22.0"}, {studio + "SynEdit_R.dpk"}, {studio + "SynEdit_D.dpk"})},
                 Paths({"%zel_root%Source"}), std::move(files));
}

// Virtual TreeView's way: projects saved by a recent IDE (UTF-8 with a byte order mark), the
// run-time one with its .dproj beside it, which holds the version information; its compiled units
// are looked for in a folder per platform.
PackageContents VirtualTreesLike() {
  const std::string at = "%zel_root%Packages\\RAD Studio 11+";
  const std::string dproj =
      BOM + "<Project xmlns=\"http://schemas.microsoft.com/developer/msbuild/2003\">\r\n"
            "  <PropertyGroup Condition=\"'$(Base)'!=''\">\r\n"
            "    <DCC_Description>VirtualTreeView runtime package</DCC_Description>\r\n"
            "    <VerInfo_IncludeVerInfo>true</VerInfo_IncludeVerInfo>\r\n"
            "    <VerInfo_MajorVer>8</VerInfo_MajorVer>\r\n"
            "    <VerInfo_MinorVer>1</VerInfo_MinorVer>\r\n"
            "    <VerInfo_Locale>1033</VerInfo_Locale>\r\n"
            "    <VerInfo_Keys>CompanyName=;FileDescription=$(MSBuildProjectName);"
            "FileVersion=8.1.0.0;ProductVersion=8.1</VerInfo_Keys>\r\n"
            "  </PropertyGroup>\r\n"
            "  <ItemGroup>\r\n"
            "    <DelphiCompile Include=\"VirtualTreesR.dpk\"><MainSource>MainSource</MainSource>"
            "</DelphiCompile>\r\n"
            "  </ItemGroup>\r\n"
            "</Project>\r\n";
  const std::vector<std::pair<std::string, std::string>> units = {
      {"VirtualTrees", "..\\..\\Source\\VirtualTrees.pas"},
      {"VirtualTrees.Types", "..\\..\\Source\\VirtualTrees.Types.pas"},
      {"VirtualTrees.Header", "..\\..\\Source\\VirtualTrees.Header.pas"}};
  std::vector<StoredEntry> files = {
      MakeStoredEntry(at, "VirtualTreesR.dpk",
                      BOM + Dpk("VirtualTreesR", "VirtualTreeView runtime package", "RUNONLY",
                                "AUTO", {"rtl", "vcl", "vclimg"}, units)),
      MakeStoredEntry(at, "VirtualTreesR.dproj", dproj),
      MakeStoredEntry(at, "VirtualTreesD.dpk",
                      BOM + Dpk("VirtualTreesD", "VirtualTreeView designtime package", "DESIGNONLY",
                                "AUTO", {"rtl", "vcl", "designide", "VirtualTreesR"},
                                {{"VirtualTreesReg", "..\\..\\Design\\VirtualTreesReg.pas"}},
                                "{$R '..\\..\\Design\\VirtualTrees.dcr'}\r\n")),
      MakeStoredEntry("%zel_root%Design", "VirtualTreesReg.pas", Unit("VirtualTreesReg", false)),
      MakeStoredEntry("%zel_root%Design", "VirtualTrees.dcr", EmptyResource()),
  };
  for (const auto& [unit, path] : units) {
    files.push_back(MakeStoredEntry("%zel_root%Source", unit + ".pas", Unit(unit, false)));
  }
  return Library("VirtualTrees", "8.1.0",
                 {Set({"bds>=22.0"}, {at + "\\VirtualTreesR.dpk"}, {at + "\\VirtualTreesD.dpk"})},
                 Paths({"%zel_root%Source", "%zel_root%Lib\\%platform%"}), std::move(files));
}

// graphics32's way: one set of projects for every compiler, listed with the extension packages
// first, though they require the core ones.
PackageContents Graphics32Like() {
  const std::string at = "%zel_root%Source\\Packages";
  const std::vector<StoredEntry> projects = {
      MakeStoredEntry(at, "GR32_PNG_R.dpk",
                      Dpk("GR32_PNG_R", "Graphics32 PNG support", "RUNONLY", "", {"rtl", "GR32_R"},
                          {{"GR32_PNG", "..\\GR32_PNG.pas"}})),
      MakeStoredEntry(at, "GR32_R.dpk",
                      Dpk("GR32_R", "Graphics32", "RUNONLY", "", {"rtl", "vcl"},
                          {{"GR32", "..\\GR32.pas"}, {"GR32_Image", "..\\GR32_Image.pas"}})),
      MakeStoredEntry(at, "GR32_PNG_D.dpk",
                      Dpk("GR32_PNG_D", "Graphics32 PNG property editors", "DESIGNONLY", "",
                          {"rtl", "designide", "GR32_PNG_R", "GR32_D"},
                          {{"GR32_PNG_Reg", "..\\GR32_PNG_Reg.pas"}})),
      MakeStoredEntry(at, "GR32_D.dpk",
                      Dpk("GR32_D", "Graphics32 Design Time Package", "DESIGNONLY", "",
                          {"rtl", "vcl", "designide", "GR32_R"}, {{"GR32_Reg", "..\\GR32_Reg.pas"}},
                          "{$R '..\\GR32_Reg.dcr'}\r\n")),
  };
  std::vector<StoredEntry> files = projects;
  for (const char* unit : {"GR32_PNG", "GR32", "GR32_Image", "GR32_PNG_Reg", "GR32_Reg"}) {
    files.push_back(
        MakeStoredEntry("%zel_root%Source", std::string(unit) + ".pas", Unit(unit, false)));
  }
  files.push_back(MakeStoredEntry("%zel_root%Source", "GR32_Reg.dcr", EmptyResource()));
  return Library("Graphics32", "3.0",
                 {Set({"delphi", "bds>=22.0"}, {at + "\\GR32_PNG_R.dpk", at + "\\GR32_R.dpk"},
                      {at + "\\GR32_PNG_D.dpk", at + "\\GR32_D.dpk"})},
                 Paths({"%zel_root%Source"}), std::move(files));
}

struct LibraryCase {
  const char* name;
  std::function<PackageContents()> package;
  // Each IDE's builds, as "IDE NAME.dpk PLATFORM", the required ones before those that need them.
  std::vector<std::string> builds;
  // The Known Packages values after the install: "FOLDER FILE.bpl", FOLDER a key of BPL_FOLDERS.
  std::vector<std::string> registered;
};

void PrintTo(const LibraryCase& c, std::ostream* out) {
  *out << c.name;
}

// The registry below the three installations' keys and the installer's index, as user.reg
// holds it: "KEY|NAME=DATA" for each value, "KEY|" for each key.
std::set<std::string> RegistryLines() {
  const std::string text = test::ReadFile(test::wine::Prefix() / "user.reg");
  std::set<std::string> lines;
  std::string section;
  bool watched = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.starts_with('[')) {
      section.clear();
      for (std::size_t i = 1; i < line.size() && line[i] != ']'; ++i) {
        i += line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\' ? 1 : 0;
        section.push_back(line[i]);
      }
      const std::string lower = platform::AsciiLowerText(section);
      watched = lower.starts_with("software\\quillet");
      for (const Ide* ide : IDES) {
        watched = watched || lower.starts_with(platform::AsciiLowerText(ide->key));
      }
      if (watched) {
        lines.insert(section + "|");
      }
    } else if (watched && (line.starts_with('"') || line.starts_with('@')) &&
               line.find("\"ForceEnvOptionsUpdate\"=") != 0) {
      lines.insert(section + "|" + line);
    }
  }
  return lines;
}

std::string Difference(const std::set<std::string>& before, const std::set<std::string>& after) {
  std::string text;
  for (const std::string& line : after) {
    text += before.contains(line) ? "" : "  left: " + line + "\n";
  }
  for (const std::string& line : before) {
    text += after.contains(line) ? "" : "  gone: " + line + "\n";
  }
  return text;
}

// Every path below drive C:, folders with a final "/".
std::set<std::string> DriveListing() {
  const fs::path root = test::wine::Prefix() / "drive_c";
  std::set<std::string> paths;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    const bool folder = it->is_directory(error) && !it->is_symlink(error);
    paths.insert(fs::relative(it->path(), root).generic_string() + (folder ? "/" : ""));
  }
  return paths;
}

// A text with the times a record keeps of the files the compiler wrote, and the checksums of
// records, left out: the two builds compile at other moments.
std::string WithoutTimes(const std::string& text) {
  static const std::regex time("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}");
  static const std::regex sha("sha256:[0-9a-f]{64}");
  return std::regex_replace(std::regex_replace(text, time, "TIME"), sha, "sha256:SUM");
}

// The first line in which two texts differ, each build's.
std::string FirstDifferentLine(const std::string& linux, const std::string& windows) {
  const std::vector<std::string> a = Split(linux, '\n');
  const std::vector<std::string> b = Split(windows, '\n');
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) {
    ++i;
  }
  return "    Linux:   " + (i < a.size() ? a[i] : "(end)") +
         "\n    Windows: " + (i < b.size() ? b[i] : "(end)") + "\n";
}

void WaitForWine() {
  test::RunProgram("/usr/bin/wineserver", {"-w"});
}

class WineLibraries : public ::testing::TestWithParam<LibraryCase> {
protected:
  static void SetUpTestSuite() {
    if (test::wine::WindowsSfx().empty()) {
      return;
    }
    // The other suites' registrations come back when this one ends.
    WaitForWine();
    saved_ = {test::ReadFile(test::wine::Prefix() / "system.reg"),
              test::ReadFile(test::wine::Prefix() / "user.reg")};
    std::vector<std::pair<std::string, std::string>> keys;
    for (const Ide* ide : IDES) {
      keys.emplace_back(std::string("HKLM\\") + ide->key, ide->root);
    }
    test::wine::RegisterIdes(keys);
  }

  static void TearDownTestSuite() {
    if (saved_.empty()) {
      return;
    }
    WaitForWine();
    test::WriteFile(test::wine::Prefix() / "system.reg", saved_[0]);
    test::WriteFile(test::wine::Prefix() / "user.reg", saved_[1]);
    saved_.clear();
  }

  void SetUp() override {
    if (test::wine::WindowsSfx().empty() || !fs::exists(test::wine::WindowsStandin())) {
      GTEST_SKIP() << "QUILLET_WINDOWS_SFX, WINEPREFIX and the stand-in compiler are set up by "
                      "scripts/wine-tests.sh";
    }
  }

  // The IDEs as their setups and a first start leave them: the compilers and IDE programs in
  // their bin folders, the library keys with the IDE's own folders, its own design-time package.
  static void Reset() {
    WaitForWine();
    const fs::path driveC = test::wine::Prefix() / "drive_c";
    for (const char* folder :
         {"Components", "Program Files (x86)/Borland", "Program Files (x86)/Embarcadero",
          "users/Public/Documents/Embarcadero", "users/Public/Documents/Borland"}) {
      fs::remove_all(driveC / folder);
    }
    const fs::path standin = test::wine::WindowsStandin();
    for (const Ide* ide : IDES) {
      fs::path root = driveC;
      for (const std::string& part : Split(std::string(ide->root).substr(3), '\\')) {
        root /= part;
      }
      fs::create_directories(root / "bin");
      fs::copy_file(standin, root / "bin" / "dcc32.exe");
      fs::copy_file(standin, root / "bin" / (ide->bds ? "bds.exe" : "delphi32.exe"));
      if (ide->bds) {
        fs::copy_file(standin, root / "bin" / "dcc64.exe");
      }
      const std::string key = ide->key;
      for (const char* below :
           {"Known Packages", "Known Packages x64", "Disabled Packages", "Disabled Packages x64",
            "Environment Variables", "Globals", "Library", "Library\\Win32", "Library\\Win64"}) {
        for (const platform::UserTextValue& value : platform::ReadUserTexts(key + "\\" + below)) {
          platform::RemoveUserValue(key + "\\" + below, value.name);
        }
      }
      if (!ide->bds) {
        platform::SetUserText(key + "\\Library", "Search Path",
                              "$(DELPHI)\\Lib;$(DELPHI)\\Bin;$(DELPHI)\\Imports");
        platform::SetUserText(key + "\\Library", "Package DPL Output", "$(DELPHI)\\Projects\\Bpl");
        platform::SetUserText(key + "\\Library", "Package DCP Output", "$(DELPHI)\\Projects\\Bpl");
        platform::SetUserText(key + "\\Known Packages", "$(DELPHI)\\Bin\\dclstd70.bpl",
                              "Borland Standard Components");
        continue;
      }
      const std::string suffix = std::string(ide->key).ends_with("22.0") ? "280" : "290";
      for (const char* platformName : {"Win32", "Win64"}) {
        const std::string library = key + "\\Library\\" + platformName;
        const std::string sub = std::string(platformName) == "Win32" ? "" : "\\$(Platform)";
        platform::SetUserText(library, "Search Path",
                              "$(BDSLIB)\\$(Platform)\\release;$(BDSUSERDIR)\\Imports");
        platform::SetUserText(library, "Package DPL Output", "$(BDSCOMMONDIR)\\Bpl" + sub);
        platform::SetUserText(library, "Package DCP Output", "$(BDSCOMMONDIR)\\Dcp" + sub);
      }
      platform::SetUserText(key + "\\Known Packages", "$(BDS)\\bin\\dclstd" + suffix + ".bpl",
                            "Embarcadero Standard Components");
      platform::SetUserText(key + "\\Globals", "PropertyInspectorSplitter", "160");
    }
    // The 64-bit IDE of RAD Studio 12, which loads Win64 design-time packages.
    fs::path x64 = driveC / "Program Files (x86)" / "Embarcadero" / "Studio" / "23.0" / "bin64";
    fs::create_directories(x64);
    fs::copy_file(standin, x64 / "bds.exe");
  }

  ProgramResult Run(bool windows, std::vector<std::string> arguments) const {
    ProgramOptions options;
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.workingDirectory = dir_.Path();
    const fs::path log =
        dir_.Path() / (std::string(windows ? "windows" : "linux") + "-" +
                       (arguments[0].starts_with("--uninstall") ? "un" : "") + "install.log");
    arguments.insert(arguments.end(),
                     {"--yes", "--log", windows ? test::wine::WindowsPath(log) : log.string()});
    ProgramResult result =
        windows ? test::wine::RunWindows(test::wine::WindowsSfx(), arguments, options)
                : test::RunProgram(test::SfxPath(), arguments, options);
    WaitForWine();
    return result;
  }

  test::TempDir dir_;
  static std::vector<std::string> saved_;
};

std::vector<std::string> WineLibraries::saved_;

// The k-th line `later` must come after the k-th line `earlier`; both as often as `count`.
std::string OrderProblem(const std::string& output, const std::string& earlier,
                         const std::string& later, std::size_t count) {
  std::size_t a = 0;
  std::size_t b = 0;
  for (std::size_t k = 0; k < count; ++k) {
    a = output.find(earlier, a);
    b = output.find(later, b);
    if (a == std::string::npos || b == std::string::npos) {
      return "missing: " + (a == std::string::npos ? earlier : later);
    }
    if (b < a) {
      return later + " before " + earlier;
    }
    ++a;
    ++b;
  }
  return {};
}

TEST_P(WineLibraries, BothBuildsBuildRegisterAndRemoveEverything) {
  const LibraryCase& c = GetParam();
  const fs::path package = dir_.Path() / (std::string(c.name) + ".qpk");
  test::WriteFile(package, SerializePackage(c.package()));
  std::map<std::string, std::string> installed[2];
  std::set<std::string> settings[2];
  for (const bool windows : {false, true}) {
    SCOPED_TRACE(windows ? "Windows build" : "Linux build");
    Reset();
    const std::set<std::string> filesBefore = DriveListing();
    const std::set<std::string> registryBefore = RegistryLines();
    const ProgramResult install =
        Run(windows, {windows ? test::wine::WindowsPath(package) : package.string()});
    EXPECT_EQ(install.status, EXIT_ALL_DONE) << install.output;

    // Every build, in requires order within each IDE's turn.
    std::map<std::string, std::size_t> counts;
    std::map<std::string, std::vector<std::string>> perIde;
    for (const std::string& build : c.builds) {
      const std::vector<std::string> parts = Split(build, ' ');
      const std::string line = "Building " + parts[1] + " for " + parts[2] + " .. OK";
      ++counts[line];
      perIde[parts[0] + parts[2]].push_back(line);
    }
    for (const auto& [line, count] : counts) {
      std::size_t found = 0;
      for (std::size_t at = install.output.find(line); at != std::string::npos;
           at = install.output.find(line, at + 1)) {
        ++found;
      }
      EXPECT_EQ(found, count) << line << "\n" << install.output;
    }
    for (const auto& [ide, lines] : perIde) {
      for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(OrderProblem(install.output, lines[i - 1], lines[i], counts[lines[i]]), "")
            << install.output;
      }
    }

    // The design-time packages, registered where each IDE loads them from.
    std::set<std::string> registered;
    for (const Ide* ide : IDES) {
      for (const char* key : {"Known Packages", "Known Packages x64"}) {
        for (const auto& value : platform::ReadUserTexts(std::string(ide->key) + "\\" + key)) {
          if (!value.name.starts_with("$(")) {
            registered.insert(value.name);
          }
        }
      }
    }
    std::set<std::string> expected;
    for (const std::string& item : c.registered) {
      const std::vector<std::string> parts = Split(item, ' ');
      expected.insert(BPL_FOLDERS.at(parts[0]) + parts[1]);
    }
    EXPECT_EQ(registered, expected) << install.output;

    // What the install added to drive C:, with the content of each file.
    for (const std::string& path : DriveListing()) {
      if (!filesBefore.contains(path) && !path.ends_with("/standin-calls.txt")) {
        const fs::path native = test::wine::Prefix() / "drive_c" / path;
        std::string content = path.ends_with('/') ? "" : WithoutTimes(test::ReadFile(native));
        if (path.ends_with(".quillet-record")) {
          // A record's lines in the order the output folder lists the compiler's files.
          std::vector<std::string> lines = Split(content, '\n');
          std::sort(lines.begin(), lines.end());
          content.clear();
          for (const std::string& line : lines) {
            content += line + "\n";
          }
        }
        installed[windows][path] = content;
      }
    }
    const std::set<std::string> registryInstalled = RegistryLines();
    for (const std::string& line : registryInstalled) {
      if (!registryBefore.contains(line)) {
        settings[windows].insert(WithoutTimes(line));
      }
    }

    const ProgramResult uninstall = Run(windows, {"--uninstall=" + std::string(c.name)});
    EXPECT_EQ(uninstall.status, EXIT_ALL_DONE) << uninstall.output;
    std::string left;
    for (const std::string& path : DriveListing()) {
      // The stand-in's own list of its calls is no file of the installer's.
      const bool own = filesBefore.contains(path) || path.ends_with("/standin-calls.txt");
      left += own ? "" : "  " + path + "\n";
    }
    EXPECT_EQ(left, "") << uninstall.output;
    EXPECT_EQ(Difference(registryBefore, RegistryLines()), "") << uninstall.output;
  }

  // Both builds made the same files and values.
  std::string files;
  for (const auto& [path, content] : installed[0]) {
    const auto other = installed[1].find(path);
    if (other == installed[1].end()) {
      files += "  only Linux: " + path + "\n";
    } else if (other->second != content) {
      files += "  differs: " + path + ", at\n" + FirstDifferentLine(content, other->second);
    }
  }
  for (const auto& [path, content] : installed[1]) {
    files += installed[0].contains(path) ? "" : "  only Windows: " + path + "\n";
  }
  EXPECT_EQ(files, "");
  EXPECT_EQ(Difference(settings[0], settings[1]), "");
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, WineLibraries,
    ::testing::Values(
        LibraryCase{"SynEdit",
                    SynEditLike,
                    {"D7 SynEdit_R.dpk Win32", "D7 SynEdit_D.dpk Win32", "S22 SynEdit_R.dpk Win32",
                     "S22 SynEdit_R.dpk Win64", "S22 SynEdit_D.dpk Win32",
                     "S23 SynEdit_R.dpk Win32", "S23 SynEdit_R.dpk Win64",
                     "S23 SynEdit_D.dpk Win32", "S23 SynEdit_D.dpk Win64"},
                    {"D7 SynEdit_D70.bpl", "S22 SynEdit_D280.bpl", "S23 SynEdit_D290.bpl",
                     "S23x64 SynEdit_D290.bpl"}},
        LibraryCase{"VirtualTrees",
                    VirtualTreesLike,
                    {"S22 VirtualTreesR.dpk Win32", "S22 VirtualTreesR.dpk Win64",
                     "S22 VirtualTreesD.dpk Win32", "S23 VirtualTreesR.dpk Win32",
                     "S23 VirtualTreesR.dpk Win64", "S23 VirtualTreesD.dpk Win32",
                     "S23 VirtualTreesD.dpk Win64"},
                    {"S22 VirtualTreesD280.bpl", "S23 VirtualTreesD290.bpl",
                     "S23x64 VirtualTreesD290.bpl"}},
        LibraryCase{"Graphics32",
                    Graphics32Like,
                    {"D7 GR32_R.dpk Win32", "D7 GR32_PNG_R.dpk Win32", "D7 GR32_D.dpk Win32",
                     "D7 GR32_PNG_D.dpk Win32", "S22 GR32_R.dpk Win32", "S22 GR32_PNG_R.dpk Win32",
                     "S22 GR32_R.dpk Win64", "S22 GR32_PNG_R.dpk Win64", "S22 GR32_D.dpk Win32",
                     "S22 GR32_PNG_D.dpk Win32", "S23 GR32_R.dpk Win32", "S23 GR32_PNG_R.dpk Win32",
                     "S23 GR32_R.dpk Win64", "S23 GR32_PNG_R.dpk Win64", "S23 GR32_D.dpk Win32",
                     "S23 GR32_PNG_D.dpk Win32", "S23 GR32_D.dpk Win64",
                     "S23 GR32_PNG_D.dpk Win64"},
                    {"D7 GR32_D.bpl", "D7 GR32_PNG_D.bpl", "S22 GR32_D.bpl", "S22 GR32_PNG_D.bpl",
                     "S23 GR32_D.bpl", "S23 GR32_PNG_D.bpl", "S23x64 GR32_D.bpl",
                     "S23x64 GR32_PNG_D.bpl"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
