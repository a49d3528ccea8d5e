#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "Common/Text.h"
#include "Platform/Posix/CodePage.h"

namespace quillet::platform::posix {
namespace {

// Checked against Wine 8.0: GetACP() of a program run with LC_ALL set to the locale.
TEST(AnsiCodePageForLocale, ChoosesAsWine) {
  const struct {
    const char* locale;
    std::uint32_t codePage;
  } cases[] = {
      {"C", 1252},           {"POSIX", 1252},        {"en_US.UTF-8", 1252},
      {"de_DE.UTF-8", 1252}, {"xx_YY.UTF-8", 1252},  {"ja_JP.UTF-8", 932},
      {"ja_JP.eucJP", 932},  {"zh_CN.UTF-8", 936},   {"zh_SG.UTF-8", 936},
      {"zh_TW.UTF-8", 950},  {"zh_HK.UTF-8", 950},   {"ko_KR.UTF-8", 949},
      {"ru_RU.UTF-8", 1251}, {"uk_UA.UTF-8", 1251},  {"pl_PL.UTF-8", 1250},
      {"cs_CZ.UTF-8", 1250}, {"el_GR.UTF-8", 1253},  {"tr_TR.UTF-8", 1254},
      {"he_IL.UTF-8", 1255}, {"ar_SA.UTF-8", 1256},  {"fa_IR.UTF-8", 1256},
      {"et_EE.UTF-8", 1257}, {"lt_LT.UTF-8", 1257},  {"vi_VN.UTF-8", 1258},
      {"th_TH.UTF-8", 874},  {"be_BY.UTF-8", 1251},  {"bg_BG.UTF-8", 1251},
      {"mk_MK.UTF-8", 1251}, {"hr_HR.UTF-8", 1250},  {"sk_SK.UTF-8", 1250},
      {"hu_HU.UTF-8", 1250}, {"sl_SI.UTF-8", 1250},  {"ro_RO.UTF-8", 1250},
      {"sq_AL.UTF-8", 1250}, {"lv_LV.UTF-8", 1257},  {"ur_PK.UTF-8", 1256},
      {"sr_RS.UTF-8", 1252}, {"az_AZ.UTF-8", 1252},  {"uz_UZ.UTF-8", 1252},
      {"bs_BA.UTF-8", 1252}, {"kk_KZ.UTF-8", 65001}, {"hi_IN.UTF-8", 65001},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AnsiCodePageForLocale(c.locale), c.codePage) << c.locale;
  }
}

struct ConversionCase {
  const char* name;
  std::uint32_t codePage;
  std::string text;
  std::string native;
};

class CodePageConversionTest : public ::testing::TestWithParam<ConversionCase> {};

// Both ways: ANSI to the native UTF-8 and back give the same bytes.
TEST_P(CodePageConversionTest, RoundTrips) {
  const CodePage codePage(GetParam().codePage, "UTF-8");
  EXPECT_EQ(codePage.ToNative(GetParam().text), GetParam().native);
  EXPECT_EQ(codePage.FromNative(GetParam().native), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CodePageConversionTest,
    ::testing::Values(ConversionCase{"Ascii", 1252, "C:\\Lib\\a.pas", "C:\\Lib\\a.pas"},
                      ConversionCase{"Latin", 1252, "caf\xE9 \xDF", "caf\xC3\xA9 \xC3\x9F"},
                      ConversionCase{"Euro", 1252, "\x80", "\xE2\x82\xAC"},
                      ConversionCase{"UndefinedBytePassesThrough", 1252, "a\x81z", "a\x81z"},
                      ConversionCase{"Cyrillic", 1251, "\xCF\xF0\xE8", "\xD0\x9F\xD1\x80\xD0\xB8"},
                      ConversionCase{"Japanese", 932, "\x93\xFA\x96\x7B\x8C\xEA",
                                     "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
                      ConversionCase{"SecondByteBackslash", 932, "\x95\x5C\\x", "\xE8\xA1\xA8\\x"},
                      ConversionCase{"LoneLeadByteAtEnd", 932, "a\x95", "a\x95"},
                      ConversionCase{"LeadByteWithoutSecond", 932, "\x81\x20", "\x81\x20"},
                      ConversionCase{"HalfWidthKatakana", 932, "\xB1", "\xEF\xBD\xB1"},
                      ConversionCase{"Korean", 949, "\xC7\xD1", "\xED\x95\x9C"},
                      ConversionCase{"Simplified", 936, "\xD6\xD0", "\xE4\xB8\xAD"},
                      ConversionCase{"Traditional", 950, "\xA4\xA4", "\xE4\xB8\xAD"},
                      ConversionCase{"Utf8CodePage", 65001, "\xE0\xA4\xB9\xFF",
                                     "\xE0\xA4\xB9\xFF"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodePage, CharactersItCannotHoldBecomeQuestionMarks) {
  const CodePage codePage(1252, "UTF-8");
  EXPECT_EQ(codePage.FromNative("\xE6\x97\xA5.txt"), "?.txt");
  std::optional<char32_t> unmappable;
  EXPECT_EQ(codePage.Encode(U"ab\u65E5c", /*strict=*/true, &unmappable), "ab");
  EXPECT_EQ(unmappable, U'\u65E5');
}

// The lead-byte ranges that GetCPInfo reports: 932 has 0x81-0x9F and 0xE0-0xFC, the others
// 0x81-0xFE. Every byte is compared, so a range that loses or gains one byte fails.
TEST(CodePage, LeadBytesComeFromTheCodePage) {
  EXPECT_EQ(CodePage(1252, "UTF-8").LeadBytes(), nullptr);
  const struct {
    std::uint32_t codePage;
    std::vector<std::pair<unsigned, unsigned>> ranges;
  } cases[] = {{932, {{0x81, 0x9F}, {0xE0, 0xFC}}},
               {936, {{0x81, 0xFE}}},
               {949, {{0x81, 0xFE}}},
               {950, {{0x81, 0xFE}}}};
  for (const auto& c : cases) {
    const CodePage codePage(c.codePage, "UTF-8");
    const LeadByteTable* table = codePage.LeadBytes();
    ASSERT_NE(table, nullptr);
    for (unsigned byte = 0; byte < 256; ++byte) {
      const bool lead = std::any_of(c.ranges.begin(), c.ranges.end(), [byte](const auto& range) {
        return byte >= range.first && byte <= range.second;
      });
      EXPECT_EQ((*table)[byte], lead) << c.codePage << " " << byte;
    }
  }
}

TEST(Utf8ToCodePage, NamesTheFirstCharacterTheCodePageLacks) {
  const struct {
    std::uint32_t codePage;
    std::string utf8;
    std::string bytes;
    std::optional<char32_t> unmappable;
  } cases[] = {
      {1252, "\xE2\x82\xAC\xC3\xA9", "\x80\xE9", std::nullopt},
      {1252, "a\xE6\x97\xA5", "a", U'\u65E5'},
      {932, "\xE6\x97\xA5\xE8\xA1\xA8", "\x93\xFA\x95\x5C", std::nullopt},
      {1250, "\xC5\x82", "\xB3", std::nullopt},   // ł
      {1252, "caf\xE9", "caf\xE9", std::nullopt}, // not UTF-8: kept as it is
  };
  for (const auto& c : cases) {
    const auto result = platform::Utf8ToCodePage(c.codePage, c.utf8);
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->bytes, c.bytes);
    EXPECT_EQ(result->unmappable, c.unmappable);
  }
  EXPECT_FALSE(platform::Utf8ToCodePage(12345, "x").has_value());
}

} // namespace
} // namespace quillet::platform::posix

namespace quillet {
namespace {

struct LocaleCase {
  std::string a, b;
  bool equal;
};

void ExpectComparisons(const std::vector<LocaleCase>& cases) {
  for (const auto& c : cases) {
    EXPECT_EQ(SameTextLocale(c.a, c.b), c.equal) << '"' << c.a << "\" vs \"" << c.b << '"';
    EXPECT_EQ(SameTextLocale(c.b, c.a), c.equal) << "symmetry";
  }
}

// The program's texts are UTF-8 in every locale: letters fold by their characters, not bytes.
TEST(SameTextLocale, FoldsUtf8Characters) {
  ExpectComparisons({{"\xC3\xA4pfel.pas", "\xC3\x84PFEL.PAS", true}, // äpfel / ÄPFEL
                     {"\xC3\xA4", "\xC3\xB6", false},                // ä / ö
                     {"\xC3\xA4", "a", false},
                     {"\xC5\xA1", "\xC5\xA0", true},         // š / Š
                     {"\xEF\xBC\xA1", "\xEF\xBD\x81", true}, // fullwidth A / a
                     {"\x81x", "\x81X", true}}); // a byte that is no character stands for itself
}

} // namespace
} // namespace quillet
