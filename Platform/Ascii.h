// ASCII case folding, for both platforms and every layer above them. Only the 26 letters change
// case: every other value stays as it is, bytes 0x80-0xFF of any code page and code points beyond
// ASCII included, since their case is for a locale or Unicode to tell.
#pragma once

#include <concepts>
#include <string>
#include <string_view>

namespace quillet::platform {

// For char, unsigned char, char16_t, char32_t, wchar_t alike.
template <std::integral Char> constexpr Char AsciiUpper(Char c) {
  return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 'a' + 'A') : c;
}

template <std::integral Char> constexpr Char AsciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

// Equal lengths and equal characters once the ASCII letters are folded.
inline bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
      return false;
    }
  }
  return true;
}

inline std::string AsciiLowerText(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = AsciiLower(c);
  }
  return out;
}

} // namespace quillet::platform
