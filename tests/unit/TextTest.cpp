#include <gtest/gtest.h>

#include <clocale>
#include <vector>

#include "Common/Text.h"
#include "Platform/Ascii.h"
#include "Platform/PathSplit.h"

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

// Only the 26 letters fold: the neighbours of the letter ranges and Latin-1 letters, which a bit
// trick (c & ~0x20) or a locale's toupper would change, stay.
TEST(AsciiCase, FoldsLettersOnly) {
  const struct {
    char32_t c, upper, lower;
  } cases[] = {{'a', 'A', 'a'},    {'Z', 'Z', 'z'},         {'@', '@', '@'},    {'[', '[', '['},
               {'`', '`', '`'},    {'{', '{', '{'},         {0xE4, 0xE4, 0xE4}, {0xC4, 0xC4, 0xC4},
               {0xFF, 0xFF, 0xFF}, {0xFF41, 0xFF41, 0xFF41}};
  for (const auto& c : cases) {
    EXPECT_EQ(platform::AsciiUpper(c.c), c.upper) << static_cast<unsigned>(c.c);
    EXPECT_EQ(platform::AsciiLower(c.c), c.lower) << static_cast<unsigned>(c.c);
    if (c.c <= 0xFF) { // and as a (signed) char byte
      EXPECT_EQ(platform::AsciiUpper(static_cast<char>(c.c)), static_cast<char>(c.upper));
      EXPECT_EQ(platform::AsciiLower(static_cast<char>(c.c)), static_cast<char>(c.lower));
    }
  }
}

TEST(SplitAtLastSeparator, KeepsTheSeparatorWithTheFolder) {
  const struct {
    std::string_view path, separators, folder, name;
  } cases[] = {{"a/b/c", "/", "a/b/", "c"}, {"name", "/", "", "name"},
               {"/x", "/", "/", "x"},       {"a/b/", "/", "a/b/", ""},
               {"a\\b", "/", "", "a\\b"},   {"C:\\A/b\\c.exe", "/\\", "C:\\A/b\\", "c.exe"}};
  for (const auto& c : cases) {
    const platform::PathParts parts = platform::SplitAtLastSeparator(c.path, c.separators);
    EXPECT_EQ(parts.folder, c.folder) << c.path;
    EXPECT_EQ(parts.name, c.name) << c.path;
  }
}

} // namespace
} // namespace quillet
