#include "Platform/Posix/CodePage.h"

#include <langinfo.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cwctype>
#include <stdexcept>
#include <utility>
#include <vector>

#include "Platform/Ascii.h"

namespace quillet::platform::posix {

namespace {

constexpr char32_t REPLACEMENT = '?';
constexpr std::uint32_t CP_UTF8 = 65001;
constexpr std::string_view UTF32 = "UTF-32LE";

struct LanguageCodePage {
  std::string_view language;
  std::uint32_t codePage;
};

// Wine's locale data (the ANSI code page of each locale's default script), by language. Locales
// that Windows writes with a script tag (az-Latn-AZ, uz-Latn-UZ, bs-Latn-BA, sr-Latn-RS) are not
// found under the POSIX name and fall back to 1252, as in Wine. Languages that Windows writes in
// Unicode only get UTF-8 (65001).
constexpr LanguageCodePage LANGUAGE_CODE_PAGES[] = {
    {"ja", 932},   {"ko", 949},   {"zh", 936},   {"th", 874},   {"vi", 1258},  {"el", 1253},
    {"tr", 1254},  {"he", 1255},  {"ar", 1256},  {"fa", 1256},  {"ur", 1256},  {"et", 1257},
    {"lv", 1257},  {"lt", 1257},  {"ru", 1251},  {"uk", 1251},  {"bg", 1251},  {"be", 1251},
    {"mk", 1251},  {"ky", 1251},  {"mn", 1251},  {"tt", 1251},  {"ba", 1251},  {"sah", 1251},
    {"pl", 1250},  {"cs", 1250},  {"sk", 1250},  {"hu", 1250},  {"hr", 1250},  {"sl", 1250},
    {"ro", 1250},  {"sq", 1250},  {"kk", 65001}, {"hi", 65001}, {"bn", 65001}, {"ta", 65001},
    {"te", 65001}, {"ml", 65001}, {"kn", 65001}, {"gu", 65001}, {"pa", 65001}, {"mr", 65001},
    {"ka", 65001}, {"hy", 65001}, {"am", 65001}, {"km", 65001}, {"lo", 65001}, {"si", 65001},
    {"ne", 65001},
};

// Territories whose Chinese is written with traditional characters.
constexpr std::string_view TRADITIONAL_CHINESE[] = {"TW", "HK", "MO"};

bool IsUtf8OrAscii(std::string_view charset) {
  std::string folded;
  for (char c : charset) {
    if (c != '-' && c != '_') {
      folded += AsciiUpper(c);
    }
  }
  // An ASCII locale ("C") holds no other character: its names are taken as UTF-8, as Wine does.
  return folded.empty() || folded == "UTF8" || folded == "ANSIX3.41968" || folded == "ASCII" ||
         folded == "USASCII";
}

std::u32string Utf32ToCodePoints(std::string_view bytes) {
  std::u32string out;
  for (std::size_t i = 0; i + 3 < bytes.size(); i += 4) {
    char32_t c = 0;
    for (int k = 3; k >= 0; --k) {
      c = (c << 8) | static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
    }
    out += c;
  }
  return out;
}

std::string CodePointToUtf32(char32_t c) {
  std::string out(4, '\0');
  for (std::size_t k = 0; k < 4; ++k) {
    out[k] = static_cast<char>((c >> (8 * k)) & 0xFF);
  }
  return out;
}

struct LeadRange {
  std::uint32_t codePage;
  unsigned first;
  unsigned last;
};

// The lead-byte ranges that Windows reports for the double-byte code pages (GetCPInfo).
constexpr LeadRange LEAD_RANGES[] = {
    {932, 0x81, 0x9F}, {932, 0xE0, 0xFC}, {936, 0x81, 0xFE}, {949, 0x81, 0xFE}, {950, 0x81, 0xFE},
};

} // namespace

std::uint32_t AnsiCodePageForLocale(std::string_view localeName) {
  // language[_territory][.charset][@modifier]
  const std::size_t modifierAt = localeName.find('@');
  const std::string_view name = localeName.substr(0, std::min(localeName.find('.'), modifierAt));
  const std::size_t underscore = name.find('_');
  const std::string_view language = name.substr(0, underscore);
  const std::string_view territory =
      underscore == std::string_view::npos ? std::string_view() : name.substr(underscore + 1);
  if (language == "zh") {
    for (std::string_view t : TRADITIONAL_CHINESE) {
      if (territory == t) {
        return 950;
      }
    }
    return 936;
  }
  for (const auto& [lang, codePage] : LANGUAGE_CODE_PAGES) {
    if (lang == language) {
      return codePage;
    }
  }
  return 1252;
}

std::string IconvNameOfCodePage(std::uint32_t codePage) {
  switch (codePage) {
  case 874:
    return "CP874";
  case 932:
    return "CP932";
  case 936:
    return "CP936";
  case 949:
    return "CP949";
  case 950:
    return "BIG5"; // glibc has no CP950; Big5 is its core
  case 65001:
    return "UTF-8";
  default:
    if (codePage >= 1250 && codePage <= 1258) {
      return "CP" + std::to_string(codePage);
    }
    return {};
  }
}

// ---------------------------------------------------------------------------------------------
// IconvHandle

IconvHandle::IconvHandle(const std::string& to, const std::string& from)
    : handle_(::iconv_open(to.c_str(), from.c_str())) {}

IconvHandle::~IconvHandle() {
  if (Valid()) {
    ::iconv_close(handle_);
  }
}

std::optional<std::string> IconvHandle::Convert(std::string_view in, bool* incomplete) const {
  if (incomplete != nullptr) {
    *incomplete = false;
  }
  if (!Valid()) {
    return std::nullopt;
  }
  ::iconv(handle_, nullptr, nullptr, nullptr, nullptr); // a fresh shift state
  std::string input(in);
  std::string out(in.size() * 4 + 16, '\0');
  char* inPtr = input.data();
  std::size_t inLeft = input.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  while (inLeft > 0) {
    if (::iconv(handle_, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
      continue;
    }
    if (errno == E2BIG) {
      const std::size_t used = out.size() - outLeft;
      out.resize(out.size() * 2);
      outPtr = out.data() + used;
      outLeft = out.size() - used;
      continue;
    }
    if (incomplete != nullptr) {
      *incomplete = errno == EINVAL;
    }
    return std::nullopt;
  }
  out.resize(out.size() - outLeft);
  return out;
}

// ---------------------------------------------------------------------------------------------
// CodePage

CodePage::CodePage(std::uint32_t number, std::string_view nativeCharset)
    : number_(number), nativeUtf8_(IsUtf8OrAscii(nativeCharset)),
      iconvName_(IconvNameOfCodePage(number)), nativeCharset_(nativeCharset) {
  if (iconvName_.empty()) {
    throw std::invalid_argument("code page " + std::to_string(number) + " is not supported");
  }
  const std::string utf32(UTF32);
  decoder_ = std::make_unique<IconvHandle>(utf32, iconvName_);
  encoder_ = std::make_unique<IconvHandle>(iconvName_, utf32);
  bestFitEncoder_ = std::make_unique<IconvHandle>(iconvName_ + "//TRANSLIT", utf32);
  if (!decoder_->Valid() || !encoder_->Valid()) {
    throw std::invalid_argument("code page " + std::to_string(number) +
                                " is not known to the system's iconv");
  }
  if (!nativeUtf8_) {
    nativeDecoder_ = std::make_unique<IconvHandle>(utf32, nativeCharset_);
    nativeEncoder_ = std::make_unique<IconvHandle>(nativeCharset_, utf32);
    nativeUtf8_ = !nativeDecoder_->Valid() || !nativeEncoder_->Valid();
  }
  for (const LeadRange& range : LEAD_RANGES) {
    if (range.codePage == number) {
      doubleByte_ = true;
      for (unsigned b = range.first; b <= range.last; ++b) {
        leadBytes_[b] = true;
      }
    }
  }
  for (unsigned b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const auto decoded =
        b < 0x80 ? std::optional<std::string>(CodePointToUtf32(b)) : decoder_->Convert(byte);
    const std::u32string chars = decoded ? Utf32ToCodePoints(*decoded) : std::u32string();
    singleBytes_[b] = chars.size() == 1 && !leadBytes_[b] ? chars[0] : PASS_THROUGH_BASE + b;
  }
}

namespace {

// One code page per locale, made again only when the locale changes. Replaced ones are kept, so
// that a reference handed out earlier stays valid.
const CodePage& CodePageOfLocale(bool unicode) {
  static std::mutex lock;
  static std::string localeName[2];
  static std::vector<std::unique_ptr<CodePage>> made[2];
  const std::lock_guard<std::mutex> guard(lock);
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string name = current != nullptr ? current : "C";
  if (made[unicode].empty() || name != localeName[unicode]) {
    made[unicode].push_back(std::make_unique<CodePage>(
        unicode ? CP_UTF8 : AnsiCodePageForLocale(name), ::nl_langinfo(CODESET)));
    localeName[unicode] = name;
  }
  return *made[unicode].back();
}

} // namespace

const CodePage& CodePage::Active() {
  return CodePageOfLocale(true);
}

const CodePage& CodePage::System() {
  return CodePageOfLocale(false);
}

const CodePage::Row& CodePage::DoubleByteRow(unsigned char lead) const {
  // Locked by the caller.
  if (!rows_[lead]) {
    auto row = std::make_unique<Row>();
    for (unsigned b = 0; b < 256; ++b) {
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(b)};
      const auto decoded = decoder_->Convert(std::string_view(pair, 2));
      const std::u32string chars = decoded ? Utf32ToCodePoints(*decoded) : std::u32string();
      (*row)[b] = chars.size() == 1 ? chars[0] : PASS_THROUGH_BASE;
    }
    rows_[lead] = std::move(row);
  }
  return *rows_[lead];
}

std::u32string CodePage::Decode(std::string_view text) const {
  if (number_ == CP_UTF8) {
    return DecodeUtf8(text);
  }
  std::u32string out;
  out.reserve(text.size());
  const std::lock_guard<std::mutex> guard(cacheLock_);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (doubleByte_ && leadBytes_[b] && i + 1 < text.size()) {
      const char32_t c = DoubleByteRow(b)[static_cast<unsigned char>(text[i + 1])];
      if (c != PASS_THROUGH_BASE) {
        out += c;
        ++i;
        continue;
      }
    }
    out += singleBytes_[b];
  }
  return out;
}

