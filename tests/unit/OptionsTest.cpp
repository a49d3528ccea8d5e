#include <gtest/gtest.h>

#include "Installer/Options.h"

namespace quillet {
namespace {

struct OptionsCase {
  const char* name;
  std::vector<std::string> arguments;
  bool slashHelp;
  RunMode mode;
  std::string package;
  std::string problem = {}; // a part of the misuse's message
  std::vector<std::string> ides = {};
};

class ParseOptionsTest : public ::testing::TestWithParam<OptionsCase> {};

TEST_P(ParseOptionsTest, Parses) {
  const OptionsCase& c = GetParam();
  const InstallerOptions options = ParseOptions(c.arguments, c.slashHelp);
  EXPECT_EQ(options.mode, c.mode);
  EXPECT_EQ(options.package, c.package);
  EXPECT_NE(options.problem.find(c.problem), std::string::npos) << options.problem;
  EXPECT_EQ(options.ides, c.ides);
}

using R = RunMode;
INSTANTIATE_TEST_SUITE_P(
    Rows, ParseOptionsTest,
    ::testing::Values(
        OptionsCase{
            "PackageAfterOptions", {"-y", "--target", "C:\\X", "p.qpk"}, 0, R::Install, "p.qpk"},
        OptionsCase{
            "OptionsAfterPackage", {"p.qpk", "--no-readme", "--log=l.txt"}, 0, R::Install, "p.qpk"},
        OptionsCase{"BoundsStayWithTheirFamily",
                    {"--ides", "bds>=22.0, <=23.0,delphi"},
                    0,
                    R::Install,
                    "",
                    "",
                    {"bds>=22.0,<=23.0", "delphi"}},
        // A bound needs the family before it in the same value, as a manifest's item does.
        OptionsCase{"BoundWithoutFamily", {"--ides", ">=12.0"}, 0, R::Misuse, "", "'>=12.0'"},
        OptionsCase{"BoundAfterEmptyPiece", {"--ides=,<=7.0"}, 0, R::Misuse, "", "'<=7.0'"},
        OptionsCase{
            "BoundAfterBareFamily", {"--ides", "bds, >=1"}, 0, R::Install, "", "", {"bds>=1"}},
        OptionsCase{"BoundInTheNextIdes", {"--ides=bds", "--ides=>=1"}, 0, R::Misuse, "", "bound"},
        OptionsCase{"UninstallWithoutName", {"--uninstall="}, 0, R::Misuse, "", "--uninstall="},
        OptionsCase{
            "UninstallLeavesThePackage", {"--uninstall", "p.qpk"}, 0, R::Uninstall, "p.qpk"},
        // Forms that CLI11 alone would read otherwise.
        OptionsCase{"EmptyValueBeforeAPackage", {"--log=", "p"}, 0, R::Misuse, "", "--log needs"},
        OptionsCase{"FlagGivenFalse", {"--list=false"}, 0, R::Misuse, "", "takes no value"},
        OptionsCase{"BundledFlags", {"-yh"}, 0, R::Misuse, "", "unknown option '-yh'"},
        OptionsCase{"DigitAfterADash", {"-5"}, 0, R::Misuse, "", "unknown option '-5'"},
        OptionsCase{"ValueLikeAnOption", {"--log", "-x.log", "-y"}, 0, R::Install, ""},
        OptionsCase{"BracketedPackage", {"[a,b]"}, 0, R::Install, "[a,b]"},
        OptionsCase{"PackageAfterDashes", {"a", "--", "-b"}, 0, R::Misuse, "a", "'a' and '-b'"},
        OptionsCase{"UnknownOption", {"--yse"}, 0, R::Misuse, "", "unknown option '--yse'"},
        OptionsCase{"MissingValue", {"p.qpk", "--target"}, 0, R::Misuse, "p.qpk", "needs a value"},
        OptionsCase{"EmptyValue", {"--log="}, 0, R::Misuse, "", "needs a value"},
        OptionsCase{"ValueOnAFlag", {"--yes=1"}, 0, R::Misuse, "", "takes no value"},
        OptionsCase{"TwoPackages", {"a.qpk", "-y", "b.qpk"}, 0, R::Misuse, "a.qpk", "two packages"},
        OptionsCase{"DashesEndOptions", {"--", "--yes"}, 0, R::Install, "--yes"},
        OptionsCase{"LoneDashIsAPackage", {"-"}, 0, R::Install, "-"},
        OptionsCase{"SlashQuestionOnWindows", {"/?"}, 1, R::Help, ""},
        OptionsCase{"SlashQuestionIsAFileElsewhere", {"/?"}, 0, R::Install, "/?"},
        OptionsCase{"ListAndCheckExcludeEachOther",
                    {"--list", "--check"},
                    0,
                    R::Misuse,
                    "",
                    "cannot be combined"},
        OptionsCase{"HelpWinsOverAMisuseAfterIt", {"-h", "--yse"}, 0, R::Help, ""},
        // A target is a full path; each relative shape is refused, naming the value.
        OptionsCase{"RelativeTarget", {"--target", "rel\\dir"}, 0, R::Misuse, "", "'rel\\dir'"},
        OptionsCase{"RootRelativeTarget", {"--target=\\dir"}, 0, R::Misuse, "", "full path"},
        OptionsCase{"DriveRelativeTarget", {"--target", "C:dir"}, 0, R::Misuse, "", "full path"},
        OptionsCase{"ServerWithoutShare", {"--target", "\\\\srv\\"}, 0, R::Misuse, "", "full path"},
        OptionsCase{"DigitIsNoDrive", {"--target", "1:\\a"}, 0, R::Misuse, "", "full path"},
        OptionsCase{"SlashedDrive", {"--target", " c:/Lib "}, 0, R::Install, ""},
        OptionsCase{"ShareTarget", {"--target", "\\\\srv\\share"}, 0, R::Install, ""},
        OptionsCase{"SkipEveryTurn", {"--target", "n"}, 0, R::Install, ""},
#ifdef _WIN32
        OptionsCase{"SlashIsTheCurrentDrive", {"--target", "/home/a"}, 0, R::Misuse, "", "full"},
#else
        OptionsCase{"NativeTarget", {"--target", "/home/a"}, 0, R::Install, ""},
#endif
        OptionsCase{"LogIsAnyText", {"--log", "rel.log"}, 0, R::Install, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseOptions, YesAlsoKeepsTheReadmeShut) {
  const InstallerOptions yes = ParseOptions({"--yes"}, false);
  const InstallerOptions readme = ParseOptions({"--no-readme"}, false);
  EXPECT_TRUE(yes.yes && !yes.openReadme);
  EXPECT_TRUE(!readme.yes && !readme.openReadme);
}

} // namespace
} // namespace quillet
