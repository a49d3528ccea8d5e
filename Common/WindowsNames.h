// The names Windows holds: the one rule by which the installer refuses a path component and the
// packer warns about a name before it ships. Both builds apply it, so that a package installs the
// same files on Linux as on Windows.
#pragma once

#include <string_view>

namespace quillet {

// Why Windows cannot hold a path component under the name as written.
enum class NameFault {
  None,
  ControlCharacter,   // a byte below 0x20, or 0x7F
  TrailingDotOrBlank, // Windows drops a final dot or space, so another name would be made
  DeviceName,         // CON, PRN, AUX, NUL, COM1-9, LPT1-9, in any letter case, with any extension
};

// The fault of one path component; "." and ".." have none. Bytes from 0x80 up are never a fault,
// so the rule holds for UTF-8 and for the ANSI code pages alike (their second bytes are 0x40 and
// up, never a control, a dot or a space).
NameFault NameFaultOf(std::string_view component);

inline bool HoldableName(std::string_view component) {
  return NameFaultOf(component) == NameFault::None;
}

// The fault for a message: "holds a control character", "ends in a dot or a space", "is a device
// name that Windows reserves".
std::string_view DescribeNameFault(NameFault fault);

} // namespace quillet
