#include "Common/WindowsNames.h"

#include <algorithm>
#include <string>

#include "Platform/Ascii.h"

namespace quillet {

NameFault NameFaultOf(std::string_view component) {
  if (std::any_of(component.begin(), component.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    return NameFault::ControlCharacter;
  }
  if (component == "." || component == "..") {
    return NameFault::None;
  }
  if (component.ends_with(' ') || component.ends_with('.')) {
    return NameFault::TrailingDotOrBlank;
  }
  // The device is the name before its first dot, blanks before that dot dropped ("aux .x").
  std::string_view base = component.substr(0, component.find('.'));
  base = base.substr(0, base.find_last_not_of(' ') + 1);
  const auto is = [&base](std::string_view device) {
    return platform::EqualIgnoringAsciiCase(base, device);
  };
  if (is("CON") || is("PRN") || is("AUX") || is("NUL")) {
    return NameFault::DeviceName;
  }
  for (const char digit : std::string_view("123456789")) {
    if (is(std::string("COM") + digit) || is(std::string("LPT") + digit)) {
      return NameFault::DeviceName;
    }
  }
  return NameFault::None;
}

std::string_view DescribeNameFault(NameFault fault) {
  switch (fault) {
  case NameFault::ControlCharacter:
    return "holds a control character";
  case NameFault::TrailingDotOrBlank:
    return "ends in a dot or a space";
  case NameFault::DeviceName:
    return "is a device name that Windows reserves";
  case NameFault::None:
    break;
  }
  return {};
}

} // namespace quillet
