// quillet-pack as a package author runs it: build, list, test and attach, and its messages for
// bad input.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Installer/RunInstaller.h"
#include "Package/EntryContent.h"
#include "Package/PackageWriter.h"
#include "Package/RecordCheck.h"
#include "tests/support/RegisteredIdes.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

using test::PackPath;
using test::ReadFile;
using test::RunProgram;
using test::TempDir;
using test::WriteFile;

// Runs quillet-pack with standard error joined to standard output, as a user sees them.
test::ProgramResult Pack(const std::vector<std::string>& arguments) {
  std::vector<std::string> shell{"-c", "exec \"$0\" \"$@\" 2>&1", PackPath()};
  shell.insert(shell.end(), arguments.begin(), arguments.end());
  return RunProgram("/bin/sh", shell);
}

std::string Binary(std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() % 7 == 0 ? random() : 'a' + random() % 4);
  }
  return bytes;
}

// A small component: sources in folders, a readme, welcome and patch texts, and a manifest.
class PackerProject : public ::testing::Test {
protected:
  void SetUp() override {
    files_ = {
        {"src/Widgets.pas", "unit Widgets;\r\ninterface\r\nimplementation\r\nend.\r\n"},
        {"src/Widgets.dfm", Binary(20000, 1)},
        {"src/ext/Grid.pas", std::string(300000, 'g') + "end."},
        {"src/ext/Empty.inc", ""},
        {"docs/readme.html", "<html><body>Widgets</body></html>"},
    };
    for (const auto& [path, content] : files_) {
      WriteFile(dir_ / path, content);
    }
    WriteFile(dir_ / "welcome.txt", "Welcome to Widgets 2.0!\r\n");
    WriteFile(dir_ / "patch.txt", "{ Widgets 2.0 }\r\n");
  }

  std::string Manifest(const std::string& extra = "timestamp = 2026-01-15T10:30:00\n") {
    const auto path = dir_ / "widgets.toml";
    WriteFile(path, "name = 'Widgets'\nversion = '2.0'\n"
                    "default-folder = '%Delphi%Components\\Widgets\\'\n"
                    "welcome-file = 'welcome.txt'\npatch-file = 'patch.txt'\n" +
                        extra +
                        "[[entry]]\nsource = 'src/'\nfolder = '%zel_root%Source'\n"
                        "prepend-patch = true\n"
                        "[[entry]]\nsource = 'docs/*.html'\n");
    return path.string();
  }

  std::string Out(const std::string& name) const { return (dir_ / name).string(); }

  TempDir dir_;
  std::vector<std::pair<std::string, std::string>> files_;
};

