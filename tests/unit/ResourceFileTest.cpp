// The .res files made for a package project that names a missing one: the null entry alone, or
// a VS_VERSIONINFO from the .dproj's version information, read back field by field.
#include <gtest/gtest.h>

#include <cstring>

#include "Package/ResourceFile.h"

namespace quillet {
namespace {

std::uint32_t Le(const std::string& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = size; i-- > 0;) {
    value = (value << 8) | static_cast<unsigned char>(bytes.at(at + i));
  }
  return value;
}

std::string Wide(std::string_view ascii) {
  std::string out;
  for (const char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

std::string Dproj(const std::string& groups) {
  return "<Project xmlns=\"http://schemas.microsoft.com/developer/msbuild/2003\">\r\n" + groups +
         "</Project>\r\n";
}

TEST(ResourceFile, EmptyFileIsTheNullEntry) {
  const std::string bytes = EmptyResourceFile();
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(Le(bytes, 0, 4), 0u);       // DataSize
  EXPECT_EQ(Le(bytes, 4, 4), 32u);      // HeaderSize
  EXPECT_EQ(Le(bytes, 8, 4), 0xFFFFu);  // TYPE: ordinal 0
  EXPECT_EQ(Le(bytes, 12, 4), 0xFFFFu); // NAME: ordinal 0
  EXPECT_EQ(bytes.substr(16), std::string(16, '\0'));
}

TEST(ResourceFile, VersionInfoReadBack) {
  const struct {
    const char* name;
    std::string dproj;
    bool included;
    std::array<std::uint16_t, 4> version;
    std::uint16_t language;
    std::vector<std::pair<std::string, std::string>> strings;
  } rows[] = {
      {"AsTheIdeWritesIt",
       Dproj("<PropertyGroup Condition=\"'$(Base)'!=''\">\r\n"
             "<VerInfo_IncludeVerInfo>true</VerInfo_IncludeVerInfo>\r\n"
             "<VerInfo_MajorVer>2</VerInfo_MajorVer><VerInfo_MinorVer>3</VerInfo_MinorVer>\r\n"
             "<VerInfo_Release>4</VerInfo_Release><VerInfo_Build>517</VerInfo_Build>\r\n"
             "<VerInfo_Locale>1031</VerInfo_Locale>\r\n"
             "<VerInfo_Keys>CompanyName=A &amp; B;FileDescription=$(MSBuildProjectName);"
             "FileVersion=2.3.4.517</VerInfo_Keys>\r\n</PropertyGroup>\r\n"
             "<PropertyGroup Condition=\"'$(Cfg_1)'!=''\">\r\n"
             "<VerInfo_MajorVer>9</VerInfo_MajorVer></PropertyGroup>\r\n"),
       true,
       {2, 3, 4, 517},
       1031,
       {{"CompanyName", "A & B"}, {"FileDescription", "TallowR"}, {"FileVersion", "2.3.4.517"}}},
      {"DefaultsAndNoKeys",
       Dproj("<PropertyGroup><VerInfo_IncludeVerInfo>True"
             "</VerInfo_IncludeVerInfo></PropertyGroup>"),
       true,
       {1, 0, 0, 0},
       1033,
       {}},
      {"NotIncluded",
       Dproj("<PropertyGroup><VerInfo_IncludeVerInfo>false"
             "</VerInfo_IncludeVerInfo><VerInfo_MajorVer>2</VerInfo_MajorVer>"
             "</PropertyGroup>"),
       false,
       {},
       0,
       {}},
      {"NoVersionAtAll",
       Dproj("<PropertyGroup><VerInfo_MajorVer>2</VerInfo_MajorVer>"
             "</PropertyGroup>"),
       false,
       {},
       0,
       {}},
      {"NumberThatIsNone",
       Dproj("<VerInfo_IncludeVerInfo>true</VerInfo_IncludeVerInfo>"
             "<VerInfo_Build>70000</VerInfo_Build>"),
       false,
       {},
       0,
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<VersionInfo> info = ReadDprojVersionInfo(row.dproj, "TallowR");
    ASSERT_EQ(info.has_value(), row.included);
    if (!info) {
      continue;
    }
    EXPECT_EQ(info->strings, row.strings);
    const std::string bytes = VersionResourceFile(*info);
    const std::optional<std::vector<ResourceEntry>> entries = ReadResourceFile(bytes);
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 2u);
    EXPECT_EQ(bytes.substr(0, 32), EmptyResourceFile());
    const ResourceEntry& entry = (*entries)[1];
    EXPECT_EQ(entry.type, 16u);
    EXPECT_EQ(entry.name, 1u);
    EXPECT_EQ(entry.language, row.language);
    EXPECT_EQ(bytes.size() % 4, 0u);
    // VS_VERSIONINFO: its length, the binary value of VS_FIXEDFILEINFO's size, its key.
    const std::string& tree = entry.data;
    EXPECT_EQ(Le(tree, 0, 2), tree.size());
    EXPECT_EQ(Le(tree, 2, 2), 52u);
    EXPECT_EQ(tree.substr(6, 32), Wide("VS_VERSION_INFO") + std::string(2, '\0'));
    // VS_FIXEDFILEINFO at the first 32-bit boundary after the key (offset 40).
    EXPECT_EQ(Le(tree, 40, 4), 0xFEEF04BDu);
    const std::uint32_t high = (std::uint32_t{row.version[0]} << 16) | row.version[1];
    const std::uint32_t low = (std::uint32_t{row.version[2]} << 16) | row.version[3];
    EXPECT_EQ(Le(tree, 48, 4), high); // dwFileVersionMS
    EXPECT_EQ(Le(tree, 52, 4), low);
    EXPECT_EQ(Le(tree, 56, 4), high); // dwProductVersionMS
    EXPECT_EQ(Le(tree, 76, 4), 2u);   // dwFileType VFT_DLL
    // The string table's key is the language and code page 1252; each string key, NUL, padding,
    // then its value with its NUL; the translation pair ends the tree.
    char table[9];
    std::snprintf(table, sizeof table, "%04X04E4", row.language);
    EXPECT_NE(tree.find(Wide("StringFileInfo")), std::string::npos);
    const std::size_t tableAt = tree.find(Wide(table));
    ASSERT_NE(tableAt, std::string::npos);
    EXPECT_EQ(Le(tree, tableAt - 2, 2), 1u); // wType: text
    for (const auto& [key, value] : row.strings) {
      const std::size_t keyAt = tree.find(Wide(key) + std::string(2, '\0'));
      ASSERT_NE(keyAt, std::string::npos) << key;
      EXPECT_EQ(Le(tree, keyAt - 4, 2), value.size() + 1); // wValueLength, in characters
      const std::size_t valueAt = (keyAt + 2 * key.size() + 2 + 3) & ~std::size_t{3};
      EXPECT_EQ(tree.substr(valueAt, 2 * value.size() + 2), Wide(value) + std::string(2, '\0'));
    }
    ASSERT_GE(tree.size(), 4u);
    EXPECT_EQ(Le(tree, tree.size() - 4, 2), row.language);
    EXPECT_EQ(Le(tree, tree.size() - 2, 2), 1252u);
  }
}

TEST(ResourceFile, TruncatedFilesAreRefused) {
  const std::string bytes = VersionResourceFile(VersionInfo{});
  for (const std::size_t size :
       {std::size_t{7}, std::size_t{31}, std::size_t{40}, bytes.size() - 8}) {
    EXPECT_FALSE(ReadResourceFile(bytes.substr(0, size))) << size;
  }
}

} // namespace
} // namespace quillet
