// The POSIX RunWindowsProgram under Wine, with the stand-in compiler in a fake IDE folder of the
// booted prefix: a package build's switches and quoting arrive, the working folder holds, and
// each way a build ends comes back as output and exit code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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
};

class StandinBuildTest : public ::testing::TestWithParam<BuildCase> {};

TEST_P(StandinBuildTest, ComesBackAsOutputAndExitCode) {
  if (!fs::is_regular_file(Standin()) || test::wine::Prefix().empty()) {
    GTEST_SKIP() << "scripts/wine-tests.sh sets WINEPREFIX and QUILLET_WINDOWS_SFX";
  }
  const fs::path root = test::wine::Prefix() / "drive_c" / "quillet-standin";
  fs::remove_all(root);
  const fs::path bin = root / "Studio" / "23.0" / "bin";
  fs::create_directories(bin);
  fs::create_directories(root / "out" / "bpl");
  fs::create_directories(root / "out" / "dcp");
  fs::create_directories(root / "My Source");
  fs::copy_file(Standin(), bin / "dcc32.exe");
  test::WriteFile(root / "My Source" / "Base.dpk",
                  "package Base;\n{$LIBSUFFIX AUTO}\nrequires\n  rtl;\nend.\n");
  test::WriteFile(root / "My Source" / "Top.dpk",
                  "package Top;\n{$LIBSUFFIX AUTO}\nrequires\n  rtl,\n  Base;\nend.\n");

  std::vector<std::string> arguments = {"-B", "-Q", "-LEC:\\quillet-standin\\out\\bpl",
                                        "-LNC:\\quillet-standin\\out\\dcp"};
  arguments.insert(arguments.end(), GetParam().arguments.begin(), GetParam().arguments.end());
  const platform::ChildResult result =
      platform::RunWindowsProgram("C:\\quillet-standin\\Studio\\23.0\\bin\\dcc32.exe", arguments,
                                  "C:\\quillet-standin\\My Source");
  ASSERT_TRUE(result.started) << result.problem;
  EXPECT_EQ(result.problem, "");
  EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
  std::string output = result.output;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
    output.pop_back();
  }
  EXPECT_EQ(output.substr(output.find_last_of('\n') + 1), GetParam().lastLine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StandinBuildTest,
    ::testing::Values(
        BuildCase{"WrongBuildOrder", {"Top.dpk"}, 1, "Fatal: F2613 Unit 'Base' not found."},
        BuildCase{"BadSwitch",
                  {"-X \"odd\"\\", "Base.dpk"},
                  1,
                  "Fatal: F1029 Bad command line option: -X \"odd\"\\"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
