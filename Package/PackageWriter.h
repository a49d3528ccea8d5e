// Writes packages: the packer builds them with this, and the tests build their fixtures with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Package/PackageFormat.h"
#include "Package/RecordCheck.h"

namespace quillet {

// One entry as it will be stored: its record fields and its compressed bytes. Tests may change
// any field after MakeStoredEntry to build damaged packages.
struct StoredEntry {
  std::string folderTemplate;
  std::string fileName;
  std::uint32_t flags = ENTRY_INSTALL;
  std::uint32_t date = 0;
  std::uint32_t time = 0;
  std::uint32_t unpackedSize = 0;
  std::uint32_t crc = 0;
  std::string stored; // one bzip2 stream
};

// The whole content as one bzip2 stream. Throws std::runtime_error when libbz2 fails and
// std::invalid_argument for a level outside 1 to 9.
std::string CompressBzip2(std::string_view content, int level = 9);

// Compresses the content and fills the sizes and the checksum.
StoredEntry MakeStoredEntry(std::string folderTemplate, std::string fileName,
                            std::string_view content, std::uint32_t flags = ENTRY_INSTALL,
                            std::uint32_t date = 0, std::uint32_t time = 0, int level = 9);

// An entry still to be compressed: its record fields, and how to load its content when its turn
// comes, so that only the entries being compressed are held in memory at once.
struct EntrySource {
  std::string folderTemplate;
  std::string fileName;
  std::uint32_t flags = ENTRY_INSTALL;
  std::uint32_t date = 0;
  std::uint32_t time = 0;
  std::function<std::string()> load;
};

struct CompressionProgress {
  std::size_t entriesDone = 0;
  std::size_t entryCount = 0;
  std::uint64_t bytesDone = 0; // content bytes of the finished entries
};

// Compresses every entry with MakeStoredEntry on up to `jobs` threads (0: one per core) and hands
// the entries to `consume` in the order of `sources`, each as soon as it and all before it are
// done. The threads work in that order too and run at most a few entries ahead of `consume`, so
// that only the entries in flight are held in memory, however large the package. The entries are
// byte-identical for any number of jobs. `progress` is called after each entry, one call at a
// time. When a load, a compression or `consume` fails, no further entry is consumed, and that
// failure - for the entries, the earliest in the order of `sources` - is rethrown once all threads
// ended.
void StreamStoredEntries(const std::vector<EntrySource>& sources, int level, unsigned jobs,
                         const std::function<void(StoredEntry&&)>& consume,
                         const std::function<void(const CompressionProgress&)>& progress = {});

// The same, gathering the entries in a list.
std::vector<StoredEntry>
MakeStoredEntries(const std::vector<EntrySource>& sources, int level = 9, unsigned jobs = 0,
                  const std::function<void(const CompressionProgress&)>& progress = {});

struct PackageContents {
  std::string defaultFolder;
  std::vector<StoredEntry> entries;
  // The header's entry count; by default the number of entries.
  std::optional<std::uint32_t> entryCount;
};

// Appends the entry "package.crc" with the checksum over the header and every record, as the last
// entry; the header's count then includes it. Throws std::invalid_argument when an entry already
// has that name.
void AddRecordCheck(PackageContents& package, int level = 9);

// The package's bytes: header, entries, trailer. Text fields take at most 256 bytes (a field of
// exactly 256 has no NUL); longer ones throw std::invalid_argument. A package needs at least one
// entry, and the whole must stay below 4 GiB; otherwise std::invalid_argument.
std::string SerializePackage(const PackageContents& package);

// The parts of a package for writers that stream it: the header, one entry's record (its stored
// bytes follow it), and the trailer with the size of the whole package. Throw like
// SerializePackage for text fields that do not fit.
std::string SerializeHeader(const std::string& defaultFolder, std::uint32_t entryCount);
std::string SerializeEntryRecord(const StoredEntry& entry);
std::string SerializeTrailer(std::uint32_t packageSize);

// Throws std::invalid_argument for the name that the record checksum's own entry keeps.
void RejectRecordCheckName(const std::string& fileName);

// The record checksum of a package written piece by piece: the header, then every record in
// order; Finish gives the entry "package.crc" that goes last, `recordCount` counting it too.
class RecordChecksum {
public:
  explicit RecordChecksum(std::string_view header);
  void AddRecord(std::string_view record);
  StoredEntry Finish(std::uint32_t recordCount, int level);

private:
  Crc32 crc_;
};

} // namespace quillet
