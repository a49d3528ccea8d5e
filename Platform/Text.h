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

// Lead bytes of the program's double-byte code page; nullptr when double-byte support is off and
// for UTF-8 (no byte of a UTF-8 character can be taken for "\" or ":").
using LeadByteTable = std::array<bool, 256>;
const LeadByteTable* ActiveLeadBytes();

// The program's texts (paths, registry text, typed and written console text) are in the system's
// ANSI code page, as for a Windows ANSI program, unless a UnicodeText object lives: then they are
// UTF-8, and reach the system without passing through the ANSI code page, so that a folder named
// in characters that code page lacks is that folder and no look-alike. Texts from elsewhere (a
// package's names, bytes through a pipe) are converted into it where they enter.
class UnicodeText {
public:
  UnicodeText();
  ~UnicodeText();
  UnicodeText(const UnicodeText&) = delete;
  UnicodeText& operator=(const UnicodeText&) = delete;

private:
  bool outer_;
};
bool UnicodeTextActive();

// The code page of the program's texts: 65001 (UTF-8) while UnicodeText lives, otherwise the
// system's ANSI code page.
std::uint32_t ActiveCodePage();
// The number of the system's ANSI code page (1252, 932, ...), whatever the program's texts are.
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

// Text in a Windows code page (a package's) in the code page of the program's texts; unchanged
// when the two are the same or the system does not know the code page. Without UnicodeText a
// character the system's code page lacks becomes its nearest one or "?".
std::string CodePageToText(std::uint32_t codePage, std::string_view bytes);
// The program's text in a Windows code page, strictly: nullopt when a character does not fit or
// the system does not know the code page.
std::optional<std::string> TextToCodePage(std::uint32_t codePage, std::string_view text);

} // namespace quillet::platform
