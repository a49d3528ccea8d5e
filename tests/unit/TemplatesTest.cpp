#include <gtest/gtest.h>

#include "Installer/Folders.h"
#include "Installer/Templates.h"

namespace quillet {
namespace {

struct ExpandCase {
  const char* name;
  std::string ideRoot;
  std::string packageRoot;
  std::string templateText;
  std::string expected;
};
void PrintTo(const ExpandCase& c, std::ostream* os) {
  *os << c.name;
}

class ExpandTemplateTest : public ::testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandTemplateTest, Expands) {
  InstallContext context;
  context.IdeRoot = GetParam().ideRoot;
  context.PackageRoot = GetParam().packageRoot;
  const InstallContext before = context;
  EXPECT_EQ(ExpandTemplate(GetParam().templateText, context), GetParam().expected);
  // The expander only reads the run values.
  EXPECT_EQ(context.IdeRoot, before.IdeRoot);
  EXPECT_EQ(context.PackageRoot, before.PackageRoot);
}

const std::string IDE = "C:\\Tools\\IDE";
const std::string LIB = "D:\\Lib";

INSTANTIATE_TEST_SUITE_P(
    Table, ExpandTemplateTest,
    ::testing::Values(
        ExpandCase{"IdeRootWithFolders", IDE, LIB, "%Delphi%Custom Components\\Tallowmere\\",
                   "C:\\Tools\\IDE\\Custom Components\\Tallowmere\\"},
        ExpandCase{"LowerCaseName", IDE, LIB, "%delphi%Src", "C:\\Tools\\IDE\\Src"},
        ExpandCase{"PackageRoot", IDE, LIB, "%zel_root%units\\a.pas", "D:\\Lib\\units\\a.pas"},
        ExpandCase{"DoublePercent", IDE, LIB, "50%% done", "50% done"},
        ExpandCase{"UnknownNameVanishes", IDE, LIB, "a%other%b", "ab"},
        ExpandCase{"ThirdPercentOpensUnclosedMacro", IDE, LIB, "a%%%b", "a%"},
        ExpandCase{"UnclosedMacroDropped", IDE, LIB, "x%Delphi", "x"},
        ExpandCase{"BlankInsideNameMatchesNothing", IDE, LIB, "% Delphi%", ""},
        ExpandCase{"EmptyTemplate", IDE, LIB, "", ""}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Roots, ExpandTemplateTest,
    ::testing::Values(
        ExpandCase{"UpperCaseNames", IDE, LIB, "%DELPHI%|%ZEL_ROOT%", "C:\\Tools\\IDE\\|D:\\Lib\\"},
        ExpandCase{"MixedCaseNames", IDE, LIB, "%dElPhI%|%Zel_Root%", "C:\\Tools\\IDE\\|D:\\Lib\\"},
        ExpandCase{"RootTrimmed", "  C:\\Tools\\IDE  ", LIB, "%Delphi%", "C:\\Tools\\IDE\\"},
        ExpandCase{"RootTrimmedOfControls", "\t\r\nC:\\Tools\\IDE\x01\x1F", LIB, "%Delphi%x",
                   "C:\\Tools\\IDE\\x"},
        ExpandCase{"RootEndingInColon", "C:", LIB, "%Delphi%Src", "C:Src"},
        ExpandCase{"RootEndingInBackslash", "C:\\IDE\\", LIB, "%Delphi%Src", "C:\\IDE\\Src"},
        ExpandCase{"RootEndingInSlash", "/opt/ide/", LIB, "%Delphi%Src", "/opt/ide/Src"},
        ExpandCase{"EmptyRootGivesNothing", "", "", "%Delphi%%zel_root%a.pas", "a.pas"},
        ExpandCase{"BlankRootGivesNothing", " \t ", "", "[%Delphi%]", "[]"},
        ExpandCase{"FolderTemplateEndingInMacro", IDE, LIB, "%zel_root%\\a.pas",
                   "D:\\Lib\\\\a.pas"},
        ExpandCase{"SinglePercentInFileName", IDE, LIB, "100%.txt", "100"},
        ExpandCase{"PercentInRootStaysLiteral", IDE, "D:\\50%", "%zel_root%x", "D:\\50%\\x"},
        ExpandCase{"RootHoldingMacroTextIsNotRescanned", "C:\\%zel_root%", LIB, "%Delphi%",
                   "C:\\%zel_root%\\"},
        ExpandCase{"NameHoldsSeparators", IDE, LIB, "%a\\b%c", "c"},
        ExpandCase{"HighBytesCopied", IDE, "D:\\M\xFCller", "%zel_root%\xE4\x80.pas",
                   "D:\\M\xFCller\\\xE4\x80.pas"},
        ExpandCase{"MacroNameNotTrimmed", IDE, LIB, "%Delphi %", ""},
        ExpandCase{"BothMacrosInOneText", IDE, LIB, "%Delphi%%%%zel_root%",
                   "C:\\Tools\\IDE\\%D:\\Lib\\"}),
    [](const auto& info) { return info.param.name; });

TEST(ExpandTemplate, EntryPathBuiltFromFolderTemplateAndFileName) {
  InstallContext context;
  context.IdeRoot = IDE;
  context.PackageRoot = LIB;
  // The entry installer joins FolderWithSeparator(folder) and the file name, then expands.
  EXPECT_EQ(ExpandTemplate(FolderWithSeparator("%zel_root%") + "a.pas", context),
            "D:\\Lib\\\\a.pas");
  EXPECT_EQ(ExpandTemplate(FolderWithSeparator("%zel_root%units") + "a.pas", context),
            "D:\\Lib\\units\\a.pas");
  EXPECT_EQ(ExpandTemplate(FolderWithSeparator("") + "c.txt", context), "c.txt");
}

TEST(ExpandTemplate, ReadsTheRootsAtEachCall) {
  InstallContext context;
  context.IdeRoot = "C:\\One";
  EXPECT_EQ(ExpandTemplate("%Delphi%", context), "C:\\One\\");
  context.IdeRoot = "C:\\Two";
  EXPECT_EQ(ExpandTemplate("%Delphi%", context), "C:\\Two\\");
}

TEST(ExpandTemplate, LongTemplateHasNoLimit) {
  InstallContext context;
  context.PackageRoot = LIB;
  const std::string tail(5000, 'x');
  EXPECT_EQ(ExpandTemplate("%zel_root%" + tail, context), "D:\\Lib\\" + tail);
}

} // namespace
} // namespace quillet
