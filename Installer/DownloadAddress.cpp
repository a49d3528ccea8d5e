#include "Installer/DownloadAddress.h"

#include <array>

#include "Package/Contract.h"

namespace quillet {

namespace {

constexpr std::size_t MARKER_SIZE = DOWNLOAD_ADDRESS_MARKER.size();
constexpr std::size_t FIELD_SIZE = MARKER_SIZE + DOWNLOAD_FIELD_SIZE;

constexpr std::array<char, FIELD_SIZE> DefaultField() {
  static_assert(DOWNLOAD_ADDRESS.size() <= DOWNLOAD_ADDRESS_CAPACITY);
  std::array<char, FIELD_SIZE> field{};
  std::size_t at = 0;
  for (char c : DOWNLOAD_ADDRESS_MARKER) {
    field[at++] = c;
  }
  for (char c : DOWNLOAD_ADDRESS) {
    field[at++] = c;
  }
  return field;
}

// Built at compile time, so the marker appears in the program file here only. Read through a
// volatile pointer: the compiler must not fold the default into the code, since the bytes in the
// file may have been changed after the build.
constinit const std::array<char, FIELD_SIZE> FIELD = DefaultField();

} // namespace

std::string DownloadAddressFromField(const volatile char* bytes) {
  std::string address;
  for (std::size_t i = 0; i < DOWNLOAD_ADDRESS_CAPACITY && bytes[i] != '\0'; ++i) {
    address += bytes[i];
  }
  return address;
}

std::string DownloadAddress() {
  const volatile char* field = FIELD.data();
  // MARKER_SIZE, not the marker itself: nothing at run time refers to the marker's text, so that
  // even an unoptimised build holds it in the field only.
  return DownloadAddressFromField(field + MARKER_SIZE);
}

} // namespace quillet
