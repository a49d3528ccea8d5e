#include "Package/EntryCheck.h"

#include <cstdio>

#include "Package/EntryContent.h"
#include "Platform/Text.h"

namespace quillet {

std::string FormatDayTime(std::uint32_t date, std::uint32_t time) {
  // Times of 10000 and more carry into the following days, as the installer reads them.
  const std::int64_t milliseconds = static_cast<std::int64_t>(time) * MS_PER_TICK;
  const std::int64_t days = static_cast<std::int64_t>(date) + milliseconds / MS_PER_DAY;
  const std::int64_t ofDay = milliseconds % MS_PER_DAY / 2000 * 2; // whole even seconds
  const std::chrono::year_month_day civil{ENTRY_DAY_ZERO + std::chrono::days(days)};
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02lld:%02lld:%02lld",
                static_cast<int>(civil.year()), static_cast<unsigned>(civil.month()),
                static_cast<unsigned>(civil.day()), static_cast<long long>(ofDay / 3600),
                static_cast<long long>(ofDay / 60 % 60), static_cast<long long>(ofDay % 60));
  return text;
}

std::string EntryPath(const PackageEntry& entry) {
  std::string folder = entry.FolderTemplate();
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/' && folder.back() != ':') {
    folder += '\\';
  }
  return folder + entry.FileName();
}

std::string BadNameProblem(const PackageEntry& entry, std::uint32_t codePage) {
  if (!entry.HasFlag(ENTRY_INSTALL)) {
    return {};
  }
  const auto text = [codePage](const std::string& stored) {
    return platform::CodePageToText(codePage, stored);
  };
  return EntryNameProblem(text(entry.FolderTemplate()), text(entry.FileName()));
}

EntryCheck CheckEntry(const PackageEntry& entry, EntryStatus patchStatus, std::uint32_t codePage) {
  EntryCheck check;
  // As the installer refuses them: a name that leads out of its folder or that Windows cannot
  // hold.
  check.problem = BadNameProblem(entry, codePage);
  if (!check.problem.empty()) {
    check.verdict = EntryVerdict::BadName;
    return check;
  }
  const ChunkSink count = [&check](const char*, std::size_t size) {
    check.contentSize += size;
    return true;
  };
  // An entry that fails with the patch text needs no decompression of its own.
  const std::optional<EntryStatus> patchFailure = PatchTextFailure(entry, patchStatus);
  switch (patchFailure ? *patchFailure : DecodeEntry(entry, count)) {
  case EntryStatus::Content:
    break;
  case EntryStatus::ChecksumFailure:
    check.verdict = EntryVerdict::ChecksumFailure;
    break;
  case EntryStatus::DataError:
    check.verdict = EntryVerdict::DataError;
    break;
  }
  return check;
}

} // namespace quillet
