#include "Package/EntryContent.h"

#include <bzlib.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "Package/PackageCrc.h"

namespace quillet {

namespace {

// The most ExtractEntry reserves from the unpacked-size field, which carries no checksum: a
// damaged one must not cost memory. The texts read by name are far smaller; larger content
// simply grows past it.
constexpr std::size_t EXTRACT_RESERVE_CAP = std::size_t{1} << 20;

void* HeapAllocate(void* /*opaque*/, int items, int size) {
  if (items < 0 || size < 0) {
    return nullptr;
  }
  const auto count = static_cast<std::size_t>(items);
  const auto width = static_cast<std::size_t>(size);
  if (width != 0 && count > SIZE_MAX / width) {
    return nullptr;
  }
  return std::malloc(count * width);
}

void HeapRelease(void* /*opaque*/, void* address) {
  std::free(address);
}

// Sets `stream` up to read `length` stored bytes in place; false when libbz2 cannot start.
bool StartDecompressor(bz_stream& stream, const Bzip2Memory& memory, const std::uint8_t* input,
                       std::uint32_t length) {
  stream.bzalloc = memory.allocate != nullptr ? memory.allocate : HeapAllocate;
  stream.bzfree = memory.release != nullptr ? memory.release : HeapRelease;
  stream.opaque = memory.opaque;
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    return false;
  }
  // libbz2 never writes through next_in; the stored bytes stay in the read-only image.
  stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input));
  stream.avail_in = length;
  return true;
}

// Ends the decompressor on every way out, an exception from the chunk or the sink included.
class DecompressorSession {
public:
  explicit DecompressorSession(bz_stream& stream) : stream_(stream) {}
  ~DecompressorSession() { BZ2_bzDecompressEnd(&stream_); }
  DecompressorSession(const DecompressorSession&) = delete;
  DecompressorSession& operator=(const DecompressorSession&) = delete;

private:
  bz_stream& stream_;
};

} // namespace

StreamEnd DecompressStream(const std::uint8_t* input, std::uint32_t length, const ChunkSink& sink,
                           const Bzip2Memory& memory) {
  bz_stream stream{};
  if (!StartDecompressor(stream, memory, input, length)) {
    return StreamEnd::DataError;
  }
  DecompressorSession session(stream);
  const std::unique_ptr<char[]> chunk(new char[STREAM_CHUNK_SIZE]);
  for (;;) {
    stream.next_out = chunk.get();
    stream.avail_out = static_cast<unsigned>(STREAM_CHUNK_SIZE);
    const unsigned inputBefore = stream.avail_in;
    const int rc = BZ2_bzDecompress(&stream);
    const std::size_t produced = STREAM_CHUNK_SIZE - stream.avail_out;
    if (rc != BZ_OK && rc != BZ_STREAM_END) {
      return StreamEnd::DataError;
    }
    if (produced != 0 && !sink(chunk.get(), produced)) {
      return StreamEnd::Stopped;
    }
    if (rc == BZ_STREAM_END) {
      return StreamEnd::Complete;
    }
    // Nothing consumed and nothing produced: the input ended before the stream did.
    if (produced == 0 && stream.avail_in == inputBefore) {
      return StreamEnd::DataError;
    }
  }
}

bool ChecksumMatches(const PackageEntry& entry) {
  return PackageCrc(entry.StoredBytes(), entry.StoredSize()) == entry.Crc();
}

StreamEnd StreamEntry(const PackageEntry& entry, const ChunkSink& sink) {
  return DecompressStream(entry.StoredBytes(), entry.StoredSize(), sink);
}

EntryStatus DecodeEntry(const PackageEntry& entry, const ChunkSink& sink) {
  if (!ChecksumMatches(entry)) {
    return EntryStatus::ChecksumFailure;
  }
  return StreamEntry(entry, sink) == StreamEnd::Complete ? EntryStatus::Content
                                                         : EntryStatus::DataError;
}

EntryContent ExtractEntry(const PackageEntry& entry) {
  EntryContent result;
  std::string& bytes = result.bytes;
  // Reserved with the first chunk, so that nothing is taken for content that never comes.
  result.status = DecodeEntry(entry, [&](const char* data, std::size_t size) {
    if (bytes.empty()) {
      bytes.reserve(
          std::max(size, std::min<std::size_t>(entry.UnpackedSize(), EXTRACT_RESERVE_CAP)));
    }
    bytes.append(data, size);
    return true;
  });
  if (result.status != EntryStatus::Content) {
    std::string().swap(bytes); // a stream that fails part way gives no content, and holds none
  }
  return result;
}

EntryContent ExtractEntry(const PackageLayout& layout, std::string_view name) {
  const EntryLookup lookup = FindEntryByName(layout, name);
  if (!lookup.found) {
    return EntryContent{};
  }
  return ExtractEntry(lookup.entry);
}

} // namespace quillet