TEST_F(PackerProject, BuildListTestRoundTrip) {
  const auto built = Pack({"build", Manifest(), "-o", Out("widgets.qpk")});
  ASSERT_EQ(built.status, 0) << built.output;
  // The count is the package's own, codepage.txt, identity.txt and package.crc included, as list
  // and test count.
  EXPECT_NE(built.output.find(" bytes, 10 entries, "), std::string::npos) << built.output;
  EXPECT_NE(built.output.find("widgets.qpk: package of "), std::string::npos) << built.output;
  // The layout summary: each target folder with its number of files.
  EXPECT_NE(built.output.find("\n  %zel_root%Source      2 files\n"
                              "  %zel_root%Source\\ext  2 files\n"
                              "  %zel_root%.           1 file\n"),
            std::string::npos)
      << built.output;

  const auto listed = RunProgram(PackPath(), {"list", Out("widgets.qpk")});
  EXPECT_EQ(listed.status, 0);
  for (const char* line :
       {"Name: Widgets\nVersion: 2.0\nDefault folder: %Delphi%Components\\Widgets\\\n", "--",
        "welcome.txt\n", "patchinfo.txt\n",
        "2026-01-15 10:30:00  %zel_root%Source      Widgets.pas\n",
        "%zel_root%Source\\ext  Grid.pas\n", "%zel_root%.           readme.html\n"}) {
    EXPECT_NE(listed.output.find(line), std::string::npos) << line << "\n" << listed.output;
  }
  EXPECT_NE(listed.output.find("  IP  "), std::string::npos) << listed.output;

  const auto tested = RunProgram(PackPath(), {"test", Out("widgets.qpk")});
  EXPECT_EQ(tested.status, 0) << tested.output;
  EXPECT_NE(tested.output.find(": 10 entries tested, 10 OK, 0 failed\n"), std::string::npos)
      << tested.output;

  // Every source comes back byte for byte through the installer's reader.
  const std::string image = ReadFile(dir_ / "widgets.qpk");
  PackageLayout layout;
  ASSERT_TRUE(
      ValidatePackage(reinterpret_cast<const std::uint8_t*>(image.data()), image.size(), layout));
  EXPECT_EQ(ExtractEntry(layout, "welcome.txt").bytes, "Welcome to Widgets 2.0!\r\n");
  EXPECT_EQ(ExtractEntry(layout, "patchinfo.txt").bytes, "{ Widgets 2.0 }\r\n");
  for (const auto& [path, content] : files_) {
    const std::string name = std::filesystem::path(path).filename().string();
    const EntryContent extracted = ExtractEntry(layout, name);
    EXPECT_EQ(extracted.status, EntryStatus::Content) << path;
    EXPECT_EQ(extracted.bytes, content) << path;
  }
  EXPECT_EQ(layout.HeaderEntryCount(), 10u);
  EXPECT_EQ(ExtractEntry(layout, "codepage.txt").bytes, "1252\r\n");
  EXPECT_EQ(ExtractEntry(layout, "identity.txt").bytes, "name=Widgets\r\nversion=2.0\r\n");
  EXPECT_EQ(CheckPackageRecords(layout), RecordCheck::Match);

  // A record changed after the build: the entry checksums still pass, the record check does not.
  std::string changed = image;
  changed[header_field::DEFAULT_FOLDER + 1] ^= 0x20;
  WriteFile(dir_ / "changed.qpk", changed);
  const auto retested = RunProgram(PackPath(), {"test", Out("changed.qpk")});
  EXPECT_EQ(retested.status, 1);
  EXPECT_NE(retested.output.find("Problem     the header or the records do not match"),
            std::string::npos)
      << retested.output;
}

TEST_F(PackerProject, OneJobAndFourJobsWriteTheSameBytes) {
  // With file times as well as with a fixed timestamp: the same inputs give the same package.
  for (const std::string extra : {"timestamp = 2026-01-15T10:30:00\n", ""}) {
    const std::string manifest = Manifest(extra);
    ASSERT_EQ(Pack({"build", manifest, "-o", Out("one.qpk"), "--jobs", "1", "-q"}).status, 0);
    ASSERT_EQ(Pack({"build", manifest, "-o", Out("four.qpk"), "--jobs", "4", "-q"}).status, 0);
    ASSERT_EQ(Pack({"build", manifest, "-o", Out("again.qpk"), "-q"}).status, 0);
    EXPECT_EQ(ReadFile(dir_ / "one.qpk"), ReadFile(dir_ / "four.qpk")) << extra;
    EXPECT_EQ(ReadFile(dir_ / "one.qpk"), ReadFile(dir_ / "again.qpk")) << extra;
  }
}

TEST_F(PackerProject, LevelChangesTheStreamsNotTheContent) {
  ASSERT_EQ(Pack({"build", Manifest(), "-o", Out("fast.qpk"), "--level", "1", "-q"}).status, 0);
  ASSERT_EQ(Pack({"build", Manifest(), "-o", Out("best.qpk"), "-q"}).status, 0);
  EXPECT_NE(ReadFile(dir_ / "fast.qpk"), ReadFile(dir_ / "best.qpk"));
  EXPECT_EQ(RunProgram(PackPath(), {"test", Out("fast.qpk")}).status, 0);
}

TEST_F(PackerProject, QuietBuildPrintsNothing) {
  const auto built = Pack({"build", Manifest(), "-o", Out("widgets.qpk"), "--quiet"});
  EXPECT_EQ(built.status, 0);
  EXPECT_EQ(built.output, "");
}

