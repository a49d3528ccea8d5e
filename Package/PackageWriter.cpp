#include "Package/PackageWriter.h"

#include <bzlib.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "Common/OrderedPipeline.h"
#include "Common/Text.h"
#include "Package/PackageCrc.h"
#include "Package/RecordCheck.h"

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

void StreamStoredEntries(const std::vector<EntrySource>& sources, int level, unsigned jobs,
                         const std::function<void(StoredEntry&&)>& consume,
                         const std::function<void(const CompressionProgress&)>& progress) {
  if (level < 1 || level > 9) {
    throw std::invalid_argument("compression level must be 1 to 9, not " + std::to_string(level));
  }
  if (jobs == 0) {
    jobs = std::max(1u, std::thread::hardware_concurrency());
  }
  CompressionProgress done;
  done.entryCount = sources.size();
  std::mutex progressLock; // one progress call at a time, and the counts with it
  using Pipeline = OrderedPipeline<StoredEntry>;
  const auto compress = [&](Pipeline::Task& task) {
    const EntrySource& source = sources[task.Index()];
    const std::string content = source.load ? source.load() : std::string();
    StoredEntry entry = MakeStoredEntry(source.folderTemplate, source.fileName, content,
                                        source.flags, source.date, source.time, level);
    const std::lock_guard<std::mutex> guard(progressLock);
    ++done.entriesDone;
    done.bytesDone += content.size();
    if (progress) {
      progress(done);
    }
    return entry;
  };

  // Every entry is compressed on its own, so the order of work never shows in the output. The
  // threads take entries in package order and stay within `window` entries of the next one to be
  // consumed: finished entries wait for the ones before them, and that wait is what memory holds.
  // One job means no threads: each Take compresses its entry itself.
  const auto threadCount = static_cast<unsigned>(std::min<std::size_t>(jobs, sources.size()));
  const std::size_t window = 2 * std::size_t{threadCount};
  Pipeline pipeline(sources.size(), threadCount <= 1 ? 0 : threadCount, compress, window, 1);
  for (std::size_t index = 0; index < sources.size(); ++index) {
    // A failure leaves here, and the pipeline's end waits for the threads before the caller sees
    // it. Taken in order, the first failure met is the earliest among the entries.
    consume(pipeline.Take(index));
  }
}

std::vector<StoredEntry>
MakeStoredEntries(const std::vector<EntrySource>& sources, int level, unsigned jobs,
                  const std::function<void(const CompressionProgress&)>& progress) {
  std::vector<StoredEntry> result;
  result.reserve(sources.size());
  StreamStoredEntries(
      sources, level, jobs, [&](StoredEntry&& entry) { result.push_back(std::move(entry)); },
      progress);
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

} // namespace

std::string SerializeHeader(const std::string& defaultFolder, std::uint32_t entryCount) {
  std::string out;
  AppendU32LE(out, PACKAGE_SIGNATURE);
  AppendU32LE(out, entryCount);
  AppendField(out, defaultFolder, "default folder template");
  out.append(header_field::SIZE - header_field::RESERVED, '\0');
  return out;
}

std::string SerializeEntryRecord(const StoredEntry& entry) {
  std::string out;
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
  return out;
}

std::string SerializeTrailer(std::uint32_t packageSize) {
  std::string out;
  AppendU32LE(out, PACKAGE_SIGNATURE);
  AppendU32LE(out, packageSize);
  return out;
}

void RejectRecordCheckName(const std::string& fileName) {
  if (SameTextLocale(fileName, RECORD_CHECK_NAME)) {
    throw std::invalid_argument("the name package.crc is kept for the package's own checksum");
  }
}

RecordChecksum::RecordChecksum(std::string_view header) {
  crc_.Add(header.data(), header.size());
}

void RecordChecksum::AddRecord(std::string_view record) {
  AddCoveredRecord(crc_, reinterpret_cast<const std::uint8_t*>(record.data()));
}

StoredEntry RecordChecksum::Finish(std::uint32_t recordCount, int level) {
  // The check's own record is covered with its stored size and CRC as zero, so a placeholder with
  // the final names, flags and unpacked size stands in for it.
  StoredEntry placeholder;
  placeholder.fileName = std::string(RECORD_CHECK_NAME);
  placeholder.flags = 0;
  placeholder.unpackedSize = RECORD_CHECK_SIZE;
  AddRecord(SerializeEntryRecord(placeholder));
  return MakeStoredEntry("", placeholder.fileName, RecordCheckContent(recordCount, crc_.Value()), 0,
                         0, 0, level);
}

void AddRecordCheck(PackageContents& package, int level) {
  for (const StoredEntry& entry : package.entries) {
    RejectRecordCheckName(entry.fileName);
  }
  // Never installed, and last: the installer also finds it from the trailer when a damaged record
  // ends the walk before it.
  const auto count = static_cast<std::uint32_t>(package.entries.size() + 1);
  RecordChecksum checksum(
      SerializeHeader(package.defaultFolder, package.entryCount.value_or(count)));
  for (const StoredEntry& entry : package.entries) {
    checksum.AddRecord(SerializeEntryRecord(entry));
  }
  package.entries.push_back(checksum.Finish(count, level));
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
  out += SerializeHeader(
      package.defaultFolder,
      package.entryCount.value_or(static_cast<std::uint32_t>(package.entries.size())));
  for (const StoredEntry& entry : package.entries) {
    out += SerializeEntryRecord(entry);
    out.append(entry.stored);
  }
  out += SerializeTrailer(static_cast<std::uint32_t>(total));
  return out;
}

} // namespace quillet
