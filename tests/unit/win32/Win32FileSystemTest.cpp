// The Win32 layer's own behaviour: the wide path forms and output files at awkward targets.
#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <thread>
#include <vector>

#include "Platform/FileSystem.h"
#include "Platform/Interruption.h"
#include "Platform/Win32/Win32.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using platform::OutputKind;
using platform::win32::SystemPath;

struct SystemPathCase {
  const char* name;
  std::string path;
  std::wstring expected; // "*" stands for the current drive's full form, checked by prefix only
};

class SystemPathTest : public ::testing::TestWithParam<SystemPathCase> {};

TEST_P(SystemPathTest, LongPathsTakeTheLiteralForm) {
  const std::wstring got = SystemPath(GetParam().path);
  if (GetParam().expected.back() == L'*') {
    const std::wstring prefix = GetParam().expected.substr(0, GetParam().expected.size() - 1);
    EXPECT_EQ(got.rfind(prefix, 0), 0u);
    EXPECT_EQ(got.find(L"\\.\\"), std::wstring::npos) << "the literal form has no '.' component";
    EXPECT_EQ(got.find(L'/'), std::wstring::npos);
  } else {
    EXPECT_EQ(got, GetParam().expected);
  }
}

const std::string kLong(300, 'a');
const std::wstring kLongW(300, L'a');