// The self-extracting installer runs with its appended package and shows its welcome text.
TEST_F(PackerProject, AttachedInstallerRunsWithItsPackageAndWelcomeEntry) {
  ASSERT_EQ(Pack({"build", Manifest(), "-o", Out("widgets.qpk"), "-q"}).status, 0);
  const auto attached = Pack({"attach", test::SfxPath(), Out("widgets.qpk"), "-o", Out("setup")});
  ASSERT_EQ(attached.status, 0) << attached.output;
  EXPECT_EQ(ReadFile(dir_ / "setup"), ReadFile(test::SfxPath()) + ReadFile(dir_ / "widgets.qpk"));

  // An empty Wine prefix: no IDE is registered, so the run is welcome text and final prompt.
  test::ProgramOptions options;
  options.input = "\n";
  options.environment["WINEPREFIX"] = (dir_ / "empty-prefix").string();
  const auto run = RunProgram(Out("setup"), {}, options);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, std::string(PRODUCT_BANNER) + "\r\n\r\nWelcome to Widgets 2.0!\r\n\r\n" +
                            std::string(FINAL_PROMPT) + "\r\n");

  const auto listed = RunProgram(PackPath(), {"list", Out("setup")});
  EXPECT_EQ(listed.status, 0);
  EXPECT_NE(listed.output.find(": installer with a package of "), std::string::npos);
  EXPECT_NE(listed.output.find("  welcome.txt\n"), std::string::npos) << listed.output;
  EXPECT_EQ(RunProgram(PackPath(), {"test", Out("setup")}).status, 0);
}

// The author's download address reaches the installer's message for a missing package.
TEST_F(PackerProject, AttachSetsTheDownloadAddress) {
  ASSERT_EQ(Pack({"build", Manifest(), "-o", Out("widgets.qpk"), "-q"}).status, 0);
  const std::string url = "https://example.org/widgets/latest";
  const auto attached = Pack(
      {"attach", test::SfxPath(), Out("widgets.qpk"), "-o", Out("setup"), "--download-url", url});
  ASSERT_EQ(attached.status, 0) << attached.output;
  EXPECT_EQ(attached.output.find("warning"), std::string::npos) << attached.output;
  // Without an address the author hears where users will be sent.
  const auto plain = Pack({"attach", test::SfxPath(), Out("widgets.qpk"), "-o", Out("plain")});
  EXPECT_EQ(plain.status, 0);
  EXPECT_NE(plain.output.find("warning: " + Out("plain") + ": no --download-url given; " +
                              "when its package is damaged, the installer tells users to " +
                              "download it from the address the installer carries, by default " +
                              std::string(DOWNLOAD_ADDRESS)),
            std::string::npos)
      << plain.output;
  const auto run = RunProgram(Out("setup"), {Out("no-such.qpk")});
  EXPECT_EQ(run.status, EXIT_NO_PACKAGE);
  EXPECT_NE(run.output.find(std::string(ABSENT_PACKAGE_MESSAGE) + url + "\r\n"), std::string::npos)
      << run.output;
  EXPECT_EQ(RunProgram(PackPath(), {"test", Out("setup")}).status, 0);

  const auto refused = Pack({"attach", test::SfxPath(), Out("widgets.qpk"), "-o", Out("long"),
                             "--download-url", "https://" + std::string(250, 'x')});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("download address of 258 bytes: the installer's field holds at "
                                "most 255"),
            std::string::npos)
      << refused.output;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "long"));
}

// --- Installing what the packer built
// -------------------------------------------------------------

struct FreshFolderCase {
  const char* name;
  std::string entries; // the manifest's [[entry]] tables
  // Files as they lie below the package root after installation, in package order.
  std::vector<std::pair<std::string, std::string>> installed;
};

void PrintTo(const FreshFolderCase& c, std::ostream* out) {
  *out << c.name;
}

class PackerInstallTest : public ::testing::TestWithParam<FreshFolderCase> {};

