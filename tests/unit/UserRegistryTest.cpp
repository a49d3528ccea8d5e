// Library folders written into a Wine prefix's user.reg (only the changed value's bytes differ),
// and values read from it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "Installer/IdeDiscovery.h"
#include "Installer/LibraryPaths.h"
#include "Package/PackageIdes.h"
#include "Platform/Shell.h"
#include "Platform/Testing.h"
#include "Platform/UserRegistry.h"
#include "tests/support/WinePrefixFixture.h"

namespace quillet {
namespace {

using platform::UserListOutcome;

const std::string HEAD = "WINE REGISTRY Version 2\n;; All keys relative to "
                         "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n";
const std::string LIBRARY =
    "[Software\\\\Embarcadero\\\\BDS\\\\23.0\\\\Library\\\\Win32] 1700000001\n"
    "#time=1da0000000000\n";
const std::string TAIL = "\n[Software\\\\Wine] 1700000002\n\"Version\"=\"win10\"\n";
const std::string KEY = "Software\\Embarcadero\\BDS\\23.0\\Library\\Win32";
// Wine writes the C++ key before the Library key (here in other capitals than the target's): the
// IDEs of 2009 on have both.
const std::string CPP = "[Software\\\\Embarcadero\\\\BDS\\\\23.0\\\\C++\\\\PATHS\\\\Win32] 1\n";
const std::string CPP_KEY = "Software\\Embarcadero\\BDS\\23.0\\C++\\Paths\\Win32";

std::string WithSearchPath(const std::string& list) {
  return HEAD + LIBRARY + "\"Search Path\"=\"" + list + "\"\n" + TAIL;
}

TEST(UserRegistry, AppendsToTheValueAndKeepsEveryOtherByte) {
  const struct {
    const char* name;
    std::string before;
    std::vector<platform::UserListTarget> targets;
    const char* folder;
    UserListOutcome outcome;
    std::string after; // empty: unchanged
  } rows[] = {
      {"Append",
       HEAD + LIBRARY + "\"Search Path\"=\"$(BDSLIB);C:\\\\J\\xe4ger\"\n" + TAIL,
       {{KEY, "Search Path"}},
       "C:\\Lib\\Source",
       UserListOutcome::Changed,
       HEAD + LIBRARY + "\"Search Path\"=\"$(BDSLIB);C:\\\\J\\xe4ger;C:\\\\Lib\\\\Source\"\n" +
           TAIL},
      {"AlreadyThere",
       HEAD + LIBRARY + "\"Search Path\"=\"X\"\n\"search path\"=\"c:\\\\lib\\\\source\\\\\"\n" +
           TAIL,
       {{KEY, "Search Path"}},
       "C:\\Lib\\Source",
       UserListOutcome::Present,
       ""},
      {"NewValueEndsTheSection",
       HEAD + LIBRARY + "\"Browsing Path\"=\"x\"\n" + TAIL,
       {{KEY, "Search Path"}},
       "Z:\\\"\xc4\xf0\xa0\x80\x80", // U+20000 takes two UTF-16 units
       UserListOutcome::Changed,
       HEAD + LIBRARY +
           "\"Browsing Path\"=\"x\"\n\"Search Path\"=\"Z:\\\\\\\"\\x00c4\\xd840\\xdc00\"\n" + TAIL},
      {"ExpandString",
       HEAD + LIBRARY + "\"Search Path\"=str(2):\"A;\"\n" + TAIL,
       {{KEY, "Search Path"}},
       "B",
       UserListOutcome::Changed,
       HEAD + LIBRARY + "\"Search Path\"=str(2):\"A;B\"\n" + TAIL},
      {"KeyMissing", HEAD + TAIL, {{KEY, "Search Path"}}, "B", UserListOutcome::KeyMissing, ""},
      {"OptionalKeyMissing",
       HEAD + LIBRARY + "\"Search Path\"=\"A\"\n" + TAIL,
       {{KEY, "Search Path"}, {KEY + "\\Other", "LibraryPath", false}},
       "B",
       UserListOutcome::Changed,
       HEAD + LIBRARY + "\"Search Path\"=\"A;B\"\n" + TAIL},
      {"NotText",
       HEAD + LIBRARY + "\"Search Path\"=hex:41,00\n" + TAIL,
       {{KEY, "Search Path"}},
       "B",
       UserListOutcome::Failed,
       ""},
      {"TwoValuesInOneCall",
       HEAD + CPP + "\"LibraryPath\"=\"$(BDSLIB)\"\n" + LIBRARY +
           "\"Search Path\"=\"$(BDSLIB)\"\n" + TAIL,
       {{KEY, "Search Path"}, {CPP_KEY, "LibraryPath", false}},
       "C:\\Lib",
       UserListOutcome::Changed,
       HEAD + CPP + "\"LibraryPath\"=\"$(BDSLIB);C:\\\\Lib\"\n" + LIBRARY +
           "\"Search Path\"=\"$(BDSLIB);C:\\\\Lib\"\n" + TAIL},
      {"SecondKeyMissingChangesNothing",
       HEAD + LIBRARY + "\"Search Path\"=\"A\"\n" + TAIL,
       {{KEY, "Search Path"}, {KEY + "\\Other", "LibraryPath"}},
       "B",
       UserListOutcome::KeyMissing,
       ""},
  };
  for (const auto& row : rows) {
    const test::TestWinePrefix prefix;
    test::WriteFile(prefix.Path() / "user.reg", row.before);
    EXPECT_EQ(platform::AddToUserLists(row.targets, row.folder).outcome, row.outcome) << row.name;
    EXPECT_EQ(test::ReadFile(prefix.Path() / "user.reg"),
              row.after.empty() ? row.before : row.after)
        << row.name;
  }
}

// An entry replaced or removed in place, whatever its position; the other bytes stay.
TEST(UserRegistry, ChangesAnEntryInPlace) {
  const struct {
    std::string before; // the escaped data of Search Path
    const char* folder;
    UserListOutcome outcome;
    std::string after; // empty: unchanged
  } rows[] = {
      {"C:\\\\J\\xe4ger;OLD;B", "NEW", UserListOutcome::Changed, "C:\\\\J\\xe4ger;NEW;B"},
      {"OLD;B", "NEW", UserListOutcome::Changed, "NEW;B"},
      {"A;OLD", "NEW", UserListOutcome::Changed, "A;NEW"},
      {"A; old\\\\ ;B", "NEW", UserListOutcome::Changed, "A;NEW;B"},
      {"A;OLD;B", "", UserListOutcome::Changed, "A;B"},
      {"OLD;B", "", UserListOutcome::Changed, "B"},
      {"A;OLD", "", UserListOutcome::Changed, "A"},
      {"OLD", "", UserListOutcome::Changed, ""},
      {"A;OLD;new", "NEW", UserListOutcome::Changed, "A;new"},
      {"A", "NEW", UserListOutcome::Changed, "A;NEW"},
      {"A", "", UserListOutcome::Present, ""},
      {"X\"\n\"Search Path\"=\"A;OLD", "NEW", UserListOutcome::Changed,
       "X\"\n\"Search Path\"=\"A;NEW"},
  };
  for (const auto& row : rows) {
    const test::TestWinePrefix prefix;
    test::WriteFile(prefix.Path() / "user.reg", WithSearchPath(row.before));
    EXPECT_EQ(platform::ChangeUserLists({{KEY, "Search Path"}}, row.folder, "OLD").outcome,
              row.outcome)
        << row.before;
    const bool unchanged = row.after.empty() && row.outcome == UserListOutcome::Present;
    EXPECT_EQ(test::ReadFile(prefix.Path() / "user.reg"),
              WithSearchPath(unchanged ? row.before : row.after))
        << row.before;
  }
}

// Values of the installer's own keys: set (the key made when missing), read back, removed (the
// key with its last value, unless a subkey stands below it).
TEST(UserRegistry, SetsAndRemovesTextsOfItsOwnKeys) {
  const std::string OWN = "Software\\Quillet\\Installed\\P";
  const std::string SECTION = "[Software\\\\Quillet\\\\Installed\\\\P] 1\n#time=1\n";
  const std::string SUBKEY = "\n[Software\\\\Quillet\\\\Installed\\\\P\\\\Sub] 1\n";
  const struct {
    const char* name;
    std::string before;
    const char* text; // nullptr: remove the value
    UserListOutcome outcome;
    std::string after;
  } rows[] = {
      {"Replace", HEAD + SECTION + "\"a\"=\"0\"\n\"B\"=\"1\"\n" + TAIL, "2", UserListOutcome::Changed,
       HEAD + SECTION + "\"A\"=\"2\"\n\"B\"=\"1\"\n" + TAIL},
      {"Same", HEAD + SECTION + "\"A\"=\"2\"\n" + TAIL, "2", UserListOutcome::Present,
       HEAD + SECTION + "\"A\"=\"2\"\n" + TAIL},
      {"ExpandableBecomesText", HEAD + SECTION + "\"A\"=str(2):\"2\"\n", "2",
       UserListOutcome::Changed, HEAD + SECTION + "\"A\"=\"2\"\n"},
      {"CrLfKept", "[Software\\\\Quillet\\\\Installed\\\\P] 1\r\n\"B\"=\"1\"\r\n", "2",
       UserListOutcome::Changed,
       "[Software\\\\Quillet\\\\Installed\\\\P] 1\r\n\"B\"=\"1\"\r\n\"A\"=\"2\"\r\n"},
      {"RemoveOne", HEAD + SECTION + "\"A\"=\"0\"\n\"B\"=\"1\"\n\"A\"=hex:00,\\\n  01\n" + TAIL,
       nullptr, UserListOutcome::Changed, HEAD + SECTION + "\"B\"=\"1\"\n" + TAIL},
      {"RemoveKey", HEAD + "\n" + SECTION + "\"A\"=\"0\"\n" + TAIL, nullptr, UserListOutcome::Changed,
       HEAD + TAIL},
      {"RemoveLastKey", HEAD + TAIL + "\n" + SECTION + "\"A\"=\"0\"\n", nullptr,
       UserListOutcome::Changed, HEAD + TAIL},
      {"KeepKeyWithSubkey", HEAD + SECTION + "\"A\"=\"0\"\n" + SUBKEY, nullptr,
       UserListOutcome::Changed, HEAD + SECTION + SUBKEY},
      {"RemoveAbsent", HEAD + SECTION + "\"B\"=\"0\"\n", nullptr, UserListOutcome::Present,
       HEAD + SECTION + "\"B\"=\"0\"\n"},
  };
  for (const auto& row : rows) {
    const test::TestWinePrefix prefix;
    test::WriteFile(prefix.Path() / "user.reg", row.before);
    EXPECT_EQ(
        (row.text ? platform::SetUserText(OWN, "A", row.text) : platform::RemoveUserValue(OWN, "A"))
            .outcome,
        row.outcome)
        << row.name;
    EXPECT_EQ(test::ReadFile(prefix.Path() / "user.reg"), row.after) << row.name;
  }

  // Keys above that Wine wrote sections for go with the last value, as far as asked and empty.
  {
    const test::TestWinePrefix prefix;
    const std::string above = "\n[Software\\\\Quillet] 1\n#time=1\n\n[Software\\\\Quillet\\\\"
                              "Installed] 1\n#time=1\n";
    test::WriteFile(prefix.Path() / "user.reg",
                    HEAD + above + "\n" + SECTION + "\"A\"=\"0\"\n" + TAIL);
    EXPECT_EQ(platform::RemoveUserValue(OWN, "A", 2).outcome, UserListOutcome::Changed);
    EXPECT_EQ(test::ReadFile(prefix.Path() / "user.reg"), HEAD + TAIL);
  }

  // A missing key is made at the end, as Wine writes one; the last line of a name wins in its
  // first line's place, and data that is no text is passed over.
  const test::TestWinePrefix prefix;
  test::WriteFile(prefix.Path() / "user.reg", HEAD + TAIL);
  ASSERT_EQ(platform::SetUserText(OWN + "\\[\xc3\xa4]", "A", "C:\\\"\xc3\xa4").outcome,
            UserListOutcome::Changed);
  const std::string after = test::ReadFile(prefix.Path() / "user.reg");
  EXPECT_EQ(after.substr(0, HEAD.size() + TAIL.size()), HEAD + TAIL);
  EXPECT_TRUE(std::regex_match(
      after.substr(HEAD.size() + TAIL.size()),
      std::regex(R"(\n\[Software\\\\Quillet\\\\Installed\\\\P\\\\\\\[\\x00e4\\\]\] [0-9]+)"
                 R"(\n#time=[0-9a-f]+\n"A"="C:\\\\\\"\\x00e4"\n)")))
      << after;
  EXPECT_EQ(platform::ReadUserText(OWN + "\\[\xc3\xa4]", "a"), "C:\\\"\xc3\xa4");
  test::WriteFile(prefix.Path() / "user.reg",
                  HEAD + SECTION + "\"A\"=\"1\"\n\"B\"=dword:1\n\"C\"=\"3\"\n\"a\"=\"2\"\n");
  const std::vector<platform::UserTextValue> texts = platform::ReadUserTexts(OWN);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].name + "=" + texts[0].text + ";" + texts[1].name + "=" + texts[1].text,
            "A=2;C=3");
}

// The links of user.reg stay and their destination changes; a file with a second name is left as
// it is; what an installer killed while writing it left beside it goes.
TEST(UserRegistry, KeepsLinksAndRemovesLeftovers) {
  enum class Beside { SymbolicLink, HardLink, Leftover };
  const struct {
    Beside beside;
    const char* other; // user.reg's link, its second name, or the leftover
    UserListOutcome outcome;
  } rows[] = {
      {Beside::SymbolicLink, "user.reg", UserListOutcome::Changed},
      {Beside::HardLink, "backup.reg", UserListOutcome::Failed},
      {Beside::Leftover, "user.reg.quillet-Ab12Cd", UserListOutcome::Changed},
  };
  for (const auto& row : rows) {
    const test::TestWinePrefix prefix;
    const auto file =
        prefix.Path() / (row.beside == Beside::SymbolicLink ? "data" : ".") / "user.reg";
    const auto other = prefix.Path() / row.other;
    test::WriteFile(file, WithSearchPath("A"));
    if (row.beside == Beside::SymbolicLink) {
      std::filesystem::create_symlink("data/user.reg", other);
    } else if (row.beside == Beside::HardLink) {
      std::filesystem::create_hard_link(file, other);
    } else {
      test::WriteFile(other, "half");
    }
    EXPECT_EQ(platform::AddToUserLists({{KEY, "Search Path"}}, "B").outcome, row.outcome)
        << row.other;
    EXPECT_EQ(test::ReadFile(file),
              WithSearchPath(row.outcome == UserListOutcome::Changed ? "A;B" : "A"));
    EXPECT_EQ(std::filesystem::is_symlink(other), row.beside == Beside::SymbolicLink);
    EXPECT_EQ(std::filesystem::exists(other), row.beside != Beside::Leftover) << row.other;
  }
}

// Another installer's lock holds the change back until it lets go; then the change is made to
// the file that installer left, not to the one that was read before.
TEST(UserRegistry, OneEditorAtATime) {
  const test::TestWinePrefix prefix;
  const auto file = prefix.Path() / "user.reg";
  test::WriteFile(file, WithSearchPath("A"));
  const int held = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  auto adding = std::async(std::launch::async, [] {
    return platform::AddToUserLists({{KEY, "Search Path"}}, "B").outcome;
  });
  EXPECT_EQ(adding.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  test::WriteFile(prefix.Path() / "new.reg", WithSearchPath("A;X"));
  std::filesystem::rename(prefix.Path() / "new.reg", file);
  ::close(held);
  EXPECT_EQ(adding.get(), UserListOutcome::Changed);
  EXPECT_EQ(test::ReadFile(file), WithSearchPath("A;X;B"));
}

// A program that writes user.reg without the installers' lock, between the read and the
// replacement, keeps its bytes.
TEST(UserRegistry, ChangedWhileEditedIsLeftAlone) {
  static const test::TestWinePrefix* prefix = nullptr;
  const test::TestWinePrefix owner;
  prefix = &owner;
  test::WriteFile(owner.Path() / "user.reg", WithSearchPath("A"));
  platform::testing::CallBeforeNextUserRegistryCheck(
      [] { test::WriteFile(prefix->Path() / "user.reg", WithSearchPath("A;Other")); });
  const auto result = platform::AddToUserLists({{KEY, "Search Path"}}, "B");
  EXPECT_EQ(result.outcome, UserListOutcome::Failed);
  EXPECT_TRUE(result.detail.ends_with("changed while it was edited")) << result.detail;
  EXPECT_EQ(test::ReadFile(owner.Path() / "user.reg"), WithSearchPath("A;Other"));
}

TEST(UserRegistry, ReadsTextValuesAsWineWouldLoadThem) {
  const std::string ENVIRONMENT =
      "[Software\\\\Embarcadero\\\\BDS\\\\23.0\\\\Environment Variables] 1\n";
  const std::string ENVIRONMENT_KEY = "Software\\Embarcadero\\BDS\\23.0\\Environment Variables";
  const struct {
    const char* name;
    std::string file;
    std::optional<std::string> expected;
  } rows[] = {
      {"Text", HEAD + ENVIRONMENT + "\"BDSCOMMONDIR\"=\"D:\\\\Shared\"\n" + TAIL, "D:\\Shared"},
      {"ExpandStringAsStored", HEAD + ENVIRONMENT + "\"bdscommondir\"=str(2):\"%X%\\\\y\"\n" + TAIL,
       "%X%\\y"},
      {"EscapesDecoded", HEAD + ENVIRONMENT + "\"BDSCOMMONDIR\"=\"D:\\\\J\\x00e4ger\"\n" + TAIL,
       "D:\\J\xc3\xa4ger"},
      {"LastLineWins",
       HEAD + ENVIRONMENT + "\"BDSCOMMONDIR\"=\"A\"\n\"BDSCOMMONDIR\"=\"B\"\n" + TAIL, "B"},
      {"NotText", HEAD + ENVIRONMENT + "\"BDSCOMMONDIR\"=dword:00000001\n" + TAIL, std::nullopt},
      {"ValueMissing", HEAD + ENVIRONMENT + "\"Other\"=\"A\"\n" + TAIL, std::nullopt},
      {"KeyMissing", HEAD + TAIL, std::nullopt},
  };
  for (const auto& row : rows) {
    const test::TestWinePrefix prefix;
    test::WriteFile(prefix.Path() / "user.reg", row.file);
    EXPECT_EQ(platform::ReadUserText(ENVIRONMENT_KEY, "BDSCOMMONDIR"), row.expected) << row.name;
  }
}

// A folder the user gave BDSCOMMONDIR in the IDE's environment variables is the shared folder;
// one that names other variables is not taken.
TEST(IdeSharedFolder, TheUsersOwnFolderWins) {
  const std::string shared = platform::PublicDocumentsFolder();
  const struct {
    const char* value;
    std::string expected;
  } rows[] = {
      {"D:\\\\Shared", "D:\\Shared\\"},
      {"$(BDSUSERDIR)\\\\Shared", shared + "\\Embarcadero\\Studio\\23.0\\"},
      {" ", shared + "\\Embarcadero\\Studio\\23.0\\"},
  };
  for (const auto& row : rows) {
    const test::TestWinePrefix prefix;
    test::WriteFile(prefix.Path() / "user.reg",
                    "WINE REGISTRY Version 2\n\n[Software\\\\Embarcadero\\\\BDS\\\\23.0\\\\"
                    "Environment Variables] 1\n\"BDSCOMMONDIR\"=\"" +
                        std::string(row.value) + "\"\n");
    EXPECT_EQ(IdeSharedFolder(IdeInstallation(EMBARCADERO_BDS_BASE_PATH, "23.0", "C:\\IDE\\")),
              row.expected)
        << row.value;
  }
}

} // namespace
} // namespace quillet
