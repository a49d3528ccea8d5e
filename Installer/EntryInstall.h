// Puts one entry of the package on disk for the installation whose turn it is, and reports the
// outcome on one console line.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Installer/Console.h"
#include "Installer/InstallContext.h"
#include "Package/EntryContent.h"
#include "Package/PackageFormat.h"

namespace quillet {

enum class InstallOutcome {
  Skipped,   // not a file to install: no line, nothing touched
  Installed, // "OK"
  Failed,    // "CRC Error", "Data Error", "could not create [...]" or "could not write [...]"
};

// Decompresses an entry's stored bytes into a sink. StreamEntry in a run; tests put their own in.
using EntryDecoder = std::function<StreamEnd(const PackageEntry&, const ChunkSink&)>;

// What a worker found out about an entry's content ahead of the writer (ContentPipeline).
struct PreparedContent {
  bool checksumMatches = false;
  // True when `bytes` holds the whole content (end Complete) or the part before a Data Error (end
  // DataError). False when the content was too large to hold: the writer streams it itself.
  bool held = false;
  StreamEnd end = StreamEnd::Complete;
  std::string bytes;
  // The CRC-32 of `bytes` when held and the pipeline was asked for it (a recorded turn), so that
  // the writer does not compute it itself.
  std::optional<std::uint32_t> contentCrc;
  // A failure raised while decompressing; the writer raises it again where a run without workers
  // would have met it, after the file was created.
  std::exception_ptr failure;
};

// The checksum is checked over the stored bytes before anything on disk is touched. The content is
// then decompressed into a temporary file beside the target (or taken from `prepared`), which
// replaces the target only once the stream has ended cleanly: a Data Error or a failed write leaves
// the old file as it was.
InstallOutcome InstallEntry(const PackageEntry& entry, InstallContext& context, Console& console,
                            const PreparedContent* prepared = nullptr,
                            const EntryDecoder& decoder = StreamEntry);

// Said once in a turn whose entries the system refused to create for lack of rights.
inline constexpr std::string_view ACCESS_DENIED_HEAD = "Access denied while installing into ";
inline constexpr std::string_view ACCESS_DENIED_TAIL =
    ": run the installer as administrator, or type a folder you may write.";

// How a turn's entries are checked and decompressed: by how many threads, with which decoder.
struct EntryDecoding {
  // Threads for checking and decompressing entries; 1 means none besides the writer.
  unsigned threads = 1;
  EntryDecoder decoder = StreamEntry;
};

// Installs the entries for the current turn, in order (the package's PackageSettings::toInstall);
// false when one of them failed.
bool InstallAllEntries(const std::vector<PackageEntry>& entries, InstallContext& context,
                       Console& console, const EntryDecoding& decoding = {});

} // namespace quillet
