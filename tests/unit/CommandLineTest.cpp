#include <gtest/gtest.h>

#include "Platform/CommandLine.h"

namespace quillet::platform {
namespace {

struct SplitCase {
  const char* name;
  std::string line;
  std::vector<std::string> tokens;
};

class SplitCommandLineTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLineTest, Splits) {
  EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().tokens);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitCommandLineTest,
    ::testing::Values(
        SplitCase{"Empty", "", {}}, SplitCase{"ProgramOnly", "setup.exe", {"setup.exe"}},
        SplitCase{
            "LeadingBlanksAndControls", " \t\x01setup.exe  pkg.dat ", {"setup.exe", "pkg.dat"}},
        SplitCase{"QuotedProgram",
                  "\"C:\\Program Files\\setup.exe\" a",
                  {"C:\\Program Files\\setup.exe", "a"}},
        SplitCase{"QuotedRunInTheMiddle",
                  "setup C:\\\"My Files\"\\pkg.dat",
                  {"setup", "C:\\My Files\\pkg.dat"}},
        SplitCase{"WholeQuotedPath",
                  "setup \"C:\\My Files\\pkg.dat\"",
                  {"setup", "C:\\My Files\\pkg.dat"}},
        SplitCase{"EmptyPairIsNoArgument", "setup \"\"", {"setup"}},
        SplitCase{"EmptyPairThenArgument", "setup \"\"  b", {"setup", "b"}},
        SplitCase{"EmptyPairInsideToken", "setup a\"\"b", {"setup", "ab"}},
        SplitCase{"UnclosedQuoteRunsToEnd", "setup \"a b", {"setup", "a b"}},
        SplitCase{"TwoArguments", "setup one two", {"setup", "one", "two"}},
        SplitCase{
            "HighBytesAreOrdinary", "setup \xE4\xF6\xFC\xA0x", {"setup", "\xE4\xF6\xFC\xA0x"}},
        SplitCase{"NulEndsTheLine", std::string("setup a\0b", 9), {"setup", "a"}}),
    [](const auto& info) { return info.param.name; });

TEST(SplitCommandLine, TokensHaveNoLengthLimit) {
  const std::string longToken(10000, 'x');
  const auto tokens = SplitCommandLine("setup \"" + longToken + "\" next");
  ASSERT_EQ(tokens.size(), 3u);
  EXPECT_EQ(tokens[1], longToken);
  EXPECT_EQ(tokens[2], "next");
}

struct QuoteCase {
  const char* name;
  std::string argument;
  std::string quoted; // as the C runtime must read it back
};

class QuoteWindowsArgumentTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(QuoteWindowsArgumentTest, Quotes) {
  EXPECT_EQ(QuoteWindowsArgument(GetParam().argument), GetParam().quoted);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QuoteWindowsArgumentTest,
    ::testing::Values(
        QuoteCase{"PlainStays", "-LEC:\\Out\\", "-LEC:\\Out\\"},
        QuoteCase{"EmptyIsAPair", "", "\"\""},
        QuoteCase{"BlankQuotesInnerBackslashesStay", "C:\\My Files\\a.dpk",
                  "\"C:\\My Files\\a.dpk\""},
        QuoteCase{"FinalBackslashesDoubled", "-NUC:\\My Dcu\\\\", "\"-NUC:\\My Dcu\\\\\\\\\""},
        QuoteCase{"QuoteEscaped", "a\"b", "\"a\\\"b\""},
        QuoteCase{"BackslashesBeforeQuoteDoubledPlusOne", "a\\\\\"b", "\"a\\\\\\\\\\\"b\""},
        QuoteCase{"TabAndVerticalTab", "a\tb\vc", "\"a\tb\vc\""}),
    [](const auto& info) { return info.param.name; });

TEST(WindowsCommandLine, ProgramQuotedArgumentsAsAbove) {
  EXPECT_EQ(WindowsCommandLine("C:\\Studio\\bin\\dcc32.exe", {"-B", "a b"}),
            "\"C:\\Studio\\bin\\dcc32.exe\" -B \"a b\"");
}

} // namespace
} // namespace quillet::platform
