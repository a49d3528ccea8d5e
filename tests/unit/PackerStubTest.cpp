// Where `quillet-pack attach` finds the installer stub when none is named.
#include <gtest/gtest.h>

#include <filesystem>

#include "Packer/PackerError.h"
#include "Packer/StubLocator.h"
#include "tests/support/TestSupport.h"

namespace quillet::packer {
namespace {

struct StubCase {
  const char* name;
  std::vector<const char*> files; // laid out below a prefix; a name ending in "/" is a folder
  StubPlatform platform;
  const char* found; // below the prefix; empty: not found
};

class LocateStubTest : public ::testing::TestWithParam<StubCase> {};

TEST_P(LocateStubTest, LooksNextToTheProgramThenInLibQuillet) {
  const test::TempDir prefix;
  for (const std::string file : GetParam().files) {
    if (file.ends_with('/')) {
      std::filesystem::create_directories(prefix / file);
    } else {
      test::WriteFile(prefix / file, "stub");
    }
  }
  const std::filesystem::path program = prefix / "bin/quillet-pack";
  const std::string found = GetParam().found;
  if (!found.empty()) {
    EXPECT_EQ(LocateStub(GetParam().platform, program), prefix / found);
    return;
  }
  const std::string file(StubFileName(GetParam().platform));
  try {
    LocateStub(GetParam().platform, program);
    ADD_FAILURE() << "found a stub";
  } catch (const EPackerError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find((prefix / "bin" / file).string() + " or " +
                           (prefix / "lib" / "quillet" / file).string()),
              std::string::npos)
        << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, LocateStubTest,
    ::testing::Values(StubCase{"NextToTheProgramFirst",
                               {"bin/quillet-sfx-x86.exe", "lib/quillet/quillet-sfx-x86.exe"},
                               StubPlatform::WindowsX86,
                               "bin/quillet-sfx-x86.exe"},
                      StubCase{"FolderInTheWayIsPassed",
                               {"bin/quillet-sfx/", "lib/quillet/quillet-sfx"},
                               StubPlatform::Linux,
                               "lib/quillet/quillet-sfx"},
                      StubCase{"OtherPlatformsStubOnly",
                               {"bin/quillet-sfx", "lib/quillet/quillet-sfx.exe"},
                               StubPlatform::WindowsX86,
                               ""}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillet::packer
