// Text: locale-aware comparison, the double-byte lead bytes, and code-page conversion.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Text.cpp and Platform/Win32/Text.cpp. No OS type appears in it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::platform {

// Case-insensitive equality under the user's locale (the system's ANSI code page).
bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b);

// Lead bytes of the active double-byte code page; nullptr when double-byte support is off.
using LeadByteTable = std::array<bool, 256>;
const LeadByteTable* ActiveLeadBytes();

// The number of the system's ANSI code page (1252, 932, ...).
std::uint32_t ActiveCodePage();

// Text converted from UTF-8 into a Windows code page. Bytes that are no UTF-8 are kept as they
// are. `unmappable` is the first character that the code page cannot hold; `bytes` is then
// incomplete.
struct CodePageText {
  std::string bytes;
  std::optional<char32_t> unmappable;
};

// nullopt when the system does not know the code page.
std::optional<CodePageText> Utf8ToCodePage(std::uint32_t codePage, std::string_view utf8);
// Text in a Windows code page as UTF-8; bytes that are no character of the code page are kept.
// nullopt when the system does not know the code page.
std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view bytes);

} // namespace quillet::platform
