#include "Installer/ContentPipeline.h"

#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <utility>

#include "Package/Crc32.h"

namespace quillet {

unsigned InstallThreads() {
  if (const char* setting = std::getenv("QUILLET_THREADS")) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(setting, &end, 10);
    if (end != setting && *end == '\0' && value > 0 && value <= 1024) {
      return static_cast<unsigned>(value);
    }
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

ContentPipeline::ContentPipeline(std::vector<PackageEntry> entries, unsigned workers,
                                 EntryDecoder decoder, std::size_t budget, std::size_t entryLimit,
                                 bool contentCrc)
    : entries_(std::move(entries)), decoder_(std::move(decoder)), entryLimit_(entryLimit),
      contentCrc_(contentCrc), pipeline_(
                                   entries_.size(), workers,
                                   [this](Pipeline::Task& task) { return Prepare(task); }, budget) {
}

PreparedContent ContentPipeline::Prepare(Pipeline::Task& task) const {
  const PackageEntry& entry = entries_[task.Index()];
  PreparedContent result;
  result.checksumMatches = ChecksumMatches(entry);
  if (!result.checksumMatches || entry.UnpackedSize() > entryLimit_) {
    return result; // nothing to decompress, or too large to hold: the writer streams it
  }
  bool tooLarge = false;
  try {
    result.bytes.reserve(entry.UnpackedSize());
    result.end = decoder_(entry, [&](const char* data, std::size_t size) {
      if (result.bytes.size() + size > entryLimit_) {
        tooLarge = true;
        return false;
      }
      if (!task.Hold(size)) {
        return false; // the pipeline is stopping
      }
      result.bytes.append(data, size);
      return true;
    });
  } catch (...) {
    result.failure = std::current_exception();
  }
  if (tooLarge || result.failure) {
    task.Release(result.bytes.size());
    result.bytes = std::string();
    return result; // held stays false; a failure is raised again by the writer
  }
  result.held = true;
  if (contentCrc_) {
    Crc32 crc;
    crc.Add(result.bytes.data(), result.bytes.size());
    result.contentCrc = crc.Value();
  }
  return result;
}

} // namespace quillet
