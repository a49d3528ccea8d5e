#include "Package/PackageFormat.h"

#include <cstring>

#include "Common/Text.h"

namespace quillet {

std::string FieldText(const std::uint8_t* field) {
  const void* nul = std::memchr(field, 0, FIELD_TEXT_SIZE);
  const std::size_t length =
      nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - field)
                     : FIELD_TEXT_SIZE;
  return std::string(reinterpret_cast<const char*>(field), length);
}

std::uint32_t PackageLayout::HeaderEntryCount() const {
  return ReadU32LE(headerRecord.data() + header_field::ENTRY_COUNT);
}

std::string PackageLayout::HeaderDefaultFolder() const {
  return FieldText(headerRecord.data() + header_field::DEFAULT_FOLDER);
}

namespace {

PackageEntry EntryAt(const PackageLayout& layout, std::uint32_t offset) {
  return PackageEntry(layout.imageBase + offset, offset);
}

// The entry at a position of the table: its record as validation copied it.
PackageEntry TableEntry(const PackageLayout& layout, std::size_t position) {
  const std::uint32_t offset = layout.entries[position];
  return PackageEntry(layout.records.data() + position * entry_field::SIZE,
                      layout.imageBase + offset + entry_field::SIZE, offset);
}

// Walks the entries from the first one, copying each record before anything of it is used. An
// entry is reachable only while its record and its stored bytes lie before the trailer; a stored
// size that would carry the walk past the trailer ends the walk there, so nothing outside the
// image is ever read. The first record's signature was checked by the validation.
void BuildEntryTable(PackageLayout& layout) {
  const std::uint32_t limit = layout.trailer;
  std::uint32_t offset = layout.firstEntry;
  while (limit - offset >= entry_field::SIZE) {
    std::uint8_t record[entry_field::SIZE];
    std::memcpy(record, layout.imageBase + offset, sizeof record);
    if (offset != layout.firstEntry &&
        ReadU32LE(record + entry_field::SIGNATURE) != ENTRY_SIGNATURE) {
      break;
    }
    const std::uint32_t stored = ReadU32LE(record + entry_field::STORED_SIZE);
    if (stored > limit - offset - entry_field::SIZE) {
      break;
    }
    layout.entries.push_back(offset);
    layout.records.insert(layout.records.end(), record, record + entry_field::SIZE);
    offset += static_cast<std::uint32_t>(entry_field::SIZE) + stored;
  }
  layout.walkEnd = offset;
}

} // namespace

bool ValidatePackage(const std::uint8_t* base, std::uint64_t size, PackageLayout& layout) {
  if (size <= MIN_PACKAGE_SIZE) {
    return false;
  }
  layout = PackageLayout{};
  if (size > MAX_PACKAGE_FILE_SIZE) {
    return false;
  }
  const auto size32 = static_cast<std::uint32_t>(size);
  layout.imageBase = base;
  layout.imageSize = size32;
  layout.trailer = size32 - static_cast<std::uint32_t>(trailer_field::SIZE);

  // The back-distance must leave room for the header, one entry record and the trailer, and
  // must not reach before the start of the file.
  const std::uint32_t backDistance =
      ReadU32LE(base + layout.trailer + trailer_field::BACK_DISTANCE);
  if (backDistance < MIN_PACKAGE_SIZE || backDistance > size32) {
    return false;
  }
  layout.header = size32 - backDistance;
  layout.firstEntry = layout.header + static_cast<std::uint32_t>(header_field::SIZE);

  layout.valid = ReadU32LE(base + layout.trailer + trailer_field::SIGNATURE) == PACKAGE_SIGNATURE &&
                 ReadU32LE(base + layout.header + header_field::SIGNATURE) == PACKAGE_SIGNATURE &&
                 ReadU32LE(base + layout.firstEntry + entry_field::SIGNATURE) == ENTRY_SIGNATURE;
  if (layout.valid) {
    std::memcpy(layout.headerRecord.data(), base + layout.header, header_field::SIZE);
    BuildEntryTable(layout);
  }
  return layout.valid;
}

EntryLookup FindEntryByIndex(const PackageLayout& layout, std::int32_t index) {
  EntryLookup result;
  if (!layout.valid) {
    return result;
  }
  if (index < 0) {
    result.entry = EntryAt(layout, layout.firstEntry);
    return result;
  }
  const auto position = static_cast<std::size_t>(index);
  if (position >= layout.entries.size()) {
    result.entry = EntryAt(layout, layout.walkEnd);
    return result;
  }
  result.entry = TableEntry(layout, position);
  result.found = true;
  return result;
}

EntryLookup FindEntryByName(const PackageLayout& layout, std::string_view name) {
  EntryLookup result;
  if (!layout.valid) {
    return result;
  }
  for (std::size_t position = 0; position < layout.entries.size(); ++position) {
    result.entry = TableEntry(layout, position);
    if (SameTextLocale(result.entry.FileName(), name)) {
      result.found = true;
      return result;
    }
  }
  return result;
}

std::uint32_t ForEachEntry(const PackageLayout& layout,
                           const std::function<void(const PackageEntry&)>& visit) {
  if (!layout.valid) {
    return 0;
  }
  for (std::size_t position = 0; position < layout.entries.size(); ++position) {
    visit(TableEntry(layout, position));
  }
  return static_cast<std::uint32_t>(layout.entries.size());
}

} // namespace quillet
