#include <fcntl.h>
#include <gtest/gtest.h>

#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <span>
#include <thread>

#include "Platform/FileSystem.h"
#include "Platform/TemporaryName.h"
#include "Platform/Testing.h"
#include "tests/support/WinePrefixFixture.h"

namespace quillet::platform {
namespace {

namespace fs = std::filesystem;
using test::ScopedCurrentFolder;
using test::ScopedEnvironmentVariable;
using test::TestWinePrefix;

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// ---------------------------------------------------------------------------------------------
// NativePath

struct MapCase {
  const char* name;
  std::vector<std::string> present; // entries below the prefix; relative paths start in "work"
  std::string windowsPath;
  std::string expected;
};
void PrintTo(const MapCase& c, std::ostream* os) {
  *os << c.name;
}

class NativePathTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(NativePathTest, Maps) {
  TestWinePrefix prefix;
  prefix.Populate(GetParam().present);
  ScopedCurrentFolder cwd(prefix.Path() / "work");
  // Looked up through the folder's own read, then through a listing read once.
  for (const bool listed : {false, true}) {
    std::optional<FolderListingScope> scope;
    if (listed) {
      scope.emplace();
    }
    EXPECT_EQ(NativePath(prefix.Expand(GetParam().windowsPath)), prefix.Expand(GetParam().expected))
        << (listed ? "with listings" : "without listings");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Drives, NativePathTest,
    ::testing::Values(
        MapCase{"File", {}, "C:\\A\\b.pas", "{prefix}/dosdevices/c:/A/b.pas"},
        MapCase{"LowerCaseDrive", {}, "c:\\A", "{prefix}/dosdevices/c:/A"},
        MapCase{"DriveOnly", {}, "C:", "{prefix}/dosdevices/c:"},
        MapCase{"DriveRoot", {}, "C:\\", "{prefix}/dosdevices/c:/"},
        MapCase{"DriveRelative", {}, "C:A\\b", "{prefix}/dosdevices/c:/A/b"},
        MapCase{"MissingDrive", {}, "Q:\\x\\y", "{prefix}/dosdevices/q:/x/y"},
        MapCase{"SlashSeparated", {}, "C:/A/B", "{prefix}/dosdevices/c:/A/B"},
        MapCase{"DoubleSeparatorKept", {}, "D:\\Lib\\\\a.pas", "{prefix}/dosdevices/d:/Lib//a.pas"},
        MapCase{"Share", {}, "\\\\srv\\share\\a", "{prefix}/dosdevices/unc/srv/share/a"},
        MapCase{"NulEndsThePath", {}, std::string("C:\\a\0b", 6), "{prefix}/dosdevices/c:/a"},
        // ".." is resolved on the text, as Windows does: also over a folder that does not exist,
        // and never above the drive's folder or the share, where the prefix's own files lie.
        MapCase{"DotDotOnTheText", {"drive_c/Lib/"}, "C:\\Lib\\..\\x", "{prefix}/dosdevices/c:/x"},
        MapCase{"DotDotOverAMissingFolder", {}, "C:\\up\\..\\upd\\", "{prefix}/dosdevices/c:/upd/"},
        MapCase{"DotDotNeverAboveTheDrive",
                {},
                "C:\\A\\..\\..\\..\\system.reg",
                "{prefix}/dosdevices/c:/system.reg"},
        MapCase{"DriveRelativeDotDot", {}, "C:..\\x", "{prefix}/dosdevices/c:/x"},
        MapCase{"DotDotNeverAboveTheShare",
                {},
                "\\\\srv\\share\\..\\..\\x",
                "{prefix}/dosdevices/unc/srv/share/x"}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    RelativeAndAbsolute, NativePathTest,
    ::testing::Values(
        MapCase{"Empty", {}, "", ""}, MapCase{"Relative", {}, "abc\\d", "abc/d"},
        MapCase{"RelativeName", {}, "c.txt", "c.txt"}, MapCase{"RelativeDot", {}, ".\\a", "./a"},
        MapCase{"RelativeOtherCase", {"work/Units/"}, "UNITS\\a.pas", "Units/a.pas"},
        MapCase{"NativeAbsolute", {}, "/nonexistent-quillet/x", "/nonexistent-quillet/x"},
        MapCase{"RootedBackslash", {}, "\\nonexistent-quillet\\x", "/nonexistent-quillet/x"},
        MapCase{"NativeAbsoluteOtherCase",
                {"drive_c/Lib/"},
                "{prefix}/DRIVE_C/lib/x",
                "{prefix}/drive_c/Lib/x"}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    LetterCase, NativePathTest,
    ::testing::Values(MapCase{"ExistingFolders",
                              {"drive_c/Program Files/Borland/"},
                              "C:\\PROGRAM FILES\\borland\\Delphi7\\Lib\\a.pas",
                              "{prefix}/dosdevices/c:/Program Files/Borland/Delphi7/Lib/a.pas"},
                      MapCase{"ExistingFile",
                              {"drive_c/Lib/ReadMe.html"},
                              "C:\\lib\\README.HTML",
                              "{prefix}/dosdevices/c:/Lib/ReadMe.html"},
                      MapCase{"ExactNameWins",
                              {"drive_c/lib/", "drive_c/LIB/"},
                              "C:\\LIB\\x",
                              "{prefix}/dosdevices/c:/LIB/x"},
                      MapCase{"ExactLowerNameWins",
                              {"drive_c/lib/", "drive_c/LIB/"},
                              "C:\\lib\\x",
                              "{prefix}/dosdevices/c:/lib/x"},
                      MapCase{"NothingBelowAMissingFolder",
                              {"drive_c/Lib/"},
                              "C:\\Nope\\LIB",
                              "{prefix}/dosdevices/c:/Nope/LIB"},
                      MapCase{"PrefixOfANameIsNoMatch",
                              {"drive_c/f/"},
                              "C:\\F.txt",
                              "{prefix}/dosdevices/c:/F.txt"},
                      MapCase{"Blanks",
                              {"drive_c/My Files/"},
                              "C:\\my files\\A B.txt",
                              "{prefix}/dosdevices/c:/My Files/A B.txt"},
                      MapCase{"HighBytesWithAsciiCase",
                              {"drive_c/Caf\xC3\xA9/"},
                              "C:\\CAF\xC3\x89\\x",
                              "{prefix}/dosdevices/c:/Caf\xC3\xA9/x"},
                      MapCase{"Utf8Name",
                              {},
                              "C:\\M\xC3\xBCller\\\xC3\xA4.pas",
                              "{prefix}/dosdevices/c:/M\xC3\xBCller/\xC3\xA4.pas"},
                      MapCase{"ExistingSingleByteName",
                              {"drive_c/\xC4RGER/"},
                              "C:\\\xC4rger\\x",
                              "{prefix}/dosdevices/c:/\xC4RGER/x"}),
    [](const auto& info) { return info.param.name; });

TEST(NativePath, SeveralMatchesTakeTheFirstInDirectoryOrder) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/units/", "drive_c/UNITS/", "drive_c/Units/"});
  std::string first;
  for (const auto& entry : fs::directory_iterator(prefix.DriveC())) {
    first = entry.path().filename().string();
    break;
  }
  EXPECT_EQ(NativePath("C:\\uNiTs\\a.pas"),
            prefix.Path().string() + "/dosdevices/c:/" + first + "/a.pas");
  FolderListingScope scope;
  EXPECT_EQ(NativePath("C:\\uNiTs\\a.pas"),
            prefix.Path().string() + "/dosdevices/c:/" + first + "/a.pas");
}

// Writes `content` to the Windows-style target through an OutputFile and commits it.
bool WriteThrough(const std::string& target, const std::string& content) {
  auto file = OutputFile::CreateFor(target, OutputKind::Rebuildable);
  return file && file->Write(content.data(), content.size()) && file->Commit();
}

// The listings learn every folder and file the program creates, whichever path it took.
TEST(FolderListingScope, KeepsUpWithWhatTheProgramCreates) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/Lib/Old.pas"});
  const std::string lib = prefix.Path().string() + "/dosdevices/c:/Lib/";
  FolderListingScope scope;
  EXPECT_EQ(NativePath("C:\\LIB\\new\\x"), lib + "new/x"); // both folders read now
  ASSERT_TRUE(MakeFolder("C:\\lib\\New"));
  EXPECT_TRUE(IsFolder("C:\\LIB\\NEW\\"));
  EXPECT_FALSE(IsFolder("C:\\LIB\\old.PAS"));
  EXPECT_EQ(NativePath("C:\\lib\\NEW\\x"), lib + "New/x");
  ASSERT_TRUE(WriteThrough("C:\\Lib\\new\\A.pas", "a"));
  ASSERT_TRUE(WriteThrough(prefix.DriveC().string() + "/lib/new/B.pas", "b")); // another path
  ASSERT_TRUE(WriteThrough("C:\\lib\\old.PAS", "replaced"));
  EXPECT_EQ(NativePath("C:\\LIB\\NEW\\a.PAS"), lib + "New/A.pas");
  EXPECT_EQ(NativePath("C:\\LIB\\NEW\\b.PAS"), lib + "New/B.pas");
  EXPECT_FALSE(IsFolder("C:\\LIB\\NEW\\a.pas"));
  EXPECT_EQ(NamesIn(prefix.DriveC() / "Lib"), (std::vector<std::string>{"New", "Old.pas"}));
  EXPECT_EQ(test::ReadFile(prefix.DriveC() / "Lib" / "Old.pas"), "replaced");
  // And forget what it removes: a name gone is matched no more, nor is a removed folder.
  EXPECT_FALSE(RemoveEmptyFolder("C:\\lib\\NEW"));
  ASSERT_TRUE(RemoveFile("C:\\lib\\new\\a.PAS"));
  EXPECT_TRUE(RemoveFile("C:\\lib\\new\\a.PAS"));
  EXPECT_EQ(NativePath("C:\\LIB\\NEW\\a.pas"), lib + "New/a.pas");
  ASSERT_TRUE(RemoveFile("C:\\lib\\new\\b.pas") && RemoveEmptyFolder("C:\\LIB\\new\\"));
  EXPECT_FALSE(IsFolder("C:\\LIB\\NEW"));
  EXPECT_EQ(NamesIn(prefix.DriveC() / "Lib"), (std::vector<std::string>{"Old.pas"}));
}

TEST(NativePath, WithoutWinePrefixUsesTheHomeFolder) {
  test::TempDir home;
  ScopedEnvironmentVariable noPrefix("WINEPREFIX", std::nullopt);
  ScopedEnvironmentVariable homeVariable("HOME", home.Path().string());
  EXPECT_EQ(NativePath("C:\\a"), home.Path().string() + "/.wine/dosdevices/c:/a");
}

// ---------------------------------------------------------------------------------------------
// IsFolder and MakeFolder

TEST(IsFolder, FollowsTheDosdevicesEntries) {
  TestWinePrefix prefix;
  prefix.Populate({"other/Sub/", "drive_c/file.txt"});
  prefix.AddDrive('d', "../other");
  prefix.AddDrive('z', "/");
  EXPECT_TRUE(IsFolder("D:\\"));
  EXPECT_TRUE(IsFolder("d:\\sub"));
  EXPECT_TRUE(IsFolder("Z:\\tmp"));
  EXPECT_FALSE(IsFolder("Q:\\"));
  EXPECT_FALSE(IsFolder("C:\\file.txt"));
  EXPECT_FALSE(IsFolder("C:\\FILE.TXT"));
}

struct MakeCase {
  const char* name;
  std::vector<std::string> present;
  std::string windowsPath;
  bool expected;
  std::vector<std::string> created;
};
void PrintTo(const MakeCase& c, std::ostream* os) {
  *os << c.name;
}

class MakeFolderTest : public ::testing::TestWithParam<MakeCase> {};

TEST_P(MakeFolderTest, Makes) {
  TestWinePrefix prefix;
  prefix.Populate(GetParam().present);
  ScopedCurrentFolder cwd(prefix.Path() / "work");
  const auto before = prefix.Tree();
  EXPECT_EQ(MakeFolder(GetParam().windowsPath), GetParam().expected);
  auto expected = before;
  expected.insert(GetParam().created.begin(), GetParam().created.end());
  EXPECT_EQ(prefix.Tree(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MakeFolderTest,
    ::testing::Values(
        MakeCase{"BelowDrive", {}, "C:\\New", true, {"drive_c/New/"}},
        MakeCase{"WithFinalSeparator", {}, "C:\\New\\", true, {"drive_c/New/"}},
        MakeCase{"Existing", {"drive_c/Old/"}, "C:\\Old", false, {}},
        MakeCase{"ExistingInOtherCase", {"drive_c/Old/"}, "C:\\OLD", false, {}},
        MakeCase{"ParentInOtherCase", {"drive_c/Lib/"}, "C:\\LIB\\New", true, {"drive_c/Lib/New/"}},
        MakeCase{"ParentMissing", {}, "C:\\A\\B", false, {}},
        MakeCase{"FileInTheWay", {"drive_c/f"}, "C:\\f", false, {}},
        MakeCase{"BelowAFile", {"drive_c/f"}, "C:\\f\\g", false, {}},
        MakeCase{"DriveItself", {}, "C:", false, {}}, MakeCase{"DriveRoot", {}, "C:\\", false, {}},
        // Never invents a drive in the prefix.
        MakeCase{"MissingDrive", {}, "Q:", false, {}},
        MakeCase{"MissingDriveRoot", {}, "Q:\\", false, {}},
        MakeCase{"BelowMissingDrive", {}, "Q:\\A", false, {}},
        // Servers and shares are roots, even where the prefix has a network folder.
        MakeCase{"Server", {"dosdevices/unc/"}, "\\\\srv", false, {}},
        MakeCase{"Share", {"dosdevices/unc/srv/"}, "\\\\srv\\share", false, {}},
        MakeCase{"BelowShare",
                 {"dosdevices/unc/srv/share/"},
                 "\\\\srv\\share\\A",
                 true,
                 {"dosdevices/unc/srv/share/A/"}},
        MakeCase{"Relative", {}, "rel", true, {"work/rel/"}}, MakeCase{"Empty", {}, "", false, {}},
        MakeCase{"Blanks", {}, "C:\\Program Files", true, {"drive_c/Program Files/"}},
        MakeCase{"HighBytes", {}, "C:\\\xE4\xC3\xA9", true, {"drive_c/\xE4\xC3\xA9/"}}),
    [](const auto& info) { return info.param.name; });

TEST(MakeFolder, NativeAbsolutePath) {
  test::TempDir dir;
  EXPECT_TRUE(MakeFolder((dir / "made").string()));
  EXPECT_TRUE(fs::is_directory(dir / "made"));
}

// ---------------------------------------------------------------------------------------------
// OutputFile

class ScopedUmask {
public:
  explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(previous_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
  mode_t previous_;
};

TEST(OutputFile, CommitPutsTheFileInPlace) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/Lib/"});
  auto file = OutputFile::CreateFor("C:\\Lib\\a.pas", OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->Write("unit a;", 7));
  ASSERT_TRUE(file->Write("", 0));
  ASSERT_TRUE(file->Write(" end.", 5));
  // Until the commit a new target has no name at all.
  EXPECT_TRUE(NamesIn(prefix.DriveC() / "Lib").empty());
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(NamesIn(prefix.DriveC() / "Lib"), std::vector<std::string>{"a.pas"});
  EXPECT_EQ(test::ReadFile(prefix.DriveC() / "Lib" / "a.pas"), "unit a; end.");
}

TEST(OutputFile, DescriptorIsClosedOnExec) {
  for (const bool replacing : {false, true}) { // an unnamed file, then a named temporary file
    test::TempDir dir;
    if (replacing) {
      test::WriteFile(dir / "x", "old");
    }
    auto file = OutputFile::CreateFor((dir / "x").string(), OutputKind::Rebuildable);
    ASSERT_TRUE(file.has_value());
    const std::string folder = fs::canonical(dir.Path()).string() + "/";
    int found = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (fs::read_symlink(entry.path(), ec).string().rfind(folder, 0) == 0) {
        const int fd = std::stoi(entry.path().filename().string());
        EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
        ++found;
      }
    }
    EXPECT_EQ(found, 1) << (replacing ? "replacing" : "new");
  }
}

class OutputFilePermissionsTest : public ::testing::TestWithParam<mode_t> {};

TEST_P(OutputFilePermissionsTest, OrdinaryPermissionsUnderTheUmask) {
  ScopedUmask mask(GetParam());
  test::TempDir dir;
  ASSERT_TRUE(WriteThrough((dir / "f.txt").string(), "x"));
  struct stat info {};
  ASSERT_EQ(::stat((dir / "f.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0666 & ~GetParam());
}

INSTANTIATE_TEST_SUITE_P(Masks, OutputFilePermissionsTest,
                         ::testing::Values(mode_t{022}, mode_t{002}, mode_t{077}, mode_t{0}));

TEST(OutputFile, UncommittedFileIsRemoved) {
  TestWinePrefix prefix;
  test::WriteFile(prefix.DriveC() / "b.pas", "old");
  for (const char* target : {"C:\\a.pas", "C:\\b.pas"}) { // new, then replacing
    {
      auto file = OutputFile::CreateFor(target, OutputKind::Rebuildable);
      ASSERT_TRUE(file.has_value());
      ASSERT_TRUE(file->Write("x", 1));
    }
    EXPECT_EQ(NamesIn(prefix.DriveC()), std::vector<std::string>{"b.pas"}) << target;
    EXPECT_EQ(test::ReadFile(prefix.DriveC() / "b.pas"), "old");
  }
}

TEST(OutputFile, ReplacesAnExistingFile) {
  TestWinePrefix prefix;
  test::WriteFile(prefix.DriveC() / "a.pas", "old and longer content");
  ASSERT_TRUE(WriteThrough("C:\\a.pas", "new"));
  EXPECT_EQ(test::ReadFile(prefix.DriveC() / "a.pas"), "new");
  EXPECT_EQ(NamesIn(prefix.DriveC()), std::vector<std::string>{"a.pas"});
}

TEST(OutputFile, ReplacesAnExistingFileInOtherLetterCase) {
  TestWinePrefix prefix;
  test::WriteFile(prefix.DriveC() / "Docs" / "ReadMe.html", "old");
  ASSERT_TRUE(WriteThrough("C:\\DOCS\\readme.HTML", "new"));
  EXPECT_EQ(NamesIn(prefix.DriveC() / "Docs"), std::vector<std::string>{"ReadMe.html"});
  EXPECT_EQ(test::ReadFile(prefix.DriveC() / "Docs" / "ReadMe.html"), "new");
}

TEST(OutputFile, NamesWithBlanksAndHighBytes) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/My Files/"});
  // The program's text and the name on disk are both UTF-8; a byte that is no UTF-8 stays.
  ASSERT_TRUE(WriteThrough("C:\\My Files\\Caf\xC3\xA9 \xE9.txt", "bytes"));
  EXPECT_EQ(test::ReadFile(prefix.DriveC() / "My Files" / "Caf\xC3\xA9 \xE9.txt"), "bytes");
}

TEST(OutputFile, RelativeTarget) {
  TestWinePrefix prefix;
  prefix.Populate({"work/Sub/"});
  ScopedCurrentFolder cwd(prefix.Path() / "work");
  ASSERT_TRUE(WriteThrough("c.txt", "top"));
  ASSERT_TRUE(WriteThrough("SUB\\d.txt", "below"));
  EXPECT_EQ(test::ReadFile(prefix.Path() / "work" / "c.txt"), "top");
  EXPECT_EQ(test::ReadFile(prefix.Path() / "work" / "Sub" / "d.txt"), "below");
}

TEST(OutputFile, FolderInTheWayIsLeftAlone) {
  TestWinePrefix prefix;
  test::WriteFile(prefix.DriveC() / "a.pas" / "inside.txt", "kept");
  auto file = OutputFile::CreateFor("C:\\a.pas", OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->Write("x", 1));
  EXPECT_FALSE(file->Commit());
  EXPECT_EQ(NamesIn(prefix.DriveC()), std::vector<std::string>{"a.pas"});
  EXPECT_EQ(test::ReadFile(prefix.DriveC() / "a.pas" / "inside.txt"), "kept");
}

// ---------------------------------------------------------------------------------------------
// OutputFile replacing an existing file: permissions, owner, protection and links

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : mode_t{0};
}

// Makes the effective user and group of this process another's, for the life of the object.
class ScopedEffectiveUser {
public:
  ScopedEffectiveUser(uid_t uid, gid_t gid)
      : changed_(::setegid(gid) == 0 && ::seteuid(uid) == 0) {}
  ~ScopedEffectiveUser() {
    // The user first: only root may change the group back.
    (void)::seteuid(0);
    (void)::setegid(0);
  }
  ScopedEffectiveUser(const ScopedEffectiveUser&) = delete;
  ScopedEffectiveUser& operator=(const ScopedEffectiveUser&) = delete;
  bool Changed() const { return changed_; }

private:
  bool changed_;
};

constexpr uid_t kOtherUser = 65534; // nobody
constexpr gid_t kOtherGroup = 65534;

// A folder or file that the system refuses for lack of rights is reported once, so that the
// installer can say why; a failure for another reason is not.
TEST(AccessDenied, ReportsARefusalForLackOfRights) {
  TestWinePrefix prefix;
  fs::create_directories(prefix.DriveC() / "Locked");
  ASSERT_EQ(::chmod((prefix.DriveC() / "Locked").c_str(), 0755), 0);
  TakeAccessDenied();
  ScopedEffectiveUser user(kOtherUser, kOtherGroup);
  if (!user.Changed()) {
    GTEST_SKIP() << "acting as another user needs root";
  }
  EXPECT_FALSE(OutputFile::CreateFor("C:\\Missing\\a.pas", OutputKind::Rebuildable).has_value());
  EXPECT_FALSE(TakeAccessDenied()) << "a missing folder is no refusal";
  EXPECT_FALSE(MakeFolder("C:\\Locked\\Sub"));
  EXPECT_FALSE(OutputFile::CreateFor("C:\\Locked\\a.pas", OutputKind::Rebuildable).has_value());
  EXPECT_TRUE(TakeAccessDenied());
  EXPECT_FALSE(TakeAccessDenied()) << "taken once";
}

class OutputFileKeepsModeTest : public ::testing::TestWithParam<mode_t> {};

TEST_P(OutputFileKeepsModeTest, ReplacedFileKeepsItsPermissions) {
  // A umask that would give a new file 0644: the old file's bits win over it.
  ScopedUmask mask(022);
  test::TempDir dir;
  test::WriteFile(dir / "a.pas", "old");
  ASSERT_EQ(::chmod((dir / "a.pas").c_str(), GetParam()), 0);
  ASSERT_TRUE(WriteThrough((dir / "a.pas").string(), "new"));
  EXPECT_EQ(ModeOf(dir / "a.pas"), GetParam());
  fs::permissions(dir / "a.pas", fs::perms::owner_read, fs::perm_options::add); // to read it back
  EXPECT_EQ(test::ReadFile(dir / "a.pas"), "new");
}

INSTANTIATE_TEST_SUITE_P(Modes, OutputFileKeepsModeTest,
                         ::testing::Values(mode_t{0640}, mode_t{0600}, mode_t{0664}, mode_t{0755},
                                           mode_t{0200}, mode_t{04755}));

class OutputFileProtectedTest : public ::testing::TestWithParam<mode_t> {};

// No write permission bit at all means read-only, for root as well.
TEST_P(OutputFileProtectedTest, ReadOnlyFileIsNotReplaced) {
  test::TempDir dir;
  test::WriteFile(dir / "a.pas", "precious");
  ASSERT_EQ(::chmod((dir / "a.pas").c_str(), GetParam()), 0);
  auto file = OutputFile::CreateFor((dir / "a.pas").string(), OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->Write("new", 3));
  EXPECT_FALSE(file->Commit());
  EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"a.pas"}) << "temporary file removed";
  EXPECT_EQ(ModeOf(dir / "a.pas"), GetParam());
  fs::permissions(dir / "a.pas", fs::perms::owner_read, fs::perm_options::add); // to read it back
  EXPECT_EQ(test::ReadFile(dir / "a.pas"), "precious");
}

INSTANTIATE_TEST_SUITE_P(Modes, OutputFileProtectedTest,
                         ::testing::Values(mode_t{0444}, mode_t{0400}, mode_t{0555}, mode_t{0000}));

struct OwnerCase {
  const char* name;
  uid_t uid;
  gid_t gid;
  mode_t mode;
};
void PrintTo(const OwnerCase& c, std::ostream* os) {
  *os << c.name;
}

class OutputFileOwnerTest : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(OutputFileOwnerTest, RootKeepsTheOwnerOfAReplacedFile) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "giving a file to another user needs root";
  }
  test::TempDir dir;
  const fs::path target = dir / "a.pas";
  test::WriteFile(target, "old");
  ASSERT_EQ(::chown(target.c_str(), GetParam().uid, GetParam().gid), 0);
  ASSERT_EQ(::chmod(target.c_str(), GetParam().mode), 0);
  ASSERT_TRUE(WriteThrough(target.string(), "new"));
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, GetParam().uid);
  EXPECT_EQ(info.st_gid, GetParam().gid);
  EXPECT_EQ(info.st_mode & 07777, GetParam().mode);
  EXPECT_EQ(test::ReadFile(target), "new");
}

