#include <gtest/gtest.h>

#include "Common/Exception.h"
#include "Installer/PackageSource.h"
#include "Installer/RunInstaller.h"
#include "Platform/Process.h"

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

} // namespace
} // namespace quillet
