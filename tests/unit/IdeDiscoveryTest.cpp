// IDE discovery against real system.reg files in a temporary Wine prefix.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "Common/Exception.h"
#include "Installer/IdeDiscovery.h"
#include "Platform/Shell.h"
#include "tests/support/TestSupport.h"

namespace quillet {
namespace {

const std::string HEADER = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";

std::string RegFile(const std::string& body, const std::string& arch) {
  return HEADER + "\n#arch=" + arch + "\n" + body;
}

// A version key as a 32-bit IDE registers it in a 64-bit prefix.
std::string Version(const std::string& product, const std::string& version,
                    const std::string& valueLines) {
  return "\n[Software\\\\Wow6432Node\\\\Borland\\\\" + product + "\\\\" + version +
         "] 1796736037\n#time=1d9f2c3e8a1b2c4\n" + valueLines;
}

std::string RootDir(const std::string& escapedText) {
  return "\"RootDir\"=\"" + escapedText + "\"\n";
}

std::string Win64(const std::string& body) {
  return RegFile(body, "win64");
}

class ScopedEnv {
public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

// The RootDir texts of the installations found, in order.
std::vector<std::string> Entries(const std::vector<IdeInstallation>& found) {
  std::vector<std::string> roots;
  for (const IdeInstallation& installation : found) {
    roots.push_back(installation.Root());
  }
  return roots;
}

// The two calls of a run: Delphi first, then C++Builder.
std::vector<std::string> DiscoverAll() {
  std::vector<IdeInstallation> roots;
  DiscoverIdes(roots, DELPHI_BASE_PATH);
  DiscoverIdes(roots, CBUILDER_BASE_PATH);
  return Entries(roots);
}

class IdeDiscoveryTest : public ::testing::Test {
protected:
  void WriteSystemReg(const std::string& content) {
    test::WriteFile(prefix_ / "system.reg", content);
  }