// Entries in the package root and in folders below it, with the entry folder left to its default
// '%zel_root%' or written out, install into a package root and an IDE root that do not exist yet:
// whichever entry comes first creates the folders it needs.
TEST_P(PackerInstallTest, EveryEntryLandsInAFreshFolder) {
  const FreshFolderCase& c = GetParam();
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> sources = {
      {"src/Widgets.pas", "unit Widgets;"},   {"src/ext/Grid.pas", "unit Grid;"},
      {"src/ext/deep/Cell.inc", "{ cell }"},  {"docs/readme.txt", "Read me."},
      {"docs/50%/odd.txt", "percent folder"}, {"lib/sub/Only.pas", "unit Only;"}};
  for (const auto& [path, content] : sources) {
    WriteFile(dir / path, content);
  }
  WriteFile(dir / "m.toml", "name = 'W'\ndefault-folder = '%Delphi%Components\\Widgets'\n"
                            "timestamp = 2026-01-15T10:30:00\n" +
                                c.entries);
  const auto built = Pack({"build", (dir / "m.toml").string(), "-o", (dir / "p.qpk").string()});
  ASSERT_EQ(built.status, 0) << built.output;
  const auto attached =
      Pack({"attach", test::SfxPath(), (dir / "p.qpk").string(), "-o", (dir / "setup").string()});
  ASSERT_EQ(attached.status, 0) << attached.output;

  const std::filesystem::path driveC =
      test::MakeWinePrefix(dir / "prefix", {{"Delphi", "7.0", test::RegText("C:\\IDE\\D7")}});
  const std::filesystem::path root = driveC / "IDE" / "D7" / "Components" / "Widgets";
  ASSERT_FALSE(std::filesystem::exists(driveC / "IDE"));
  test::ProgramOptions options;
  options.input = "\n"; // the proposed folder
  options.environment["WINEPREFIX"] = (dir / "prefix").string();
  options.environment["DISPLAY"] = std::nullopt;
  options.environment["WAYLAND_DISPLAY"] = std::nullopt;
  const auto run = RunProgram((dir / "setup").string(), {}, options);

  EXPECT_EQ(run.status, 0) << run.output;
  std::string lines;
  for (const auto& [path, content] : c.installed) {
    lines += "Installing " + std::filesystem::path(path).filename().string() + " .. OK\r\n";
    EXPECT_EQ(ReadFile(root / path), content) << path;
  }
  EXPECT_NE(run.output.find(lines), std::string::npos) << run.output;
  std::size_t files = 0;
  for (const auto& item : std::filesystem::recursive_directory_iterator(driveC / "IDE")) {
    files += item.is_regular_file() ? 1 : 0;
  }
  // The entries and the install record of the package named "W".
  EXPECT_TRUE(std::filesystem::exists(root / "W.Borland-Delphi-7.0.quillet-record"));
  EXPECT_EQ(files, c.installed.size() + 1) << "no file elsewhere";
}

INSTANTIATE_TEST_SUITE_P(Manifests, PackerInstallTest,
                         ::testing::Values(
                             FreshFolderCase{
                                 "RootLevelFileFirst",
                                 "[[entry]]\nsource = ['src/**/*.pas', 'src/**/*.inc', 'docs/*']\n",
                                 {{"Widgets.pas", "unit Widgets;"},
                                  {"ext/Grid.pas", "unit Grid;"},
                                  {"ext/deep/Cell.inc", "{ cell }"},
                                  {"50%/odd.txt", "percent folder"},
                                  {"readme.txt", "Read me."}}},
                             FreshFolderCase{"SubfolderFirst",
                                             "[[entry]]\nsource = 'lib/'\nfolder = '%zel_root%'\n"
                                             "[[entry]]\nsource = ['docs/readme.txt', 'src/ext']\n",
                                             {{"sub/Only.pas", "unit Only;"},
                                              {"readme.txt", "Read me."},
                                              {"ext/Grid.pas", "unit Grid;"},
                                              {"ext/deep/Cell.inc", "{ cell }"}}}),
                         [](const auto& info) { return info.param.name; });

// --- Bad input ----------------------------------------------------------------------------------

struct BadInputCase {
  const char* name;
  // Prepares the folder and gives the arguments; "@" in an argument stands for the folder.
  void (*prepare)(const std::filesystem::path& dir);
  std::vector<std::string> arguments;
  std::string message; // expected in the output, "@" standing for the folder
};

class PackerBadInputTest : public ::testing::TestWithParam<BadInputCase> {};

std::string InFolder(std::string text, const std::filesystem::path& dir) {
  for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
    text.replace(at, 1, dir.string());
    at += dir.string().size();
  }
  return text;
}

TEST_P(PackerBadInputTest, FailsWithAMessageNamingTheFile) {
  TempDir dir;
  GetParam().prepare(dir.Path());
  std::vector<std::string> arguments;
  for (const std::string& argument : GetParam().arguments) {
    arguments.push_back(InFolder(argument, dir.Path()));
  }
  const auto result = Pack(arguments);
  EXPECT_EQ(result.status, 1) << result.output;
  EXPECT_NE(result.output.find("quillet-pack: " + InFolder(GetParam().message, dir.Path())),
            std::string::npos)
      << result.output;
  EXPECT_FALSE(std::filesystem::exists(dir / "out")) << "a failed command left its output";
}

void Manifest(const std::filesystem::path& dir, const std::string& entries) {
  WriteFile(dir / "m.toml", "name = 'W'\ndefault-folder = 'd'\n" + entries);
}

