// Setting the download address of an installer's program file before a package is attached.
#pragma once

#include <string>
#include <string_view>

namespace quillet::pack {

// Writes `address` into the download address field of the installer's bytes. Throws EPackerError
// naming `installerName` when the installer has no such field, and when the
// address is longer than the field or holds control characters.
void WriteDownloadAddress(std::string& installer, std::string_view address,
                          const std::string& installerName);

} // namespace quillet::pack
