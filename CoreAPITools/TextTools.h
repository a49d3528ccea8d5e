// Small text helpers shared by the installer's parts.
#pragma once

#include <string_view>

namespace quillet {

// Removes every byte from 0 to 32 (the blank and the control characters) at both ends.
// Bytes from 33 up, 0x80 to 0xFF included, stay.
std::string_view TrimBlanks(std::string_view text);

} // namespace quillet