std::optional<std::string> CodePage::EncodeOne(char32_t c, bool strict) const {
  // Locked by the caller.
  if (strict) {
    const auto [it, added] = strictCache_.try_emplace(c);
    if (added) {
      it->second = encoder_->Convert(CodePointToUtf32(c));
    }
    return it->second;
  }
  const auto [it, added] = bestFitCache_.try_emplace(c);
  if (added) {
    auto exact = encoder_->Convert(CodePointToUtf32(c));
    if (!exact && bestFitEncoder_->Valid()) {
      exact = bestFitEncoder_->Convert(CodePointToUtf32(c));
    }
    it->second = exact && !exact->empty() ? *exact : std::string(1, REPLACEMENT);
  }
  return it->second;
}

std::string CodePage::Encode(std::u32string_view text, bool strict,
                             std::optional<char32_t>* unmappable) const {
  std::string out;
  out.reserve(text.size());
  const std::lock_guard<std::mutex> guard(cacheLock_);
  for (const char32_t c : text) {
    if (IsPassThrough(c)) {
      out += static_cast<char>(c - PASS_THROUGH_BASE);
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const auto bytes = EncodeOne(c, strict)) {
      out += *bytes;
    } else {
      if (unmappable != nullptr) {
        *unmappable = c;
      }
      return out;
    }
  }
  return out;
}

