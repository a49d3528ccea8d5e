// Library folders added through the registry calls, in a key of the current user that the test
// makes and removes.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "Platform/Text.h"
#include "Platform/UserRegistry.h"
#include "Platform/Win32/Win32.h"

namespace quillet {
namespace {

using platform::UserListOutcome;

const std::string KEY = "Software\\QuilletTest\\BDS\\23.0\\Library\\Win32";

// The value as the registry holds it, with its type; nullopt when it is missing.
std::optional<std::pair<DWORD, std::string>> Value(const char* name) {
  char data[512] = {};
  DWORD size = sizeof data;
  DWORD type = 0;
  if (::RegGetValueA(HKEY_CURRENT_USER, KEY.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                     &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::make_pair(type, std::string(data));
}

TEST(Win32UserRegistry, AppendsThroughTheRegistryCalls) {
  const struct {
    const char* name;
    DWORD type; // REG_NONE: the value is missing at the start
    const char* before;
    UserListOutcome outcome;
    const char* after; // nullptr: unchanged
  } rows[] = {
      {"append", REG_SZ, "$(BDSLIB);C:\\J\xe4ger", UserListOutcome::Changed,
       "$(BDSLIB);C:\\J\xe4ger;C:\\Lib\\Source"},
      {"present", REG_EXPAND_SZ, "c:\\lib\\source\\", UserListOutcome::Present, nullptr},
      {"missing value", REG_NONE, "", UserListOutcome::Changed, "C:\\Lib\\Source"},
      {"not text", REG_BINARY, "AB", UserListOutcome::Failed, nullptr},
  };
  for (const auto& row : rows) {
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, KEY.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (row.type != REG_NONE) {
      ::RegSetValueExA(key, "Search Path", 0, row.type, reinterpret_cast<const BYTE*>(row.before),
                       static_cast<DWORD>(std::strlen(row.before) + 1));
    }
    ::RegCloseKey(key);
    const auto before = Value("Search Path");
    EXPECT_EQ(platform::AddToUserLists({{KEY, "Search Path"}}, "C:\\Lib\\Source").outcome,
              row.outcome)
        << row.name;
    const auto after = Value("Search Path");
    if (row.after == nullptr) {
      EXPECT_EQ(after, before) << row.name;
    } else {
      ASSERT_TRUE(after) << row.name;
      EXPECT_EQ(after->first, row.type == REG_NONE ? REG_SZ : row.type) << row.name;
      EXPECT_EQ(after->second, row.after) << row.name;
    }
  }
  // A key that does not exist is not made.
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
  EXPECT_EQ(platform::AddToUserLists({{KEY, "Search Path"}}, "C:\\Lib").outcome,
            UserListOutcome::KeyMissing);
  HKEY key = nullptr;
  EXPECT_NE(::RegOpenKeyExA(HKEY_CURRENT_USER, KEY.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
}

// The user's other folders keep the characters the ANSI code page lacks, and a folder in such
// characters is added as it is.
TEST(Win32UserRegistry, KeepsEveryCharacterOfTheList) {
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, KEY.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const std::wstring before = L"C:\\\u0141\u00f3d\u017a";
  ::RegSetValueExW(key, L"Search Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(before.c_str()),
                   static_cast<DWORD>((before.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  EXPECT_EQ(platform::AddToUserLists({{KEY, "Search Path"}}, "C:\\\u6771\u4eac\\Lib").outcome,
            UserListOutcome::Changed);
  wchar_t data[256] = {};
  DWORD size = sizeof data;
  ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, std::wstring(KEY.begin(), KEY.end()).c_str(),
                           L"Search Path", RRF_RT_REG_SZ, nullptr, data, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::wstring(data), before + L";C:\\\u6771\u4eac\\Lib");
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
}

TEST(Win32UserRegistry, ReadsTextValuesOnly) {
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, KEY.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char text[] = "%X%\\Shared";
  const DWORD number = 1;
  ::RegSetValueExA(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text),
                   sizeof text);
  ::RegSetValueExA(key, "Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                   sizeof number);
  ::RegCloseKey(key);
  EXPECT_EQ(platform::ReadUserText(KEY, "Expand"), "%X%\\Shared") << "as stored, not expanded";
  EXPECT_EQ(platform::ReadUserText(KEY, "Number"), std::nullopt);
  EXPECT_EQ(platform::ReadUserText(KEY, "Missing"), std::nullopt);
  EXPECT_EQ(platform::ReadUserText(KEY + "\\Missing", "Expand"), std::nullopt);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
}

// An entry replaced in place; the installer's own key made (Wine enumerates values sorted by name,
// Windows in the order they were set: these are in both), read back, and removed with its last
// value but not while a subkey stands below it.
TEST(Win32UserRegistry, ChangesEntriesAndItsOwnKeys) {
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, KEY.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const char list[] = "A; old\\ ;B";
  ::RegSetValueExA(key, "Search Path", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(list),
                   sizeof list);
  ::RegCloseKey(key);
  EXPECT_EQ(platform::ChangeUserLists({{KEY, "Search Path"}}, "NEW", "OLD").outcome,
            UserListOutcome::Changed);
  EXPECT_EQ(Value("Search Path"), std::make_pair(DWORD{REG_EXPAND_SZ}, std::string("A;NEW;B")));
  EXPECT_EQ(platform::ChangeUserLists({{KEY, "Search Path"}}, "", "new").outcome,
            UserListOutcome::Changed);
  EXPECT_EQ(Value("Search Path")->second, "A;B");

  const std::string own = "Software\\QuilletTest\\Installed\\P";
  EXPECT_EQ(platform::SetUserText(own, "A", "1").outcome, UserListOutcome::Changed);
  EXPECT_EQ(platform::SetUserText(own, "\xc3\xa4", "2").outcome, UserListOutcome::Changed);
  EXPECT_EQ(platform::SetUserText(own, "\xc3\xa4", "2").outcome, UserListOutcome::Present);
  const auto texts = platform::ReadUserTexts(own);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0].name + "=" + texts[0].text + ";" + texts[1].name + "=" + texts[1].text,
            "A=1;\xc3\xa4=2");
  EXPECT_EQ(platform::SetUserText(own + "\\Sub", "C", "3").outcome, UserListOutcome::Changed);
  EXPECT_EQ(platform::RemoveUserValue(own, "A").outcome, UserListOutcome::Changed);
  EXPECT_EQ(platform::RemoveUserValue(own, "\xc3\xa4").outcome, UserListOutcome::Changed);
  EXPECT_EQ(platform::RemoveUserValue(own, "\xc3\xa4").outcome, UserListOutcome::Present);
  EXPECT_EQ(platform::RemoveUserValue(own + "\\Sub", "C").outcome, UserListOutcome::Changed);
  EXPECT_NE(::RegOpenKeyExA(HKEY_CURRENT_USER, (own + "\\Sub").c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
  ASSERT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, own.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS)
      << "kept while it had a subkey";
  ::RegCloseKey(key);
  ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\QuilletTest");
}

} // namespace
} // namespace quillet
