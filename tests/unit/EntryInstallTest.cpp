// Entry installation in this process, where the platform's fault hooks reach it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "Platform/Testing.h"
#include "QuilletCore/PackageWriter.h"
#include "QuilletSfxCore/Console.h"
#include "QuilletSfxCore/EntryInstall.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

// Runs `step` with standard output going to a file, and gives what the console wrote.
template <typename Step> std::string ConsoleOutputOf(const test::TempDir& dir, Step step) {
  const auto path = dir / "console.txt";
  std::FILE* file = std::fopen(path.c_str(), "w");
  const int saved = ::dup(STDOUT_FILENO);
  ::dup2(::fileno(file), STDOUT_FILENO);
  step();
  StdConsole().Flush();
  ::dup2(saved, STDOUT_FILENO);
  ::close(saved);
  std::fclose(file);
  return test::ReadFile(path);
}

// A close that reports lost data (a full disk noticed late) fails the entry, and the file that
// was there stays as it was.
TEST(InstallEntry, FailedCloseIsAFailedWriteThatKeepsTheOldFile) {
  const test::TempDir dir;
  PackageContents contents;
  contents.defaultFolder = "%zel_root%";
  contents.entries.push_back(
      MakeStoredEntry("%zel_root%", "a.pas", "the new a.pas", ENTRY_INSTALL));
  const std::string package = SerializePackage(contents);
  PackageLayout layout;
  ASSERT_TRUE(ValidatePackage(reinterpret_cast<const std::uint8_t*>(package.data()), package.size(),
                              layout));
  const PackageEntry entry = FindEntryByIndex(layout, 0).entry;
  test::WriteFile(dir / "a.pas", "the old a.pas");

  InstallContext context;
  context.PackageRoot = (dir / "").string();
  InstallOutcome outcome{};
  platform::testing::FailNextOutputFileClose();
  const std::string output = ConsoleOutputOf(dir, [&] { outcome = InstallEntry(entry, context); });
  EXPECT_EQ(outcome, InstallOutcome::Failed);
  EXPECT_EQ(output,
            "Installing a.pas .. could not write [" + dir.Path().string() + "/\\a.pas]\r\n");
  EXPECT_EQ(test::ReadFile(dir / "a.pas"), "the old a.pas");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2)
      << "a.pas and console.txt only: the temporary file is gone";
}

} // namespace
} // namespace quillet
