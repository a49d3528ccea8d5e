#include "Platform/Utf8.h"

#include <algorithm>

namespace quillet::platform {

std::u32string DecodeUtf8(std::string_view text) {
  std::u32string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (b < 0x80) {
      out += b;
      ++i;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2, c = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3, c = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4, c = b & 0x07, minimum = 0x10000;
    }
    bool valid = length != 0 && length <= text.size() - i;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    valid = valid && c >= minimum && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
    if (valid) {
      out += c;
      i += length;
    } else {
      out += PassThrough(b);
      ++i;
    }
  }
  return out;
}

std::string EncodeUtf8(std::u32string_view text) {
  std::string out;
  for (const char32_t c : text) {
    if (IsPassThrough(c)) {
      out += static_cast<char>(c - PASS_THROUGH_BASE);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::size_t IncompleteUtf8Tail(std::string_view text) {
  const std::size_t back = std::min<std::size_t>(text.size(), 3);
  for (std::size_t k = 1; k <= back; ++k) {
    const auto b = static_cast<unsigned char>(text[text.size() - k]);
    if ((b & 0xC0) == 0x80) {
      continue; // a continuation byte: look further back for the start
    }
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return length > k ? k : 0;
  }
  return 0;
}

} // namespace quillet::platform