  test::TempDir prefix_;
  ScopedEnv env_{"WINEPREFIX", prefix_.Path().string()};
};

struct DiscoveryCase {
  const char* name;
  std::optional<std::string> systemReg; // nullopt: the prefix has no system.reg
  std::vector<std::string> roots;
};

class IdeDiscoveryCaseTest : public IdeDiscoveryTest,
                             public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(IdeDiscoveryCaseTest, FindsRootsInOrder) {
  if (GetParam().systemReg) {
    WriteSystemReg(*GetParam().systemReg);
  }
  EXPECT_EQ(DiscoverAll(), GetParam().roots);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdeDiscoveryCaseTest,
    ::testing::Values(
        DiscoveryCase{"NoSystemReg", std::nullopt, {}}, DiscoveryCase{"NoKeys", HEADER, {}},
        DiscoveryCase{"OtherBorlandKeysOnly",
                      Win64("[Software\\\\Wow6432Node\\\\Borland\\\\Database Engine]\n"
                            "\"RootDir\"=\"C:\\\\BDE\"\n"),
                      {}},
        DiscoveryCase{"DelphiOnly",
                      Win64(Version("Delphi", "7.0", RootDir("C:\\\\Delphi7"))),
                      {"C:\\Delphi7"}},
        DiscoveryCase{
            "CBuilderOnly", Win64(Version("C++Builder", "6.0", RootDir("C:\\\\CB6"))), {"C:\\CB6"}},
        DiscoveryCase{"DelphiFirstEachGroupSorted",
                      Win64(Version("C++Builder", "6.0", RootDir("CB6")) +
                            Version("Delphi", "7.0", RootDir("D7")) +
                            Version("C++Builder", "5.0", RootDir("CB5")) +
                            Version("Delphi", "4.0", RootDir("D4")) +
                            Version("Delphi", "5.0", RootDir("D5"))),
                      {"D4", "D5", "D7", "CB5", "CB6"}},
        DiscoveryCase{"SortedWithoutCase",
                      Win64(Version("Delphi", "b", RootDir("b")) +
                            Version("Delphi", "C", RootDir("C")) +
                            Version("Delphi", "a", RootDir("a"))),
                      {"a", "b", "C"}},
        DiscoveryCase{"VersionWithoutRootDirSkipped",
                      Win64(Version("Delphi", "5.0", "\"Version\"=\"5\"\n") +
                            Version("Delphi", "6.0", RootDir("D6"))),
                      {"D6"}},
        DiscoveryCase{"EmptyRootDir", Win64(Version("Delphi", "7.0", RootDir(""))), {""}},
        DiscoveryCase{"ExpandTextKeptUnexpanded",
                      Win64(Version("Delphi", "7.0",
                                    "\"RootDir\"=str(2):\"%ProgramFiles%\\\\Borland\\\\D7\"\n")),
                      {"%ProgramFiles%\\Borland\\D7"}},
        DiscoveryCase{"EmbeddedNulInUtf16Data",
                      Win64(Version("Delphi", "7.0",
                                    "\"RootDir\"=hex(1):43,00,3a,00,5c,00,49,00,44,00,45,00,00,00,"
                                    "6d,00,\\\n  6f,00,72,00,65,00,00,00\n")),
                      {"C:\\IDE"}},
        DiscoveryCase{"EmbeddedNulEscape",
                      Win64(Version("Delphi", "7.0", RootDir("C:\\\\IDE\\0more"))),
                      {"C:\\IDE"}},
        DiscoveryCase{"Utf16DataWithoutTerminator",
                      Win64(Version("Delphi", "7.0", "\"RootDir\"=hex(1):43,00,3a,00\n")),
                      {"C:"}},
        DiscoveryCase{"EmptyBinaryGivesEmptyEntry",
                      Win64(Version("Delphi", "7.0", "\"RootDir\"=hex:\n")),
                      {""}},
        DiscoveryCase{"EmptyDwordDataGivesEmptyEntry",
                      Win64(Version("Delphi", "7.0", "\"RootDir\"=hex(4):\n")),
                      {""}},
        DiscoveryCase{"UnreadableDataGivesEmptyEntry",
                      Win64(Version("Delphi", "7.0", "\"RootDir\"=str(3):\"x\"\n")),
                      {""}},
        DiscoveryCase{"DuplicatesKept",
                      Win64(Version("Delphi", "6.0", RootDir("C:\\\\IDE")) +
                            Version("Delphi", "7.0", RootDir("C:\\\\IDE")) +
                            Version("C++Builder", "6.0", RootDir("C:\\\\IDE"))),
                      {"C:\\IDE", "C:\\IDE", "C:\\IDE"}},
        DiscoveryCase{"Win32PrefixAsWritten",
                      RegFile("[Software\\\\Borland\\\\Delphi\\\\7.0]\n" + RootDir("D7"), "win32"),
                      {"D7"}},
        DiscoveryCase{"Win64PrefixReadsWow64Branch",
                      Win64("[Software\\\\Borland\\\\Delphi\\\\7.0]\n" + RootDir("native") +
                            Version("Delphi", "5.0", RootDir("wow"))),
                      {"wow"}},
        // A 64-bit prefix without the 32-bit branch of Software has no 32-bit IDE registered.
        DiscoveryCase{"Win64PrefixWithoutWow64Node",
                      Win64("[Software\\\\Borland\\\\Delphi\\\\7.0]\n" + RootDir("native") +
                            "[Software\\\\Borland\\\\C++Builder\\\\6.0]\n" + RootDir("native")),
                      {}},
        DiscoveryCase{"Win64PrefixWithWow64NodeWithoutBorland",
                      Win64("[Software\\\\Borland\\\\Delphi\\\\7.0]\n" + RootDir("native") +
                            "[Software\\\\Wow6432Node\\\\Other]\n"),
                      {}},
        DiscoveryCase{"NamesInOtherCase",
                      Win64("[software\\\\WOW6432NODE\\\\borland\\\\DELPHI\\\\7.0]\n"
                            "\"rootdir\"=\"D7\"\n"
                            "[SOFTWARE\\\\wow6432node\\\\BORLAND\\\\c++builder\\\\6.0]\n"
                            "\"ROOTDIR\"=\"CB6\"\n"),
                      {"D7", "CB6"}},
        DiscoveryCase{"WineEscapes",
                      Win64(Version("Delphi", "7.0", RootDir("C:\\\\A\\\"B\\\"\\nC\\x44\\x0045"))),
                      {"C:\\A\"B\"\nCDE"}},
        DiscoveryCase{"TrailingBackslashKept",
                      Win64(Version("Delphi", "7.0", RootDir("C:\\\\IDE\\\\"))),
                      {"C:\\IDE\\"}},
        DiscoveryCase{"DeeperKeysNotRead",
                      Win64(Version("Delphi", "7.0", RootDir("D7")) +
                            Version("Delphi", "7.0\\\\Sub", RootDir("sub"))),
                      {"D7"}},
        DiscoveryCase{"LaterSectionAddsRootDir",
                      Win64(Version("Delphi", "7.0", "\"Version\"=\"7\"\n") +
                            Version("C++Builder", "6.0", RootDir("CB6")) +
                            Version("delphi", "7.0", RootDir("D7"))),
                      {"D7", "CB6"}}),
    [](const auto& info) { return info.param.name; });

struct FailureCase {
  const char* name;
  std::string valueLine;
};

class IdeDiscoveryFailureTest : public IdeDiscoveryTest,
                                public ::testing::WithParamInterface<FailureCase> {};

TEST_P(IdeDiscoveryFailureTest, RootDirThatIsNotTextRaises) {
  WriteSystemReg(Win64(Version("Delphi", "5.0", RootDir("D5")) +
                       Version("Delphi", "7.0", GetParam().valueLine)));
  std::vector<IdeInstallation> roots;
  try {
    DiscoverIdes(roots, DELPHI_BASE_PATH);
    FAIL() << "no exception";
  } catch (const ERegistryException& e) {
    EXPECT_STREQ(e.what(), "Invalid data type for 'RootDir'");
    EXPECT_STREQ(e.ClassName(), "ERegistryException");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IdeDiscoveryFailureTest,
    ::testing::Values(FailureCase{"Dword", "\"RootDir\"=dword:00000001\n"},
                      FailureCase{"Binary", "\"RootDir\"=hex:43,3a\n"},
                      FailureCase{"MultiText", "\"RootDir\"=str(7):\"C:\\\\IDE\\0\"\n"},
                      FailureCase{"Utf16MultiText", "\"RootDir\"=hex(7):43,00,00,00,00,00\n"},
                      FailureCase{"OtherType", "\"RootDir\"=hex(5):00,00,00,01\n"}),
    [](const auto& info) { return info.param.name; });

TEST_F(IdeDiscoveryTest, BasePathWithoutLeadingBackslash) {
  WriteSystemReg(Win64(Version("Delphi", "7.0", RootDir("D7"))));
  std::vector<IdeInstallation> roots;
  DiscoverIdes(roots, "Software\\Borland\\Delphi\\");
  EXPECT_EQ(Entries(roots), std::vector<std::string>{"D7"});
}

TEST_F(IdeDiscoveryTest, FileIsReadByEachCall) {
  WriteSystemReg(Win64(Version("Delphi", "7.0", RootDir("D7"))));
  std::vector<IdeInstallation> roots;
  DiscoverIdes(roots, DELPHI_BASE_PATH);
  WriteSystemReg(Win64(Version("Delphi", "5.0", RootDir("D5"))));
  DiscoverIdes(roots, DELPHI_BASE_PATH);
  EXPECT_EQ(Entries(roots), (std::vector<std::string>{"D7", "D5"}));
}

TEST(IdeSharedFolder, PublicDocumentsFolderOfTheVersionOrTheRoot) {
  const std::string root = "C:\\IDE\\";
  const std::string shared = platform::PublicDocumentsFolder();
  const struct {
    std::string_view basePath;
    const char* version;
    std::string expected;
  } rows[] = {
      {DELPHI_BASE_PATH, "7.0", root},
      {BORLAND_BDS_BASE_PATH, "4.0", root},
      {CODEGEAR_BDS_BASE_PATH, "5.0", shared + "\\RAD Studio\\5.0\\"},
      {EMBARCADERO_BDS_BASE_PATH, "12.0", shared + "\\RAD Studio\\12.0\\"},
      {EMBARCADERO_BDS_BASE_PATH, "14.0", shared + "\\Embarcadero\\Studio\\14.0\\"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(IdeSharedFolder(IdeInstallation(row.basePath, row.version, root)), row.expected)
        << row.version;
  }
}

TEST(IdeDiscoveryPrefix, FallsBackToWineInHome) {
  for (const std::optional<std::string>& winePrefix :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    test::TempDir home;
    test::WriteFile(home / ".wine/system.reg", Win64(Version("Delphi", "7.0", RootDir("D7"))));
    const ScopedEnv homeEnv("HOME", home.Path().string());
    const ScopedEnv prefixEnv("WINEPREFIX", winePrefix);
    EXPECT_EQ(DiscoverAll(), std::vector<std::string>{"D7"});
  }
}

} // namespace
} // namespace quillet
