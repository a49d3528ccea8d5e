// Tests of the reader for Wine's system.reg, the registry store on POSIX systems.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Platform/Posix/WineRegistry.h"
#include "Platform/Registry.h"
#include "tests/support/TestSupport.h"

namespace quillet::platform::posix {
namespace {

using namespace std::string_literals;

const std::string HEADER = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n";

std::string RegFile(const std::string& body, const std::string& arch = "") {
  return HEADER + (arch.empty() ? "" : "\n#arch=" + arch + "\n") + "\n" + body;
}

// Sets an environment variable for one test and restores the old state afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* name_;
  std::optional<std::string> old_;
};

// Switches LC_CTYPE for one test, so that conversions of non-ASCII text are defined.
class ScopedCtypeLocale {
public:
  explicit ScopedCtypeLocale(const char* name) {
    old_ = std::setlocale(LC_CTYPE, nullptr);
    active_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~ScopedCtypeLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }
  bool Active() const { return active_; }

private:
  std::string old_;
  bool active_ = false;
};

// ---------------------------------------------------------------------------------------------
// Values: one key, one or more value lines, one query.

struct ValueCase {
  const char* name;
  std::string lines;                 // value lines of section [K]
  std::string query;                 // the value name asked for
  std::optional<std::uint32_t> type; // nullopt: the value does not exist
  std::string data;
};

class WineRegistryValueTest : public ::testing::TestWithParam<ValueCase> {};

TEST_P(WineRegistryValueTest, ParsesValue) {
  const ValueCase& c = GetParam();
  const WineRegistry registry(RegFile("[K] 1\n#time=1d9f2c3e8a1b2c4\n" + c.lines));
  const auto key = registry.FindKey("K", false);
  ASSERT_TRUE(key);
  const auto value = registry.QueryValue(*key, c.query);
  ASSERT_EQ(value.has_value(), c.type.has_value());
  // Existence asked without parsing the data agrees with the full query, malformed data included.
  EXPECT_EQ(registry.HasValue(*key, c.query), c.type.has_value());
  if (c.type) {
    EXPECT_EQ(value->type, *c.type);
    EXPECT_EQ(value->data, c.data);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryValueTest,
    ::testing::Values(
        ValueCase{"Text", "\"A\"=\"text\"", "A", REG_SZ, "text\0"s},
        ValueCase{"EmptyText", "\"A\"=\"\"", "A", REG_SZ, "\0"s},
        ValueCase{"StrTag", "\"A\"=str:\"x\"", "A", REG_SZ, "x\0"s},
        ValueCase{"ExpandText", "\"A\"=str(2):\"%ProgramFiles%\\\\X\"", "A", REG_EXPAND_SZ,
                  "%ProgramFiles%\\X\0"s},
        ValueCase{"MultiText", "\"A\"=str(7):\"one\\0two\\0\"", "A", REG_MULTI_SZ, "one\0two\0\0"s},
        ValueCase{"Dword", "\"A\"=dword:0000000a", "A", REG_DWORD, "\x0a\0\0\0"s},
        ValueCase{"DwordAllBits", "\"A\"=dword:fedcba98", "A", REG_DWORD, "\x98\xba\xdc\xfe"s},
        ValueCase{"DwordWithoutDigits", "\"A\"=dword:", "A", REG_DWORD, "\0\0\0\0"s},
        ValueCase{"Binary", "\"A\"=hex:00,01,ff", "A", REG_BINARY, "\0\x01\xff"s},
        ValueCase{"BinaryEmpty", "\"A\"=hex:", "A", REG_BINARY, ""},
        ValueCase{"BinarySpacedAndUpperCase", "\"A\"=hex: 0A , FF,1", "A", REG_BINARY,
                  "\x0a\xff\x01"s},
        ValueCase{"BinaryContinued", "\"A\"=hex:00,01,\\\n  02,03\n\"B\"=\"b\"", "A", REG_BINARY,
                  "\0\x01\x02\x03"s},
        ValueCase{"BinaryContinuedCrLf", "\"A\"=hex:00,\\\r\n  01,\\  \r\n  02\r\n", "A",
                  REG_BINARY, "\0\x01\x02"s},
        ValueCase{"ContinuationLinesAreNoValues", "\"A\"=hex:00,\\\n\"B\"=\"b\"", "B", std::nullopt,
                  ""},
        ValueCase{"EmptyLineEndsContinuation", "\"A\"=hex:00,\\\n\n\"B\"=\"b\"", "B", REG_SZ,
                  "b\0"s},
        ValueCase{"TypedHex", "\"A\"=hex(4):0a,00,00,00", "A", REG_DWORD, "\x0a\0\0\0"s},
        ValueCase{"UnknownTypeNumber", "\"A\"=hex(123abc):01", "A", 0x123abc, "\x01"s},
        ValueCase{"Utf16Text", "\"A\"=hex(1):43,00,3a,00,00,00", "A", REG_SZ, "C:\0"s},
        ValueCase{"Utf16TextOddByteDropped", "\"A\"=hex(1):41,00,42", "A", REG_SZ, "A"},
        ValueCase{"Utf16TextEmpty", "\"A\"=hex(2):", "A", REG_EXPAND_SZ, ""},
        ValueCase{"Utf16Multi", "\"A\"=hex(7):61,00,00,00,62,00,00,00,00,00", "A", REG_MULTI_SZ,
                  "a\0b\0\0"s},
        ValueCase{"DefaultValue", "@=\"def\"", "", REG_SZ, "def\0"s},
        ValueCase{"QuotedEmptyNameIsDefault", "\"\"=\"def\"", "", REG_SZ, "def\0"s},
        ValueCase{"NameInOtherCase", "\"RootDir\"=\"x\"", "ROOTDIR", REG_SZ, "x\0"s},
        ValueCase{"EscapedName", "\"a\\\"b\\\\c\"=\"x\"", "a\"b\\c", REG_SZ, "x\0"s},
        ValueCase{"SpacesAroundEquals", "\"A\" =\t\"x\"", "A", REG_SZ, "x\0"s},
        ValueCase{"IndentedLine", "   \"A\"=\"x\"", "A", REG_SZ, "x\0"s},
        ValueCase{"TextAfterClosingQuoteIgnored", "\"A\"=\"x\" trailing", "A", REG_SZ, "x\0"s},
        ValueCase{"LaterValueReplaces", "\"A\"=\"one\"\n\"a\"=dword:00000002", "A", REG_DWORD,
                  "\x02\0\0\0"s},
        ValueCase{"OtherName", "\"B\"=\"x\"", "A", std::nullopt, ""},
        ValueCase{"NoEquals", "\"A\" \"x\"", "A", std::nullopt, ""},
        ValueCase{"UnterminatedName", "\"A=\"x\"", "A", std::nullopt, ""},
        ValueCase{"UnterminatedText", "\"A\"=\"abc", "A", REG_NONE, ""},
        ValueCase{"TextEndsInBackslash", "\"A\"=\"abc\\", "A", REG_NONE, ""},
        ValueCase{"UnknownStrType", "\"A\"=str(3):\"x\"", "A", REG_NONE, ""},
        ValueCase{"UnknownTag", "\"A\"=bogus", "A", REG_NONE, ""},
        ValueCase{"NoData", "\"A\"=", "A", REG_NONE, ""},
        ValueCase{"BadHexDigit", "\"A\"=hex:0g", "A", REG_NONE, ""},
        ValueCase{"HexByteTooLarge", "\"A\"=hex:100", "A", REG_NONE, ""},
        ValueCase{"HexTypeWithoutDigits", "\"A\"=hex():00", "A", REG_NONE, ""},
        ValueCase{"HexTypeUnclosed", "\"A\"=hex(1x):00", "A", REG_NONE, ""},
        ValueCase{"HexTypeTooLong", "\"A\"=hex(123456789):00", "A", REG_NONE, ""},
        ValueCase{"ContinuationMissingAtEnd", "\"A\"=hex:00,\\", "A", REG_NONE, ""},
        ValueCase{"ContinuationMissingAfterNewline", "\"A\"=hex:00,\\\n", "A", REG_NONE, ""},
        ValueCase{"TextAfterContinuationMark", "\"A\"=hex:00,\\ 01", "A", REG_NONE, ""},
        ValueCase{"ContinuationIntoSection", "\"A\"=hex:00,\\\n[L]\n", "A", REG_NONE, ""},
        ValueCase{"LaterMalformedValueReplaces", "\"A\"=\"one\"\n\"A\"=\"two", "A", REG_NONE, ""}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// String escapes, in value data and in names.

struct EscapeCase {
  const char* name;
  std::string escaped; // between the quotes of a value
  std::string text;    // the data without its terminator
};

class WineRegistryEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(WineRegistryEscapeTest, DecodesDataAndNames) {
  const ScopedCtypeLocale locale("C.UTF-8");
  if (!locale.Active()) {
    GTEST_SKIP() << "the C.UTF-8 locale is not available";
  }
  const EscapeCase& c = GetParam();
  const WineRegistry registry(
      RegFile("[K\\\\" + c.escaped + "]\n\"" + c.escaped + "\"=\"" + c.escaped + "\"\n"));
  const auto parent = registry.FindKey("K", false);
  ASSERT_TRUE(parent);
  ASSERT_EQ(registry.Subkeys(*parent).size(), 1u);
  const auto key = registry.Subkeys(*parent).front();
  EXPECT_EQ(registry.KeyName(key), c.text);
  const auto value = registry.QueryValue(key, c.text);
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, REG_SZ);
  EXPECT_EQ(value->data, c.text + '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryEscapeTest,
    ::testing::Values(
        EscapeCase{"Plain", "abc", "abc"}, EscapeCase{"Quote", "a\\\"b", "a\"b"},
        EscapeCase{"ClosingBracket", "a\\]b", "a]b"}, EscapeCase{"NewLine", "a\\nb", "a\nb"},
        EscapeCase{"ReturnAndTab", "\\r\\t", "\r\t"},
        EscapeCase{"OtherControls", "\\a\\b\\e\\f\\v", "\a\b\x1b\f\v"},
        EscapeCase{"HexTwoDigits", "\\x41", "A"}, EscapeCase{"HexFourDigits", "\\x0041", "A"},
        EscapeCase{"HexStopsAtFourDigits", "\\x004142", "A42"},
        EscapeCase{"HexStopsAtNonDigit", "\\x41g", "Ag"},
        EscapeCase{"HexWithoutDigits", "\\xg", "xg"},
        // The program's text, UTF-8.
        EscapeCase{"HexAboveAscii", "\\x00e4", "\xc3\xa4"},
        EscapeCase{"HexOutsideLatin1", "\\x20ac", "\xe2\x82\xac"},
        EscapeCase{"CjkCharacter", "\\x65e5", "\xe6\x97\xa5"},
        EscapeCase{"SurrogatePair", "\\xd83d\\xde00", "\xf0\x9f\x98\x80"},
        EscapeCase{"LoneSurrogate", "\\xd83dx", "?x"}, EscapeCase{"OctalThreeDigits", "\\101", "A"},
        EscapeCase{"OctalStopsAtThreeDigits", "\\1012", "A2"},
        EscapeCase{"OctalOneDigit", "a\\7b", "a\ab"}, EscapeCase{"NotOctal", "\\8", "8"},
        EscapeCase{"UnknownEscape", "\\q", "q"},
        EscapeCase{"RawHighBytes", "\xe4\xf6", "\xc3\xa4\xc3\xb6"}),
    [](const auto& info) { return info.param.name; });

TEST(WineRegistryEscapes, NulAndBackslashInData) {
  // A NUL escape stays in the data; a backslash is only a separator in key paths.
  const WineRegistry registry(RegFile("[K]\n\"A\"=\"C:\\\\IDE\\0more\"\n"));
  const auto value = registry.QueryValue(*registry.FindKey("K", false), "A");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->data, "C:\\IDE\0more\0"s);
}

TEST(WineRegistryEscapes, EscapedBackslashInSectionSeparatesKeys) {
  // Four digits at most: "\x005c" is a backslash, the "Z" after it is not part of the escape.
  const WineRegistry registry(RegFile("[A\\x005cZ]\n\"V\"=\"x\"\n"));
  const auto key = registry.FindKey("A\\Z", false);
  ASSERT_TRUE(key);
  EXPECT_TRUE(registry.QueryValue(*key, "V"));
}

// ---------------------------------------------------------------------------------------------
// Keys: file structure, paths, order.

TEST(WineRegistryFile, HeaderIsRequired) {
  const std::string body = "\n[A]\n\"V\"=\"x\"\n";
  struct {
    std::string text;
    bool isRegistry;
  } const cases[] = {
      {"WINE REGISTRY Version 2\n" + body, true},
      {"WINE REGISTRY Version 2\r\n" + body, true},
      {"WINE REGISTRY Version 1\n" + body, false},
      {"\xef\xbb\xbfWINE REGISTRY Version 2\n" + body, false},
      {" WINE REGISTRY Version 2\n" + body, false},
      {body, false},
      {"", false},
  };
  for (const auto& c : cases) {
    const WineRegistry registry(c.text);
    EXPECT_EQ(registry.FindKey("A", false).has_value(), c.isRegistry) << c.text;
  }
}

TEST(WineRegistryFile, ParentsOfSectionsExist) {
  const WineRegistry registry(RegFile("[A\\\\B\\\\C] 1\n\"V\"=\"x\"\n"));
  const auto a = registry.FindKey("A", false);
  ASSERT_TRUE(a);
  EXPECT_EQ(registry.SubkeyNames(*a), std::vector<std::string>{"B"});
  const auto b = registry.FindKey("A\\B", false);
  ASSERT_TRUE(b);
  EXPECT_FALSE(registry.QueryValue(*b, "V"));
  EXPECT_TRUE(registry.QueryValue(*registry.FindKey("A\\B\\C", false), "V"));
  EXPECT_EQ(registry.KeyCount(), 4u);
}

TEST(WineRegistryFile, SectionsOfOneKeyMerge) {
  const WineRegistry registry(
      RegFile("[Soft\\\\K]\n\"A\"=\"1\"\n\"B\"=\"1\"\n[Soft\\\\L]\n\"A\"=\"L\"\n"
              "[SOFT\\\\k]\n\"b\"=\"2\"\n\"C\"=\"3\"\n"));
  const auto key = registry.FindKey("soft\\K", false);
  ASSERT_TRUE(key);
  EXPECT_EQ(registry.KeyName(*key), "K");
  EXPECT_EQ(registry.QueryValue(*key, "A")->data, "1\0"s);
  EXPECT_EQ(registry.QueryValue(*key, "B")->data, "2\0"s);
  EXPECT_EQ(registry.QueryValue(*key, "C")->data, "3\0"s);
  EXPECT_EQ(registry.ValueNames(*key), (std::vector<std::string>{"A", "B", "b", "C"}));
  EXPECT_EQ(registry.SubkeyNames(*registry.FindKey("Soft", false)),
            (std::vector<std::string>{"K", "L"}));
}

TEST(WineRegistryFile, SectionsSharingLeadingText) {
  // Consecutive sections whose paths share text but not whole components stay apart.
  const WineRegistry registry(
      RegFile("[Soft\\\\Delphi]\n[Soft\\\\Delphi7]\n[Soft\\\\Delphi\\\\7.0]\n"
              "[Soft\\\\Del]\n[So]\n[Soft\\\\Delphi7\\\\x]\n[Soft]\n"));
  EXPECT_EQ(registry.SubkeyNames(WineRegistry::ROOT_KEY), (std::vector<std::string>{"So", "Soft"}));
  EXPECT_EQ(registry.SubkeyNames(*registry.FindKey("Soft", false)),
            (std::vector<std::string>{"Del", "Delphi", "Delphi7"}));
  EXPECT_EQ(registry.SubkeyNames(*registry.FindKey("Soft\\Delphi", false)),
            std::vector<std::string>{"7.0"});
  EXPECT_EQ(registry.SubkeyNames(*registry.FindKey("Soft\\Delphi7", false)),
            std::vector<std::string>{"x"});
  EXPECT_EQ(registry.KeyCount(), 8u);
}

TEST(WineRegistryFile, LinesThatAreNoValuesAreIgnored) {
  const WineRegistry registry(RegFile("\"Before\"=\"first section\"\n"
                                      "[K] 1796736037\n"
                                      "#time=1d9f2c3e8a1b2c4\n#class=\"x\"\n#link\n"
                                      ";; comment\n"
                                      "garbage line\n"
                                      "  \t\n"
                                      "  \"A\"=\"x\"\n"
                                      "[Broken\n"
                                      "\"B\"=\"not in K\"\n"
                                      "[\\\\Leading]\n"
                                      "\"C\"=\"not in K\"\n"));
  const auto key = registry.FindKey("K", false);
  ASSERT_TRUE(key);
  EXPECT_EQ(registry.ValueNames(*key), std::vector<std::string>{"A"});
  EXPECT_FALSE(registry.FindKey("Broken", false));
  EXPECT_FALSE(registry.FindKey("Leading", false));
  EXPECT_EQ(registry.SubkeyNames(WineRegistry::ROOT_KEY), std::vector<std::string>{"K"});
  EXPECT_FALSE(registry.QueryValue(WineRegistry::ROOT_KEY, "Before"));
}

TEST(WineRegistryFile, FinalNewlineMakesNoDifference) {
  const std::string body = "[K]\n\"A\"=\"x\"\n\"B\"=hex:01,\\\n  02";
  for (const std::string& text : {RegFile(body), RegFile(body + "\n"), RegFile(body + "\r\n")}) {
    const WineRegistry registry(text);
    const auto key = registry.FindKey("K", false);
    ASSERT_TRUE(key);
    EXPECT_EQ(registry.QueryValue(*key, "A")->data, "x\0"s);
    EXPECT_EQ(registry.QueryValue(*key, "B")->data, "\x01\x02"s);
  }
}

TEST(WineRegistryFile, ContinuationNeverSwallowsASection) {
  const WineRegistry registry(RegFile("[K]\n\"A\"=hex:00,\\\n[L]\n\"B\"=\"b\"\n"));
  const auto key = registry.FindKey("L", false);
  ASSERT_TRUE(key);
  EXPECT_EQ(registry.QueryValue(*key, "B")->data, "b\0"s);
  EXPECT_EQ(registry.QueryValue(*registry.FindKey("K", false), "A")->type, REG_NONE);
}

struct PathCase {
  const char* name;
  std::string path;
  std::optional<std::string> keyName; // nullopt: not found
};

class WineRegistryPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(WineRegistryPathTest, FindsKey) {
  const WineRegistry registry(RegFile("[Software\\\\Borland\\\\Delphi\\\\7.0]\n"));
  const auto key = registry.FindKey(GetParam().path, false);
  ASSERT_EQ(key.has_value(), GetParam().keyName.has_value());
  if (key) {
    EXPECT_EQ(registry.KeyName(*key), *GetParam().keyName);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryPathTest,
    ::testing::Values(PathCase{"Full", "Software\\Borland\\Delphi\\7.0", "7.0"},
                      PathCase{"TrailingBackslash", "Software\\Borland\\Delphi\\", "Delphi"},
                      PathCase{"OtherCase", "SOFTWARE\\borland\\dElPhI", "Delphi"},
                      PathCase{"Empty", "", ""},
                      PathCase{"DoubledSeparator", "Software\\\\Borland", "Borland"},
                      PathCase{"LeadingBackslash", "\\Software", std::nullopt},
                      PathCase{"Missing", "Software\\Embarcadero", std::nullopt},
                      PathCase{"PrefixOfName", "Software\\Borl", std::nullopt},
                      PathCase{"TooDeep", "Software\\Borland\\Delphi\\7.0\\x", std::nullopt}),
    [](const auto& info) { return info.param.name; });

struct OrderCase {
  const char* name;
  std::vector<std::string> inFile;
  std::vector<std::string> enumerated;
};

class WineRegistryOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(WineRegistryOrderTest, EnumeratesSortedWithoutCase) {
  std::string body;
  for (const auto& name : GetParam().inFile) {
    body += "[P\\\\" + name + "]\n";
  }
  const WineRegistry registry(RegFile(body));
  EXPECT_EQ(registry.SubkeyNames(*registry.FindKey("P", false)), GetParam().enumerated);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryOrderTest,
    ::testing::Values(OrderCase{"AlreadySorted", {"4.0", "5.0", "6.0"}, {"4.0", "5.0", "6.0"}},
                      OrderCase{"Reversed", {"7.0", "6.0", "5.0"}, {"5.0", "6.0", "7.0"}},
                      OrderCase{"ByTextNotNumber", {"9.0", "10.0"}, {"10.0", "9.0"}},
                      OrderCase{"MixedCase", {"b", "C", "a"}, {"a", "b", "C"}},
                      // Upper-case folding: "Z" (0x5A) sorts before "_" (0x5F).
                      OrderCase{"UpperCaseFolding", {"a_b", "az"}, {"az", "a_b"}},
                      OrderCase{"SameNameOtherCase", {"Delphi", "DELPHI", "delphi"}, {"Delphi"}}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------------------------
// The view of a 32-bit program.

struct ViewCase {
  const char* name;
  std::string arch;
  bool view32;
  std::string path;
  std::optional<std::string> rootDir; // nullopt: key not found
};

class WineRegistryViewTest : public ::testing::TestWithParam<ViewCase> {};

TEST_P(WineRegistryViewTest, ReadsTheRightBranch) {
  const ViewCase& c = GetParam();
  const WineRegistry registry(RegFile("[Software\\\\Borland\\\\Delphi\\\\7.0]\n"
                                      "\"RootDir\"=\"64-bit view\"\n"
                                      "[Software\\\\OnlyNative]\n"
                                      "\"RootDir\"=\"native only\"\n"
                                      "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\7.0]\n"
                                      "\"RootDir\"=\"32-bit view\"\n",
                                      c.arch));
  EXPECT_EQ(registry.Is64BitPrefix(), c.arch == "win64");
  const auto key = registry.FindKey(c.path, c.view32);
  ASSERT_EQ(key.has_value(), c.rootDir.has_value());
  if (key) {
    EXPECT_EQ(registry.QueryValue(*key, "RootDir")->data, *c.rootDir + '\0');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryViewTest,
    ::testing::Values(
        ViewCase{"Win64Redirects", "win64", true, "Software\\Borland\\Delphi\\7.0", "32-bit view"},
        ViewCase{"Win64OtherCase", "win64", true, "software\\BORLAND\\delphi\\7.0", "32-bit view"},
        ViewCase{"Win64ExplicitNode", "win64", true, "Software\\Wow6432Node\\Borland\\Delphi\\7.0",
                 "32-bit view"},
        ViewCase{"Win64NativeKeyHidden", "win64", true, "Software\\OnlyNative", std::nullopt},
        ViewCase{"Win64NativeView", "win64", false, "Software\\Borland\\Delphi\\7.0",
                 "64-bit view"},
        ViewCase{"Win32AsWritten", "win32", true, "Software\\Borland\\Delphi\\7.0", "64-bit view"},
        ViewCase{"NoArchAsWritten", "", true, "Software\\Borland\\Delphi\\7.0", "64-bit view"},
        ViewCase{"UnknownArchAsWritten", "arm", true, "Software\\OnlyNative", "native only"}),
    [](const auto& info) { return info.param.name; });

TEST(WineRegistryView, EnumeratingSoftwareListsTheWow64Branch) {
  const WineRegistry registry(
      RegFile("[Software\\\\Native]\n[Software\\\\Wow6432Node\\\\Borland]\n", "win64"));
  const auto software = registry.FindKey("Software", true);
  ASSERT_TRUE(software);
  EXPECT_EQ(registry.SubkeyNames(*software), std::vector<std::string>{"Borland"});
  EXPECT_EQ(registry.SubkeyNames(*registry.FindKey("Software", false)),
            (std::vector<std::string>{"Native", "Wow6432Node"}));
}

TEST(WineRegistryView, ArchOptionCountsOnlyBeforeTheFirstSection) {
  // Inside a section a "#" line is an option of that key.
  const WineRegistry registry(
      RegFile("[Software\\\\Wow6432Node\\\\Borland]\n#arch=win64\n[Software\\\\Borland]\n"));
  EXPECT_FALSE(registry.Is64BitPrefix());
  EXPECT_EQ(registry.KeyName(*registry.FindKey("Software\\Borland", true)), "Borland");
  EXPECT_EQ(registry.FindKey("Software\\Borland", true),
            registry.FindKey("Software\\Borland", false));
}

// In a 64-bit prefix the 32-bit view takes Software from Software\\Wow6432Node only; other keys
// are entered through a Wow6432Node branch when they have one, and read as written otherwise.
struct Win64BranchCase {
  const char* name;
  std::string sections;             // section lines of a win64 file
  std::string path;                 // opened in the 32-bit view
  std::optional<std::string> found; // the opened key's "Which" text; nullopt: not found
};

class WineRegistryWin64BranchTest : public ::testing::TestWithParam<Win64BranchCase> {};

TEST_P(WineRegistryWin64BranchTest, OpensThe32BitKey) {
  const Win64BranchCase& c = GetParam();
  const WineRegistry registry(RegFile(c.sections, "win64"));
  const auto key = registry.FindKey(c.path, true);
  ASSERT_EQ(key.has_value(), c.found.has_value());
  if (key) {
    EXPECT_EQ(registry.QueryValue(*key, "Which")->data, *c.found + '\0');
  }
}

const std::string NATIVE_DELPHI = "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"Which\"=\"native\"\n";
const std::string EMPTY_NODE = "[Software\\\\Wow6432Node]\n\"Which\"=\"node\"\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryWin64BranchTest,
    ::testing::Values(
        Win64BranchCase{"NoNodeHidesSoftwareKeys", NATIVE_DELPHI, "Software\\Borland\\Delphi\\7.0",
                        std::nullopt},
        Win64BranchCase{"NoNodeHidesSoftwareItself", NATIVE_DELPHI, "Software", std::nullopt},
        Win64BranchCase{"NoNodeOtherCase", NATIVE_DELPHI, "SOFTWARE\\borland", std::nullopt},
        Win64BranchCase{"EmptyNodeHidesSoftwareKeys", NATIVE_DELPHI + EMPTY_NODE,
                        "Software\\Borland\\Delphi\\7.0", std::nullopt},
        Win64BranchCase{"NodeIsSoftware", NATIVE_DELPHI + EMPTY_NODE, "Software", "node"},
        Win64BranchCase{"ExplicitNode", EMPTY_NODE, "Software\\Wow6432Node", "node"},
        Win64BranchCase{"NodeKeyFound",
                        NATIVE_DELPHI + "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\7.0]\n"
                                        "\"Which\"=\"wow\"\n",
                        "Software\\Borland\\Delphi\\7.0", "wow"},
        // Outside Software a key without a branch reads as written, one with a branch through it.
        Win64BranchCase{"OtherKeyWithoutNode", "[System\\\\Setup]\n\"Which\"=\"system\"\n",
                        "System\\Setup", "system"},
        Win64BranchCase{"OtherKeyWithNode",
                        "[Hardware\\\\K]\n\"Which\"=\"native\"\n"
                        "[Hardware\\\\Wow6432Node\\\\K]\n\"Which\"=\"wow\"\n",
                        "Hardware\\K", "wow"},
        Win64BranchCase{"DeeperSoftwareNotRedirected",
                        "[Other\\\\Software\\\\K]\n\"Which\"=\"deep\"\n", "Other\\Software\\K",
                        "deep"}),
    [](const auto& info) { return info.param.name; });

TEST(WineRegistryView, NativeViewOfWin64FileWithoutNodeReadsAsWritten) {
  const WineRegistry registry(RegFile(NATIVE_DELPHI, "win64"));
  const auto key = registry.FindKey("Software\\Borland\\Delphi\\7.0", false);
  ASSERT_TRUE(key);
  EXPECT_EQ(registry.QueryValue(*key, "Which")->data, "native\0"s);
}

// ---------------------------------------------------------------------------------------------
// Damaged and extreme files.

// A file that uses every construct the reader knows.
std::string RichFile() {
  return RegFile("[Software\\\\Borland\\\\Delphi\\\\7.0] 1796736037\n"
                 "#time=1d9f2c3e8a1b2c4\n"
                 "\"RootDir\"=\"C:\\\\Program Files\\\\Borland\\\\Delphi7\\\\\"\n"
                 "@=\"default \\\"quoted\\\" \\x00e4\\n\"\n"
                 "\"Expand\"=str(2):\"%ProgramFiles%\\\\X\"\n"
                 "\"Multi\"=str(7):\"one\\0two\\0\"\n"
                 "\"Count\"=dword:0000000a\n"
                 "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\n"
                 "  15,16,17\n"
                 "\"Wide\"=hex(1):43,00,3a,00,00,00,78,00\n"
                 "\n"
                 "[Software\\\\Wow6432Node\\\\Borland\\\\C++Builder\\\\6.0] 1796736037\n"
                 "#time=1d9f2c3e8a1b2c4\n"
                 "\"RootDir\"=str(2):\"%ProgramFiles%\\\\CBuilder6\"\n"
                 "\"Other\"=hex(5):00,00,00,01\n"
                 "\n"
                 "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0\\\\Sub\\]x\\x4e2d]\n"
                 "\"RootDir\"=dword:00000001\n",
                 "win64");
}

// Visits every key and every value; gives the paths of all keys.
std::set<std::string> WalkAll(const WineRegistry& registry) {
  std::set<std::string> paths;
  std::vector<std::pair<WineRegistry::KeyId, std::string>> pending{{WineRegistry::ROOT_KEY, ""}};
  while (!pending.empty()) {
    const auto [key, path] = pending.back();
    pending.pop_back();
    paths.insert(path);
    for (const auto& name : registry.ValueNames(key)) {
      EXPECT_TRUE(registry.QueryValue(key, name)) << path << " value " << name;
    }
    registry.QueryValue(key, "RootDir");
    for (const auto child : registry.Subkeys(key)) {
      pending.emplace_back(child, path + "\\" + registry.KeyName(child));
    }
  }
  return paths;
}

// Structural promises that hold for any input: every enumerated subkey is found again by its
// name, and no name appears twice under one key.
void CheckConsistent(const WineRegistry& registry) {
  for (WineRegistry::KeyId key = 0; key < registry.KeyCount(); ++key) {
    const auto& children = registry.Subkeys(key);
    for (std::size_t i = 0; i < children.size(); ++i) {
      const std::string& name = registry.KeyName(children[i]);
      EXPECT_FALSE(name.empty());
      EXPECT_EQ(name.find('\\'), std::string::npos);
      EXPECT_EQ(registry.FindSubkey(key, name), children[i]) << name;
    }
  }
}

TEST(WineRegistryDamage, EveryTruncationParses) {
  const std::string full = RichFile();
  const WineRegistry complete(full);
  const std::set<std::string> allPaths = WalkAll(complete);
  ASSERT_EQ(allPaths.size(), 12u);
  for (std::size_t n = 0; n <= full.size(); ++n) {
    const WineRegistry registry(full.substr(0, n));
    CheckConsistent(registry);
    // A cut never invents a key.
    for (const auto& path : WalkAll(registry)) {
      EXPECT_TRUE(allPaths.count(path)) << "cut at " << n << ": " << path;
    }
  }
}

TEST(WineRegistryDamage, RandomByteChangesParse) {
  const std::string full = RichFile();
  const std::string syntax = "\\\"[]@#=:,()\n\r \txhexdwordstr0179af";
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string text = full;
    const int changes = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < changes; ++i) {
      const std::size_t at = random() % text.size();
      if (random() % 3 == 0) {
        text[at] = static_cast<char>(random() % 256);
      } else {
        text[at] = syntax[random() % syntax.size()];
      }
    }
    const WineRegistry registry(text);
    CheckConsistent(registry);
    WalkAll(registry);
  }
}

TEST(WineRegistryDamage, HugeHexData) {
  constexpr std::size_t BYTES = 300000;
  std::string continued = "\"Blob\"=hex:";
  std::string oneLine = "\"Line\"=hex:";
  for (std::size_t i = 0; i < BYTES; ++i) {
    static const char* const DIGITS = "0123456789abcdef";
    const std::string byte = {DIGITS[(i >> 4) & 0xF], DIGITS[i & 0xF]};
    continued += byte + (i + 1 < BYTES ? (i % 25 == 24 ? ",\\\n  " : ",") : "\n");
    oneLine += byte + (i + 1 < BYTES ? "," : "\n");
  }
  const WineRegistry registry(RegFile("[K]\n" + continued + oneLine + "\"After\"=\"x\"\n"));
  const auto key = registry.FindKey("K", false);
  ASSERT_TRUE(key);
  for (const char* name : {"Blob", "Line"}) {
    const auto value = registry.QueryValue(*key, name);
    ASSERT_TRUE(value);
    ASSERT_EQ(value->data.size(), BYTES);
    EXPECT_EQ(static_cast<unsigned char>(value->data[BYTES - 1]), (BYTES - 1) & 0xFF);
  }
  EXPECT_EQ(registry.ValueNames(*key), (std::vector<std::string>{"Blob", "Line", "After"}));
}

TEST(WineRegistryDamage, DeepAndLongPaths) {
  std::string deep;
  std::string query;
  for (int i = 0; i < 5000; ++i) {
    deep += i ? "\\\\k" : "k";
    query += i ? "\\K" : "K";
  }
  const std::string longName(100000, 'n');
  const WineRegistry registry(RegFile("[" + deep + "]\n\"V\"=\"deep\"\n[" + longName + "]\n" +
                                      std::string(50000, '\\') + "\n"));
  const auto key = registry.FindKey(query, false);
  ASSERT_TRUE(key);
  EXPECT_EQ(registry.QueryValue(*key, "v")->data, "deep\0"s);
  EXPECT_TRUE(registry.FindKey(longName, false));
}

// ---------------------------------------------------------------------------------------------
// Reads limited to scopes: what a query at or below a scope gives, against the whole file.

// The key at `path` and the keys below it, opened as the installer opens them (each by its full
// path), with every value: "-" when the key is not found.
std::string Describe(const WineRegistry& registry, const std::string& path, bool view32,
                     int depth = 3) {
  const auto key = registry.FindKey(path, view32);
  if (!key) {
    return "-";
  }
  std::string text = "{";
  for (const auto& name : registry.ValueNames(*key)) {
    const auto value = registry.QueryValue(*key, name);
    text += name + "=" + std::to_string(value->type) + ":" + value->data + ";";
  }
  for (const auto& name : registry.SubkeyNames(*key)) {
    text +=
        name + (depth > 0 ? Describe(registry, path + "\\" + name, view32, depth - 1) : "") + ",";
  }
  return text + "}";
}

// The RootDir texts of the subkeys of a base key, as IDE discovery collects them: "name=dir".
std::vector<std::string> RootDirs(const WineRegistry& registry, const std::string& base) {
  std::vector<std::string> found;
  const auto key = registry.FindKey(base, true);
  if (!key) {
    return found;
  }
  for (const auto& name : registry.SubkeyNames(*key)) {
    const auto subkey = registry.FindKey(base + name, true);
    if (subkey && registry.HasValue(*subkey, "RootDir")) {
      const auto value = registry.QueryValue(*subkey, "RootDir");
      found.push_back(name + "=" + value->data.substr(0, value->data.find('\0')));
    }
  }
  return found;
}

// Reads `text` limited to `scopes`, handing the reader pieces of every size in `pieces`, and checks
// that each query path answers as the whole file does, in both views.
void ExpectScopedReadsAgree(const std::string& text, const std::vector<std::string>& scopes,
                            const std::vector<std::string>& queries) {
  const WineRegistry whole(text);
  for (const std::size_t piece :
       {std::size_t{1}, std::size_t{2}, std::size_t{7}, std::size_t{64}, SIZE_MAX}) {
    TextBytes bytes(text, piece);
    const WineRegistry scoped(bytes, scopes);
    EXPECT_EQ(scoped.Is64BitPrefix(), whole.Is64BitPrefix()) << "piece " << piece;
    for (const auto& query : queries) {
      ASSERT_TRUE(scoped.Covers(query)) << query;
      for (const bool view32 : {true, false}) {
        EXPECT_EQ(Describe(scoped, query, view32), Describe(whole, query, view32))
            << "piece " << piece << ", " << query << (view32 ? " (32-bit view)" : "");
      }
    }
  }
}

const std::string DELPHI = "Software\\Borland\\Delphi\\";

struct ScopeCase {
  const char* name;
  std::string body;                  // the file after its header
  std::vector<std::string> rootDirs; // what discovery finds below DELPHI in the scoped read
};

class WineRegistryScopeTest : public ::testing::TestWithParam<ScopeCase> {};

TEST_P(WineRegistryScopeTest, KeepsWhatDiscoveryReads) {
  const ScopeCase& c = GetParam();
  const std::string text = HEADER + c.body;
  TextBytes bytes(text);
  const WineRegistry scoped(bytes, {DELPHI});
  EXPECT_EQ(RootDirs(scoped, DELPHI), c.rootDirs);
  EXPECT_EQ(RootDirs(WineRegistry(text), DELPHI), c.rootDirs);
  ExpectScopedReadsAgree(text, {DELPHI}, {DELPHI, DELPHI + "7.0", DELPHI + "7.0\\Sub"});
}

const std::string D7 = "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"C:\\\\D7\"\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, WineRegistryScopeTest,
    ::testing::Values(
        ScopeCase{"Plain", "\n" + D7, {"7.0=C:\\D7"}},
        ScopeCase{"AmongOtherKeys",
                  "[Software\\\\Borland\\\\Database Engine]\n\"A\"=\"x\"\n" + D7 +
                      "[Software\\\\Classes\\\\CLSID\\\\{1}]\n@=\"c\"\n"
                      "[System\\\\Setup]\n\"RootDir\"=\"not an IDE\"\n",
                  {"7.0=C:\\D7"}},
        // A section line ends a hex value's continuation: Wine reads it as a section.
        ScopeCase{"SectionLineInsideContinuation",
                  "[Other]\n\"Blob\"=hex:00,01,\\\n" + D7,
                  {"7.0=C:\\D7"}},
        ScopeCase{"ContinuationIntoDroppedSection",
                  "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"C:\\\\D7\"\n"
                  "\"Blob\"=hex:00,\\\n  [Other]\n\"Blob\"=hex:01\n",
                  {"7.0=C:\\D7"}},
        ScopeCase{"ContinuationLinesKept",
                  "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"Blob\"=hex:00,\\\n  01,\\\n  02\n"
                  "\"RootDir\"=\"C:\\\\D7\"\n",
                  {"7.0=C:\\D7"}},
        // "[" inside a value, even after an escaped line break, starts no section.
        ScopeCase{"SectionTextInsideQuotedValue",
                  D7 + "\"Note\"=\"a\\n[Software\\\\Borland\\\\Delphi\\\\9.0]\"\n"
                       "[Other]\n\"V\"=\"[Software\\\\Borland\\\\Delphi\\\\8.0]\"\n",
                  {"7.0=C:\\D7"}},
        ScopeCase{"KeysSharingLeadingText",
                  "[Software\\\\Borland\\\\Delphi7\\\\7.0]\n\"RootDir\"=\"wrong\"\n"
                  "[Software\\\\Borland\\\\DelphiX]\n\"RootDir\"=\"wrong\"\n" +
                      D7 +
                      "[Software\\\\Borland\\\\Del]\n[Software\\\\BorlandX\\\\Delphi\\\\6.0]\n"
                      "\"RootDir\"=\"wrong\"\n",
                  {"7.0=C:\\D7"}},
        ScopeCase{"BaseKeyInOtherCase",
                  "[SOFTWARE\\\\borland\\\\DELPHI\\\\7.0]\n\"rootdir\"=\"C:\\\\D7\"\n"
                  "[software\\\\BORLAND\\\\delphi\\\\5.0]\n\"RootDir\"=\"C:\\\\D5\"\n",
                  {"5.0=C:\\D5", "7.0=C:\\D7"}},
        ScopeCase{"EscapedComponent",
                  "[Software\\\\Borland\\\\Delph\\x69\\\\7.0]\n\"RootDir\"=\"C:\\\\D7\"\n"
                  "[Software\\\\Borland\\\\Delphi\\\\\\x35.0]\n\"RootDir\"=\"C:\\\\D5\"\n",
                  {"5.0=C:\\D5", "7.0=C:\\D7"}},
        ScopeCase{"IndentedSectionLines",
                  "  \t[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"C:\\\\D7\"\n"
                  " \r[Other]\n\"RootDir\"=\"not D7\"\n",
                  {"7.0=C:\\D7"}},
        ScopeCase{"SectionsOfOneKeyApart",
                  "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"first\"\n"
                  "[Other]\n\"RootDir\"=\"other\"\n"
                  "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"C:\\\\D7\"\n",
                  {"7.0=C:\\D7"}},
        ScopeCase{"MalformedSectionLine",
                  "[Software\\\\Borland\\\\Delphi\\\\6.0\n\"RootDir\"=\"C:\\\\D6\"\n" + D7,
                  {"7.0=C:\\D7"}},
        ScopeCase{"EndsInsideValue", D7 + "\"Blob\"=hex:00,\\", {"7.0=C:\\D7"}},
        ScopeCase{"EndsInsideText",
                  "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"C:\\\\D7",
                  {"7.0="}},
        ScopeCase{
            "EndsInsideSectionLine", D7 + "[Software\\\\Borland\\\\Delphi\\\\8.0", {"7.0=C:\\D7"}},
        ScopeCase{
            "EndsAfterSectionLine", D7 + "[Software\\\\Borland\\\\Delphi\\\\8.0]", {"7.0=C:\\D7"}},
        ScopeCase{"CrLfLines",
                  "\r\n[Other]\r\n\"Blob\"=hex:00,\\\r\n  01\r\n"
                  "[Software\\\\Borland\\\\Delphi\\\\7.0]\r\n\"RootDir\"=\"C:\\\\D7\"\r\n"
                  "\"Blob\"=hex:00,\\\r\n  01\r\n",
                  {"7.0=C:\\D7"}},
        // 64-bit prefixes: the 32-bit view reads the Wow6432Node branches.
        ScopeCase{"Win64Branch",
                  "#arch=win64\n" + D7 +
                      "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0]\n"
                      "\"RootDir\"=\"C:\\\\D5\"\n",
                  {"5.0=C:\\D5"}},
        ScopeCase{"Win64BranchOnlyBesideScope",
                  "#arch=win64\n" + D7 + "[Software\\\\Wow6432Node\\\\Classes\\\\x]\n",
                  {}},
        // A Wow6432Node key beside the scope still turns the 32-bit view away from it.
        ScopeCase{"Win64NodeBelowParentOfScope",
                  "#arch=win64\n[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0]\n"
                  "\"RootDir\"=\"C:\\\\D5\"\n"
                  "[Software\\\\Wow6432Node\\\\Borland\\\\Wow6432Node\\\\Other]\n",
                  {}},
        ScopeCase{"Win64NodeBelowScope",
                  "#arch=win64\n[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0]\n"
                  "\"RootDir\"=\"native\"\n"
                  "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0\\\\Wow6432Node]\n"
                  "\"RootDir\"=\"C:\\\\D5\"\n",
                  {"5.0=C:\\D5"}},
        ScopeCase{"ArchAfterContinuationIsNoOption",
                  "\"X\"=hex:00,\\\n#arch=win64\n" + D7,
                  {"7.0=C:\\D7"}}),
    [](const auto& info) { return info.param.name; });

TEST(WineRegistryScope, DamagedFilesReadAsWhole) {
  // Every truncation and many random changes of a file with every construct: each query at or
  // below a scope answers as the whole file does, whatever pieces the reader gets.
  const std::string full = RichFile();
  const std::vector<std::string> scopes = {DELPHI, "Software\\Borland\\C++Builder"};
  const std::vector<std::string> queries = {DELPHI, DELPHI + "7.0", DELPHI + "5.0",
                                            "Software\\Borland\\C++Builder\\",
                                            "Software\\Wow6432Node\\Borland\\C++Builder\\6.0"};
  for (std::size_t n = 0; n <= full.size(); n += 7) {
    ExpectScopedReadsAgree(full.substr(0, n), scopes, queries);
  }
  const std::string syntax = "\\\"[]@#=:,()\n\r \txhexdwordstr0179af";
  std::mt19937 random(20261209);
  for (int round = 0; round < 300; ++round) {
    std::string text = full;
    for (int i = 0, changes = 1 + static_cast<int>(random() % 8); i < changes; ++i) {
      const std::size_t at = random() % text.size();
      text[at] =
          random() % 3 == 0 ? static_cast<char>(random() % 256) : syntax[random() % syntax.size()];
    }
    ExpectScopedReadsAgree(text, scopes, queries);
  }
}

TEST(WineRegistryScope, CoversOnlyPathsAtOrBelowAScope) {
  const std::string text = RichFile();
  TextBytes bytes(text);
  const WineRegistry registry(bytes, {DELPHI, "Software\\Wow6432Node\\Embarcadero\\BDS"});
  struct {
    std::string path;
    bool covered;
  } const cases[] = {
      {DELPHI, true},
      {"software\\BORLAND\\delphi\\7.0", true},
      {"Software\\Wow6432Node\\Borland\\Delphi\\7.0\\Sub", true},
      {"Software\\\\Borland\\Delphi", true},
      {"Software\\Embarcadero\\BDS\\23.0", true},
      {"\\Software", true}, // found nowhere
      {"Software\\Borland", false},
      {"Software\\Borland\\Delphi7", false},
      {"Software\\Borland\\C++Builder\\6.0", false},
      {"", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry.Covers(c.path), c.covered) << c.path;
  }
  EXPECT_TRUE(WineRegistry(RichFile()).Covers(""));
  EXPECT_TRUE(WineRegistry().Covers("Software"));
}

TEST(WineRegistryScope, KeepsOnlyTheScopesSections) {
  // 2,000 filler sections, one IDE: the scoped read makes the few keys on the way to it.
  std::string body = "#arch=win64\n";
  for (int i = 0; i < 1000; ++i) {
    body += "[Software\\\\Classes\\\\CLSID\\\\{" + std::to_string(i) + "}]\n@=\"c\"\n";
    body += "[Software\\\\Wow6432Node\\\\Classes\\\\{" + std::to_string(i) + "}]\n@=\"w\"\n";
  }
  body += "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"C:\\\\D7\"\n";
  const std::string text = HEADER + body;
  TextBytes bytes(text);
  const WineRegistry scoped(bytes, {DELPHI});
  EXPECT_EQ(RootDirs(scoped, DELPHI), std::vector<std::string>{"7.0=C:\\D7"});
  // Root, Software, Wow6432Node, Borland, Delphi, 7.0.
  EXPECT_EQ(scoped.KeyCount(), 6u);
  EXPECT_GT(WineRegistry(text).KeyCount(), 2000u);
}

// A line longer than the reader holds (1 MiB) is passed over, in pieces of any size: outside the
// keys read it costs nothing, a section line that long names no key, and a value line that long
// in a kept section reads as absent while the lines around it stay.
TEST(WineRegistryScope, OverlongLinesArePassedOver) {
  const std::string huge(2u << 20, 'x');
  const std::string text = HEADER + R"([Software\\Other]
"V"=")" + huge + R"("
[Software\\Borland\\)" + huge +
                           R"(]
"RootDir"="C:\\Lost"
[Software\\Borland\\Delphi\\5.0]
"RootDir"=")" + huge + R"("
[Software\\Borland\\Delphi\\6.0]
"Junk"=")" + huge + R"("
"RootDir"="C:\\D6"
)" + D7;
  for (const std::size_t piece : {std::size_t{4096}, std::size_t{256} << 10, SIZE_MAX}) {
    TextBytes bytes(text, piece);
    const WineRegistry scoped(bytes, {"Software\\Borland\\"});
    EXPECT_EQ(RootDirs(scoped, DELPHI), (std::vector<std::string>{"6.0=C:\\D6", "7.0=C:\\D7"}))
        << piece;
    EXPECT_EQ(scoped.SubkeyNames(*scoped.FindKey("Software\\Borland\\", true)),
              std::vector<std::string>{"Delphi"})
        << piece;
  }
}

// ---------------------------------------------------------------------------------------------
// The store behind the platform registry interface.

class PosixRegistryTest : public ::testing::Test {
protected:
  test::TempDir prefix_;
  ScopedEnv env_{"WINEPREFIX", prefix_.Path().string()};
};

TEST_F(PosixRegistryTest, ReadsSystemRegOnceWhenTheFirstKeyOpens) {
  test::WriteFile(prefix_ / "system.reg", RegFile("[A]\n\"V\"=\"old\"\n"));
  RegistryAccessor accessor;
  const auto before = accessor.OpenLocalMachineKey("A");
  ASSERT_TRUE(before);
  test::WriteFile(prefix_ / "system.reg", RegFile("[B]\n\"V\"=\"new\"\n"));
  EXPECT_TRUE(accessor.OpenLocalMachineKey("A"));
  EXPECT_FALSE(accessor.OpenLocalMachineKey("B"));
  RegistryAccessor fresh;
  EXPECT_FALSE(fresh.OpenLocalMachineKey("A"));
  EXPECT_EQ(fresh.OpenLocalMachineKey("B")->ReadValue("V", 64)->data, "new\0"s);
}

TEST_F(PosixRegistryTest, KeyOutsideTheFirstKeysIsReadFromTheSameFile) {
  test::WriteFile(prefix_ / "system.reg",
                  RegFile("[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"D7\"\n"
                          "[Software\\\\Borland\\\\C++Builder\\\\6.0]\n\"RootDir\"=\"C6\"\n"));
  RegistryAccessor accessor;
  const auto delphi = accessor.OpenLocalMachineKey("Software\\Borland\\Delphi\\");
  ASSERT_TRUE(delphi);
  EXPECT_EQ(delphi->SubkeyNames(), std::vector<std::string>{"7.0"});
  const auto builder = accessor.OpenLocalMachineKey("Software\\Borland\\C++Builder\\6.0");
  ASSERT_TRUE(builder);
  EXPECT_EQ(builder->ReadValue("RootDir", 64)->data, "C6\0"s);
  const auto borland = accessor.OpenLocalMachineKey("Software\\Borland");
  ASSERT_TRUE(borland);
  EXPECT_EQ(borland->SubkeyNames(), (std::vector<std::string>{"C++Builder", "Delphi"}));
  // Keys opened before stay as they were.
  EXPECT_EQ(delphi->SubkeyNames(), std::vector<std::string>{"7.0"});
  EXPECT_FALSE(accessor.OpenLocalMachineKey("Software\\Borland\\BDS"));
}

TEST_F(PosixRegistryTest, ReadAheadServesItsKeysFromOneReading) {
  const std::string before = "[Software\\\\Borland\\\\Delphi\\\\7.0]\n\"RootDir\"=\"D7\"\n"
                             "[Software\\\\Borland\\\\C++Builder\\\\6.0]\n\"RootDir\"=\"C6\"\n"
                             "[Software\\\\Other]\n\"RootDir\"=\"O\"\n";
  const std::string after = "[Software\\\\Borland\\\\C++Builder\\\\5.0]\n\"RootDir\"=\"C5\"\n"
                            "[Software\\\\Other\\\\New]\n";
  test::WriteFile(prefix_ / "system.reg", RegFile(before));
  const auto subkeys = [](RegistryAccessor& accessor, std::string_view path) {
    const auto key = accessor.OpenLocalMachineKey(path);
    return key ? *key->SubkeyNames() : std::vector<std::string>{"-"};
  };
  {
    const RegistryReadAhead readAhead(
        {"Software\\Borland\\Delphi\\", "Software\\Borland\\C++Builder\\"});
    RegistryAccessor first;
    EXPECT_EQ(subkeys(first, "Software\\Borland\\Delphi\\"), std::vector<std::string>{"7.0"});
    test::WriteFile(prefix_ / "system.reg", RegFile(after));
    // The other discovery sees the file as it was read for the first.
    RegistryAccessor second;
    EXPECT_EQ(subkeys(second, "Software\\Borland\\C++Builder\\"), std::vector<std::string>{"6.0"});
    // A key outside the paths told ahead is read on its own.
    RegistryAccessor third;
    EXPECT_EQ(subkeys(third, "Software\\Other"), std::vector<std::string>{"New"});
  }
  RegistryAccessor later;
  EXPECT_EQ(subkeys(later, "Software\\Borland\\C++Builder\\"), std::vector<std::string>{"5.0"});
}

TEST_F(PosixRegistryTest, MissingOrUnreadableFileIsEmpty) {
  for (const bool asFolder : {false, true}) {
    if (asFolder) {
      std::filesystem::create_directory(prefix_ / "system.reg");
    }
    RegistryAccessor accessor;
    const auto root = accessor.OpenLocalMachineKey("");
    ASSERT_TRUE(root);
    EXPECT_EQ(root->SubkeyNames(), std::vector<std::string>{});
    EXPECT_FALSE(accessor.OpenLocalMachineKey("Software"));
  }
}

TEST_F(PosixRegistryTest, OpensThe32BitView) {
  test::WriteFile(prefix_ / "system.reg",
                  RegFile("[Software\\\\Borland\\\\Delphi\\\\7.0]\n"
                          "[Software\\\\Wow6432Node\\\\Borland\\\\Delphi\\\\5.0]\n",
                          "win64"));
  RegistryAccessor accessor;
  const auto key = accessor.OpenLocalMachineKey("Software\\Borland\\Delphi\\");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->SubkeyNames(), std::vector<std::string>{"5.0"});
}

TEST_F(PosixRegistryTest, KeyOutlivesItsAccessor) {
  test::WriteFile(prefix_ / "system.reg", RegFile("[A\\\\B]\n\"V\"=dword:00000007\n"));
  std::optional<RegistryKey> key;
  {
    RegistryAccessor accessor;
    key = accessor.OpenLocalMachineKey("A");
  }
  ASSERT_TRUE(key);
  EXPECT_EQ(key->SubkeyNames(), std::vector<std::string>{"B"});
  RegistryKey moved = std::move(*key);
  EXPECT_EQ(moved.SubkeyNames(), std::vector<std::string>{"B"});
}

// The separate steps of a read: existence, size, and a read into a buffer of a given size.
struct ReadStepCase {
  const char* name;
  std::string lines;                 // value lines of section [K]
  std::string query;                 // the value name asked for
  std::optional<std::uint32_t> type; // nullopt: the value does not exist
  std::string data;                  // what a read gives
};

class PosixRegistryReadStepTest : public PosixRegistryTest,
                                  public ::testing::WithParamInterface<ReadStepCase> {};

TEST_P(PosixRegistryReadStepTest, StepsAgree) {
  const ReadStepCase& c = GetParam();
  test::WriteFile(prefix_ / "system.reg", RegFile("[K]\n" + c.lines));
  RegistryAccessor accessor;
  const auto key = accessor.OpenLocalMachineKey("K");
  ASSERT_TRUE(key);
  EXPECT_EQ(key->HasValue(c.query), c.type.has_value());
  const auto size = key->QueryValueSize(c.query);
  ASSERT_EQ(size.has_value(), c.type.has_value());
  if (!c.type) {
    EXPECT_FALSE(key->ReadValue(c.query, 64));
    return;
  }
  ASSERT_EQ(*size, c.data.size());
  // A buffer of the queried size or more reads the value; one byte less fails.
  for (const std::uint32_t capacity : {*size, *size + 1, *size + 100}) {
    const auto value = key->ReadValue(c.query, capacity);
    ASSERT_TRUE(value) << "capacity " << capacity;
    EXPECT_EQ(value->type, *c.type);
    EXPECT_EQ(value->data, c.data);
  }
  if (*size > 0) {
    EXPECT_FALSE(key->ReadValue(c.query, *size - 1));
    EXPECT_FALSE(key->ReadValue(c.query, 0));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PosixRegistryReadStepTest,
    ::testing::Values(
        ReadStepCase{"Text", "\"V\"=\"abc\"\n", "V", REG_SZ, "abc\0"s},
        ReadStepCase{"EmptyText", "\"V\"=\"\"\n", "V", REG_SZ, "\0"s},
        ReadStepCase{"ExpandText", "\"V\"=str(2):\"%X%\"\n", "V", REG_EXPAND_SZ, "%X%\0"s},
        ReadStepCase{"Dword", "\"V\"=dword:0000000a\n", "V", REG_DWORD, "\x0a\0\0\0"s},
        ReadStepCase{"EmptyBinary", "\"V\"=hex:\n", "V", REG_BINARY, ""},
        ReadStepCase{"Utf16Text", "\"V\"=hex(1):43,00,00,00\n", "V", REG_SZ, "C\0"s},
        ReadStepCase{"MalformedDataExistsEmpty", "\"V\"=str(3):\"x\"\n", "V", REG_NONE, ""},
        ReadStepCase{"OtherCase", "\"RootDir\"=\"d\"\n", "ROOTDIR", REG_SZ, "d\0"s},
        ReadStepCase{"LaterLineReplaces", "\"V\"=\"a\"\n\"v\"=\"longer\"\n", "V", REG_SZ,
                     "longer\0"s},
        ReadStepCase{"DefaultValue", "@=\"d\"\n", "", REG_SZ, "d\0"s},
        ReadStepCase{"Missing", "\"W\"=\"w\"\n", "V", std::nullopt, ""},
        ReadStepCase{"BadNameIsNoValue", "\"V=\"x\"\n", "V", std::nullopt, ""}),
    [](const auto& info) { return info.param.name; });

TEST_F(PosixRegistryTest, MovedFromKeyHasNoValues) {
  test::WriteFile(prefix_ / "system.reg", RegFile("[A]\n\"V\"=\"x\"\n"));
  RegistryAccessor accessor;
  auto key = accessor.OpenLocalMachineKey("A");
  ASSERT_TRUE(key);
  const RegistryKey moved = std::move(*key);
  EXPECT_TRUE(moved.HasValue("V"));
  EXPECT_FALSE(key->HasValue("V"));
  EXPECT_FALSE(key->QueryValueSize("V"));
  EXPECT_FALSE(key->ReadValue("V", 64));
}

} // namespace
} // namespace quillet::platform::posix
