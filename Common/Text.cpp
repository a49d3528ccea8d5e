#include "Common/Text.h"

#include <algorithm>

#include "Platform/Ascii.h"
#include "Platform/Utf8.h"

namespace quillet {

std::string_view TrimBlanks(std::string_view text) {
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  while (!text.empty() && isBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

std::string ShownText(std::string_view text, TextShape shape, bool utf8) {
  const auto plain = [utf8](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte != 0x7F && (!utf8 || byte < 0x80);
  };
  if (std::all_of(text.begin(), text.end(), plain)) {
    return std::string(text);
  }
  // Characters, with bytes that are none kept as pass-through markers; outside UTF-8 every byte
  // from 0x80 up is one, so that it comes back as it was.
  std::u32string chars;
  if (utf8) {
    chars = platform::DecodeUtf8(text);
  } else {
    for (const char c : text) {
      const auto byte = static_cast<unsigned char>(c);
      chars += byte < 0x80 ? char32_t{byte} : platform::PassThrough(byte);
    }
  }
  const auto isC1 = [utf8](char32_t c) {
    const char32_t code = platform::IsPassThrough(c) ? c - platform::PASS_THROUGH_BASE : c;
    return utf8 && code >= 0x80 && code <= 0x9F;
  };
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const char32_t c = chars[i];
    if (c >= 0x20 && c != 0x7F && !isC1(c)) {
      continue;
    }
    const bool ownLineEnd =
        c == U'\n' || (c == U'\r' && i + 1 < chars.size() && chars[i + 1] == U'\n');
    if (shape == TextShape::Lines && (ownLineEnd || c == U'\t')) {
      continue;
    }
    chars[i] = U'?';
  }
  return platform::EncodeUtf8(chars);
}

} // namespace quillet