INSTANTIATE_TEST_SUITE_P(
    Paths, SystemPathTest,
    ::testing::Values(
        SystemPathCase{"ShortStaysAsWritten", "C:\\Lib\\.\\a.pas", L"C:\\Lib\\.\\a.pas"},
        SystemPathCase{"ShortRelative", "N\\Source", L"N\\Source"},
        SystemPathCase{"LongAbsolute", "C:\\" + kLong + "\\.\\x/y.pas", L"\\\\?\\C:\\*"},
        SystemPathCase{"LongUnc", "\\\\server\\share\\" + kLong,
                       L"\\\\?\\UNC\\server\\share\\" + kLongW},
        SystemPathCase{"NulEndsThePath", std::string("C:\\a\0b", 6), L"C:\\a"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Win32Text, NativePathsAreUtf8Only) {
  // "Ã©" as UTF-8 stays two characters, though its ANSI bytes would read as UTF-8 "é".
  EXPECT_EQ(platform::win32::SystemPathOfUtf8("C:\\\xC3\x83\xC2\xA9"), L"C:\\\x00C3\x00A9");
  EXPECT_EQ(platform::win32::SystemPathOfUtf8("C:\\\xC3\xA9"), L"C:\\\x00E9");
  EXPECT_EQ(platform::win32::SystemPathOfUtf8("C:\\\xE9"), std::nullopt) << "ANSI is no guess";
}

TEST(Win32OutputFile, ReadOnlyTargetIsRefusedAndLongTargetsAreWritten) {
  test::TempDir dir;
  const fs::path readOnly = dir / "ro.pas";
  test::WriteFile(readOnly, "kept");
  fs::permissions(readOnly, fs::perms::owner_read);
  EXPECT_FALSE(platform::OutputFile::CreateFor(readOnly.string(), OutputKind::Rebuildable));
  EXPECT_EQ(test::ReadFile(readOnly), "kept");

  // Past MAX_PATH - 12, below which CreateDirectory takes plain paths, one step at a time.
  std::string folder = dir.Path().string();
  while (folder.size() < 300) {
    folder += "\\abcdefghi";
    ASSERT_TRUE(platform::MakeFolder(folder) || platform::IsFolder(folder)) << folder.size();
  }
  ASSERT_TRUE(platform::IsFolder(folder));
  auto file = platform::OutputFile::CreateFor(folder + "\\long.pas", OutputKind::Rebuildable);
  ASSERT_TRUE(file);
  ASSERT_TRUE(file->Write("unit long;", 10));
  EXPECT_EQ(file->SetLastWriteTime(0x5CEF0000u), 0u);
  EXPECT_TRUE(file->Commit());
  EXPECT_TRUE(fs::exists(fs::path(L"\\\\?\\" + fs::absolute(folder).wstring() + L"\\long.pas")));

  // Removed through the long form too; a read-only file and a folder that holds a file stay.
  EXPECT_FALSE(platform::RemoveFile(readOnly.string()));
  EXPECT_FALSE(platform::RemoveEmptyFolder(folder.substr(0, folder.rfind('\\'))));
  EXPECT_TRUE(platform::RemoveFile(folder + "\\long.pas"));
  EXPECT_TRUE(platform::RemoveFile(folder + "\\long.pas")) << "gone already";
  EXPECT_TRUE(platform::RemoveEmptyFolder(folder));
  EXPECT_FALSE(platform::IsFolder(folder));
  EXPECT_EQ(test::ReadFile(readOnly), "kept");
}

// What an interrupt removes: the temporary file of an output file still open (through its
// handle, so it goes when the handle does) or closed but not yet committed, never the target.
class Win32InterruptTest : public ::testing::TestWithParam<bool> {};

TEST_P(Win32InterruptTest, RemovesTheTemporaryFileOnly) {
  const bool closedFirst = GetParam();
  test::TempDir dir;
  test::WriteFile(dir / "x.pas", "old");
  {
    auto file = platform::OutputFile::CreateFor((dir / "x.pas").string(), OutputKind::Rebuildable);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Write("new", 3));
    if (closedFirst) {
      ASSERT_TRUE(file->Close());
    }
    {
      const platform::InterruptHold hold; // as the interrupt holds it
      platform::win32::RemoveUncommittedFiles();
    }
    EXPECT_FALSE(file->Commit()); // the content is gone: the target cannot be replaced
  }
  std::vector<std::string> names;
  for (const auto& item : fs::directory_iterator(dir.Path())) {
    names.push_back(item.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"x.pas"});
  EXPECT_EQ(test::ReadFile(dir / "x.pas"), "old");
}

INSTANTIATE_TEST_SUITE_P(States, Win32InterruptTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Closed" : "Open"; });

// Removing an installed entry through one handle: only what is below the base and no link.
struct Win32RemovalCase {
  const char* name;
  std::vector<std::string>
      files; // below the base, holding "content"; a name ending in "\\" is a folder
  std::string relative;
  bool folder;
  platform::RemovalOutcome expected;
  std::string edited = {}; // this file holds other content
};

class Win32RemovalTest : public ::testing::TestWithParam<Win32RemovalCase> {};

TEST_P(Win32RemovalTest, RemovesOnlyWhatIsThere) {
  const Win32RemovalCase& c = GetParam();
  test::TempDir dir;
  for (const std::string& file : c.files) {
    if (file.back() == '\\') {
      fs::create_directories(dir / file.substr(0, file.size() - 1));
    } else {
      fs::create_directories((dir / file).parent_path());
      test::WriteFile(dir / file, file == c.edited ? "edited" : "content");
    }
  }
  const auto same = [](std::span<const unsigned char> content) {
    return std::string(content.begin(), content.end()) == "content";
  };
  const platform::RemovalResult result =
      c.folder ? platform::RemoveInstalledFolder(dir.Path().string(), c.relative)
               : platform::RemoveInstalledFile(dir.Path().string(), c.relative, same);
  EXPECT_EQ(result.outcome, c.expected) << result.detail;
  EXPECT_EQ(fs::exists(dir / c.relative), c.expected != platform::RemovalOutcome::Removed &&
                                              c.expected != platform::RemovalOutcome::Missing);
}

using enum platform::RemovalOutcome;
INSTANTIATE_TEST_SUITE_P(
    Cases, Win32RemovalTest,
    ::testing::Values(Win32RemovalCase{"Removed", {"Src\\a.pas"}, "Src\\a.pas", false, Removed},
                      Win32RemovalCase{
                          "OtherLetterCase", {"Src\\a.pas"}, "SRC\\A.PAS", false, Removed},
                      Win32RemovalCase{"Changed", {"a.pas"}, "a.pas", false, Changed, "a.pas"},
                      Win32RemovalCase{"Missing", {"Src\\"}, "Src\\a.pas", false, Missing},
                      Win32RemovalCase{"EmptyFolder", {"Src\\"}, "Src", true, Removed},
                      Win32RemovalCase{"NotEmpty", {"Src\\a.pas"}, "Src", true, NotEmpty}),
    [](const auto& info) { return std::string(info.param.name); });

// A folder on the way that is a link (a directory symbolic link or a junction) to a folder with
// the same files: nothing there is removed.
TEST(Win32Removal, FolderOnTheWayThatIsALinkIsLeft) {
  test::TempDir dir;
  test::WriteFile(dir / "Else" / "a.pas", "content");
  fs::create_directories(dir / "Base");
  std::error_code error;
  fs::create_directory_symlink(dir / "Else", dir / "Base" / "Src", error);
  if (error) {
    GTEST_SKIP() << "no directory link can be made here: " << error.message();
  }
  const auto result = platform::RemoveInstalledFile((dir / "Base").string(), "Src\\a.pas", nullptr);
  EXPECT_EQ(result.outcome, Link) << result.detail;
  EXPECT_EQ(platform::RemoveInstalledFolder((dir / "Base").string(), "Src").outcome, Link);
  EXPECT_EQ(test::ReadFile(dir / "Else" / "a.pas"), "content");
}

// One run per name and user: a second lock of the same name, in any letter case, is not taken.
TEST(Win32NamedLock, OnePerName) {
  platform::NamedLock held("Tallowmere");
  ASSERT_TRUE(held.TryTake());
  ASSERT_TRUE(held.Held());
  bool sameTaken = true, otherTaken = false;
  std::thread([&] { // a mutex is owned by its thread: another thread stands for another run
    platform::NamedLock same("TALLOWMERE"), other("Tallowmere2");
    sameTaken = same.TryTake() && same.Held();
    otherTaken = other.TryTake() && other.Held();
  })
      .join();
  EXPECT_FALSE(sameTaken);
  EXPECT_TRUE(otherTaken);
}

} // namespace
} // namespace quillet
