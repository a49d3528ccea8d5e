#include "tools/DownloadUrl.h"

#include <algorithm>

#include "QuilletSfxCore/DownloadAddress.h"
#include "tools/PackerError.h"

namespace quillet::pack {

namespace {

// An address without control characters, then NUL up to the field's end.
bool IsAddressField(std::string_view bytes) {
  const std::size_t end = std::min(bytes.find('\0'), bytes.size());
  const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
  return end < bytes.size() && std::none_of(bytes.begin(), bytes.begin() + end, isControl) &&
         bytes.find_first_not_of('\0', end) == std::string_view::npos;
}

} // namespace

void WriteDownloadAddress(std::string& installer, std::string_view address,
                          const std::string& installerName) {
  if (address.size() > DOWNLOAD_ADDRESS_CAPACITY) {
    throw EPackerError("download address of " + std::to_string(address.size()) +
                       " bytes: the installer's field holds at most " +
                       std::to_string(DOWNLOAD_ADDRESS_CAPACITY));
  }
  if (address.empty() || std::any_of(address.begin(), address.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      })) {
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
    if (installer.size() - field < DOWNLOAD_ADDRESS_CAPACITY + 1 ||
        !IsAddressField(std::string_view(installer).substr(field, DOWNLOAD_ADDRESS_CAPACITY + 1))) {
      continue;
    }
    const auto start = installer.begin() + static_cast<std::ptrdiff_t>(field);
    std::fill_n(start, DOWNLOAD_ADDRESS_CAPACITY + 1, '\0');
    std::copy(address.begin(), address.end(), start);
    ++fields;
  }
  if (fields == 0) {
    throw EPackerError(installerName +
                       ": has no download address field; is it the installer (quillet-sfx)?");
  }
}

} // namespace quillet::pack
