#include "QuilletCore/PackageWriter.h"

#include <bzlib.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <numeric>
#include <stdexcept>
#include <thread>

#include "QuilletCore/PackageCrc.h"
#include "QuilletCore/RecordCheck.h"
#include "QuilletCore/SameTextLocale.h"

namespace quillet {

std::string CompressBzip2(std::string_view content, int level) {
  if (level < 1 || level > 9) {
    throw std::invalid_argument("compression level must be 1 to 9, not " + std::to_string(level));
  }
  bz_stream stream{};
  if (BZ2_bzCompressInit(&stream, level, 0, 0) != BZ_OK) {
    throw std::runtime_error("cannot start the bzip2 compressor");
  }
  std::string out;
  // bzip2's worst case is about 1% larger than the input plus 600 bytes.
  out.resize(content.size() + content.size() / 100 + 1024);
  stream.next_in = const_cast<char*>(content.data());
  std::size_t inputLeft = content.size();
  std::size_t produced = 0;
  int rc = BZ_RUN_OK;
  for (;;) {
    // avail_in is 32 bits wide: hand the input over in chunks.
    if (stream.avail_in == 0 && inputLeft > 0) {
      const unsigned chunk = inputLeft > (1u << 30) ? (1u << 30) : static_cast<unsigned>(inputLeft);
      stream.avail_in = chunk;
      inputLeft -= chunk;
    }
    if (produced == out.size()) {
      out.resize(out.size() * 2);
    }
    const std::size_t room = out.size() - produced;
    stream.next_out = out.data() + produced;
    stream.avail_out = room > (1u << 30) ? (1u << 30) : static_cast<unsigned>(room);
    const unsigned before = stream.avail_out;
    rc = BZ2_bzCompress(&stream, inputLeft == 0 ? BZ_FINISH : BZ_RUN);
    produced += before - stream.avail_out;
    if (rc == BZ_STREAM_END) {
      break;
    }
    if (rc != BZ_RUN_OK && rc != BZ_FINISH_OK) {
      BZ2_bzCompressEnd(&stream);
      throw std::runtime_error("bzip2 compression failed (code " + std::to_string(rc) + ")");
    }
  }
  BZ2_bzCompressEnd(&stream);
  out.resize(produced);
  return out;
}

StoredEntry MakeStoredEntry(std::string folderTemplate, std::string fileName,
                            std::string_view content, std::uint32_t flags, std::uint32_t date,
                            std::uint32_t time, int level) {
  if (content.size() > MAX_PACKAGE_FILE_SIZE) {
    throw std::invalid_argument("entry content of 4 GiB or more: " + fileName);
  }
  StoredEntry entry;
  entry.folderTemplate = std::move(folderTemplate);
  entry.fileName = std::move(fileName);
  entry.flags = flags;
  entry.date = date;
  entry.time = time;
  entry.unpackedSize = static_cast<std::uint32_t>(content.size());
  entry.stored = CompressBzip2(content, level);
  entry.crc = PackageCrc(entry.stored.data(), entry.stored.size());
  return entry;
}

std::vector<StoredEntry>
MakeStoredEntries(const std::vector<EntrySource>& sources, int level, unsigned jobs,
                  const std::function<void(const CompressionProgress&)>& progress) {
  if (level < 1 || level > 9) {
    throw std::invalid_argument("compression level must be 1 to 9, not " + std::to_string(level));
  }
  // Largest first keeps the threads busy to the end; the order of work never shows in the output,
  // because every entry is compressed on its own and stored at its own index.
  std::vector<std::size_t> order(sources.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return sources[a].sizeHint > sources[b].sizeHint;
  });

  std::vector<StoredEntry> result(sources.size());
  std::atomic<std::size_t> next{0};
  // Entries after a failed one are skipped, entries before it still run: so the failure reported
  // is always the earliest in package order, whatever the number of jobs.
  std::atomic<std::size_t> failedIndex{sources.size()};
  std::mutex lock; // guards the progress count, the callback and the failure record
  CompressionProgress done;
  done.entryCount = sources.size();
  std::exception_ptr failure;