INSTANTIATE_TEST_SUITE_P(
    Owners, OutputFileOwnerTest,
    ::testing::Values(OwnerCase{"OtherUserAndGroup", kOtherUser, kOtherGroup, 0640},
                      OwnerCase{"OtherUserOnly", kOtherUser, 0, 0600},
                      OwnerCase{"OtherGroupOnly", 0, kOtherGroup, 0660},
                      // Changing the owner clears these bits: they must be set afterwards.
                      OwnerCase{"SetUserId", kOtherUser, kOtherGroup, 04755},
                      OwnerCase{"SetGroupId", kOtherUser, kOtherGroup, 02755}),
    [](const auto& info) { return info.param.name; });

struct OtherUserCase {
  const char* name;
  uid_t owner;
  mode_t mode;
  bool replaced;
};
void PrintTo(const OtherUserCase& c, std::ostream* os) {
  *os << c.name;
}

class OutputFileAsOtherUserTest : public ::testing::TestWithParam<OtherUserCase> {};

// Write permission bits that are there, but not for this user, protect the file too.
TEST_P(OutputFileAsOtherUserTest, OnlyAFileTheUserMayWriteIsReplaced) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "acting as another user needs root";
  }
  test::TempDir dir;
  const fs::path folder = dir / "shared";
  fs::create_directories(folder);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0); // anyone may rename in it
  const fs::path target = folder / "a.pas";
  test::WriteFile(target, "old");
  ASSERT_EQ(::chown(target.c_str(), GetParam().owner, 0), 0);
  ASSERT_EQ(::chmod(target.c_str(), GetParam().mode), 0);
  bool committed = false;
  {
    ScopedEffectiveUser user(kOtherUser, kOtherGroup);
    ASSERT_TRUE(user.Changed());
    committed = WriteThrough(target.string(), "new");
  }
  EXPECT_EQ(committed, GetParam().replaced);
  EXPECT_EQ(test::ReadFile(target), GetParam().replaced ? "new" : "old");
  EXPECT_EQ(ModeOf(target), GetParam().mode);
  EXPECT_EQ(NamesIn(folder), std::vector<std::string>{"a.pas"});
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFileAsOtherUserTest,
                         ::testing::Values(OtherUserCase{"OwnersFile", 0, 0644, false},
                                           OtherUserCase{"OwnersReadOnlyFile", 0, 0444, false},
                                           OtherUserCase{"OwnFile", kOtherUser, 0644, true},
                                           OtherUserCase{"OwnReadOnlyFile", kOtherUser, 0444,
                                                         false},
                                           OtherUserCase{"WritableForAll", 0, 0666, true}),
                         [](const auto& info) { return info.param.name; });

