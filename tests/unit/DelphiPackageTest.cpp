// Reading a Delphi package project (.dpk) as the IDE writes one, and the file names it compiles to.
#include <gtest/gtest.h>

#include "Package/DelphiPackage.h"

namespace quillet {
namespace {

// As the IDE writes a package project, with a byte order mark, and comments that hide clauses.
constexpr std::string_view DESIGN_PACKAGE =
    "\xEF\xBB\xBF"
    "package TallowD;\r\n"
    "{ requires Fake; }\r\n"
    "(* requires Fake2; *)\r\n"
    "// requires Fake3;\r\n"
    "{$R *.res}\r\n"
    "{$IFDEF IMPLICITBUILDING This IFDEF should not be used by users}\r\n"
    "{$DESCRIPTION 'Tallow''s components'}\r\n"
    "{$D-}\r\n"
    "{$LIBSUFFIX AUTO}\r\n"
    "{$ENDIF IMPLICITBUILDING}\r\n"
    "{$DESIGNONLY}\r\n"
    "\r\n"
    "requires\r\n"
    "  rtl, // the run-time library\r\n"
    "  designide,\r\n"
    "  Tallow.Runtime;\r\n"
    "\r\n"
    "contains\r\n"
    "  TallowReg in '..\\Source\\TallowReg.pas' {requires},\r\n"
    "  Tallow.Editors in '..\\Source\\Tallow.Editors.pas';\r\n"
    "\r\n"
    "end.\r\n";

TEST(DelphiPackage, ReadsNameDirectivesAndRequires) {
  const struct {
    const char* name;
    std::string text;
    bool parsed;
    const char* package; // name|suffix|auto|description|design|run|required,...|contains,...
  } rows[] = {
      {"Design", std::string(DESIGN_PACKAGE), true,
       "TallowD||1|Tallow's "
       "components|1|0|rtl,designide,Tallow.Runtime,|TallowReg,Tallow.Editors,"},
      {"QuotedSuffixShortDescription",
       "(*$RUNONLY*) Package Vcl.Tallow; {$LIBSUFFIX '290'} {$D 'Short'} {$RUNONLY OFF} end.", true,
       "Vcl.Tallow|290|0|Short|0|0||"},
      {"CommentedOutPackageLine", "{ package X; } unit X;", false, ""},
      {"NoSemicolon", "package X requires rtl;", false, ""},
  };
  for (const auto& row : rows) {
    const auto read = ParseDelphiPackage(row.text);
    ASSERT_EQ(read.has_value(), row.parsed) << row.name;
    if (!read) {
      continue;
    }
    std::string shown = read->name + "|" + read->libSuffix + "|" +
                        std::to_string(read->autoSuffix) + "|" + read->description + "|" +
                        std::to_string(read->designOnly) + "|" + std::to_string(read->runOnly) +
                        "|";
    for (const std::string& required : read->required) {
      shown += required + ",";
    }
    shown += "|";
    for (const std::string& unit : read->contains) {
      shown += unit + ",";
    }
    EXPECT_EQ(shown, row.package) << row.name;
  }
}

TEST(DelphiPackage, AutoSuffixFollowsThePackageVersion) {
  const struct {
    std::uint32_t bdsMajor;
    const char* suffix;
  } rows[] = {{20, ""}, {21, "270"}, {22, "280"}, {23, "290"}, {36, "420"}, {37, "370"}};
  DelphiPackageSource package;
  package.name = "TallowR";
  package.autoSuffix = true;
  for (const auto& row : rows) {
    EXPECT_EQ(BplFileName(package, row.bdsMajor), "TallowR" + std::string(row.suffix) + ".bpl")
        << row.bdsMajor;
  }
  EXPECT_EQ(DcpFileName(package), "TallowR.dcp");
}

} // namespace
} // namespace quillet
