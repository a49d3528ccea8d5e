// The Wine prefix that stands in for the Windows machine on POSIX systems.
#pragma once

#include <string>

namespace quillet::platform::posix {

// $WINEPREFIX, or ~/.wine when that is unset or empty. No final "/".
std::string WinePrefix();

} // namespace quillet::platform::posix