struct LinkCase {
  const char* name;
  std::vector<std::string> present;                       // files hold "old"
  std::vector<std::pair<std::string, std::string>> links; // link below the prefix, link text
  std::string target;
  bool committed;
  std::string destination;            // below the prefix: where the content goes
  std::optional<std::string> content; // at the destination afterwards; nullopt: no file there
  mode_t destinationMode = 0;         // applied to the destination when not 0
  std::string foreignLink = {};       // this link below the prefix belongs to another user
};
void PrintTo(const LinkCase& c, std::ostream* os) {
  *os << c.name;
}

class OutputFileLinkTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(OutputFileLinkTest, ContentGoesToTheLinksDestination) {
  const LinkCase& c = GetParam();
  TestWinePrefix prefix;
  prefix.Populate(c.present);
  for (const std::string& file : c.present) {
    if (file.back() != '/') {
      test::WriteFile(prefix.Path() / file, "old");
    }
  }
  for (const auto& [link, text] : c.links) {
    fs::create_symlink(prefix.Expand(text), prefix.Path() / link);
  }
  if (c.destinationMode != 0) {
    ASSERT_EQ(::chmod((prefix.Path() / c.destination).c_str(), c.destinationMode), 0);
  }
  if (!c.foreignLink.empty() &&
      ::lchown((prefix.Path() / c.foreignLink).c_str(), kOtherUser, kOtherUser) != 0) {
    GTEST_SKIP() << "giving a link to another user needs root";
  }
  const auto before = prefix.Tree();
  std::error_code ec;
  const bool replacing = fs::exists(fs::symlink_status(prefix.Path() / c.destination, ec));

