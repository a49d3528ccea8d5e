// The download address that the absent-package message names, read from this program's own
// download address field (Package/Contract.h), which an author may have rewritten since the build.
#pragma once

#include <string>

namespace quillet {

// The address in this program's field.
std::string DownloadAddress();

// The address in a field's bytes after the marker: up to the first NUL, at most the capacity.
std::string DownloadAddressFromField(const volatile char* bytes);

} // namespace quillet
