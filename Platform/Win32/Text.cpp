#include <climits>

#include "Platform/Text.h"

#include "Platform/Utf8.h"
#include "Platform/Win32/Win32.h"
#include <optional>

namespace quillet::platform {

namespace {

// A UTF-8 text in UTF-16 for the comparison. A byte that is no UTF-8 stands for itself, as the
// private character U+F0000 + byte, so that two different such bytes never compare equal.
std::wstring ComparableText(std::string_view utf8) {
  std::wstring wide;
  for (char32_t c : DecodeUtf8(utf8)) {
    if (IsPassThrough(c)) {
      c = 0xF0000 + (c - PASS_THROUGH_BASE);
    }
    if (c > 0xFFFF) {
      wide += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(c);
    }
  }
  return wide;
}

} // namespace

bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b) {
  if (a == b) {
    return true;
  }
  const std::wstring wideA = ComparableText(a);
  const std::wstring wideB = ComparableText(b);
  if (wideA.size() > INT_MAX || wideB.size() > INT_MAX) {
    return false;
  }
  // The lengths are given, so both texts may be empty or hold NULs; the pointers must be real.
  const wchar_t* textA = wideA.empty() ? L"" : wideA.c_str();
  const wchar_t* textB = wideB.empty() ? L"" : wideB.c_str();
  return ::CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, textA,
                          static_cast<int>(wideA.size()), textB,
                          static_cast<int>(wideB.size())) == CSTR_EQUAL;
}

std::uint32_t SystemCodePage() {
  return ::GetACP();
}

std::optional<CodePageText> Utf8ToCodePage(std::uint32_t codePage, std::string_view utf8) {
  if (::IsValidCodePage(codePage) == 0) {
    return std::nullopt;
  }
  CodePageText result;
  for (const char32_t c : DecodeUtf8(utf8)) {
    if (IsPassThrough(c)) {
      result.bytes += static_cast<char>(c - PASS_THROUGH_BASE);
      continue;
    }
    if (c < 0x80) {
      result.bytes += static_cast<char>(c);
      continue;
    }
    wchar_t units[2];
    int count = 1;
    if (c > 0xFFFF) {
      units[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      units[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      count = 2;
    } else {
      units[0] = static_cast<wchar_t>(c);
    }
    // No best fit: a character the code page lacks is reported, not replaced.
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                        sizeof bytes, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) {
      result.unmappable = c;
      return result;
    }
    result.bytes.append(bytes, static_cast<std::size_t>(n));
  }
  return result;
}

std::optional<std::string> CodePageToUtf8(std::uint32_t codePage, std::string_view bytes) {
  if (::IsValidCodePage(codePage) == 0) {
    return std::nullopt;
  }
  // Text that is all characters of the code page converts in one call.
  std::wstring whole;
  if (win32::Widen(bytes, codePage, whole, /*strict=*/true)) {
    return win32::Narrow(whole, CP_UTF8);
  }
  std::u32string chars;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    const int length = ::IsDBCSLeadByteEx(codePage, b) != 0 && i + 1 < bytes.size() ? 2 : 1;
    wchar_t units[2];
    int n =
        ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data() + i, length, units, 2);
    if (n <= 0 && length == 2) {
      n = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data() + i, 1, units, 2);
    } else if (n > 0 && length == 2) {
      ++i;
    }
    if (n == 1) {
      chars += static_cast<char32_t>(units[0]);
    } else {
      chars += PassThrough(b); // no character of the code page: kept as it is
    }
  }
  return EncodeUtf8(chars);
}

} // namespace quillet::platform
