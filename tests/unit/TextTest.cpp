#include <gtest/gtest.h>

#include <clocale>
#include <vector>

#include "Common/Text.h"

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

} // namespace
} // namespace quillet
