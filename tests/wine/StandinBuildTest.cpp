// The POSIX RunWindowsProgram under Wine, with the stand-in compiler in a fake IDE folder of the
// booted prefix: a package build's switches and quoting arrive, the working folder holds, and
// each way a build ends comes back as output and exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "Platform/ChildProcess.h"
#include "tests/support/TestSupport.h"
#include "tests/wine/WineDriver.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

fs::path Standin() {
  return test::wine::WindowsStandin();
}

struct BuildCase {
  const char* name;
  std::vector<std::string> arguments; // after -B -Q and the output folders
  int exitCode;
  std::string lastLine;
  const char* bin = "Studio/23.0/bin";   // the compiler's folder: its version
  std::vector<std::string> outputs = {}; // files below C:\quillet-standin\out the build wrote
};

class StandinBuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(StandinBuildTest, ComesBackAsOutputAndExitCode) {
  if (!fs::is_regular_file(Standin()) || test::wine::Prefix().empty()) {
    GTEST_SKIP() << "scripts/wine-tests.sh sets WINEPREFIX and QUILLET_WINDOWS_SFX";
  }
  const fs::path root = test::wine::Prefix() / "drive_c" / "quillet-standin";
  fs::remove_all(root);
  const fs::path bin = root / GetParam().bin;
  fs::create_directories(bin);
  for (const char* out : {"bpl", "dcp", "dcu", "hpp", "obj"}) {
    fs::create_directories(root / "out" / out);
  }
  const fs::path src = root / "My Source";
  for (const char* sub : {"res", "inc", "lib", "Source"}) {
    fs::create_directories(src / sub);
  }
  fs::copy_file(Standin(), bin / "dcc32.exe");
  const std::vector<std::pair<fs::path, std::string>> files = {
      {src / "Base.dpk", "package Base;\n{$LIBSUFFIX AUTO}\nrequires\n  rtl;\nend.\n"},
      {src / "Top.dpk", "package Top;\n{$LIBSUFFIX AUTO}\nrequires\n  rtl,\n  Base;\nend.\n"},
      {src / "Bom.dpk", "\xEF\xBB\xBFpackage Bom;\nrequires rtl;\nend.\n"},
      {src / "Res.dpk", "package Res;\n{$R *.res}\nend.\n"},
      {src / "Shared.dpk", "package Shared;\n{$R 'Shared'}\nend.\n"},
      {src / "res" / "Shared.res", "res"},
      {src / "Inc.dpk", "package Inc;\n{$I Settings.inc}\nend.\n"},
      {src / "inc" / "Settings.inc", "{$DEFINE SETTINGS}"},
      {src / "Cond.dpk", "package Cond;\n{$R+}{$I-}{$I %DATE%}{$IFDEF FPC}{$I lazarus.inc}{$ELSE}"
                         "{$IFNDEF MSWINDOWS}{$R Gone.res}{$ENDIF}{$ENDIF}\nend.\n"},
      {src / "Gone.dpk", "package Gone;\ncontains\n  Gone in 'Source\\Gone.pas';\nend.\n"},
      {src / "Star.dpk", "package Star;\ncontains\n  Widgets in 'Source\\Widgets.pas';\nend.\n"},
      {src / "Source" / "Widgets.pas", "unit Widgets;\n{$R *.dfm}\nend.\n"},
      {src / "Source" / "Widgets.dfm", "object"},
      {src / "Uses.dpk", "package Uses;\nrequires\n  Lib;\nend.\n"},
      {src / "lib" / "Lib.dpk", "package Lib;\nend.\n"},
  };
  for (const auto& [path, text] : files) {
    test::WriteFile(path, text);
  }

  std::vector<std::string> arguments = {"-B", "-Q", "-LEC:\\quillet-standin\\out\\bpl",
                                        "-LNC:\\quillet-standin\\out\\dcp"};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  std::string compiler = "C:\\quillet-standin\\" + std::string(GetParam().bin) + "\\dcc32.exe";
  std::replace(compiler.begin(), compiler.end(), '/', '\\');
  const platform::ChildResult result =
      platform::RunWindowsProgram(compiler, arguments, "C:\\quillet-standin\\My Source");
  ASSERT_TRUE(result.started) << result.problem;
  EXPECT_EQ(result.problem, "");
  EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
  std::string output = result.output;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
    output.pop_back();
  }
  EXPECT_EQ(output.substr(output.find_last_of('\n') + 1), GetParam().lastLine);
  for (const std::string& file : GetParam().outputs) {
    EXPECT_TRUE(fs::is_regular_file(root / "out" / file)) << file;
  }
}

