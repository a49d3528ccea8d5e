// Text: locale-aware comparison and code-page conversion.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Text.cpp and Platform/Win32/Text.cpp. No OS type appears in it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::platform {

// The program's texts (paths, registry text, typed and written console text) are UTF-8, in both
// programs. They reach the system without passing through its ANSI code page, so that a folder
// named in characters that code page lacks is that folder and no look-alike; inside UTF-8 no byte
// of a character can be taken for "\" or ":". Texts from elsewhere (a package's names in its code
// page, bytes through a pipe) are converted into UTF-8 where they enter.

// Case-insensitive equality of two UTF-8 texts under the user's locale.
bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b);

// The number of the system's ANSI code page (1252, 932, ...): the code page of a package that
// names none, and of the bytes in a pipe or a file.
std::uint32_t SystemCodePage();
inline constexpr std::uint32_t CODE_PAGE_UTF8 = 65001;

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

// Text in a Windows code page (a package's) as the program's text, UTF-8; the bytes unchanged
// when the system does not know the code page.
std::string CodePageToText(std::uint32_t codePage, std::string_view bytes);
// The program's text in a Windows code page, strictly: nullopt when a character does not fit or
// the system does not know the code page.
std::optional<std::string> TextToCodePage(std::uint32_t codePage, std::string_view text);

} // namespace quillet::platform
