// Start-up of the built installer: choosing, checking and releasing the package.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "Installer/RunInstaller.h"
#include "Package/Contract.h"
#include "Package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::RunProgram;
using test::TempDir;

const std::string kBanner = std::string(PRODUCT_BANNER) + "\r\n";
const std::string kAbsent =
    kBanner + std::string(ABSENT_PACKAGE_MESSAGE) + std::string(DOWNLOAD_ADDRESS) + "\r\n";

// A package with no welcome text and nothing to install.
std::string QuietPackage() {
  PackageContents package;
  package.defaultFolder = "%Delphi%Quiet\\";
  package.entries.push_back(MakeStoredEntry("", "notes.txt", "kept in the package", 0));
  return SerializePackage(package);
}

// What a run with a valid package writes while no IDE is registered.
std::string AcceptedOutput() {
  return kBanner + "\r\n\r\n" + std::string(FINAL_PROMPT) + "\r\n";
}

// The installer runs against an empty Wine prefix, so no IDE is found.
test::ProgramOptions Options(const TempDir& dir, std::optional<std::string> input = {}) {
  test::ProgramOptions options;
  options.input = std::move(input);
  options.environment["WINEPREFIX"] = (dir.Path() / "prefix").string();
  options.environment["DISPLAY"] = std::nullopt;
  options.environment["WAYLAND_DISPLAY"] = std::nullopt;
  return options;
}

fs::path InstallerWithPackage(const TempDir& dir, const std::string& package,
                              const std::string& name = "setup") {
  const fs::path path = dir / name;
  test::WriteFile(path, test::ReadFile(test::SfxPath()) + package);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

TEST(Startup, BareInstallerReportsAbsentPackage) {
  TempDir dir;
  const auto result = RunProgram(test::SfxPath(), {}, Options(dir, "never read\r\n"));
  EXPECT_EQ(result.output, kAbsent);
  EXPECT_EQ(result.status, EXIT_NO_PACKAGE);
}

TEST(Startup, RejectedFiles) {
  TempDir dir;
  const std::string package = QuietPackage();
  std::string badTrailer = package;
  badTrailer[badTrailer.size() - 8] ^= 1;
  std::string badBackDistance = package;
  WriteU32LE(reinterpret_cast<std::uint8_t*>(badBackDistance.data()) + badBackDistance.size() - 4,
             0xFFFFFFFF);
  const struct {
    const char* name;
    std::optional<std::string> content; // nullopt: the file does not exist
  } cases[] = {{"missing", std::nullopt},
               {"empty", ""},
               {"848bytes", package.substr(package.size() - 848)},
               {"badTrailer", badTrailer},
               {"badBackDistance", badBackDistance},
               {"textFile", std::string(5000, 'x')}};
  for (const auto& c : cases) {
    const fs::path path = dir / c.name;
    if (c.content) {
      test::WriteFile(path, *c.content);
    }
    const auto result = RunProgram(test::SfxPath(), {path.string()}, Options(dir));
    EXPECT_EQ(result.output, kAbsent) << c.name;
    EXPECT_EQ(result.status, EXIT_NO_PACKAGE) << c.name;
  }
}

TEST(Startup, FolderAsPackageIsAbsent) {
  TempDir dir;
  const auto result = RunProgram(test::SfxPath(), {dir.Path().string()}, Options(dir));
  EXPECT_EQ(result.output, kAbsent);
  EXPECT_EQ(result.status, EXIT_NO_PACKAGE);
}

TEST(Startup, FifoIsNoPackage) {
  TempDir dir;
  const fs::path fifo = dir / "pkg.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Opening a FIFO must not wait for a writer that never comes.
  const auto result = RunProgram(test::SfxPath(), {fifo.string()}, Options(dir));
  EXPECT_EQ(result.output, kAbsent);
  EXPECT_EQ(result.status, EXIT_NO_PACKAGE);
}

TEST(Startup, StandAlonePackageNamedByArgument) {
  TempDir dir;
  test::WriteFile(dir / "pkg.dat", QuietPackage());
  const auto result = RunProgram(test::SfxPath(), {(dir / "pkg.dat").string()}, Options(dir));
  EXPECT_EQ(result.output, AcceptedOutput());
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

TEST(Startup, PathWithBlanks) {
  TempDir dir;
  test::WriteFile(dir / "My Files" / "pkg.dat", QuietPackage());
  const auto result =
      RunProgram(test::SfxPath(), {(dir / "My Files" / "pkg.dat").string()}, Options(dir));
  EXPECT_EQ(result.output, AcceptedOutput());
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

TEST(Startup, RelativePathIsResolvedAgainstTheCurrentFolder) {
  TempDir dir;
  test::WriteFile(dir / "sub" / "pkg.dat", QuietPackage());
  auto options = Options(dir);
  options.workingDirectory = dir / "sub";
  const auto result = RunProgram(test::SfxPath(), {"pkg.dat"}, options);
  EXPECT_EQ(result.output, AcceptedOutput());
}

TEST(Startup, AppendedPackageWithoutArgument) {
  TempDir dir;
  const fs::path setup = InstallerWithPackage(dir, QuietPackage());
  const auto result = RunProgram(setup.string(), {}, Options(dir));
  EXPECT_EQ(result.output, AcceptedOutput());
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

TEST(Startup, EmptyArgumentCountsAsNone) {
  TempDir dir;
  const fs::path setup = InstallerWithPackage(dir, QuietPackage());
  const auto result = RunProgram(setup.string(), {""}, Options(dir));
  EXPECT_EQ(result.output, AcceptedOutput());
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

TEST(Startup, TwoPackagesAreRefusedAndAWrongOneIsNotRescued) {
  TempDir dir;
  test::WriteFile(dir / "pkg.dat", QuietPackage());
  const auto first =
      RunProgram(test::SfxPath(), {(dir / "pkg.dat").string(), "/nonexistent"}, Options(dir));
  EXPECT_EQ(first.output, "");
  EXPECT_EQ(first.status, EXIT_BAD_COMMAND_LINE);
  // An appended package does not rescue a wrong package argument.
  const fs::path setup = InstallerWithPackage(dir, QuietPackage());
  const auto second = RunProgram(setup.string(), {"/nonexistent"}, Options(dir));
  EXPECT_EQ(second.output, kAbsent);
  EXPECT_EQ(second.status, EXIT_NO_PACKAGE);
}

TEST(Startup, LongProgramPathStillFindsItsPackage) {
  TempDir dir;
  fs::path deep = dir.Path();
  for (int i = 0; i < 6; ++i) {
    deep /= std::string(60, static_cast<char>('a' + i));
  }
  fs::create_directories(deep);
  ASSERT_GT(deep.string().size(), 300u);
  const std::string package = QuietPackage();
  test::WriteFile(deep / "setup", test::ReadFile(test::SfxPath()) + package);
  fs::permissions(deep / "setup", fs::perms::owner_all);
  const auto result = RunProgram((deep / "setup").string(), {}, Options(dir));
  EXPECT_EQ(result.output, AcceptedOutput());
}

TEST(Startup, FinalPromptWaitsForOneLine) {
  TempDir dir;
  test::WriteFile(dir / "pkg.dat", QuietPackage());
  // Whatever follows the first line is never read; the run ends after it.
  const auto result =
      RunProgram(test::SfxPath(), {(dir / "pkg.dat").string()}, Options(dir, "\r\nmore\r\n"));
  EXPECT_EQ(result.output, AcceptedOutput());
  EXPECT_EQ(result.status, EXIT_ALL_DONE);
}

} // namespace
} // namespace quillet
