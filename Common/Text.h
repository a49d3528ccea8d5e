// Text rules that both programs apply: trimming, and the two case-insensitive comparisons.
#pragma once

#include <string_view>

#include "Platform/Text.h"

namespace quillet {

// Removes every byte from 0 to 32 (the blank and the control characters) at both ends.
// Bytes from 33 up, 0x80 to 0xFF included, stay.
std::string_view TrimBlanks(std::string_view text);

// Case-insensitive equality under the user's locale, used for entry names, macro names and the
// readme's name. The platform supplies the locale-aware comparison.
inline bool SameTextLocale(std::string_view a, std::string_view b) {
  return platform::EqualIgnoringCaseInLocale(a, b);
}

// Equal lengths and equal bytes once a-z are folded to A-Z; no other byte folds.
bool SameTextAscii(std::string_view a, std::string_view b);

} // namespace quillet
