#include "Platform/Posix/WinePrefix.h"

#include <cstdlib>

namespace quillet::platform::posix {

std::string WinePrefix() {
  std::string prefix;
  if (const char* env = std::getenv("WINEPREFIX"); env != nullptr && *env != '\0') {
    prefix = env;
  } else {
    const char* home = std::getenv("HOME");
    prefix = std::string(home != nullptr ? home : "") + "/.wine";
  }
  while (prefix.size() > 1 && prefix.back() == '/') {
    prefix.pop_back();
  }
  return prefix;
}

} // namespace quillet::platform::posix
