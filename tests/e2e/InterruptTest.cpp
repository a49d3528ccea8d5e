// Interrupted runs: SIGINT, SIGTERM and SIGHUP while an entry is written or an answer is awaited
// leave no temporary file, keep the target as it was, end the transcript's line and give the
// signal's status. The installer is stopped at a known point by the stall that
// Platform/Testing.h describes, so nothing depends on timing.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include "Installer/ContentPipeline.h"
#include "Installer/Installation.h"
#include "Installer/RunInstaller.h"
#include "Package/PackageWriter.h"
#include "Platform/Testing.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::RegText;

const std::string kBanner = std::string(PRODUCT_BANNER) + "\r\n";
const std::string kQuestion =
    std::string(FOLDER_QUESTION_HEAD) + "C:\\Pkg\r\n" + std::string(FOLDER_QUESTION_TAIL) + "\r\n";
const std::string kOldContent = "the old big.bin";

struct Signal {
  const char* name;
  int number;
  int status;
};
const Signal kSignals[] = {
    {"Sigint", SIGINT, 130}, {"Sigterm", SIGTERM, 143}, {"Sighup", SIGHUP, 129}};

// The temporary files that a run left in a folder.
std::vector<std::string> TemporaryFiles(const fs::path& folder) {
  std::vector<std::string> found;
  for (const auto& item : fs::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.rfind(".quillet-", 0) == 0) {
      found.push_back(name);
    }
  }
  return found;
}

