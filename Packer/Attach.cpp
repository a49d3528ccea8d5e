#include "Packer/Attach.h"

#include <algorithm>

#include "Package/Contract.h"
#include "Package/PackageFormat.h"
#include "Package/SignedImage.h"
#include "Packer/PackageFiles.h"
#include "Packer/PackageReport.h"
#include "Packer/PackerError.h"
#include "Packer/PathText.h"

namespace quillet::packer {

void AttachPackage(const std::filesystem::path& installer, const std::filesystem::path& package,
                   const std::filesystem::path& output, std::string_view downloadAddress) {
  std::string bytes;
  {
    const PackageFile standAlone(TextOfPath(package));
    if (standAlone.Layout().header != 0) {
      throw EPackerError(TextOfPath(package) + ": is an installer with a package appended at " +
                         "offset " + std::to_string(standAlone.Layout().header) +
                         ", not a stand-alone package");
    }
    std::error_code error;
    if (!std::filesystem::is_regular_file(installer, error)) {
      throw EPackerError(TextOfPath(installer) + ": no such file");
    }
    bytes = ReadSourceFile(installer);
    // Signing covers the whole file: a package appended afterwards breaks the signature.
    if (FindCertificateTable(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {
      throw EPackerError(TextOfPath(installer) +
                         ": is already signed; attach the package to the unsigned installer, "
                         "then sign the result");
    }
    // A package may sit behind the zero padding that a removed signature leaves.
    const auto* base = reinterpret_cast<const std::uint8_t*>(bytes.data());
    PackageLayout carried;
    if (ValidatePackage(base, PackageEnd(base, bytes.size()), carried)) {
      throw EPackerError(TextOfPath(installer) + ": already carries a package at offset " +
                         std::to_string(carried.header) + "; attach to the bare installer");
    }
    if (!downloadAddress.empty()) {
      WriteDownloadAddress(bytes, downloadAddress, TextOfPath(installer));
    }
    if (bytes.size() + standAlone.Layout().imageSize > MAX_PACKAGE_FILE_SIZE) {
      throw EPackerError(TextOfPath(output) + ": installer and package together reach 4 GiB");
    }
    bytes.append(reinterpret_cast<const char*>(standAlone.Layout().imageBase),
                 standAlone.Layout().imageSize);
  }
  WriteFileReplacing(output, bytes, true);
}

void WriteDownloadAddress(std::string& installer, std::string_view address,
                          const std::string& installerName) {
  if (address.size() > DOWNLOAD_ADDRESS_CAPACITY) {
    throw EPackerError("download address of " + std::to_string(address.size()) +
                       " bytes: the installer's field holds at most " +
                       std::to_string(DOWNLOAD_ADDRESS_CAPACITY));
  }
  if (!IsDownloadAddress(address)) {
    throw EPackerError("download address '" + std::string(address) +
                       "' is empty or holds control characters");
  }
  // Debug information may hold a copy of the field's initial bytes: every copy is written, so
  // that the field and what a debugger shows agree. The marker's text alone may also appear (an
  // unoptimised build keeps the string), followed by other data: only a marker followed by a
  // well-formed field is one.
  std::size_t fields = 0;
  for (std::size_t at = installer.find(DOWNLOAD_ADDRESS_MARKER); at != std::string::npos;
       at = installer.find(DOWNLOAD_ADDRESS_MARKER, at + 1)) {
    const std::size_t field = at + DOWNLOAD_ADDRESS_MARKER.size();
    if (installer.size() - field < DOWNLOAD_FIELD_SIZE ||
        !IsDownloadField(std::string_view(installer).substr(field, DOWNLOAD_FIELD_SIZE))) {
      continue;
    }
    const auto start = installer.begin() + static_cast<std::ptrdiff_t>(field);
    std::fill_n(start, DOWNLOAD_FIELD_SIZE, '\0');
    std::copy(address.begin(), address.end(), start);
    ++fields;
  }
  if (fields == 0) {
    throw EPackerError(installerName +
                       ": has no download address field; is it the installer (quillet-sfx)?");
  }
}

} // namespace quillet::packer
