#include <climits>

#include "Platform/Text.h"

#include "Platform/Win32/Win32.h"
#include <optional>

namespace quillet::platform {

namespace {

// The lead bytes of the ANSI code page, or nothing when double-byte support is off.
std::optional<LeadByteTable> ReadLeadBytes() {
  if (::GetSystemMetrics(SM_DBCSENABLED) == 0) {
    return std::nullopt;
  }
  CPINFO info{};
  if (::GetCPInfo(CP_ACP, &info) == 0) {
    return std::nullopt;
  }
  LeadByteTable table{};
  // Pairs of first and last byte of each range, ended by a pair of zeros.
  for (std::size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i] != 0; i += 2) {
    for (unsigned byte = info.LeadByte[i]; byte <= info.LeadByte[i + 1] && byte < 256; ++byte) {
      table[byte] = true;
    }
  }
  return table;
}

} // namespace

bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b) {
  if (a.size() > INT_MAX || b.size() > INT_MAX) {
    return false;
  }
  // The lengths are given, so both texts may be empty or hold NULs; the pointers must be real.
  const char* textA = a.data() != nullptr ? a.data() : "";
  const char* textB = b.data() != nullptr ? b.data() : "";
  return ::CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, textA, static_cast<int>(a.size()),
                          textB, static_cast<int>(b.size())) == CSTR_EQUAL;
}

const LeadByteTable* ActiveLeadBytes() {
  // The system code page does not change while the program runs: read it once.
  static const std::optional<LeadByteTable> table = ReadLeadBytes();
  return table ? &*table : nullptr;
}

} // namespace quillet::platform