class Interrupted : public ::testing::Test {
protected:
  void SetUp() override {
    test::MakeWinePrefix(prefix_, {{"Delphi", "7.0", RegText("C:\\D7")}});
    fs::create_directories(work_);
    fs::create_directories(pkg_);
  }
  void SetPackage(const std::string& bigContent) {
    PackageContents package;
    package.defaultFolder = "C:\\Pkg";
    package.entries = {MakeStoredEntry("%zel_root%", "big.bin", bigContent),
                       MakeStoredEntry("%zel_root%", "after.pas", "never reached")};
    test::WriteFile(dir_ / "pkg.dat", SerializePackage(package));
  }
  test::ProgramOptions Options(const std::string& threads) const {
    test::ProgramOptions options;
    options.environment["WINEPREFIX"] = prefix_.string();
    options.environment["DISPLAY"] = std::nullopt;
    options.environment["WAYLAND_DISPLAY"] = std::nullopt;
    options.environment["QUILLET_THREADS"] = threads;
    options.environment[platform::testing::STALL_WRITE_VARIABLE] = stalled_.string();
    options.workingDirectory = work_;
    return options;
  }
  // Waits for the installer to stop in its first write (see Platform/Testing.h).
  bool WaitForStall() const {
    for (int i = 0; i < 3000 && !fs::exists(stalled_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return fs::exists(stalled_);
  }

  test::TempDir dir_;
  fs::path prefix_ = dir_ / "prefix";
  fs::path work_ = dir_ / "work";
  fs::path stalled_ = dir_ / "stalled";
  fs::path pkg_ = dir_ / "prefix" / "drive_c" / "Pkg";
};

// One row: a signal, whether big.bin is there before the run, and how the content reaches the
// writer.
struct WriteCase {
  Signal signal;
  bool targetExists;
  bool streamed;
  const char* threads;
};

class InterruptedWrite : public Interrupted, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(InterruptedWrite, LeavesNothingBehind) {
  const WriteCase& c = GetParam();
  // Beyond what a worker holds ahead of the writer (the writer decompresses it as it writes), or
  // small enough for a worker to hold (the writer gets it whole).
  SetPackage(std::string(c.streamed ? LOOKAHEAD_ENTRY_LIMIT + 1 : 1u << 20, 'z'));
  if (c.targetExists) {
    test::WriteFile(pkg_ / "big.bin", kOldContent);
  }
  test::InteractiveProgram installer(test::SfxPath(), {(dir_ / "pkg.dat").string()},
                                     Options(c.threads));
  installer.Write("\n");
  ASSERT_TRUE(WaitForStall());
  // The content is on its way into a file that has no name until it is committed, replacing or
  // not, so that even a SIGKILL now would leave nothing behind.
  EXPECT_EQ(TemporaryFiles(pkg_), std::vector<std::string>{});
  installer.Signal(c.signal.number);
  EXPECT_EQ(installer.WaitForExitOnly(), c.signal.status);
  EXPECT_EQ(installer.KilledBy(), 0) << "it exits, it is not killed";
  const test::ProgramResult result = installer.Finish();

  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + kQuestion + "Installing big.bin .. \r\n");
  EXPECT_EQ(TemporaryFiles(pkg_), std::vector<std::string>{});
  if (c.targetExists) {
    EXPECT_EQ(test::ReadFile(pkg_ / "big.bin"), kOldContent);
  } else {
    EXPECT_FALSE(fs::exists(pkg_ / "big.bin"));
  }
  EXPECT_FALSE(fs::exists(pkg_ / "after.pas"));
}

std::vector<WriteCase> WriteCases() {
  std::vector<WriteCase> cases;
  for (const Signal& signal : kSignals) {
    cases.push_back({signal, true, true, "2"});
    cases.push_back({signal, true, false, "2"});
    cases.push_back({signal, false, true, "1"});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, InterruptedWrite, ::testing::ValuesIn(WriteCases()),
                         [](const auto& info) {
                           const WriteCase& c = info.param;
                           return std::string(c.signal.name) +
                                  (c.targetExists ? "Replacing" : "Creating") +
                                  (c.streamed ? "Streamed" : "Held");
                         });

// Two installers into one folder: the second says on one line that it waits, and goes on only
// once the first has ended, so the folder never holds a mix of the two packages.
TEST_F(Interrupted, SecondInstallerIntoTheFolderWaitsForTheFirst) {
  SetPackage("from the first");
  test::InteractiveProgram first(test::SfxPath(), {(dir_ / "pkg.dat").string()}, Options("1"));
  first.Write("\n");
  ASSERT_TRUE(WaitForStall());

  PackageContents other;
  other.defaultFolder = "C:\\Pkg";
  other.entries = {MakeStoredEntry("%zel_root%", "big.bin", "from the second"),
                   MakeStoredEntry("%zel_root%", "after.pas", "second")};
  test::WriteFile(dir_ / "other.dat", SerializePackage(other));
  test::ProgramOptions options = Options("1");
  options.environment[platform::testing::STALL_WRITE_VARIABLE] = std::nullopt;
  test::InteractiveProgram second(test::SfxPath(), {(dir_ / "other.dat").string()}, options);
  second.Write("\n\n");
  const std::string waiting = "Waiting for another installation into C:\\Pkg to end...\r\n";
  ASSERT_TRUE(second.WaitForOutput(waiting)) << second.Output();
  EXPECT_FALSE(fs::exists(pkg_ / "after.pas")) << "the second writes nothing while it waits";

  first.Signal(SIGTERM);
  EXPECT_EQ(first.WaitForExitOnly(), 143);
  const test::ProgramResult result = second.Finish();
  EXPECT_EQ(result.status, 0) << result.output;
  EXPECT_EQ(test::ReadFile(pkg_ / "big.bin"), "from the second");
  EXPECT_EQ(test::ReadFile(pkg_ / "after.pas"), "second");
}

class InterruptedAnswer : public Interrupted, public ::testing::WithParamInterface<Signal> {};

// The installer waits at the folder question: it ends at once, its transcript already ended by
// the question's line end, and nothing is installed.
TEST_P(InterruptedAnswer, EndsTheWait) {
  SetPackage("small");
  test::WriteFile(pkg_ / "big.bin", kOldContent);
  test::InteractiveProgram installer(test::SfxPath(), {(dir_ / "pkg.dat").string()}, Options("2"));
  ASSERT_TRUE(installer.WaitForOutput(kQuestion)) << installer.Output();
  installer.Signal(GetParam().number);
  // The input stays open until the end: an answer must not be what ends the wait.
  EXPECT_EQ(installer.WaitForExitOnly(), GetParam().status);
  EXPECT_EQ(installer.KilledBy(), 0) << "it exits, it is not killed";
  const test::ProgramResult result = installer.Finish();
  EXPECT_EQ(result.output, kBanner + "\r\n\r\n" + kQuestion);
  EXPECT_EQ(test::ReadFile(pkg_ / "big.bin"), kOldContent);
  EXPECT_EQ(TemporaryFiles(pkg_), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(stalled_)); // no write was begun
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedAnswer, ::testing::ValuesIn(kSignals),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl+C typed at a terminal while an answer is half typed: the terminal's line discipline sends
// SIGINT and echoes ^C after the typed text, and the installer ends that line before it exits.
TEST_F(Interrupted, CtrlCAtATerminalEndsTheLineOfTheAnswer) {
  SetPackage("small");
  std::string program = test::SfxPath(), package = (dir_ / "pkg.dat").string();
  std::string wine = "WINEPREFIX=" + prefix_.string(), locale = "LC_ALL=C";
  char* argv[] = {program.data(), package.data(), nullptr};
  char* envp[] = {wine.data(), locale.data(), nullptr};
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execve(argv[0], argv, envp);
    ::_exit(127);
  }
  std::string output;
  auto readUntil = [&](const std::string& text) {
    char buffer[4096];
    while (output.find(text) == std::string::npos) {
      pollfd ready{terminal, POLLIN, 0};
      if (::poll(&ready, 1, 60000) <= 0) {
        return false;
      }
      const ssize_t n = ::read(terminal, buffer, sizeof buffer);
      if (n <= 0) {
        return false; // EIO once the installer has ended
      }
      output.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
  };
  ASSERT_TRUE(readUntil(std::string(FOLDER_QUESTION_TAIL))) << output;
  // The half answer, and once it is echoed (Ctrl+C drops what the terminal has not yet shown),
  // Ctrl+C.
  ASSERT_EQ(::write(terminal, "C:\\Half", 7), 7);
  ASSERT_TRUE(readUntil("C:\\Half")) << output;
  ASSERT_EQ(::write(terminal, "\x03", 1), 1);
  readUntil("never written"); // everything up to the end
  ::close(terminal);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 130);
  // The terminal turns each LF into CR LF, so the installer's CR LF arrives as CR CR LF. The
  // terminal echoes ^C just after sending the signal, which the installer's line end may, very
  // rarely, overtake.
  EXPECT_TRUE(std::regex_search(output, std::regex("C:\\\\Half(\\^C\r+\n|\r+\n\\^C)$"))) << output;
  EXPECT_FALSE(fs::exists(pkg_ / "big.bin"));
}

// A signal that the installer inherited as ignored (nohup) stays ignored: the SIGHUP sent first
// does nothing, and the SIGTERM after it ends the run.
TEST_F(Interrupted, InheritedIgnoredSignalStaysIgnored) {
  SetPackage("small");
  test::InteractiveProgram installer(
      "/bin/sh",
      {"-c", "trap '' HUP; exec \"$0\" \"$@\"", test::SfxPath(), (dir_ / "pkg.dat").string()},
      Options("2"));
  ASSERT_TRUE(installer.WaitForOutput(kQuestion)) << installer.Output();
  installer.Signal(SIGHUP);
  installer.Signal(SIGTERM);
  EXPECT_EQ(installer.WaitForExitOnly(), 143);
  EXPECT_EQ(installer.KilledBy(), 0);
}

// A console write blocked on a full pipe holds the first interrupt back; a second one ends the
// run without waiting for the pipe to drain.
TEST_F(Interrupted, SecondSignalEndsARunStuckInAWrite) {
  PackageContents package;
  package.defaultFolder = "C:\\Pkg";
  package.entries = {MakeStoredEntry("", "welcome.txt", std::string(1u << 20, 'w'), 0)};
  test::WriteFile(dir_ / "pkg.dat", SerializePackage(package));
  test::InteractiveProgram installer(test::SfxPath(), {(dir_ / "pkg.dat").string()}, Options("2"));
  // Nothing is read: the welcome text fills the pipe and the installer blocks in its write.
  ASSERT_TRUE(installer.WaitForFullOutputPipe());
  installer.Signal(SIGINT);
  installer.Signal(SIGTERM);
  EXPECT_EQ(installer.WaitForExitOnly(), 130);
  EXPECT_EQ(installer.KilledBy(), 0);
}

} // namespace
} // namespace quillet
