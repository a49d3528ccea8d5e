// The POSIX RunWindowsProgram without Wine: $WINELOADER points at a shell script that plays the
// program, so that the time limit, the tail and the sink are seen on their own.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "Platform/ChildProcess.h"
#include "tests/support/WinePrefixFixture.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;

// Played by the script: the program's name picks what it does. "hang" starts a process of its own
// (its pid written to the file named next) and waits for it; "flood" writes 300000 bytes without
// a line end, then a last line; "fail" writes to both channels and ends with status 7; "debug"
// writes the WINEDEBUG it was given.
constexpr const char* FAKE_WINE = R"(#!/bin/sh
case "$1" in
hang) sleep 1000 & echo $! > "$2"; wait ;;
flood) head -c 300000 /dev/zero | tr '\0' x; echo; echo 'last line' ;;
fail) echo out; echo err >&2; exit 7 ;;
debug) echo "WINEDEBUG=${WINEDEBUG-unset}" ;;
esac
)";

struct ChildCase {
  const char* name;
  const char* program;
  int timeLimit;
  bool timedOut;
  int exitCode;
  std::uint64_t outputSize;
  std::string outputEnd;                               // what the kept tail ends with
  std::optional<std::string> winedebug = std::nullopt; // the installer's WINEDEBUG; unset if none
};

class ChildProcess : public ::testing::TestWithParam<ChildCase> {};

bool Runs(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  const std::size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

TEST_P(ChildProcess, LimitTailAndSink) {
  const ChildCase& c = GetParam();
  test::TestWinePrefix prefix;
  const fs::path wine = prefix.Path() / "fake-wine";
  test::WriteFile(wine, FAKE_WINE);
  fs::permissions(wine, fs::perms::owner_all);
  const test::ScopedEnvironmentVariable loader("WINELOADER", wine.string());
  const test::ScopedEnvironmentVariable server("WINESERVER", "/bin/true");
  const fs::path pidFile = prefix.Path() / "grandchild";
  const test::ScopedEnvironmentVariable debug("WINEDEBUG", c.winedebug);

  platform::ChildOptions options;
  options.timeLimit = std::chrono::seconds(c.timeLimit);
  options.tailSize = 1000;
  std::string sunk;
  options.sink = [&sunk](std::string_view piece) { sunk.append(piece); };
  const platform::ChildResult result =
      platform::RunWindowsProgram(c.program, {pidFile.string()}, "", options);
  ASSERT_TRUE(result.started) << result.problem;
  EXPECT_EQ(result.timedOut, c.timedOut) << result.problem;
  EXPECT_EQ(result.exitCode, c.exitCode);
  EXPECT_EQ(result.outputSize, c.outputSize);
  EXPECT_EQ(sunk.size(), c.outputSize);
  EXPECT_LE(result.output.size(), options.tailSize);
  EXPECT_TRUE(result.output.ends_with(c.outputEnd)) << result.output;
  EXPECT_TRUE(sunk.ends_with(result.output));
  if (c.timedOut) {
    std::ifstream in(pidFile);
    pid_t grandchild = 0;
    ASSERT_TRUE(in >> grandchild);
    // A killed process takes a moment to be gone.
    for (int i = 0; i < 100 && Runs(grandchild); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_FALSE(Runs(grandchild)) << "the process the program started still runs";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChildProcess,
    ::testing::Values(ChildCase{"HangEndsWithItsGroup", "hang", 1, true, -1, 0, ""},
                      ChildCase{"FloodKeepsTheTail", "flood", 60, false, 0, 300011,
                                std::string(989, 'x') + "\nlast line\n"},
                      ChildCase{"ExitStatusAndBothChannels", "fail", 60, false, 7, 8, "out\nerr\n"},
                      ChildCase{"WineDebugOffUnlessChosen", "debug", 60, false, 0, 15,
                                "WINEDEBUG=-all\n"},
                      ChildCase{"WineDebugAsTheUserChose", "debug", 60, false, 0, 17,
                                "WINEDEBUG=+relay\n", "+relay"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace quillet
#endif
