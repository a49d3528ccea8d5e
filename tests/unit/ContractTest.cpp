// The rules of the package contract that installer and packer share.
#include <gtest/gtest.h>

#include "Installer/Folders.h"
#include "Package/Contract.h"

namespace quillet {
namespace {

TEST(NameStaysInFolder, RefusesEveryWayOut) {
  const struct {
    const char* name;
    bool stays;
  } cases[] = {
      {"a.pas", true},
      {"sub\\a.pas", true},
      {"a..b", true},
      {"%zel_root%a", true},
      {"%Delphi%Lib\\a", true},
      {"50%%.txt", true},
      {"..\\..\\x", false},
      {"sub/../../x", false},
      {"/abs/x", false},
      {"\\\\srv\\s\\x", false},
      {"C:x", false},
      {"c:\\x", false},
      {"%zel_root%..\\x", false},
      {"%nothing%..\\x", false},
      {"%nothing%\\x", false},
      {"a\\.. \\x", false},
      {"sub\\..", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameStaysInFolder(c.name), c.stays) << c.name;
  }
}

TEST(FolderTemplateConcern, NamesWhatLeadsOutside) {
  const struct {
    const char* folder;
    const char* concern;
  } cases[] = {
      {"%zel_root%Source", ""},
      {" %Delphi%Lib\\", ""},
      {"%zel_root%..\\..", "climbs with .."},
      {"C:\\Shared", "does not start with %zel_root% or %Delphi%"},
      {"Lib\\..\\..", "does not start with %zel_root% or %Delphi% and climbs with .."},
      {"%unknown%Lib", "does not start with %zel_root% or %Delphi%"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FolderTemplateConcern(c.folder), c.concern) << c.folder;
  }
}

TEST(PathIsInFolder, JudgesTheResolvedTexts) {
  const struct {
    const char* path;
    const char* folder;
    bool inside;
  } cases[] = {
      {"C:\\Pkg\\Src\\a.pas", "C:\\pkg\\", true},
      {"C:\\Pkg\\..\\a.pas", "C:\\Pkg", false},
      {"C:\\Pkg\\.\\x\\..\\a", "C:\\Pkg", true},
      {"C:\\Pkgs\\a", "C:\\Pkg", false},
      {"/home/u/x/a", "/home/u/x", true},
      {"sub\\a", "", true},
      {"..\\a", "", false},
      {"C:\\a", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PathIsInFolder(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
  }
}

} // namespace
} // namespace quillet
