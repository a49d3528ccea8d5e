#include <cwchar>
#include <cwctype>

#include "Platform/Text.h"

namespace quillet::platform {

namespace {

// Decodes one character of the locale's encoding. Gives the number of bytes taken, or 0 when the
// bytes are not a valid sequence.
std::size_t DecodeOne(std::string_view text, std::size_t pos, std::mbstate_t& state, wchar_t& out) {
  const std::size_t n = std::mbrtowc(&out, text.data() + pos, text.size() - pos, &state);
  if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2)) {
    state = std::mbstate_t{};
    return 0;
  }
  return n == 0 ? 1 : n; // an embedded NUL is one byte
}

unsigned char FoldAscii(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? c - 0x20 : c;
}

} // namespace

bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b) {
  std::mbstate_t stateA{};
  std::mbstate_t stateB{};
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    wchar_t ca = 0;
    wchar_t cb = 0;
    const std::size_t na = DecodeOne(a, i, stateA, ca);
    const std::size_t nb = DecodeOne(b, j, stateB, cb);
    if (na == 0 || nb == 0) {
      // Not a character of this encoding: compare the byte itself (ASCII letters still fold).
      if (na != 0 || nb != 0 ||
          FoldAscii(static_cast<unsigned char>(a[i])) !=
              FoldAscii(static_cast<unsigned char>(b[j]))) {
        return false;
      }
      ++i;
      ++j;
      continue;
    }
    if (ca != cb &&
        std::towupper(static_cast<wint_t>(ca)) != std::towupper(static_cast<wint_t>(cb)) &&
        std::towlower(static_cast<wint_t>(ca)) != std::towlower(static_cast<wint_t>(cb))) {
      // ASCII letters fold in every locale, also where towupper does not know them.
      if (ca > 0x7F || cb > 0x7F ||
          FoldAscii(static_cast<unsigned char>(ca)) != FoldAscii(static_cast<unsigned char>(cb))) {
        return false;
      }
    }
    i += na;
    j += nb;
  }
  return i == a.size() && j == b.size();
}

const LeadByteTable* ActiveLeadBytes() {
  // No double-byte code page is active on POSIX systems: UTF-8 never hides "\" or ":" inside a
  // multi-byte character.
  return nullptr;
}

} // namespace quillet::platform
