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
  return ReadU32LE(imageBase + header + header_field::ENTRY_COUNT);
}

std::string PackageLayout::HeaderDefaultFolder() const {
  return FieldText(imageBase + header + header_field::DEFAULT_FOLDER);
}

namespace {

// Walks the entries from the first one. An entry is reachable only while its record and its
// stored bytes lie before the trailer; a stored size that would carry the walk past the trailer
// ends the walk there, so nothing outside the image is ever read.
class EntryWalk {
public:
  explicit EntryWalk(const PackageLayout& layout) : layout_(layout), offset_(layout.firstEntry) {}

  // The current record, provided it fits (the first record's signature was checked when the
  // package was validated; later ones are checked by Next).
  bool CurrentFits() const {
    const std::uint32_t limit = layout_.trailer;
    if (offset_ > limit || limit - offset_ < entry_field::SIZE) {
      return false;
    }
    const std::uint32_t stored = Current().StoredSize();
    return stored <= limit - offset_ - entry_field::SIZE;
  }

  PackageEntry Current() const { return PackageEntry(layout_.imageBase + offset_, offset_); }

  // Steps to the next record; false when there is none with a valid signature.
  bool Next() {
    offset_ += static_cast<std::uint32_t>(entry_field::SIZE) + Current().StoredSize();
    if (layout_.trailer - offset_ < entry_field::SIZE) {
      return false; // landed on the trailer, or on a record that would overlap it
    }
    return ReadU32LE(layout_.imageBase + offset_ + entry_field::SIGNATURE) == ENTRY_SIGNATURE &&
           CurrentFits();
  }

private:
  const PackageLayout& layout_;
  std::uint32_t offset_;
};

PackageEntry EntryAt(const PackageLayout& layout, std::uint32_t offset) {
  return PackageEntry(layout.imageBase + offset, offset);
}

void BuildEntryTable(PackageLayout& layout) {
  EntryWalk walk(layout);
  if (walk.CurrentFits()) {
    do {
      layout.entries.push_back(walk.Current().Offset());
    } while (walk.Next());
  }
  layout.walkEnd = walk.Current().Offset();
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
  result.entry = EntryAt(layout, layout.entries[position]);
  result.found = true;
  return result;
}

EntryLookup FindEntryByName(const PackageLayout& layout, std::string_view name) {
  EntryLookup result;
  if (!layout.valid) {
    return result;
  }
  for (const std::uint32_t offset : layout.entries) {
    result.entry = EntryAt(layout, offset);
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
  EntryWalk walk(layout);
  if (!walk.CurrentFits()) {
    return 0;
  }
  std::uint32_t count = 0;
  do {
    visit(walk.Current());
    ++count;
  } while (walk.Next());
  return count;
}

} // namespace quillet