  bool committed = false;
  if (auto file = OutputFile::CreateFor(c.target, OutputKind::Rebuildable)) {
    ASSERT_TRUE(file->Write("new", 3));
    // Replacing or not, the file has no name until Commit.
    std::vector<std::string> added;
    const auto during = prefix.Tree();
    std::set_difference(during.begin(), during.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    EXPECT_EQ(added, std::vector<std::string>{}) << (replacing ? "replacing" : "new");
    committed = file->Commit();
  }
  EXPECT_EQ(committed, c.committed);

  auto expected = before;
  if (c.committed) {
    expected.insert(c.destination);
  }
  EXPECT_EQ(prefix.Tree(), expected);
  for (const auto& [link, text] : c.links) {
    EXPECT_TRUE(fs::is_symlink(prefix.Path() / link)) << link;
    EXPECT_EQ(fs::read_symlink(prefix.Path() / link), prefix.Expand(text)) << link;
  }
  const fs::path destination = prefix.Path() / c.destination;
  if (c.content) {
    EXPECT_EQ(test::ReadFile(destination), *c.content);
  } else {
    EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(destination)));
  }
  if (c.destinationMode != 0) {
    EXPECT_EQ(ModeOf(destination), c.destinationMode);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputFileLinkTest,
    ::testing::Values(LinkCase{"SameFolder",
                               {"drive_c/Lib/real.pas"},
                               {{"drive_c/Lib/a.pas", "real.pas"}},
                               "C:\\Lib\\a.pas",
                               true,
                               "drive_c/Lib/real.pas",
                               "new"},
                      LinkCase{"OtherFolder",
                               {"drive_c/Shared/real.pas", "drive_c/Lib/"},
                               {{"drive_c/Lib/a.pas", "../Shared/real.pas"}},
                               "C:\\Lib\\a.pas",
                               true,
                               "drive_c/Shared/real.pas",
                               "new"},
                      LinkCase{"AbsoluteText",
                               {"drive_c/Shared/real.pas"},
                               {{"drive_c/a.pas", "{prefix}/drive_c/Shared/real.pas"}},
                               "C:\\A.PAS",
                               true,
                               "drive_c/Shared/real.pas",
                               "new"},
                      LinkCase{"Chain",
                               {"drive_c/Lib/real.pas"},
                               {{"drive_c/a.pas", "b.pas"}, {"drive_c/b.pas", "Lib/real.pas"}},
                               "C:\\a.pas",
                               true,
                               "drive_c/Lib/real.pas",
                               "new"},
                      LinkCase{"Dangling",
                               {"drive_c/Shared/", "drive_c/Lib/"},
                               {{"drive_c/Lib/a.pas", "../Shared/new.pas"}},
                               "C:\\Lib\\a.pas",
                               true,
                               "drive_c/Shared/new.pas",
                               "new"},
                      LinkCase{"DanglingChain",
                               {"drive_c/Lib/"},
                               {{"drive_c/a.pas", "b.pas"}, {"drive_c/b.pas", "Lib/c.pas"}},
                               "C:\\a.pas",
                               true,
                               "drive_c/Lib/c.pas",
                               "new"},
                      LinkCase{"ToReadOnlyFile",
                               {"drive_c/Lib/real.pas"},
                               {{"drive_c/Lib/a.pas", "real.pas"}},
                               "C:\\Lib\\a.pas",
                               false,
                               "drive_c/Lib/real.pas",
                               "old",
                               0444},
                      LinkCase{"ToAFolder",
                               {"drive_c/Lib/inside.txt"},
                               {{"drive_c/a.pas", "Lib"}},
                               "C:\\a.pas",
                               false,
                               "drive_c/Lib",
                               std::nullopt},
                      LinkCase{"OfAnotherUser",
                               {"drive_c/Lib/real.pas"},
                               {{"drive_c/Lib/a.pas", "real.pas"}},
                               "C:\\Lib\\a.pas",
                               false,
                               "drive_c/Lib/real.pas",
                               "old",
                               0,
                               "drive_c/Lib/a.pas"},
                      LinkCase{"ChainThroughAnotherUsersLink",
                               {"drive_c/Lib/real.pas"},
                               {{"drive_c/a.pas", "b.pas"}, {"drive_c/b.pas", "Lib/real.pas"}},
                               "C:\\a.pas",
                               false,
                               "drive_c/Lib/real.pas",
                               "old",
                               0,
                               "drive_c/b.pas"},
                      LinkCase{"DanglingOfAnotherUser",
                               {"drive_c/Lib/"},
                               {{"drive_c/a.pas", "Lib/new.pas"}},
                               "C:\\a.pas",
                               false,
                               "drive_c/Lib/new.pas",
                               std::nullopt,
                               0,
                               "drive_c/a.pas"},
                      // Links of another user on the way to the target, not at it: at a parent
                      // folder, at the target's folder, and inside the text of a trusted link.
                      LinkCase{"ParentFolderOfAnotherUser",
                               {"drive_c/Real/Lib/a.pas"},
                               {{"drive_c/Up", "Real"}},
                               "C:\\Up\\Lib\\a.pas",
                               false,
                               "drive_c/Real/Lib/a.pas",
                               "old",
                               0,
                               "drive_c/Up"},
                      LinkCase{"TargetFolderOfAnotherUser",
                               {"drive_c/Real/a.pas"},
                               {{"drive_c/Lib", "Real"}},
                               "C:\\Lib\\a.pas",
                               false,
                               "drive_c/Real/a.pas",
                               "old",
                               0,
                               "drive_c/Lib"},
                      LinkCase{"OwnLinkThroughAnotherUsersFolderLink",
                               {"drive_c/Real/real.pas"},
                               {{"drive_c/Via", "Real"}, {"drive_c/a.pas", "Via/real.pas"}},
                               "C:\\a.pas",
                               false,
                               "drive_c/Real/real.pas",
                               "old",
                               0,
                               "drive_c/Via"},
                      LinkCase{"DanglingIntoAMissingFolder",
                               {},
                               {{"drive_c/a.pas", "Nope/x.pas"}},
                               "C:\\a.pas",
                               false,
                               "drive_c/Nope/x.pas",
                               std::nullopt}),
    [](const auto& info) { return info.param.name; });