  auto work = [&] {
    for (;;) {
      const std::size_t position = next.fetch_add(1);
      if (position >= order.size()) {
        return;
      }
      const std::size_t index = order[position];
      if (index > failedIndex.load()) {
        continue;
      }
      const EntrySource& source = sources[index];
      try {
        const std::string content = source.load ? source.load() : std::string();
        result[index] = MakeStoredEntry(source.folderTemplate, source.fileName, content,
                                        source.flags, source.date, source.time, level);
        const std::lock_guard<std::mutex> guard(lock);
        ++done.entriesDone;
        done.bytesDone += content.size();
        if (progress) {
          progress(done);
        }
      } catch (...) {
        const std::lock_guard<std::mutex> guard(lock);
        if (index < failedIndex.load()) {
          failedIndex.store(index);
          failure = std::current_exception();
        }
      }
    }
  };

  if (jobs == 0) {
    jobs = std::max(1u, std::thread::hardware_concurrency());
  }
  const std::size_t threadCount = std::min<std::size_t>(jobs, sources.size());
  if (threadCount <= 1) {
    work();
  } else {
    std::vector<std::jthread> threads;
    threads.reserve(threadCount);
    for (std::size_t t = 0; t < threadCount; ++t) {
      threads.emplace_back(work);
    }
  } // the threads are joined here
  if (failure) {
    std::rethrow_exception(failure);
  }
  return result;
}

namespace {

void AppendField(std::string& out, const std::string& text, const char* what) {
  if (text.size() > FIELD_TEXT_SIZE) {
    throw std::invalid_argument(std::string(what) + " longer than 256 bytes: " + text);
  }
  out.append(text);
  out.append(FIELD_TEXT_SIZE - text.size(), '\0');
}

void AppendHeader(std::string& out, const PackageContents& package) {
  AppendU32LE(out, PACKAGE_SIGNATURE);
  AppendU32LE(out, package.entryCount.value_or(static_cast<std::uint32_t>(package.entries.size())));
  AppendField(out, package.defaultFolder, "default folder template");
  out.append(header_field::SIZE - header_field::RESERVED, '\0');
}

void AppendRecord(std::string& out, const StoredEntry& entry) {
  AppendU32LE(out, ENTRY_SIGNATURE);
  AppendField(out, entry.folderTemplate, "folder template");
  AppendField(out, entry.fileName, "file name");
  AppendU32LE(out, static_cast<std::uint32_t>(entry.stored.size()));
  AppendU32LE(out, entry.unpackedSize);
  AppendU32LE(out, entry.date);
  AppendU32LE(out, entry.time);
  AppendU32LE(out, entry.crc);
  AppendU32LE(out, entry.flags);
  out.append(entry_field::SIZE - entry_field::RESERVED, '\0');
}

} // namespace

void AddRecordCheck(PackageContents& package, int level) {
  for (const StoredEntry& entry : package.entries) {
    if (SameTextLocale(entry.fileName, RECORD_CHECK_NAME)) {
      throw std::invalid_argument("the name package.crc is kept for the package's own checksum");
    }
  }
  // Never installed, and last: the installer also finds it from the trailer when a damaged record
  // ends the walk before it.
  StoredEntry check;
  check.fileName = std::string(RECORD_CHECK_NAME);
  check.flags = 0;
  check.unpackedSize = RECORD_CHECK_SIZE;
  package.entries.push_back(check);

  Crc32 crc;
  std::string bytes;
  AppendHeader(bytes, package);
  crc.Add(bytes.data(), bytes.size());
  for (const StoredEntry& entry : package.entries) {
    bytes.clear();
    AppendRecord(bytes, entry);
    AddCoveredRecord(crc, reinterpret_cast<const std::uint8_t*>(bytes.data()));
  }
  const auto count = static_cast<std::uint32_t>(package.entries.size());
  package.entries.back() =
      MakeStoredEntry("", check.fileName, RecordCheckContent(count, crc.Value()), 0, 0, 0, level);
}

std::string SerializePackage(const PackageContents& package) {
  if (package.entries.empty()) {
    throw std::invalid_argument("a package needs at least one entry");
  }
  std::uint64_t total = header_field::SIZE + trailer_field::SIZE;
  for (const StoredEntry& entry : package.entries) {
    total += entry_field::SIZE + entry.stored.size();
  }
  if (total > MAX_PACKAGE_FILE_SIZE) {
    throw std::invalid_argument("package of 4 GiB or more");
  }

  std::string out;
  out.reserve(total);
  AppendHeader(out, package);
  for (const StoredEntry& entry : package.entries) {
    AppendRecord(out, entry);
    out.append(entry.stored);
  }

  AppendU32LE(out, PACKAGE_SIGNATURE);
  AppendU32LE(out, static_cast<std::uint32_t>(total));
  return out;
}

} // namespace quillet
