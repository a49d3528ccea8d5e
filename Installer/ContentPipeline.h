// Checks and decompresses entries on worker threads ahead of the writer. The writer takes the
// results strictly in the order of the entries it was given, so the files, and every console line,
// come in the same order and with the same text as in a run without workers.
#pragma once

#include <cstddef>
#include <vector>

#include "Common/OrderedPipeline.h"
#include "Installer/EntryInstall.h"

namespace quillet {

// Decompressed bytes held ahead of the writer, all entries together. A worker starts a new entry
// only while the held bytes stay below it.
inline constexpr std::size_t LOOKAHEAD_BUDGET = 64u << 20;
// An entry whose content grows beyond this is not held: the writer streams it itself.
inline constexpr std::size_t LOOKAHEAD_ENTRY_LIMIT = 16u << 20;

// The number of threads an installation uses: QUILLET_THREADS when set to a positive number,
// otherwise one per processor core. One thread means no workers.
unsigned InstallThreads();

class ContentPipeline {
public:
  // Starts up to `workers` threads (fewer when the system refuses more). They never take an
  // interrupt (Platform/Interruption.h): it ends the process while they work, and they hold
  // nothing on disk that it would have to clean up. Destroying the pipeline stops the workers, also
  // in the middle of an entry, and waits for them.
  // `contentCrc`: the workers also give the CRC-32 of the content they hold.
  ContentPipeline(std::vector<PackageEntry> entries, unsigned workers, EntryDecoder decoder,
                  std::size_t budget = LOOKAHEAD_BUDGET,
                  std::size_t entryLimit = LOOKAHEAD_ENTRY_LIMIT, bool contentCrc = false);

  // False when no worker could be started; the writer then does all the work itself.
  bool Active() const { return pipeline_.Active(); }

  // The prepared content of entry `position`, waiting until it is ready. Positions are taken in
  // increasing order, each once.
  PreparedContent Take(std::size_t position) { return pipeline_.Take(position); }

private:
  using Pipeline = OrderedPipeline<PreparedContent>;
  PreparedContent Prepare(Pipeline::Task& task) const;

  const std::vector<PackageEntry> entries_;
  const EntryDecoder decoder_;
  const std::size_t entryLimit_;
  const bool contentCrc_;
  // Its budget counts the decompressed bytes held in finished results and in entries being
  // decompressed. Last, so that its workers end before what they read goes.
  Pipeline pipeline_;
};

} // namespace quillet