std::string DamagedPackage() {
  PackageContents contents;
  contents.defaultFolder = "d";
  contents.entries.push_back(MakeStoredEntry("%zel_root%", "a.pas", "unit a;"));
  contents.entries.back().stored[10] ^= 0x40;
  return SerializePackage(contents);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PackerBadInputTest,
    ::testing::Values(
        BadInputCase{"MissingSourceFile",
                     [](const auto& dir) { Manifest(dir, "[[entry]]\nsource = 'src/Gone.pas'\n"); },
                     {"build", "@/m.toml", "-o", "@/out"},
                     "@/m.toml:3: source @/src/Gone.pas: no such file or folder"},
        BadInputCase{"FileNameLongerThan255",
                     [](const auto& dir) {
                       WriteFile(dir / (std::string(130, '%') + ".pas"), "x");
                       Manifest(dir, "[[entry]]\nsource = '*.pas'\n");
                     },
                     {"build", "@/m.toml", "-o", "@/out"},
                     "@/" + std::string(130, '%') + ".pas: file name is longer than 255 bytes"},
        BadInputCase{
            "TemplateLongerThan255",
            [](const auto& dir) {
              WriteFile(dir / "a.pas", "x");
              Manifest(dir,
                       "[[entry]]\nsource = 'a.pas'\nfolder = '" + std::string(256, 'f') + "'\n");
            },
            {"build", "@/m.toml", "-o", "@/out"},
            "@/a.pas: folder template '" + std::string(256, 'f') + "' is longer than 255 bytes"},
        BadInputCase{"ManifestSyntaxError",
                     [](const auto& dir) { Manifest(dir, "\n[[entry]]\nsource = 'a.pas\n"); },
                     {"build", "@/m.toml", "-o", "@/out"},
                     "@/m.toml:5: "},
        BadInputCase{
            "ManifestUnknownKey",
            [](const auto& dir) { Manifest(dir, "[[entry]]\nsource = 'a.pas'\ninstal = true\n"); },
            {"build", "@/m.toml", "-o", "@/out"},
            "@/m.toml:5: unknown key 'instal' in [[entry]]"},
        BadInputCase{"ManifestMissing",
                     [](const auto&) {},
                     {"build", "@/none.toml", "-o", "@/out"},
                     "@/none.toml: cannot read the manifest: no such file"},
        BadInputCase{"ListFileWithoutPackage",
                     [](const auto& dir) { WriteFile(dir / "notes.txt", std::string(2000, 'n')); },
                     {"list", "@/notes.txt"},
                     "@/notes.txt: holds no package (no package trailer at the end of the file)"},
        BadInputCase{"TestFileWithoutPackage",
                     [](const auto& dir) { WriteFile(dir / "empty.qpk", ""); },
                     {"test", "@/empty.qpk"},
                     "@/empty.qpk: empty file, holds no package"},
        BadInputCase{"TestDamagedEntry",
                     [](const auto& dir) { WriteFile(dir / "p.qpk", DamagedPackage()); },
                     {"test", "@/p.qpk"},
                     "@/p.qpk: the package failed its test"},
        BadInputCase{"AttachWithoutPackage",
                     [](const auto& dir) {
                       WriteFile(dir / "sfx", std::string(3000, 's'));
                       WriteFile(dir / "p.qpk", std::string(3000, 'p'));
                     },
                     {"attach", "@/sfx", "@/p.qpk", "-o", "@/out"},
                     "@/p.qpk: holds no package"},
        BadInputCase{"AttachMissingInstaller",
                     [](const auto& dir) {
                       PackageContents contents;
                       contents.defaultFolder = "d";
                       contents.entries.push_back(MakeStoredEntry("", "a", "a"));
                       WriteFile(dir / "p.qpk", SerializePackage(contents));
                     },
                     {"attach", "@/sfx", "@/p.qpk", "-o", "@/out"},
                     "@/sfx: no such file"}),
    [](const auto& info) { return info.param.name; });

TEST(PackerTest, DamagedEntryIsNamedInTheTestReport) {
  TempDir dir;
  WriteFile(dir / "p.qpk", DamagedPackage());
  const auto result = RunProgram(PackPath(), {"test", (dir / "p.qpk").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.output.find("CRC Error   %zel_root%\\a.pas\n"), std::string::npos)
      << result.output;
  EXPECT_NE(result.output.find(": 1 entries tested, 0 OK, 1 failed\n"), std::string::npos)
      << result.output;
}

} // namespace
} // namespace quillet
