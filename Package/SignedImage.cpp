#include "Package/SignedImage.h"

#include "Package/ByteOrder.h"
#include "Package/PackageFormat.h"

namespace quillet {

namespace {

// True when `length` bytes at `offset` lie inside the file.
bool Inside(std::uint64_t size, std::uint64_t offset, std::uint64_t length) {
  return offset <= size && length <= size - offset;
}

std::uint16_t ReadU16LE(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

std::optional<CertificateTable> FindCertificateTable(const std::uint8_t* base, std::uint64_t size) {
  using namespace pe_field;
  if (base == nullptr || !Inside(size, 0, DOS_HEADER_SIZE) || base[DOS_SIGNATURE] != 'M' ||
      base[DOS_SIGNATURE + 1] != 'Z') {
    return std::nullopt;
  }
  const std::uint64_t pe = ReadU32LE(base + NEW_HEADER_OFFSET);
  if (!Inside(size, pe, PE_SIGNATURE_SIZE + COFF_HEADER_SIZE) || base[pe] != 'P' ||
      base[pe + 1] != 'E' || base[pe + 2] != 0 || base[pe + 3] != 0) {
    return std::nullopt;
  }
  const std::uint64_t coff = pe + PE_SIGNATURE_SIZE;
  const std::uint64_t optionalSize = ReadU16LE(base + coff + COFF_OPTIONAL_HEADER_SIZE);
  const std::uint64_t optional = coff + COFF_HEADER_SIZE;
  if (!Inside(size, optional, optionalSize) || optionalSize < 2) {
    return std::nullopt;
  }
  std::uint64_t countField = 0;
  std::uint64_t directories = 0;
  switch (ReadU16LE(base + optional + OPTIONAL_MAGIC)) {
  case MAGIC_PE32:
    countField = PE32_DIRECTORY_COUNT;
    directories = PE32_DIRECTORIES;
    break;
  case MAGIC_PE32_PLUS:
    countField = PE32_PLUS_DIRECTORY_COUNT;
    directories = PE32_PLUS_DIRECTORIES;
    break;
  default:
    return std::nullopt;
  }
  const std::uint64_t entry = directories + SECURITY_DIRECTORY * DIRECTORY_SIZE;
  // The entry must lie inside the optional header and be counted by it.
  if (entry + DIRECTORY_SIZE > optionalSize ||
      ReadU32LE(base + optional + countField) <= SECURITY_DIRECTORY) {
    return std::nullopt;
  }
  CertificateTable table;
  table.offset = ReadU32LE(base + optional + entry);
  table.size = ReadU32LE(base + optional + entry + 4);
  if (table.offset == 0 || table.size == 0) {
    return std::nullopt;
  }
  return table;
}

std::uint64_t PackageEnd(const std::uint8_t* base, std::uint64_t size) {
  const auto table = FindCertificateTable(base, size);
  const bool tableEndsFile = table && table->offset <= size && table->size == size - table->offset;
  const std::uint64_t start = tableEndsFile ? table->offset : size;
  // Signing pads the file with at most alignment - 1 zero bytes before the table, and removing
  // the signature leaves them: the package's trailer signature says where the package ends.
  for (std::uint64_t pad = 0; pad < pe_field::CERTIFICATE_TABLE_ALIGNMENT && pad <= start; ++pad) {
    if (pad > 0 && base[start - pad] != 0) {
      break;
    }
    const std::uint64_t end = start - pad;
    if (end >= trailer_field::SIZE && ReadU32LE(base + end - trailer_field::SIZE +
                                                trailer_field::SIGNATURE) == PACKAGE_SIGNATURE) {
      return end;
    }
  }
  return start;
}

} // namespace quillet
