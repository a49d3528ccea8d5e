// Making an installer: the installer's program file with a stand-alone package appended, and the
// download address that its absent-package message names.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace quillet::packer {

// Writes the installer's program file followed by the stand-alone package to `output`, marked
// executable; a `downloadAddress` that is not empty goes into the installer's download address
// field. Throws EPackerError when the package is not a stand-alone package or the installer already
// carries one.
void AttachPackage(const std::filesystem::path& installer, const std::filesystem::path& package,
                   const std::filesystem::path& output, std::string_view downloadAddress = {});

// Writes `address` into the download address field of the installer's bytes. Throws EPackerError
// naming `installerName` when the installer has no such field, and when the address is longer
// than the field or holds control characters.
void WriteDownloadAddress(std::string& installer, std::string_view address,
                          const std::string& installerName);

} // namespace quillet::packer
