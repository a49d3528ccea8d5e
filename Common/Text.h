// Text rules that both programs apply: trimming, and the two case-insensitive comparisons.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "Platform/Text.h"

namespace quillet {

// Removes every byte from 0 to 32 (the blank and the control characters) at both ends.
// Bytes from 33 up, 0x80 to 0xFF included, stay.
std::string_view TrimBlanks(std::string_view text);

// "1 file", "2 files": a count with its noun.
inline std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Case-insensitive equality under the user's locale, used for entry names, macro names and the
// readme's name. The platform supplies the locale-aware comparison.
inline bool SameTextLocale(std::string_view a, std::string_view b) {
  return platform::EqualIgnoringCaseInLocale(a, b);
}

// Where a text from outside (a package, the registry, a file name) is shown.
enum class TextShape {
  Line,  // within one line: a name, a folder, a registry value
  Lines, // a text of lines of its own, such as the welcome text
};

// What may be shown of a text from outside on a terminal: every control character (below 0x20,
// and 0x7F) becomes "?", except, for Lines, the text's own line ends (LF, CR LF) and tabs; so a
// line never breaks where the program did not break it, and no escape sequence drives the
// terminal. In UTF-8 text (`utf8`) the C1 controls U+0080-U+009F become "?" too, and so does a
// byte 0x80-0x9F that belongs to no character. A text without any of these comes back unchanged.
std::string ShownText(std::string_view text, TextShape shape, bool utf8);

} // namespace quillet
