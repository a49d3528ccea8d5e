// The checksum over the package's records, stored in an entry of its own ("package.crc"). Entry
// checksums cover only the stored bytes; this one covers what they cannot see: the header (entry
// count and default folder) and every record's fields, names and flags included. Packages made
// before it existed carry no such entry and are read as before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Package/Contract.h"
#include "Package/Crc32.h"
#include "Package/PackageFormat.h"

namespace quillet {

// The entry's content: signature "QPC1", the number of records, the CRC-32 of the covered bytes.
inline constexpr std::uint32_t RECORD_CHECK_SIGNATURE = 0x31435051;
inline constexpr std::uint32_t RECORD_CHECK_SIZE = 12;
// How far before the trailer the check's record is looked for when the walk cannot reach it.
inline constexpr std::uint32_t RECORD_CHECK_TAIL = 4096;

// Adds one record as it is covered: a record named RECORD_CHECK_NAME is taken with its stored
// size and CRC fields as zero, since they depend on the checksum itself.
void AddCoveredRecord(Crc32& crc, const std::uint8_t* record);

// The content of the check's entry.
std::string RecordCheckContent(std::uint32_t recordCount, std::uint32_t checksum);

enum class RecordCheck {
  Absent,   // no "package.crc" could be found: an older package, or one too damaged to tell
  Match,    // the header and every record are as the packer wrote them
  Mismatch, // a record, the header or the check itself was changed, or records cannot be reached
};

// Finds "package.crc" by name, or as the last record before the trailer when a damaged record
// ends the walk earlier, and compares. Reads only records, never other entries' stored bytes.
RecordCheck CheckPackageRecords(const PackageLayout& layout);

} // namespace quillet
