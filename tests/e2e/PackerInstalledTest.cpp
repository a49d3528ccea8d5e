// quillet-pack as `cmake --install` lays it out: `attach` finds the installer stub by itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Package/PackageWriter.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

using test::ReadFile;
using test::RunProgram;

TEST(InstalledPacker, AttachFindsTheStubInLibQuillet) {
  const test::TempDir dir;
  const auto prefix = dir / "prefix";
  const auto installed = RunProgram(QUILLET_CMAKE_COMMAND,
                                    {"--install", QUILLET_BINARY_DIR, "--prefix", prefix.string()});
  ASSERT_EQ(installed.status, 0) << installed.output;
  ASSERT_EQ(ReadFile(prefix / "lib/quillet/quillet-sfx"), ReadFile(test::SfxPath()));

  PackageContents contents;
  contents.defaultFolder = "%Delphi%Lib\\";
  contents.entries.push_back(MakeStoredEntry("%zel_root%", "a.pas", "unit a;"));
  test::WriteFile(dir / "pkg.qpk", SerializePackage(contents));

  // Run from elsewhere, so that the build folder's quillet-sfx is out of reach.
  const std::string pack = (prefix / "bin/quillet-pack").string();
  test::ProgramOptions options;
  options.workingDirectory = dir.Path();
  // With --for, and with its default: the platform quillet-pack runs on.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"attach", "pkg.qpk", "-o", "Setup", "--for", "linux"},
        std::vector<std::string>{"attach", "pkg.qpk", "-o", "Setup"}}) {
    const auto attached = RunProgram(pack, arguments, options);
    ASSERT_EQ(attached.status, 0) << arguments.size() << attached.output;
    EXPECT_EQ(ReadFile(dir / "Setup"), ReadFile(test::SfxPath()) + SerializePackage(contents))
        << arguments.size();
    std::filesystem::remove(dir / "Setup");
  }
}

} // namespace
} // namespace quillet
