// The conversion between a package's texts and the program's, the same on both systems.
#include "Platform/Text.h"

namespace quillet::platform {

std::string CodePageToText(std::uint32_t codePage, std::string_view bytes) {
  return CodePageToUtf8(codePage, bytes).value_or(std::string(bytes));
}

std::optional<std::string> TextToCodePage(std::uint32_t codePage, std::string_view text) {
  if (codePage == CODE_PAGE_UTF8) {
    return std::string(text);
  }
  std::optional<CodePageText> converted = Utf8ToCodePage(codePage, text);
  if (!converted || converted->unmappable) {
    return std::nullopt;
  }
  return std::move(converted->bytes);
}

} // namespace quillet::platform
