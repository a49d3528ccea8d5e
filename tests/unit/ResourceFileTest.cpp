// The .res files made for a package project that names a missing one: the null entry alone, or
// a VS_VERSIONINFO from the .dproj's version information, read back field by field.
#include <gtest/gtest.h>

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
    out += std::string{c, '\0'};
  }
  return out;
}

TEST(ResourceFile, EmptyFileIsTheNullEntry) {
  const std::string bytes = EmptyResourceFile();
  ASSERT_EQ(bytes.size(), 32u);
  EXPECT_EQ(bytes.substr(0, 16), std::string("\0\0\0\0\x20\0\0\0\xFF\xFF\0\0\xFF\xFF\0\0", 16));
  EXPECT_EQ(bytes.substr(16), std::string(16, '\0'));
  EXPECT_FALSE(ReadResourceFile(VersionResourceFile({}).substr(0, 40)));
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
      // The base configuration's group first, as the IDE writes it; a later group does not count.
      {"AsTheIdeWritesIt",
       "<PropertyGroup Condition=\"'$(Base)'!=''\"><VerInfo_IncludeVerInfo>true"
       "</VerInfo_IncludeVerInfo><VerInfo_MajorVer>2</VerInfo_MajorVer><VerInfo_MinorVer>3"
       "</VerInfo_MinorVer><VerInfo_Release>4</VerInfo_Release><VerInfo_Build>517</VerInfo_Build>"
       "<VerInfo_Locale>1031</VerInfo_Locale><VerInfo_Keys>CompanyName=A &amp; B;"
       "FileDescription=$(MSBuildProjectName);FileVersion=2.3.4.517</VerInfo_Keys></PropertyGroup>"
       "<PropertyGroup><VerInfo_MajorVer>9</VerInfo_MajorVer></PropertyGroup>",
       true,
       {2, 3, 4, 517},
       1031,
       {{"CompanyName", "A & B"}, {"FileDescription", "TallowR"}, {"FileVersion", "2.3.4.517"}}},
      {"Defaults",
       "<VerInfo_IncludeVerInfo>True</VerInfo_IncludeVerInfo>",
       true,
       {1, 0, 0, 0},
       1033,
       {}},
      {"NotIncluded", "<VerInfo_IncludeVerInfo>false</VerInfo_IncludeVerInfo>", false, {}, 0, {}},
      {"NoVersionAtAll", "<VerInfo_MajorVer>2</VerInfo_MajorVer>", false, {}, 0, {}},
      {"NumberThatIsNone",
       "<VerInfo_IncludeVerInfo>true</VerInfo_IncludeVerInfo><VerInfo_Build>70000</VerInfo_Build>",
       false,
       {},
       0,
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::optional<VersionInfo> info =
        ReadDprojVersionInfo("<Project>" + row.dproj + "</Project>", "TallowR");
    ASSERT_EQ(info.has_value(), row.included);
    if (!info) {
      continue;
    }
    EXPECT_EQ(info->strings, row.strings);
    const std::string bytes = VersionResourceFile(*info);
    const std::optional<std::vector<ResourceEntry>> entries = ReadResourceFile(bytes);
    ASSERT_TRUE(entries && entries->size() == 2);
    EXPECT_EQ(bytes.substr(0, 32), EmptyResourceFile());
    EXPECT_EQ((*entries)[1].type, 16u);
    EXPECT_EQ((*entries)[1].name, 1u);
    EXPECT_EQ((*entries)[1].language, row.language);
    // VS_VERSIONINFO: its length, VS_FIXEDFILEINFO's size, its key, then at offset 40 the fixed
    // info: signature, file and product versions, file type VFT_DLL.
    const std::string& tree = (*entries)[1].data;
    EXPECT_EQ(Le(tree, 0, 2), tree.size());
    EXPECT_EQ(Le(tree, 2, 2), 52u);
    EXPECT_EQ(tree.substr(6, 32), Wide("VS_VERSION_INFO") + std::string(2, '\0'));
    EXPECT_EQ(Le(tree, 40, 4), 0xFEEF04BDu);
    const std::uint32_t high = (std::uint32_t{row.version[0]} << 16) | row.version[1];
    const std::uint32_t low = (std::uint32_t{row.version[2]} << 16) | row.version[3];
    EXPECT_EQ(Le(tree, 48, 4), high);
    EXPECT_EQ(Le(tree, 52, 4), low);
    EXPECT_EQ(Le(tree, 56, 4), high);
    EXPECT_EQ(Le(tree, 76, 4), 2u);
    // The string table "LLLL04E4" (wType 1: text); each string's wValueLength in characters, its
    // value at the next 32-bit boundary; the translation pair at the end.
    char table[9];
    std::snprintf(table, sizeof table, "%04X04E4", row.language);
    const std::size_t tableAt = tree.find(Wide(table));
    ASSERT_NE(tableAt, std::string::npos);
    EXPECT_EQ(Le(tree, tableAt - 2, 2), 1u);
    for (const auto& [key, value] : row.strings) {
      const std::size_t keyAt = tree.find(Wide(key) + std::string(2, '\0'));
      ASSERT_NE(keyAt, std::string::npos) << key;
      EXPECT_EQ(Le(tree, keyAt - 4, 2), value.size() + 1);
      const std::size_t valueAt = (keyAt + 2 * key.size() + 5) & ~std::size_t{3};
      EXPECT_EQ(tree.substr(valueAt, 2 * value.size() + 2), Wide(value) + std::string(2, '\0'));
    }
    EXPECT_EQ(Le(tree, tree.size() - 4, 4), row.language | (1252u << 16));
  }
}

} // namespace
} // namespace quillet
