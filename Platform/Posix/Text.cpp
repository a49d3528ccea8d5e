// Text services on POSIX: the program's texts are UTF-8 (Platform/Text.h); a package's code page
// is converted with iconv, and the system's ANSI code page is the one Posix/CodePage.h chooses
// from the locale, as Wine chooses it.
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>

#include "Platform/Posix/CodePage.h"
#include "Platform/Text.h"
#include "Platform/Utf8.h"

namespace quillet::platform {

namespace {

bool IsAscii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return false;
    }
  }
  return true;
}

// Converters between a package's code page and UTF-8, made once per code page: a package's
// names are converted one by one. Throws std::invalid_argument for one iconv does not know.
const posix::CodePage& Utf8Converter(std::uint32_t codePage) {
  static std::mutex lock;
  static std::unordered_map<std::uint32_t, std::unique_ptr<posix::CodePage>> made;
  const std::lock_guard<std::mutex> guard(lock);
  std::unique_ptr<posix::CodePage>& converter = made[codePage];
  if (!converter) {
    converter = std::make_unique<posix::CodePage>(codePage, "UTF-8");
  }
  return *converter;
}

} // namespace

bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b) {
  if (a == b) {
    return true;
  }
  const std::u32string charsA = DecodeUtf8(a);
  const std::u32string charsB = DecodeUtf8(b);
  if (charsA.size() != charsB.size()) {
    return false;
  }
  for (std::size_t i = 0; i < charsA.size(); ++i) {
    if (charsA[i] != charsB[i] && posix::UpperCase(charsA[i]) != posix::UpperCase(charsB[i])) {
      return false;
    }
  }
  return true;
}

std::uint32_t SystemCodePage() {
  return posix::CodePage::System().Number();
}

std::optional<CodePageText> Utf8ToCodePage(std::uint32_t codePage, std::string_view utf8) {
  if (posix::IconvNameOfCodePage(codePage).empty()) {
    return std::nullopt;
  }
  if (IsAscii(utf8)) {
    return CodePageText{std::string(utf8), std::nullopt}; // the same in every code page
  }
  try {
    const posix::CodePage& converter = Utf8Converter(codePage);
    CodePageText result;
    result.bytes = converter.Encode(DecodeUtf8(utf8), /*strict=*/true, &result.unmappable);
    return result;
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view bytes) {
  if (posix::IconvNameOfCodePage(codePage).empty()) {
    return std::nullopt;
  }
  if (IsAscii(bytes)) {
    return std::string(bytes);
  }
  try {
    return Utf8Converter(codePage).ToNative(bytes);
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
}

} // namespace quillet::platform
