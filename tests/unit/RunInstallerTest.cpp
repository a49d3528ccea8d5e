#include <gtest/gtest.h>

#include <filesystem>

#include "Common/Exception.h"
#include "Installer/PackageSource.h"
#include "Installer/RunInstaller.h"
#include "Platform/FileSystem.h"
#include "Platform/Process.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

TEST(FailureReport, Format) {
  const struct {
    const char* className;
    std::uint32_t offset;
    const char* message;
    const char* expected;
  } cases[] = {
      {"ERegistryException", 0x1A2B, "Invalid data type for 'RootDir'",
       "Exception ERegistryException in module quillet-sfx at 00001A2B.\nInvalid data type for "
       "'RootDir'."},
      {"EOutOfMemory", 0, "Out of memory.",
       "Exception EOutOfMemory in module quillet-sfx at 00000000.\nOut of memory."},
      {"Exception", 0xFFFFFFFF, "", "Exception Exception in module quillet-sfx at FFFFFFFF.\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatFailureReport(c.className, "quillet-sfx", c.offset, c.message), c.expected);
  }
}

TEST(FailureReport, ExceptionRemembersWhereItArose) {
  const ERegistryException e("x");
  EXPECT_STREQ(e.ClassName(), "ERegistryException");
  // The address lies inside this test program, so its offset from the load address is known.
  EXPECT_NE(platform::ModuleOffsetOf(e.Where()), 0u);
}

TEST(PackageSource, ChoosesTheNamedPackageOrTheProgram) {
  const std::string own = platform::OwnProgramPath();
  ASSERT_FALSE(own.empty());
  EXPECT_EQ(ChoosePackagePath(""), own);
  EXPECT_EQ(ChoosePackagePath("My Files/pkg.dat"), "My Files/pkg.dat");
}

TEST(PackageSource, MissingEmptyAndForeignFilesAreNotPackages) {
  PackageImage image;
  PackageLayout layout;
  EXPECT_FALSE(OpenPackage("/nonexistent/quillet/pkg.dat", image, layout));
  EXPECT_FALSE(image.IsOpen());
  EXPECT_FALSE(ReleasePackage(image)); // nothing was left open
  EXPECT_FALSE(OpenPackage("/dev/null", image, layout));
  EXPECT_FALSE(image.IsOpen());
  // This test program has no package appended.
  EXPECT_FALSE(OpenPackage("", image, layout));
  EXPECT_FALSE(image.IsOpen());
}

// --log is compared with the package by identity: every other spelling of a file is the file.
TEST(SameFile, JudgesByIdentityNotByText) {
  namespace fs = std::filesystem;
  const test::TempDir dir;
  test::WriteFile(dir / "pkg.dat", "package");
  test::WriteFile(dir / "twin.dat", "package"); // the same bytes, another file
  fs::create_directory(dir / "sub");
  fs::create_hard_link(dir / "pkg.dat", dir / "hard.dat");
  const bool links = test::SymlinksWork(dir.Path());
  if (links) {
    fs::create_symlink(dir / "pkg.dat", dir / "link.dat");
  }
  const std::string pkg = (dir / "pkg.dat").string();
  const struct {
    std::string other;
    bool same;
  } rows[] = {
      {pkg, true},
      {(dir.Path() / "sub" / ".." / "." / "pkg.dat").string(), true},
      {(dir / "hard.dat").string(), true},
      {(dir / (links ? "link.dat" : "pkg.dat")).string(), true},
      {(dir / "twin.dat").string(), false},
      {(dir / "sub").string(), false},
      {(dir / "missing.dat").string(), false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(platform::SameFile(row.other, pkg), row.same) << row.other;
  }
  EXPECT_FALSE(platform::SameFile((dir / "missing.dat").string(), (dir / "missing.dat").string()));
  EXPECT_TRUE(platform::SameFile((dir / "sub").string(), (dir / "sub" / ".").string()));
}

} // namespace
} // namespace quillet
