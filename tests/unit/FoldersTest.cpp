#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "Installer/Folders.h"
#include "tests/support/WinePrefixFixture.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::ScopedCurrentFolder;
using test::TestWinePrefix;

// ---------------------------------------------------------------------------------------------
// FolderWithSeparator

struct SeparatorCase {
  const char* name;
  std::string folder;
  std::string expected;
};
void PrintTo(const SeparatorCase& c, std::ostream* os) {
  *os << c.name;
}

class FolderWithSeparatorTest : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(FolderWithSeparatorTest, Normalises) {
  EXPECT_EQ(FolderWithSeparator(GetParam().folder), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderWithSeparatorTest,
    ::testing::Values(
        SeparatorCase{"Empty", "", ""}, SeparatorCase{"BlanksOnly", "   ", ""},
        SeparatorCase{"ControlsOnly", "\t\r\n\x01\x1F", ""},
        SeparatorCase{"PlainFolder", "C:\\Lib", "C:\\Lib\\"},
        SeparatorCase{"EndsInBackslash", "C:\\Lib\\", "C:\\Lib\\"},
        SeparatorCase{"EndsInSlash", "/opt/lib/", "/opt/lib/"},
        SeparatorCase{"EndsInColon", "C:", "C:"},
        SeparatorCase{"Trimmed", "  C:\\Lib  ", "C:\\Lib\\"},
        SeparatorCase{"TrimmedBeforeTheTest", "C:\\Lib\\ \t", "C:\\Lib\\"},
        SeparatorCase{"ControlsTrimmed",
                      "\x01\x20"
                      "abc\x1F\x20",
                      "abc\\"},
        SeparatorCase{"InnerBlanksKept", " Program Files ", "Program Files\\"},
        SeparatorCase{"Byte127Kept", "abc\x7F", "abc\x7F\\"},
        SeparatorCase{"HighBytesKept",
                      "\xA0"
                      "abc\xFF",
                      "\xA0"
                      "abc\xFF\\"},
        SeparatorCase{"EndsInMacro", "%zel_root%", "%zel_root%\\"},
        // The test looks at the last byte only, also where it ends a double-byte character.
        SeparatorCase{"LastByteOfDoubleByteCharacter", "C:\\\x95\\", "C:\\\x95\\"}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// FolderOfPath

struct FolderOfPathCase {
  const char* name;
  std::string path;
  std::string folder;
};
void PrintTo(const FolderOfPathCase& c, std::ostream* os) {
  *os << c.name;
}

class FolderOfPathTest : public ::testing::TestWithParam<FolderOfPathCase> {};

TEST_P(FolderOfPathTest, EndsAtTheLastDelimiter) {
  EXPECT_EQ(FolderOfPath(GetParam().path), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderOfPathTest,
    ::testing::Values(FolderOfPathCase{"FileInFolder", "C:\\A\\b.pas", "C:\\A\\"},
                      FolderOfPathCase{"DriveRelative", "C:b.pas", "C:"},
                      FolderOfPathCase{"NameOnly", "b.pas", ""}, FolderOfPathCase{"Empty", "", ""},
                      FolderOfPathCase{"DoubleSeparator", "D:\\Lib\\\\a.pas", "D:\\Lib\\\\"},
                      FolderOfPathCase{"EndsInSeparator", "C:\\A\\", "C:\\A\\"},
                      FolderOfPathCase{"SlashSeparates", "C:/A/B", "C:/A/"},
                      FolderOfPathCase{"NativeAbsolute", "/tmp/x", "/tmp/"},
                      FolderOfPathCase{"SlashAfterBackslash", "a\\b/c", "a\\b/"},
                      FolderOfPathCase{"BackslashAfterSlash", "a/b\\c", "a/b\\"},
                      FolderOfPathCase{"Share", "\\\\srv\\share\\A", "\\\\srv\\share\\"},
                      FolderOfPathCase{"ZeroByteIsNoDelimiter", std::string("C:\\a\0b", 6), "C:\\"},
                      FolderOfPathCase{"Utf8Name", "C:\\\xE6\x9D\xB1\\x.pas",
                                       "C:\\\xE6\x9D\xB1\\"}),
    [](const auto& info) { return info.param.name; });

// The path both builds hand the system, or "refused"; the shared answer table has the plain cases.
class SystemFormOfPathTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {
};

TEST_P(SystemFormOfPathTest, ResolvesOnTheTextBelowTheRoot) {
  EXPECT_EQ(SystemFormOfPath(GetParam().first).value_or("refused"), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SystemFormOfPathTest,
    ::testing::Values(std::pair("C:\\..\\..\\x", "C:\\x"),
                      std::pair("\\\\s\\sh\\..\\x", "\\\\s\\sh\\x"),
                      std::pair("..\\a\\.\\..\\x", "..\\x"), std::pair("C:a\\..\\x", "C:x"),
                      std::pair("C:\\a\\Lpt9.pas", "refused"),
                      std::pair("C:\\aux .x\\y", "refused"),
                      // Control characters, which Windows cannot hold, in any component.
                      std::pair("C:\\..\t\\x", "refused"), std::pair("C:\\a\x7F", "refused"),
                      std::pair("C:\\com10\\console\\nul_", "C:\\com10\\console\\nul_")));

// ---------------------------------------------------------------------------------------------
// FolderExists and CreateFolderPath on a temporary tree. Drive C: is the test prefix's drive_c;
// relative paths start in the prefix's folder "work".

struct ExistsCase {
  const char* name;
  std::string path;
  bool expected;
};
void PrintTo(const ExistsCase& c, std::ostream* os) {
  *os << c.name;
}

class FolderExistsTest : public ::testing::TestWithParam<ExistsCase> {};

TEST_P(FolderExistsTest, Tests) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/Lib/Sub/", "drive_c/Lib/f.txt", "work/rel/", "work/file"});
  ScopedCurrentFolder cwd(prefix.Path() / "work");
  EXPECT_EQ(FolderExists(prefix.Expand(GetParam().path)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FolderExistsTest,
    ::testing::Values(
        ExistsCase{"Drive", "C:", true}, ExistsCase{"DriveRoot", "C:\\", true},
        ExistsCase{"LowerCaseDrive", "c:\\", true}, ExistsCase{"Folder", "C:\\Lib", true},
        ExistsCase{"FolderWithSeparator", "C:\\Lib\\", true},
        ExistsCase{"FolderWithSlash", "C:/Lib/Sub/", true},
        ExistsCase{"FolderInOtherCase", "c:\\LIB\\sub\\", true},
        ExistsCase{"File", "C:\\Lib\\f.txt", false},
        ExistsCase{"FileWithSeparator", "C:\\Lib\\f.txt\\", false},
        ExistsCase{"Missing", "C:\\Nope", false},
        ExistsCase{"BelowMissing", "C:\\Nope\\Lib", false}, ExistsCase{"MissingDrive", "Q:", false},
        ExistsCase{"MissingDriveRoot", "Q:\\", false}, ExistsCase{"Empty", "", false},
        ExistsCase{"Relative", "rel", true}, ExistsCase{"RelativeOtherCase", "REL\\", true},
        ExistsCase{"RelativeFile", "file", false}, ExistsCase{"CurrentFolder", ".", true},
        ExistsCase{"NativeAbsolute", "{prefix}/drive_c/Lib", true},
        ExistsCase{"NativeAbsoluteFile", "{prefix}/work/file", false},
        ExistsCase{"ShareWithoutNetwork", "\\\\srv\\share", false}),
    [](const auto& info) { return info.param.name; });

struct CreateCase {
  const char* name;
  std::vector<std::string> present; // entries below the prefix before the call
  std::string path;
  bool expected;
  std::vector<std::string> created; // entries that exist afterwards and did not before
};
void PrintTo(const CreateCase& c, std::ostream* os) {
  *os << c.name;
}

class CreateFolderPathTest : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateFolderPathTest, CreatesMissingFolders) {
  TestWinePrefix prefix;
  prefix.Populate(GetParam().present);
  ScopedCurrentFolder cwd(prefix.Path() / "work");
  const std::set<std::string> before = prefix.Tree();

  EXPECT_EQ(CreateFolderPath(prefix.Expand(GetParam().path)), GetParam().expected);

  std::set<std::string> expected = before;
  expected.insert(GetParam().created.begin(), GetParam().created.end());
  EXPECT_EQ(prefix.Tree(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CreateFolderPathTest,
    ::testing::Values(
        CreateCase{"Empty", {}, "", true, {}}, CreateCase{"DriveRoot", {}, "C:\\", true, {}},
        CreateCase{"TwoLevels", {}, "C:\\A\\B\\", true, {"drive_c/A/", "drive_c/A/B/"}},
        CreateCase{"ParentPresent", {"drive_c/A/"}, "C:\\A\\B", true, {"drive_c/A/B/"}},
        CreateCase{"TwoFinalSeparators", {}, "C:\\A\\\\", true, {}},
        CreateCase{"MissingDriveTwoSeparators", {}, "Q:\\\\", true, {}},
        CreateCase{"Relative", {}, "abc\\d", true, {"work/abc/", "work/abc/d/"}},
        CreateCase{"RelativeShortParentMissing", {}, "ab\\cd", false, {}},
        // "/" delimits: the missing C:/A is made first.
        CreateCase{"SlashSeparated", {}, "C:/A/B", true, {"drive_c/A/", "drive_c/A/B/"}},
        CreateCase{"ShareRootNotAFolder", {}, "\\\\srv\\share\\A", false, {}},
        CreateCase{"FileInTheWay", {"drive_c/A"}, "C:\\A", false, {}},
        CreateCase{"FileInTheWayOfParent", {"drive_c/A/B"}, "C:\\A\\B\\C", false, {}}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Mapping, CreateFolderPathTest,
    ::testing::Values(
        CreateCase{"Drive", {}, "C:", true, {}},
        CreateCase{"DriveRelative", {}, "C:A", true, {"drive_c/A/"}},
        CreateCase{"MissingDrive", {}, "Q:\\A\\B", false, {}},
        CreateCase{"FinalSlashRemoved", {}, "C:\\A\\B/", true, {"drive_c/A/", "drive_c/A/B/"}},
        CreateCase{"MixedSeparators",
                   {},
                   "C:\\A/B\\C",
                   true,
                   {"drive_c/A/", "drive_c/A/B/", "drive_c/A/B/C/"}},
        CreateCase{
            "NativeAbsolute", {}, "{prefix}/drive_c/X/Y", true, {"drive_c/X/", "drive_c/X/Y/"}},
        CreateCase{"ExistingFolderInOtherCase",
                   {"drive_c/Lib/"},
                   "C:\\lib\\SUB\\New\\",
                   true,
                   {"drive_c/Lib/SUB/", "drive_c/Lib/SUB/New/"}},
        CreateCase{"ExistingRelativeFolderInOtherCase",
                   {"work/Units/"},
                   "UNITS\\x",
                   true,
                   {"work/Units/x/"}},
        CreateCase{"Blanks",
                   {},
                   "C:\\Program Files\\Borland\\Delphi 7\\",
                   true,
                   {"drive_c/Program Files/", "drive_c/Program Files/Borland/",
                    "drive_c/Program Files/Borland/Delphi 7/"}},
        CreateCase{"HighBytes",
                   {},
                   "C:\\Caf\xC3\xA9\\\xC3\xA4\xC3\xBF",
                   true,
                   {"drive_c/Caf\xC3\xA9/", "drive_c/Caf\xC3\xA9/\xC3\xA4\xC3\xBF/"}},
        // The final separator goes, and the two bytes left count as present.
        CreateCase{"FinalSeparatorRemoved", {}, "X\x95\\", true, {}}),
    [](const auto& info) { return info.param.name; });

TEST(CreateFolder, CreatesOneFolderOnly) {
  TestWinePrefix prefix;
  EXPECT_TRUE(CreateFolder("C:\\One"));
  EXPECT_TRUE(fs::is_directory(prefix.DriveC() / "One"));
  EXPECT_FALSE(CreateFolder("C:\\One")) << "an existing folder is not created again";
  EXPECT_FALSE(CreateFolder("C:\\Two\\Three"));
  EXPECT_FALSE(fs::exists(prefix.DriveC() / "Two"));
}

} // namespace
} // namespace quillet