bool CodePage::HeldByNative(std::string_view text) const {
  if (nativeUtf8_) {
    return true;
  }
  for (const char32_t c : Decode(text)) {
    if (!IsPassThrough(c) && !nativeEncoder_->Convert(CodePointToUtf32(c))) {
      return false;
    }
  }
  return true;
}

std::string CodePage::ToNative(std::string_view text) const {
  const std::u32string chars = Decode(text);
  if (nativeUtf8_) {
    return EncodeUtf8(chars);
  }
  std::string out;
  for (const char32_t c : chars) {
    const auto bytes =
        IsPassThrough(c) ? std::nullopt : nativeEncoder_->Convert(CodePointToUtf32(c));
    if (bytes) {
      out += *bytes;
    } else if (IsPassThrough(c)) {
      out += static_cast<char>(c - PASS_THROUGH_BASE);
    } else {
      out += static_cast<char>(REPLACEMENT);
    }
  }
  return out;
}

std::string CodePage::FromNative(std::string_view native) const {
  if (nativeUtf8_) {
    return Encode(DecodeUtf8(native));
  }
  // A native multi-byte character is at most four bytes: take the shortest run that converts.
  std::u32string chars;
  std::size_t i = 0;
  while (i < native.size()) {
    std::size_t taken = 0;
    for (std::size_t n = 1; n <= 4 && n <= native.size() - i; ++n) {
      bool incomplete = false;
      const auto decoded = nativeDecoder_->Convert(native.substr(i, n), &incomplete);
      if (decoded) {
        const std::u32string got = Utf32ToCodePoints(*decoded);
        chars += got;
        taken = n;
        break;
      }
      if (!incomplete) {
        break;
      }
    }
    if (taken == 0) {
      chars += PASS_THROUGH_BASE + static_cast<unsigned char>(native[i]);
      taken = 1;
    }
    i += taken;
  }
  return Encode(chars);
}

