#include <gtest/gtest.h>

#include <clocale>
#include <vector>

#include "CoreAPITools/TextTools.h"
#include "QuilletCore/SameTextLocale.h"

namespace quillet {
namespace {

TEST(TrimBlanks, RemovesControlsAndBlanksOnly) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"  C:\\Tools\\IDE  ", "C:\\Tools\\IDE"},
      {"\t\r\n\x01x\x1f ", "x"},
      {std::string("\0a\0", 3), "a"},
      {"\x7f"
       "a\x7f",
       "\x7f"
       "a\x7f"},
      {"\xA0\xFF", "\xA0\xFF"},
      {" \x20\x09 ", ""},
      {"a b", "a b"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TrimBlanks(c.in), c.out);
  }
}

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

TEST(SameTextLocale, AsciiFoldsInEveryLocale) {
  const char* saved = std::setlocale(LC_CTYPE, nullptr);
  const std::string restore = saved != nullptr ? saved : "C";
  for (const char* locale : {"C", "C.UTF-8"}) {
    if (std::setlocale(LC_CTYPE, locale) == nullptr) {
      continue;
    }
    ExpectComparisons({{"", "", true},
                       {"welcome.txt", "Welcome.Txt", true},
                       {"README.HTML", "readme.html", true},
                       {"a", "", false},
                       {"abc", "abd", false},
                       {"abc", "abcd", false},
                       {std::string("a\0b", 3), std::string("A\0B", 3), true},
                       {std::string("a\0b", 3), "a", false},
                       {"\xFF\xFE", "\xFF\xFE", true},
                       {"\xFF", "\xFE", false}});
  }
  std::setlocale(LC_CTYPE, restore.c_str());
}

// Letters fold by the code page that the locale chooses: its characters, not its bytes.
TEST(SameTextLocale, FoldsCharactersOfTheCodePage) {
  const char* saved = std::setlocale(LC_CTYPE, nullptr);
  const std::string restore = saved != nullptr ? saved : "C";
  const struct {
    const char* locale;
    std::vector<LocaleCase> cases;
  } locales[] = {
      {"C.UTF-8",                               // code page 1252
       {{"\xE4pfel.pas", "\xC4PFEL.PAS", true}, // äpfel / ÄPFEL
        {"\xE4", "\xF6", false},
        {"\xE4", "a", false},
        {"\x9A", "\x8A", true},          // š / Š
        {"\x81x", "\x81X", true}}},      // a byte that is no character stands for itself
      {"ja_JP.UTF-8",                    // code page 932
       {{"\x82\x60", "\x82\x81", true},  // fullwidth A / a
        {"\x83\x41", "\x83\x61", false}, // two katakana, not A / a
        {"\x95\x5C\x83\x41", "\x95\x5C\x83\x41", true}, // second byte 0x5C
        {"\xE4", "\xC4", false}}},                      // half-width katakana
  };
  for (const auto& [locale, cases] : locales) {
    if (std::setlocale(LC_CTYPE, locale) == nullptr) {
      ADD_FAILURE() << "locale " << locale << " is missing: run scripts/deps.sh";
      continue;
    }
    SCOPED_TRACE(locale);
    ExpectComparisons(cases);
  }
  std::setlocale(LC_CTYPE, restore.c_str());
}

} // namespace
} // namespace quillet