const std::string BUILT = "3 lines, 0.01 seconds, 0 bytes code, 0 bytes data.";
const std::string LONG(130, 'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, StandinBuildTest,
    ::testing::Values(
        BuildCase{"WrongBuildOrder",
                  {"Top.dpk"},
                  1,
                  "Top.dpk(5) Fatal: E2202 Required package 'Base' not found"},
        BuildCase{"RequiredFromUnitFolder",
                  {"-UC:\\quillet-standin\\My Source\\lib", "Uses.dpk"},
                  1,
                  "Uses.dpk(3) Fatal: E2202 Required package 'Lib' not found"},
        BuildCase{"BadSwitch",
                  {"-X \"odd\"\\", "Base.dpk"},
                  1,
                  "Fatal: F1029 Bad command line option: -X \"odd\"\\"},
        BuildCase{"ByteOrderMark", {"Bom.dpk"}, 0, BUILT},
        BuildCase{"MissingResource", {"Res.dpk"}, 1, "Error: E1026 File not found: 'Res.res'"},
        BuildCase{"ResourceNotInRFolders",
                  {"Shared.dpk"},
                  1,
                  "Error: E1026 File not found: 'Shared.res'"},
        BuildCase{
            "ResourceInRFolder", {"-RC:\\quillet-standin\\My Source\\res", "Shared.dpk"}, 0, BUILT},
        BuildCase{"MissingInclude",
                  {"Inc.dpk"},
                  1,
                  "Inc.dpk(2) Fatal: F1026 File not found: 'Settings.inc'"},
        BuildCase{
            "IncludeInIFolder", {"-IC:\\quillet-standin\\My Source\\inc", "Inc.dpk"}, 0, BUILT},
        BuildCase{"SwitchesAndSkippedBranches", {"Cond.dpk"}, 0, BUILT},
        BuildCase{"MissingUnit",
                  {"Gone.dpk"},
                  1,
                  "Gone.dpk(3) Fatal: F1026 File not found: 'Source\\Gone.pas'"},
        // * is the unit's own name (Widgets.dfm), and the .dcu goes to -NU.
        BuildCase{"UnitResourceAndDcu",
                  {"-NUC:\\quillet-standin\\out\\dcu", "Star.dpk"},
                  0,
                  "4 lines, 0.01 seconds, 0 bytes code, 0 bytes data.",
                  "Studio/23.0/bin",
                  {"dcu/Widgets.dcu", "bpl/Star.bpl", "dcp/Star.dcp"}},
        BuildCase{"UnitOutputSwitchOnDelphi7",
                  {"-NUC:\\quillet-standin\\out\\dcu", "Star.dpk"},
                  1,
                  "Fatal: F2039 Could not create output file "
                  "'UC:\\quillet-standin\\out\\dcu\\Widgets.dcu'",
                  "Delphi7/bin"},
        BuildCase{"NoConfigOnDelphi7",
                  {"--no-config", "Base.dpk"},
                  1,
                  "Fatal: F1029 Bad command line option: --no-config",
                  "Delphi7/bin"},
        BuildCase{"LongPathOnDelphi7",
                  {"-UC:\\" + LONG, "Base.dpk"},
                  1,
                  "Fatal: System.pas not found",
                  "Delphi7/bin"},
        BuildCase{"LongPathOnBds",
                  {"-UC:\\" + LONG, "Base.dpk"},
                  0,
                  "5 lines, 0.01 seconds, 0 bytes code, 0 bytes data."},
        BuildCase{"CppFilesPerUnit",
                  {"-NUC:\\quillet-standin\\out\\dcu", "-JL", "-NBC:\\quillet-standin\\out\\dcp",
                   "-NHC:\\quillet-standin\\out\\hpp", "-NOC:\\quillet-standin\\out\\obj",
                   "Star.dpk"},
                  0,
                  "4 lines, 0.01 seconds, 0 bytes code, 0 bytes data.",
                  "Studio/23.0/bin",
                  {"hpp/Widgets.hpp", "hpp/Star.hpp", "obj/Widgets.obj", "dcp/Star.bpi",
                   "dcp/Star.lib", "dcu/Widgets.dcu"}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