// ---------------------------------------------------------------------------------------------
// CodePageBuilder

void CodePageBuilder::Byte(char c) {
  Unit(static_cast<unsigned char>(c));
}

void CodePageBuilder::Bytes(std::string_view run) {
  for (char c : run) {
    if (static_cast<unsigned char>(c) < 0x80 && pending_.empty() && highSurrogate_ == 0) {
      out_ += c; // ASCII is the same in every code page
    } else {
      Byte(c);
    }
  }
}

void CodePageBuilder::Unit(char16_t unit) {
  const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
  if (highSurrogate_ != 0) {
    const char16_t high = std::exchange(highSurrogate_, 0);
    if (low) {
      pending_ += 0x10000 + ((static_cast<char32_t>(high) - 0xD800) << 10) + (unit - 0xDC00);
      return;
    }
    pending_ += high;
  }
  if (unit >= 0xD800 && unit <= 0xDBFF) {
    highSurrogate_ = unit;
    return;
  }
  pending_ += unit;
  if (unit < 0x80 && pending_.size() > 64) {
    Flush();
  }
}

void CodePageBuilder::Finish() {
  if (highSurrogate_ != 0) {
    pending_ += std::exchange(highSurrogate_, 0);
  }
  Flush();
}

void CodePageBuilder::Flush() {
  // A lone surrogate is no character of any code page.
  for (char32_t& c : pending_) {
    if (c >= 0xD800 && c <= 0xDFFF) {
      c = REPLACEMENT;
    }
  }
  out_ += codePage_.Encode(pending_);
  pending_.clear();
}

char32_t UpperCase(char32_t c) {
  if (c < 0x80) {
    return AsciiUpper(c);
  }
  if (IsPassThrough(c)) {
    return c;
  }
  // Windows folds by Unicode in every locale: take the case tables of C.UTF-8, which every glibc
  // has, and the current locale's only where that is missing.
  static const locale_t unicode = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  const auto wide = static_cast<std::wint_t>(c);
  return static_cast<char32_t>(unicode != locale_t{} ? ::towupper_l(wide, unicode)
                                                     : std::towupper(wide));
}

void AppendFoldedName(std::u16string& out, std::string_view name, const CodePage& codePage) {
  for (char32_t c : codePage.Decode(name)) {
    if (c < 0x80) {
      out += static_cast<char16_t>(AsciiUpper(c));
      continue;
    }
    c = UpperCase(c);
    if (c > 0xFFFF) {
      // Pass-through bytes sort after every character: a private pair of units.
      const char32_t v = c - 0x10000;
      out += static_cast<char16_t>(0xD800 + ((v >> 10) & 0x3FF));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
}

} // namespace quillet::platform::posix
