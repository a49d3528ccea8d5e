#include "Package/RecordCheck.h"

#include <cstring>

#include "Common/Text.h"
#include "Package/EntryContent.h"

namespace quillet {

namespace {

bool IsRecordCheck(const std::uint8_t* record) {
  return SameTextLocale(FieldText(record + entry_field::FILE_NAME), RECORD_CHECK_NAME);
}

// The check's own record when the walk does not reach it: the packer writes it last, so its
// stored bytes end where the trailer begins.
EntryLookup FindRecordCheckAtTail(const PackageLayout& layout) {
  EntryLookup result;
  const std::uint32_t last = layout.trailer - static_cast<std::uint32_t>(entry_field::SIZE);
  for (std::uint32_t back = 0; back <= RECORD_CHECK_TAIL; ++back) {
    if (back > last || last - back < layout.firstEntry) {
      break;
    }
    const std::uint32_t offset = last - back;
    const std::uint8_t* record = layout.imageBase + offset;
    if (ReadU32LE(record + entry_field::SIGNATURE) == ENTRY_SIGNATURE &&
        ReadU32LE(record + entry_field::STORED_SIZE) == back && IsRecordCheck(record)) {
      result.found = true;
      result.entry = PackageEntry(record, offset);
      return result;
    }
  }
  return result;
}

} // namespace

void AddCoveredRecord(Crc32& crc, const std::uint8_t* record) {
  if (!IsRecordCheck(record)) {
    crc.Add(record, entry_field::SIZE);
    return;
  }
  std::uint8_t copy[entry_field::SIZE];
  std::memcpy(copy, record, sizeof copy);
  WriteU32LE(copy + entry_field::STORED_SIZE, 0);
  WriteU32LE(copy + entry_field::CRC, 0);
  crc.Add(copy, sizeof copy);
}

std::string RecordCheckContent(std::uint32_t recordCount, std::uint32_t checksum) {
  std::string content;
  AppendU32LE(content, RECORD_CHECK_SIGNATURE);
  AppendU32LE(content, recordCount);
  AppendU32LE(content, checksum);
  return content;
}

RecordCheck CheckPackageRecords(const PackageLayout& layout) {
  if (!layout.valid) {
    return RecordCheck::Absent;
  }
  EntryLookup check = FindEntryByName(layout, RECORD_CHECK_NAME);
  if (!check.found) {
    check = FindRecordCheckAtTail(layout);
  }
  if (!check.found) {
    return RecordCheck::Absent;
  }
  // The unpacked size is covered too, so a damaged one is refused before anything is allocated.
  if (check.entry.UnpackedSize() != RECORD_CHECK_SIZE) {
    return RecordCheck::Mismatch;
  }
  const EntryContent content = ExtractEntry(check.entry);
  if (content.status != EntryStatus::Content || content.bytes.size() != RECORD_CHECK_SIZE) {
    return RecordCheck::Mismatch;
  }
  const auto* stored = reinterpret_cast<const std::uint8_t*>(content.bytes.data());
  if (ReadU32LE(stored) != RECORD_CHECK_SIGNATURE) {
    return RecordCheck::Mismatch;
  }

  Crc32 crc;
  crc.Add(layout.headerRecord.data(), header_field::SIZE);
  std::uint32_t records = 0;
  bool reachedCheck = false;
  ForEachEntry(layout, [&](const PackageEntry& entry) {
    AddCoveredRecord(crc, entry.Record());
    reachedCheck = reachedCheck || entry.Offset() == check.entry.Offset();
    ++records;
  });
  const bool match =
      reachedCheck && records == ReadU32LE(stored + 4) && crc.Value() == ReadU32LE(stored + 8);
  return match ? RecordCheck::Match : RecordCheck::Mismatch;
}

} // namespace quillet
