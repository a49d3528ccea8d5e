// Where the package ends in a file that may be a signed Windows program. Signing appends a
// certificate table after everything in the file, the appended package included, and points the
// PE header's security directory at it; the package then ends where that table begins.
#pragma once

#include <cstdint>
#include <optional>

namespace quillet {

namespace pe_field {
inline constexpr std::uint64_t DOS_SIGNATURE = 0;        // "MZ"
inline constexpr std::uint64_t NEW_HEADER_OFFSET = 0x3C; // u32: where "PE\0\0" lies
inline constexpr std::uint64_t DOS_HEADER_SIZE = 0x40;
inline constexpr std::uint64_t PE_SIGNATURE_SIZE = 4;
// The COFF file header follows the PE signature.
inline constexpr std::uint64_t COFF_OPTIONAL_HEADER_SIZE = 16; // u16
inline constexpr std::uint64_t COFF_HEADER_SIZE = 20;
// The optional header: its magic says PE32 or PE32+, which moves the data directories.
inline constexpr std::uint64_t OPTIONAL_MAGIC = 0; // u16
inline constexpr std::uint16_t MAGIC_PE32 = 0x10B;
inline constexpr std::uint16_t MAGIC_PE32_PLUS = 0x20B;
inline constexpr std::uint64_t PE32_DIRECTORY_COUNT = 92;
inline constexpr std::uint64_t PE32_DIRECTORIES = 96;
inline constexpr std::uint64_t PE32_PLUS_DIRECTORY_COUNT = 108;
inline constexpr std::uint64_t PE32_PLUS_DIRECTORIES = 112;
inline constexpr std::uint64_t DIRECTORY_SIZE = 8; // u32 address (a file offset here), u32 size
inline constexpr std::uint32_t SECURITY_DIRECTORY = 4;
// Signing tools pad the file with zeros to this boundary before the table.
inline constexpr std::uint64_t CERTIFICATE_TABLE_ALIGNMENT = 8;
} // namespace pe_field

struct CertificateTable {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// The certificate table named by a PE image's security directory, when the file is a PE image
// and the entry is not empty; where the table lies is not checked.
std::optional<CertificateTable> FindCertificateTable(const std::uint8_t* base, std::uint64_t size);

// The end of the package in a file of `size` bytes: where a certificate table that ends the
// file begins, otherwise the end of the file; less up to 7 zeros of padding before that point
// when a package trailer sits before them (a signed file, or one whose signature was removed).
std::uint64_t PackageEnd(const std::uint8_t* base, std::uint64_t size);

} // namespace quillet
