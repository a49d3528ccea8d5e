// Turns one entry of the open package into its checked and decompressed content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "Package/PackageFormat.h"

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

// The content of this very record: checksum first, then decompression. Failing to allocate the
// content throws std::bad_alloc.
EntryContent ExtractEntry(const PackageEntry& entry);

// The content of the first entry whose file name matches (case-insensitively, in the user's
// locale). No such entry: empty content, status Content.
EntryContent ExtractEntry(const PackageLayout& layout, std::string_view name);

// Where libbz2 takes its own working memory from (not the output chunk). The members have the
// shape of libbz2's allocation hooks; null members mean the general-purpose heap.
struct Bzip2Memory {
  void* (*allocate)(void* opaque, int items, int size) = nullptr;
  void (*release)(void* opaque, void* address) = nullptr;
  void* opaque = nullptr;
};

// How many decompressed bytes DecompressStream hands over at a time (at most).
inline constexpr std::size_t STREAM_CHUNK_SIZE = 256u << 10;

// Receives decompressed bytes in order, a chunk at a time; false stops the decompression.
using ChunkSink = std::function<bool(const char* data, std::size_t size)>;

enum class StreamEnd {
  Complete,  // the stream ended cleanly and every byte went to the sink
  DataError, // the bytes are not one complete bzip2 stream (the sink may have had some)
  Stopped,   // the sink refused a chunk
};

// Decompresses one bzip2 stream read in place, in chunks of at most STREAM_CHUNK_SIZE bytes, so
// that memory stays bounded whatever the size of the content. Does not check the checksum.
// DataError: a bad header, corrupt data, input that ends before the stream does (no input at all
// included), or libbz2 running out of its own memory. Bytes after the end of the stream, a second
// stream included, are not read. Failing to allocate the chunk throws std::bad_alloc.
StreamEnd DecompressStream(const std::uint8_t* input, std::uint32_t length, const ChunkSink& sink,
                           const Bzip2Memory& memory = {});

// Whether the entry's stored bytes give the value of its checksum field.
bool ChecksumMatches(const PackageEntry& entry);

// DecompressStream over the entry's stored bytes.
StreamEnd StreamEntry(const PackageEntry& entry, const ChunkSink& sink);

// ExtractEntry's status without holding the content: the checksum first, then the content goes
// to the sink a chunk at a time. The sink must take every chunk (a refused one is a DataError).
EntryStatus DecodeEntry(const PackageEntry& entry, const ChunkSink& sink);

} // namespace quillet
