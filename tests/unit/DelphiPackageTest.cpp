// Reading a Delphi package project (.dpk) as the IDE writes one, and the file names it compiles to.
#include <gtest/gtest.h>

#include <sstream>

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
    // name|suffix|auto|description|design|run|required,...|contains[=file],...|resources|includes
    const char* package;
  } rows[] = {
      {"Design", std::string(DESIGN_PACKAGE), true,
       "TallowD||1|Tallow's "
       "components|1|0|rtl,designide,Tallow.Runtime,|TallowReg=..\\Source\\TallowReg.pas,"
       "Tallow.Editors=..\\Source\\Tallow.Editors.pas,|*.res,|"},
      {"QuotedSuffixShortDescription",
       "(*$RUNONLY*) Package Vcl.Tallow; {$LIBSUFFIX '290'} {$D 'Short'} {$RUNONLY OFF} end.", true,
       "Vcl.Tallow|290|0|Short|0|0||||"},
      // Switches of the same letters name no file; a quoted name keeps its blanks.
      {"ResourcesAndIncludes",
       "package P; {$R+} {$I-} {$R 'My Icons.dcr'} {$RESOURCE P.res P.rc} {$I %DATE%} "
       "{$INCLUDE ..\\Inc\\P.inc} contains A, B in 'B.pas'; end.",
       true, "P||0||0|0||A,B=B.pas,|My Icons.dcr,P.res,|..\\Inc\\P.inc,"},
      // The later suffix holds; directives ignore case; (*$ *) is a directive as {$ } is.
      {"QuotedSuffixAfterAuto", "package P; {$LIBSUFFIX AUTO} {$LIBSUFFIX '290'} end.", true,
       "P|290|0||0|0||||"},
      {"LowerCaseAuto", "package P; {$libsuffix auto} end.", true, "P||1||0|0||||"},
      {"ParenStarDirectives", "package P; (*$R *.res*) (*$DesignOnly*) end.", true,
       "P||0||1|0|||*.res,|"},
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
    for (std::size_t i = 0; i < read->contains.size(); ++i) {
      shown += read->contains[i] + (read->containsFiles[i].empty() ? "" : "=") +
               read->containsFiles[i] + ",";
    }
    shown += "|";
    for (const std::string& file : read->resources) {
      shown += file + ",";
    }
    shown += "|";
    for (const std::string& file : read->includes) {
      shown += file + ",";
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

TEST(DelphiPackage, ResourceFileNames) {
  EXPECT_EQ(ResourceFileName("*.res", "C:\\Lib\\Packages\\SynEdit_R.dpk"), "SynEdit_R.res");
  EXPECT_EQ(ResourceFileName("Icons", "P.dpk"), "Icons.res");
  EXPECT_EQ(ResourceFileName("..\\Res\\*.dcr", "P.dpk"), "..\\Res\\P.dcr");
}

// "name:required,required" per package; the order as names, or the cycle after "cycle ".
TEST(DelphiPackage, OrderByRequiresKeepsTheAuthorsOrderWhereItCan) {
  const struct {
    const char* packages;
    const char* order;
  } rows[] = {
      {"A:rtl B:rtl", "A B"},
      {"JvCore: JclVcl:Jcl Jcl:rtl JvDlgs:JvCore,JclVcl", "JvCore Jcl JclVcl JvDlgs"},
      {"DesignB:DesignA,RunB DesignA:RunA RunA: RunB:RunA", "RunA DesignA RunB DesignB"},
      {"a:B b:", "b a"}, // names compare ignoring case
      {"A:B B:C C:A D:", "cycle A B C A"},
  };
  for (const auto& row : rows) {
    std::vector<DelphiPackageSource> packages;
    std::istringstream words(row.packages);
    for (std::string word; words >> word;) {
      DelphiPackageSource& package = packages.emplace_back();
      package.name = word.substr(0, word.find(':'));
      std::istringstream required(word.substr(word.find(':') + 1));
      for (std::string name; std::getline(required, name, ',');) {
        package.required.push_back(name);
      }
    }
    std::vector<std::string> cycle;
    std::string shown;
    for (const std::size_t i : OrderByRequires(packages, &cycle)) {
      shown += (shown.empty() ? "" : " ") + packages[i].name;
    }
    if (!cycle.empty()) {
      shown = "cycle";
      for (const std::string& name : cycle) {
        shown += " " + name;
      }
    }
    EXPECT_EQ(shown, row.order) << row.packages;
  }
}

} // namespace
} // namespace quillet
