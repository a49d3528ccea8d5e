#include "Installer/ContentPipeline.h"

#include <cstdlib>
#include <string>
#include <system_error>
#include <utility>

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
                                 EntryDecoder decoder, std::size_t budget, std::size_t entryLimit)
    : entries_(std::move(entries)), decoder_(std::move(decoder)), budget_(budget),
      entryLimit_(entryLimit), results_(entries_.size()) {
  for (unsigned i = 0; i < workers && i < entries_.size(); ++i) {
    try {
      workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      break; // the workers started so far do the work
    }
  }
}

ContentPipeline::~ContentPipeline() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) {
    worker.join();
  }
}

PreparedContent ContentPipeline::Take(std::size_t position) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return results_[position].has_value(); });
  PreparedContent result = std::move(*results_[position]);
  results_[position].reset();
  held_ -= result.bytes.size();
  lock.unlock();
  changed_.notify_all(); // room in the budget
  return result;
}

void ContentPipeline::Work() {
  for (;;) {
    std::size_t position = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || next_ >= entries_.size() || held_ < budget_; });
      if (stopping_ || next_ >= entries_.size()) {
        return;
      }
      position = next_++;
    }
    PreparedContent result = Prepare(entries_[position]);
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      results_[position] = std::move(result);
    }
    changed_.notify_all();
  }
}

PreparedContent ContentPipeline::Prepare(const PackageEntry& entry) {
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
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        return false;
      }
      result.bytes.append(data, size);
      held_ += size;
      return true;
    });
  } catch (...) {
    result.failure = std::current_exception();
  }
  if (tooLarge || result.failure) {
    const std::lock_guard<std::mutex> lock(mutex_);
    held_ -= result.bytes.size();
    result.bytes = std::string();
    return result; // held stays false; a failure is raised again by the writer
  }
  result.held = true;
  return result;
}

} // namespace quillet
