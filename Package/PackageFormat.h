// The package container: a header, entries (a record followed by its stored bytes), and an
// 8-byte trailer at the very end of the file. Validation copies the header and every reachable
// record once, and everything after it reads those copies: a package file that shrinks or changes
// during the run can change the stored bytes an entry is checked against, but never which entries
// there are, their names, folders or flags. Stored bytes are read in place from the mapped image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Package/ByteOrder.h"

namespace quillet {

inline constexpr std::uint32_t PACKAGE_SIGNATURE = 0x44551973;
inline constexpr std::uint32_t ENTRY_SIGNATURE = 0x45551973;

// Entry flags, tested in the lowest byte of the flags field.
inline constexpr std::uint32_t ENTRY_PREPEND_PATCH = 2;
inline constexpr std::uint32_t ENTRY_INSTALL = 4;

inline constexpr std::size_t FIELD_TEXT_SIZE = 256;

namespace trailer_field {
inline constexpr std::size_t SIGNATURE = 0;
inline constexpr std::size_t BACK_DISTANCE = 4;
inline constexpr std::size_t SIZE = 8;
} // namespace trailer_field

namespace header_field {
inline constexpr std::size_t SIGNATURE = 0;
inline constexpr std::size_t ENTRY_COUNT = 4;
inline constexpr std::size_t DEFAULT_FOLDER = 8;
inline constexpr std::size_t RESERVED = 264;
inline constexpr std::size_t SIZE = 284;
} // namespace header_field

namespace entry_field {
inline constexpr std::size_t SIGNATURE = 0;
inline constexpr std::size_t FOLDER_TEMPLATE = 4;
inline constexpr std::size_t FILE_NAME = 260;
inline constexpr std::size_t STORED_SIZE = 516;
inline constexpr std::size_t UNPACKED_SIZE = 520;
inline constexpr std::size_t DATE = 524;
inline constexpr std::size_t TIME = 528;
inline constexpr std::size_t CRC = 532;
inline constexpr std::size_t FLAGS = 536;
inline constexpr std::size_t RESERVED = 540;
inline constexpr std::size_t SIZE = 556;
} // namespace entry_field

// Trailer + header + one entry record: a package file must be larger than this.
inline constexpr std::uint64_t MIN_PACKAGE_SIZE =
    trailer_field::SIZE + header_field::SIZE + entry_field::SIZE;

// Sizes are 32-bit counts in the format; larger files are not packages.
inline constexpr std::uint64_t MAX_PACKAGE_FILE_SIZE = 0xFFFFFFFFull;

// The text of a fixed 256-byte field: the bytes up to the first NUL, or all 256.
std::string FieldText(const std::uint8_t* field);

// Where the validated records lie in the image. Positions are offsets from the image base.
struct PackageLayout {
  const std::uint8_t* imageBase = nullptr;
  std::uint32_t imageSize = 0;
  std::uint32_t trailer = 0;
  std::uint32_t header = 0;
  std::uint32_t firstEntry = 0;
  bool valid = false;
  // The entry table, filled once by validation: the offset of every entry that a walk from the
  // first entry reaches, in package order, up to the first record that is missing or does not
  // fit, and a copy of each one's record (entry_field::SIZE bytes each, in the same order).
  // Lookups by index are then O(1), and lookups by name scan the copies instead of the image.
  std::vector<std::uint32_t> entries;
  std::vector<std::uint8_t> records;
  // The header as validation read it.
  std::array<std::uint8_t, header_field::SIZE> headerRecord{};
  // Where that walk stopped: the offset of the first record not in the table.
  std::uint32_t walkEnd = 0;

  std::uint32_t HeaderEntryCount() const;
  std::string HeaderDefaultFolder() const;
};

// One entry: its record (the copy that validation made, for the entries of the table) and its
// stored bytes in the image. Only lookups make these, and they make them only for records whose
// stored bytes lie inside the package.
class PackageEntry {
public:
  PackageEntry() = default;
  // A record read in place, its stored bytes right after it.
  PackageEntry(const std::uint8_t* record, std::uint32_t offset)
      : PackageEntry(record, record + entry_field::SIZE, offset) {}
  PackageEntry(const std::uint8_t* record, const std::uint8_t* stored, std::uint32_t offset)
      : record_(record), stored_(stored), offset_(offset) {}

  std::uint32_t Offset() const { return offset_; }
  std::string FolderTemplate() const { return FieldText(record_ + entry_field::FOLDER_TEMPLATE); }
  std::string FileName() const { return FieldText(record_ + entry_field::FILE_NAME); }
  std::uint32_t StoredSize() const { return U32(entry_field::STORED_SIZE); }
  std::uint32_t UnpackedSize() const { return U32(entry_field::UNPACKED_SIZE); }
  std::uint32_t Date() const { return U32(entry_field::DATE); }
  std::uint32_t Time() const { return U32(entry_field::TIME); }
  std::uint32_t Crc() const { return U32(entry_field::CRC); }
  std::uint32_t Flags() const { return U32(entry_field::FLAGS); }
  bool HasFlag(std::uint32_t flag) const { return (Flags() & 0xFF & flag) != 0; }
  const std::uint8_t* StoredBytes() const { return stored_; }
  const std::uint8_t* Record() const { return record_; }

private:
  std::uint32_t U32(std::size_t field) const { return ReadU32LE(record_ + field); }

  const std::uint8_t* record_ = nullptr;
  const std::uint8_t* stored_ = nullptr;
  std::uint32_t offset_ = 0;
};

struct EntryLookup {
  bool found = false;
  PackageEntry entry; // the position reached; meaningful only when found
};

// Checks the trailer, header and first entry signatures and fills the layout, the entry table
// included (one walk over the entries). A file of
// MIN_PACKAGE_SIZE bytes or less is refused without reading it, and the layout left untouched.
// A back-distance that puts the header or the first record outside the package is malformed.
bool ValidatePackage(const std::uint8_t* base, std::uint64_t size, PackageLayout& layout);

// The entry at a position counted from 0, from the entry table. Negative indexes and indexes past
// the last entry are not found. The header's entry count plays no part.
EntryLookup FindEntryByIndex(const PackageLayout& layout, std::int32_t index);

// The first entry in package order whose file name equals `name` under SameTextLocale.
EntryLookup FindEntryByName(const PackageLayout& layout, std::string_view name);

// Calls `visit` for every entry of the table, in package order; gives their number.
std::uint32_t ForEachEntry(const PackageLayout& layout,
                           const std::function<void(const PackageEntry&)>& visit);

} // namespace quillet
