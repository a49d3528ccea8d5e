#include "Package/EntryContent.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <new>

#include "Package/PackageCrc.h"

namespace quillet {

namespace {

// The smallest step by which a full output buffer grows.
constexpr std::size_t MIN_GROWTH = 256;

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

// Ends the decompressor on every way out, an exception from a buffer allocation included.
class DecompressorSession {
public:
  explicit DecompressorSession(bz_stream& stream) : stream_(stream) {}
  ~DecompressorSession() { BZ2_bzDecompressEnd(&stream_); }
  DecompressorSession(const DecompressorSession&) = delete;
  DecompressorSession& operator=(const DecompressorSession&) = delete;

private:
  bz_stream& stream_;
};

// The decompressor's output: heap memory that is neither zero-filled nor copied when it grows
// (realloc), freed on every way out. A failed allocation throws std::bad_alloc.
class OutputBuffer {
public:
  explicit OutputBuffer(std::size_t capacity) { Grow(capacity); }
  ~OutputBuffer() { std::free(data_); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  char* Data() const { return data_; }
  std::size_t Capacity() const { return capacity_; }

  void Grow(std::size_t capacity) {
    // realloc(p, 0) may free p; keep at least one byte so that the buffer always exists.
    void* grown = std::realloc(data_, capacity != 0 ? capacity : 1);
    if (grown == nullptr) {
      throw std::bad_alloc();
    }
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
  }

private:
  char* data_ = nullptr;
  std::size_t capacity_ = 0;
};

} // namespace

std::optional<std::string> DecompressBuffer(const std::uint8_t* input, std::uint32_t length,
                                            std::uint32_t estimate, const Bzip2Memory& memory,
                                            DecompressTrace* trace) {
  const std::size_t step = (static_cast<std::size_t>(length) + 255) & ~std::size_t{255};
  // The buffer is not zero-filled: the unpacked-size field is not covered by the checksum, and a
  // damaged one must cost address space only, not gigabytes of written pages.
  // Neither the estimate nor growth reserves more than DECOMPRESS_RESERVE_CAP beyond what was
  // produced.
  const std::size_t first = estimate != 0 ? estimate : step;
  OutputBuffer out(std::min(first, DECOMPRESS_RESERVE_CAP));
  if (trace != nullptr) {
    *trace = DecompressTrace{out.Capacity(), 0};
  }

  bz_stream stream{};
  if (!StartDecompressor(stream, memory, input, length)) {
    return std::nullopt;
  }
  DecompressorSession session(stream);
  std::size_t produced = 0;
  for (;;) {
    if (produced == out.Capacity()) {
      // Geometric growth up to the cap keeps a large entry without an estimate cheap.
      out.Grow(out.Capacity() +
               std::clamp(std::max(out.Capacity(), step), MIN_GROWTH, DECOMPRESS_RESERVE_CAP));
      if (trace != nullptr) {
        ++trace->growths;
      }
    }
    const std::size_t room = std::min<std::size_t>(out.Capacity() - produced, UINT_MAX);
    stream.next_out = out.Data() + produced;
    stream.avail_out = static_cast<unsigned>(room);
    const unsigned inputBefore = stream.avail_in;
    const int rc = BZ2_bzDecompress(&stream);
    produced += room - stream.avail_out;
    if (rc == BZ_STREAM_END) {
      break;
    }
    if (rc != BZ_OK) {
      return std::nullopt; // corrupt data, a bad header, or libbz2 short of memory
    }
    // With room left and nothing consumed or produced, the input ended before the stream did.
    if (stream.avail_out == room && stream.avail_in == inputBefore) {
      return std::nullopt;
    }
  }
  return std::string(out.Data(), produced);
}

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

EntryContent ExtractEntry(const PackageEntry& entry) {
  EntryContent result;
  const std::uint8_t* stored = entry.StoredBytes();
  const std::uint32_t storedSize = entry.StoredSize();
  if (PackageCrc(stored, storedSize) != entry.Crc()) {
    result.status = EntryStatus::ChecksumFailure;
    return result;
  }
  std::optional<std::string> bytes = DecompressBuffer(stored, storedSize, entry.UnpackedSize());
  if (!bytes) {
    result.status = EntryStatus::DataError;
    return result;
  }
  result.bytes = std::move(*bytes);
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
