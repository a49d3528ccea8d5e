#include "Common/Text.h"

#include "Platform/Ascii.h"

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

bool SameTextAscii(std::string_view a, std::string_view b) {
  return platform::EqualIgnoringAsciiCase(a, b);
}

} // namespace quillet
