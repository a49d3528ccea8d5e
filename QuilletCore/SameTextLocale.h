// Case-insensitive equality under the user's locale, used for entry names, macro names and the
// readme's name. The platform supplies the locale-aware comparison.
#pragma once

#include <string_view>

#include "Platform/Text.h"

namespace quillet {

inline bool SameTextLocale(std::string_view a, std::string_view b) {
  return platform::EqualIgnoringCaseInLocale(a, b);
}

} // namespace quillet