// A folder that another user's link replaces during a turn: the files already headed there keep
// going to the folder that was reached (held open), and a later turn refuses the link. Nothing is
// written through it.
TEST(OutputFile, FolderSwappedForAnotherUsersLinkIsNotWrittenThrough) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/Lib/", "drive_c/Victim/"});
  fs::create_symlink("Victim", prefix.DriveC() / "planted");
  if (::lchown((prefix.DriveC() / "planted").c_str(), kOtherUser, kOtherGroup) != 0) {
    GTEST_SKIP() << "giving a link to another user needs root";
  }
  {
    FolderListingScope scope;
    ASSERT_TRUE(WriteThrough("C:\\Lib\\a.pas", "a"));
    fs::rename(prefix.DriveC() / "Lib", prefix.DriveC() / "Moved");
    fs::rename(prefix.DriveC() / "planted", prefix.DriveC() / "Lib");
    EXPECT_TRUE(WriteThrough("C:\\Lib\\b.pas", "b"));
  }
  EXPECT_FALSE(OutputFile::CreateFor("C:\\Lib\\c.pas", OutputKind::Rebuildable).has_value());
  EXPECT_EQ(NamesIn(prefix.DriveC() / "Moved"), (std::vector<std::string>{"a.pas", "b.pas"}));
  EXPECT_EQ(NamesIn(prefix.DriveC() / "Victim"), std::vector<std::string>{});
}

