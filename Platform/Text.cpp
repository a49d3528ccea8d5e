// The choice between ANSI and UTF-8 texts, the same on both systems.
#include "Platform/Text.h"

#include <atomic>

namespace quillet::platform {

namespace {
std::atomic<bool> unicodeText{false};
} // namespace

UnicodeText::UnicodeText() : outer_(unicodeText.exchange(true)) {}
UnicodeText::~UnicodeText() {
  unicodeText.store(outer_);
}

bool UnicodeTextActive() {
  return unicodeText.load();
}

std::string CodePageToText(std::uint32_t codePage, std::string_view bytes) {
  // An ANSI program takes a package's bytes as they are, in the system's code page.
  if (!UnicodeTextActive()) {
    return std::string(bytes);
  }
  return CodePageToUtf8(codePage, bytes).value_or(std::string(bytes));
}

std::optional<std::string> TextToCodePage(std::uint32_t codePage, std::string_view text) {
  if (codePage == ActiveCodePage()) {
    return std::string(text);
  }
  const std::optional<std::string> utf8 = UnicodeTextActive()
                                              ? std::optional<std::string>(text)
                                              : CodePageToUtf8(ActiveCodePage(), text);
  if (!utf8) {
    return std::nullopt;
  }
  std::optional<CodePageText> converted = Utf8ToCodePage(codePage, *utf8);
  if (!converted || converted->unmappable) {
    return std::nullopt;
  }
  return std::move(converted->bytes);
}

} // namespace quillet::platform
