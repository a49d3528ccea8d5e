// Running Windows programs on Windows: arguments reach the program as given, output and exit
// code come back, the working folder holds; and finding a running program by its path.
#include <gtest/gtest.h>

#include <filesystem>

#include "Platform/Ascii.h"
#include "Platform/ChildProcess.h"
#include "Platform/Process.h"
#include "Platform/Win32/Win32.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using platform::RunWindowsProgram;

// The stand-in compiler, copied into a folder of the test's own: it notes its calls beside itself.
std::string StandinCopy(const test::TempDir& dir) {
  const fs::path built =
      fs::path(platform::win32::WideOfText(platform::OwnProgramPath())).parent_path() /
      "standin-dcc.exe";
  fs::copy_file(built, dir / "dcc32.exe");
  return platform::win32::TextOfWide((dir / "dcc32.exe").wstring());
}

struct RunCase {
  const char* name;
  bool standin; // else cmd.exe
  std::vector<std::string> arguments;
  bool inTempFolder;
  int exitCode;
  std::string lastLine; // "*" stands for the working folder
};

class RunWindowsProgramTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunWindowsProgramTest, GivesOutputAndExitCode) {
  const test::TempDir dir;
  const std::string program =
      GetParam().standin ? StandinCopy(dir) : "C:\\windows\\system32\\cmd.exe";
  const std::string folder =
      GetParam().inTempFolder ? platform::win32::TextOfWide(dir.Path().wstring()) : "";
  const platform::ChildResult result = RunWindowsProgram(program, GetParam().arguments, folder);
  ASSERT_TRUE(result.started) << result.problem;
  EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.output;
  std::string output = result.output;
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
    output.pop_back();
  }
  const std::string last = output.substr(output.find_last_of('\n') + 1);
  EXPECT_EQ(last, GetParam().lastLine == "*" ? folder : GetParam().lastLine);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunWindowsProgramTest,
    ::testing::Values(
        // The stand-in names the switch it refuses as its runtime split it.
        RunCase{"QuotesAndBackslashesArriveWhole",
                true,
                {"-B", "-Zx \"q\" C:\\My Dir\\"},
                false,
                1,
                "Fatal: F1029 Bad command line option: -Zx \"q\" C:\\My Dir\\"},
        // With two names the stand-in names the second.
        RunCase{"EmptyArgumentArrives",
                true,
                {"a.dpk", ""},
                false,
                1,
                "Fatal: F1026 File not found: ''"},
        RunCase{"ExitCodeOfCmd", false, {"/c", "echo hi& exit 7"}, false, 7, "hi"},
        RunCase{"WorkingFolder", false, {"/c", "cd"}, true, 0, "*"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RunWindowsProgram, MissingProgramDoesNotStart) {
  const platform::ChildResult result = RunWindowsProgram("C:\\no\\such\\dcc32.exe", {}, "");
  EXPECT_FALSE(result.started);
  EXPECT_NE(result.problem.find("C:\\no\\such\\dcc32.exe"), std::string::npos) << result.problem;
}

TEST(ProgramRunning, FindsTheTestProgramByItsPathInAnyCase) {
  const std::string own = platform::OwnProgramPath();
  const std::string missing = own + ".missing.exe";
  EXPECT_TRUE(platform::ProgramRunning({missing, platform::AsciiLowerText(own)}));
  EXPECT_FALSE(platform::ProgramRunning({missing}));
}

} // namespace
} // namespace quillet