// The names made for temporary files are the ones the sweep of stale files knows, and differ.
TEST(TemporaryName, HasTheShapeThatTheSweepTakes) {
  for (const std::uint32_t process : {0u, 0x4d2u, 0xffffffffu}) {
    EXPECT_EQ(ProcessOfTemporaryName(std::string_view(TemporaryName(process))), process);
  }
  EXPECT_NE(TemporaryName(1), TemporaryName(1));
}

// Kept out of the table: listing a folder with a loop of links fails.
TEST(OutputFile, LoopOfLinksGivesNothing) {
  TestWinePrefix prefix;
  fs::create_symlink("b.pas", prefix.DriveC() / "a.pas");
  fs::create_symlink("a.pas", prefix.DriveC() / "b.pas");
  EXPECT_FALSE(OutputFile::CreateFor("C:\\a.pas", OutputKind::Rebuildable).has_value());
  EXPECT_EQ(NamesIn(prefix.DriveC()), (std::vector<std::string>{"a.pas", "b.pas"}));
  EXPECT_EQ(fs::read_symlink(prefix.DriveC() / "a.pas"), "b.pas");
}

struct CannotCreateCase {
  const char* name;
  std::string target;
};
void PrintTo(const CannotCreateCase& c, std::ostream* os) {
  *os << c.name;
}

class OutputFileCannotCreateTest : public ::testing::TestWithParam<CannotCreateCase> {};

TEST_P(OutputFileCannotCreateTest, GivesNothing) {
  TestWinePrefix prefix;
  prefix.Populate({"drive_c/file"});
  const auto before = prefix.Tree();
  EXPECT_FALSE(OutputFile::CreateFor(GetParam().target, OutputKind::Rebuildable).has_value());
  EXPECT_EQ(prefix.Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputFileCannotCreateTest,
                         ::testing::Values(CannotCreateCase{"MissingFolder", "C:\\Nope\\a.pas"},
                                           CannotCreateCase{"MissingDrive", "Q:\\a.pas"},
                                           CannotCreateCase{"BelowAFile", "C:\\file\\a.pas"},
                                           CannotCreateCase{"FolderText", "C:\\Lib\\"},
                                           CannotCreateCase{"Empty", ""}),
                         [](const auto& info) { return info.param.name; });

// Limits the size of files this process may write, for the life of the object.
class ScopedFileSizeLimit {
public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    previousHandler_ = std::signal(SIGXFSZ, SIG_IGN); // report EFBIG instead of ending the process
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousHandler_);
  }
  ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
  ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
  rlimit previous_{};
  void (*previousHandler_)(int) = nullptr;
};

