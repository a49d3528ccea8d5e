// Turns one entry of the open package into its checked and decompressed content.
#pragma once

#include <string>
#include <string_view>

#include "QuilletCore/PackageFormat.h"

namespace quillet {

enum class EntryStatus {
  Content,         // the bytes are the entry's content (empty when no entry had the name)
  ChecksumFailure, // the stored bytes do not match the entry's checksum; nothing was decompressed
  DataError,       // the stored bytes are not one complete bzip2 stream
};

struct EntryContent {
  EntryStatus status = EntryStatus::Content;
  std::string bytes;
};

// The content of this very record: checksum first, then decompression.
EntryContent ExtractEntry(const PackageEntry& entry);

// The content of the first entry whose file name matches (case-insensitively, in the user's
// locale). No such entry: empty content, status Content.
EntryContent ExtractEntry(const PackageLayout& layout, std::string_view name);

} // namespace quillet
