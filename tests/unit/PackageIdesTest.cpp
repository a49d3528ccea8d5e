// The IDE list a package carries as ides.txt.
#include <gtest/gtest.h>

#include "Package/PackageIdes.h"
#include "Package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

// The package's IDE list; no list and a damaged list are rows of the installation tests.
struct PackageIdesCase {
  const char* name;
  const char* entryName;
  std::uint32_t flags;
  IdeListSource source;
};

class PackageIdesTest : public ::testing::TestWithParam<PackageIdesCase> {};

TEST_P(PackageIdesTest, ChoosesTheBasePaths) {
  const PackageIdesCase& c = GetParam();
  const StoredEntry ides = MakeStoredEntry("", c.entryName, "\\Software\\X\\\r\n", c.flags);
  const std::string image =
      SerializePackage({"", {MakeStoredEntry("", "a.txt", "a", 0), ides}, std::nullopt});
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  const IdeBasePaths found = PackageIdeBasePaths(layout);
  EXPECT_EQ(found.source, c.source);
  EXPECT_EQ(found.paths.front(),
            c.source == IdeListSource::Package ? "\\Software\\X\\" : DELPHI_BASE_PATH);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackageIdesTest,
    ::testing::Values(PackageIdesCase{"InAnyCase", "IDES.TXT", 0, IdeListSource::Package},
                      // A file of that name that the package installs is no IDE list.
                      PackageIdesCase{"InstallableFileIgnored", "ides.txt", ENTRY_INSTALL,
                                      IdeListSource::Fixed}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillet
