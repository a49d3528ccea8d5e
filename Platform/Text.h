// Text: locale-aware comparison and the double-byte lead bytes.
//
// Part of the interface between Quillet and the operating system: declared once here, implemented
// in Platform/Posix/Text.cpp and Platform/Win32/Text.cpp. No OS type appears in it.
#pragma once

#include <array>
#include <string_view>

namespace quillet::platform {

// Case-insensitive equality under the user's locale (the system's ANSI code page).
bool EqualIgnoringCaseInLocale(std::string_view a, std::string_view b);

// Lead bytes of the active double-byte code page; nullptr when double-byte support is off.
using LeadByteTable = std::array<bool, 256>;
const LeadByteTable* ActiveLeadBytes();

} // namespace quillet::platform