TEST(OutputFile, ShortWriteIsAFailure) {
  test::TempDir dir;
  auto file = OutputFile::CreateFor((dir / "big.bin").string(), OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  const std::string block(10000, 'b');
  {
    ScopedFileSizeLimit limit(4096);
    // The first write call takes 4096 bytes; the rest is refused.
    EXPECT_FALSE(file->Write(block.data(), block.size()));
  }
  EXPECT_TRUE(file->Commit());
  EXPECT_EQ(test::ReadFile(dir / "big.bin").size(), 4096u);
}

TEST(OutputFile, WriteUpToTheLimitSucceeds) {
  test::TempDir dir;
  auto file = OutputFile::CreateFor((dir / "fits.bin").string(), OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  const std::string block(4096, 'b');
  ScopedFileSizeLimit limit(4096);
  EXPECT_TRUE(file->Write(block.data(), block.size()));
  EXPECT_FALSE(file->Write("c", 1));
}

constexpr std::uint32_t Packed(std::uint32_t year, std::uint32_t month, std::uint32_t day,
                               std::uint32_t hour, std::uint32_t minute, std::uint32_t second) {
  return ((year - 1980) << 9 | month << 5 | day) << 16 | (hour << 11 | minute << 5 | second / 2);
}

struct PackedCase {
  const char* name;
  std::uint32_t packed;
  bool valid;
  std::time_t utc; // the moment under TZ=UTC0 when valid
};
void PrintTo(const PackedCase& c, std::ostream* os) {
  *os << c.name;
}

class SetLastWriteTimeTest : public ::testing::TestWithParam<PackedCase> {};

TEST_P(SetLastWriteTimeTest, SetsValidTimesOnly) {
  ScopedEnvironmentVariable zone("TZ", std::string("UTC0"));
  test::TempDir dir;
  const auto target = dir / "t.bin";
  auto file = OutputFile::CreateFor(target.string(), OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  ASSERT_EQ(file->SetLastWriteTime(Packed(2000, 5, 25, 0, 31, 32)), 0u);
  const std::uint32_t result = file->SetLastWriteTime(GetParam().packed);
  EXPECT_EQ(result == 0, GetParam().valid) << result;
  ASSERT_TRUE(file->Commit());
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, GetParam().valid ? GetParam().utc : 959214692);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetLastWriteTimeTest,
    ::testing::Values(
        PackedCase{"Zero", 0, false, 0},
        PackedCase{"MonthZero", Packed(2001, 0, 1, 0, 0, 0), false, 0},
        PackedCase{"DayZero", Packed(2001, 1, 0, 0, 0, 0), false, 0},
        PackedCase{"Month13", Packed(2001, 13, 1, 0, 0, 0), false, 0},
        PackedCase{"February30", Packed(2000, 2, 30, 0, 0, 0), false, 0},
        PackedCase{"February29NoLeapYear", Packed(2001, 2, 29, 0, 0, 0), false, 0},
        PackedCase{"April31", Packed(2001, 4, 31, 0, 0, 0), false, 0},
        PackedCase{"Hour24", Packed(2001, 1, 1, 24, 0, 0), false, 0},
        PackedCase{"Minute60", Packed(2001, 1, 1, 0, 60, 0), false, 0},
        PackedCase{"Second60", Packed(2001, 1, 1, 0, 0, 60), false, 0},
        // Worked out with date(1) under TZ=UTC0.
        PackedCase{"February29LeapYear", Packed(2000, 2, 29, 12, 0, 0), true, 951825600},
        PackedCase{"LastOfTheField", Packed(2107, 12, 31, 23, 59, 58), true, 4354819198},
        PackedCase{"FirstOfTheField", Packed(1980, 1, 1, 0, 0, 0), true, 315532800}),
    [](const auto& info) { return info.param.name; });

TEST(OutputFile, NothingWorksAfterCommit) {
  test::TempDir dir;
  auto file = OutputFile::CreateFor((dir / "once").string(), OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->Commit());
  EXPECT_FALSE(file->Write("x", 1));
  EXPECT_NE(file->SetLastWriteTime(Packed(2000, 1, 1, 0, 0, 0)), 0u);
  EXPECT_FALSE(file->Commit());
  EXPECT_EQ(test::ReadFile(dir / "once"), "");
}

TEST(OutputFile, CloseThenCommit) {
  test::TempDir dir;
  test::WriteFile(dir / "target", "old");
  auto file = OutputFile::CreateFor((dir / "target").string(), OutputKind::Rebuildable);
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->Write("new", 3));
  ASSERT_TRUE(file->Close());
  EXPECT_FALSE(file->Close()) << "closing twice";
  EXPECT_FALSE(file->Write("x", 1)) << "writing after close";
  EXPECT_EQ(test::ReadFile(dir / "target"), "old") << "closing alone replaces nothing";
  ASSERT_TRUE(file->Commit());
  EXPECT_EQ(test::ReadFile(dir / "target"), "new");
  EXPECT_EQ(NamesIn(dir.Path()), std::vector<std::string>{"target"});
}

// Only a user record is flushed, and before it takes the target's name: a new target is not there
// yet (an unnamed file is linked in), an old one still holds the old text (a temporary name).
struct FlushCase {
  const char* name;
  OutputKind kind;
  bool targetExists;
  bool flushed;
};
class OutputFileFlushTest : public ::testing::TestWithParam<FlushCase> {};
fs::path flushTarget;
std::optional<std::string> atFlush; // the target's text when the flush was done, "" for none

TEST_P(OutputFileFlushTest, OnlyAUserRecordIsFlushedBeforeItTakesTheName) {
  const FlushCase& c = GetParam();
  test::TempDir dir;
  flushTarget = dir / "target";
  if (c.targetExists) {
    test::WriteFile(flushTarget, "old");
  }
  atFlush.reset();
  testing::CallAfterNextOutputFileFlush(
      +[] { atFlush = fs::exists(flushTarget) ? test::ReadFile(flushTarget) : ""; });
  auto file = OutputFile::CreateForNative(flushTarget.string(), c.kind);
  EXPECT_TRUE(file && file->Write("new", 3) && file->Commit());
  testing::CallAfterNextOutputFileFlush(nullptr);
  EXPECT_EQ(atFlush.has_value(), c.flushed);
  EXPECT_EQ(atFlush.value_or(c.targetExists ? "old" : ""), c.targetExists ? "old" : "");
  EXPECT_EQ(test::ReadFile(flushTarget), "new");
}
INSTANTIATE_TEST_SUITE_P(
    Kinds, OutputFileFlushTest,
    ::testing::Values(FlushCase{"NewEntry", OutputKind::Rebuildable, false, false},
                      FlushCase{"OldEntry", OutputKind::Rebuildable, true, false},
                      FlushCase{"NewRecord", OutputKind::UserRecord, false, true},
                      FlushCase{"OldRecord", OutputKind::UserRecord, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OutputFile, MovedFileKeepsWorking) {
  test::TempDir dir;
  test::WriteFile(dir / "first", "old");
  test::WriteFile(dir / "second", "old");
  auto first = OutputFile::CreateFor((dir / "first").string(), OutputKind::Rebuildable);
  auto second = OutputFile::CreateFor((dir / "second").string(), OutputKind::Rebuildable);
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(second.has_value());

  OutputFile moved = std::move(*first);
  EXPECT_FALSE(first->Write("x", 1)) << "a moved-from file holds nothing";
  EXPECT_FALSE(first->Commit());

  // Assigning over a file drops that file: its target keeps the old content.
  moved = std::move(*second);
  ASSERT_TRUE(moved.Write("2", 1));
  ASSERT_TRUE(moved.Commit());
  EXPECT_EQ(NamesIn(dir.Path()), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(test::ReadFile(dir / "second"), "2");
}

// ---------------------------------------------------------------------------------------------
// RemoveInstalledFile, RemoveInstalledFolder: nothing below the base is reached through a link.

struct RemovalCase {
  const char* name;
  std::vector<std::string> present;                       // files hold "content"
  std::vector<std::pair<std::string, std::string>> links; // link below the prefix, link text
  std::string base;
  std::string relative;
  bool folder; // RemoveInstalledFolder, else RemoveInstalledFile with a check of the content
  RemovalOutcome expected;
  std::vector<std::string> gone = {}; // below the prefix: what the removal takes
  std::string edited = {};            // this file holds other content
};
void PrintTo(const RemovalCase& c, std::ostream* os) {
  *os << c.name;
}

using enum RemovalOutcome;

class InstalledRemovalTest : public ::testing::TestWithParam<RemovalCase> {};

TEST_P(InstalledRemovalTest, RemovesOnlyWhatIsBelowTheBase) {
  const RemovalCase& c = GetParam();
  for (const bool listed : {false, true}) {
    TestWinePrefix prefix;
    prefix.Populate(c.present);
    for (const auto& [link, text] : c.links) {
      fs::create_symlink(text, prefix.Path() / link);
    }
    if (!c.edited.empty()) {
      test::WriteFile(prefix.Path() / c.edited, "edited");
    }
    auto expected = prefix.Tree();
    for (const std::string& gone : c.gone) {
      expected.erase(gone);
    }
    std::optional<FolderListingScope> scope;
    if (listed) {
      scope.emplace();
      NativePath(c.base + "\\" + c.relative); // the listings on the way read before
    }
    const auto same = [](std::span<const unsigned char> content) {
      return std::string(content.begin(), content.end()) == "content";
    };
    const RemovalResult result = c.folder ? RemoveInstalledFolder(c.base, c.relative)
                                          : RemoveInstalledFile(c.base, c.relative, same);
    EXPECT_EQ(result.outcome, c.expected) << result.detail << (listed ? " (with listings)" : "");
    EXPECT_EQ(prefix.Tree(), expected) << (listed ? "with listings" : "without listings");
    if (listed) {
      EXPECT_EQ(PathExists(c.base + "\\" + c.relative),
                c.expected != Removed && c.expected != Missing)
          << "listing kept current";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstalledRemovalTest,
    ::testing::Values(
        RemovalCase{"Removed",
                    {"drive_c/Lib/Src/a.pas"},
                    {},
                    "C:\\Lib",
                    "Src\\a.pas",
                    false,
                    Removed,
                    {"drive_c/Lib/Src/a.pas"}},
        RemovalCase{"OtherLetterCaseOnDisk",
                    {"drive_c/Lib/source/A.pas"},
                    {},
                    "C:\\LIB",
                    "Source\\a.pas",
                    false,
                    Removed,
                    {"drive_c/Lib/source/A.pas"}},
        RemovalCase{"BaseReachedThroughTheUsersLink",
                    {"drive_c/Lib/a.pas"},
                    {{"drive_c/Linked", "Lib"}},
                    "C:\\Linked",
                    "a.pas",
                    false,
                    Removed,
                    {"drive_c/Lib/a.pas"}},
        RemovalCase{"Missing", {"drive_c/Lib/Src/"}, {}, "C:\\Lib", "Src\\a.pas", false, Missing},
        RemovalCase{
            "MissingFolderOnTheWay", {"drive_c/Lib/"}, {}, "C:\\Lib", "Src\\a.pas", false, Missing},
        RemovalCase{"Changed",
                    {"drive_c/Lib/a.pas"},
                    {},
                    "C:\\Lib",
                    "a.pas",
                    false,
                    Changed,
                    {},
                    "drive_c/Lib/a.pas"},
        RemovalCase{"FileIsALink",
                    {"drive_c/Lib/", "drive_c/Else/a.pas"},
                    {{"drive_c/Lib/a.pas", "../Else/a.pas"}},
                    "C:\\Lib",
                    "a.pas",
                    false,
                    Link},
        RemovalCase{"FolderOnTheWayIsALink",
                    {"drive_c/Lib/", "drive_c/Else/a.pas"},
                    {{"drive_c/Lib/Src", "../Else"}},
                    "C:\\Lib",
                    "Src\\a.pas",
                    false,
                    Link},
        RemovalCase{"NoWayAbove",
                    {"drive_c/a.pas", "drive_c/Lib/"},
                    {},
                    "C:\\Lib",
                    "..\\a.pas",
                    false,
                    Failed},
        RemovalCase{"EmptyFolder",
                    {"drive_c/Lib/Src/"},
                    {},
                    "C:\\Lib",
                    "SRC",
                    true,
                    Removed,
                    {"drive_c/Lib/Src/"}},
        RemovalCase{"BaseItselfEmpty",
                    {"drive_c/Lib/"},
                    {},
                    "C:\\Lib",
                    "",
                    true,
                    Removed,
                    {"drive_c/Lib/"}},
        RemovalCase{
            "FolderNotEmpty", {"drive_c/Lib/Src/a.pas"}, {}, "C:\\Lib", "Src", true, NotEmpty},
        RemovalCase{"LinkWhereTheFolderWas",
                    {"drive_c/Lib/", "drive_c/Else/"},
                    {{"drive_c/Lib/Src", "../Else"}},
                    "C:\\Lib",
                    "Src",
                    true,
                    Link},
        RemovalCase{"BaseItselfALink",
                    {"drive_c/Else/"},
                    {{"drive_c/Lib", "Else"}},
                    "C:\\Lib",
                    "",
                    true,
                    Link},
        RemovalCase{"MissingFolder", {"drive_c/Lib/"}, {}, "C:\\Lib", "Src", true, Missing}),
    [](const auto& info) { return info.param.name; });

// A folder of the tree swapped back and forth for the user's own link to a copy of it while its
// files are removed one by one: every removal either takes a file of the tree or leaves it, and
// nothing of the copy goes. QUILLET_REMOVAL_RACE_FILES sets the number of files (2,000).
class InstalledRemovalRaceTest : public ::testing::TestWithParam<bool> {};

TEST_P(InstalledRemovalRaceTest, NothingReachedThroughTheSwappedLinkGoes) {
  const char* count = std::getenv("QUILLET_REMOVAL_RACE_FILES");
  const int files = count != nullptr ? std::atoi(count) : 2000;
  TestWinePrefix prefix;
  const fs::path tree = prefix.DriveC() / "Lib" / "Tree", copy = prefix.DriveC() / "Copy";
  fs::create_directories(tree);
  fs::create_directories(copy);
  for (int i = 0; i < files; ++i) {
    test::WriteFile(tree / ("f" + std::to_string(i)), "same");
    test::WriteFile(copy / ("f" + std::to_string(i)), "same");
  }
  std::atomic<bool> done = false;
  std::thread swapper([&] {
    const fs::path real = prefix.DriveC() / "Lib" / "Real";
    while (!done) {
      fs::rename(tree, real);
      fs::create_directory_symlink(copy, tree);
      fs::remove(tree);
      fs::rename(real, tree);
    }
  });
  std::map<RemovalOutcome, int> outcomes;
  {
    std::optional<FolderListingScope> scope;
    if (GetParam()) {
      scope.emplace();
    }
    for (int i = 0; i < files; ++i) {
      ++outcomes[RemoveInstalledFile("C:\\Lib", "Tree\\f" + std::to_string(i), [](auto content) {
                   return std::string(content.begin(), content.end()) == "same";
                 }).outcome];
    }
  }
  done = true;
  swapper.join();
  std::cout << "removed " << outcomes[Removed] << ", link " << outcomes[Link] << ", missing "
            << outcomes[Missing] << " of " << files << "\n";
  EXPECT_EQ(NamesIn(copy).size(), static_cast<std::size_t>(files));
  EXPECT_EQ(outcomes[Removed] + outcomes[Link] + outcomes[Missing], files);
  EXPECT_EQ(NamesIn(tree).size(), static_cast<std::size_t>(files - outcomes[Removed]));
}

INSTANTIATE_TEST_SUITE_P(Listings, InstalledRemovalRaceTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Listed" : "Unlisted"; });

// ---------------------------------------------------------------------------------------------
// NamedLock: a lock of the same name (in any letter case) in another process is not taken, one
// of another name is; a link in place of the lock folder is never followed.

struct NamedLockCase {
  const char* name;
  std::string other; // the name another process locks
  bool otherTakes;
  bool linkedFolder = false; // the lock folder is a link to another folder
};

class NamedLockTest : public ::testing::TestWithParam<NamedLockCase> {};

TEST_P(NamedLockTest, OnePerName) {
  TestWinePrefix prefix;
  if (GetParam().linkedFolder) {
    prefix.Populate({"elsewhere/"});
    fs::create_directory_symlink(prefix.Path() / "elsewhere", prefix.Path() / ".quillet-locks");
  }
  NamedLock held("Tallowmere");
  ASSERT_TRUE(held.TryTake());
  EXPECT_EQ(held.Held(), !GetParam().linkedFolder);
  const pid_t child = ::fork();
  if (child == 0) {
    NamedLock other(GetParam().other);
    ::_exit(other.TryTake() && other.Held() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WIFEXITED(status) && WEXITSTATUS(status) == 0, GetParam().otherTakes);
  if (GetParam().linkedFolder) {
    EXPECT_EQ(NamesIn(prefix.Path() / "elsewhere"), std::vector<std::string>{});
  } else {
    EXPECT_EQ(ModeOf(prefix.Path() / ".quillet-locks") & 0777, 0700u);
  }
}

INSTANTIATE_TEST_SUITE_P(Names, NamedLockTest,
                         ::testing::Values(NamedLockCase{"SameName", "Tallowmere", false},
                                           NamedLockCase{"OtherLetterCase", "TALLOWMERE", false},
                                           NamedLockCase{"OtherName", "Tallowmere2", true},
                                           NamedLockCase{"LinkedFolder", "Tallowmere", false,
                                                         true}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillet::platform
