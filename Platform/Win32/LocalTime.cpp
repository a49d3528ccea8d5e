#include "Platform/LocalTime.h"

#include "Platform/Win32/Win32.h"

namespace quillet::platform {

namespace {

// FILETIME counts 100-ns ticks since 1601-01-01; 11,644,473,600 s lie between that and 1970.
constexpr std::int64_t TICKS_PER_SECOND = 10'000'000;
constexpr std::int64_t EPOCH_1601_TO_1970 = 11'644'473'600;

bool ToSystemTime(std::int64_t seconds, SYSTEMTIME& time) {
  const auto ticks = static_cast<std::uint64_t>((seconds + EPOCH_1601_TO_1970) * TICKS_PER_SECOND);
  FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  return ::FileTimeToSystemTime(&file, &time) != 0;
}

std::optional<std::int64_t> Seconds(const SYSTEMTIME& time) {
  FILETIME file{};
  if (::SystemTimeToFileTime(&time, &file) == 0) {
    return std::nullopt;
  }
  const std::uint64_t ticks = std::uint64_t{file.dwHighDateTime} << 32 | file.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / TICKS_PER_SECOND) - EPOCH_1601_TO_1970;
}

} // namespace

std::optional<std::int64_t> LocalOffsetAt(std::int64_t utcSeconds) {
  SYSTEMTIME utc{};
  if (utcSeconds < -EPOCH_1601_TO_1970 || !ToSystemTime(utcSeconds, utc)) {
    return std::nullopt;
  }
  // The rules of that year from the zone's dynamic data (the registry's Dynamic DST values);
  // a zone without any keeps its one rule for every year. Each entry's time asks three times,
  // mostly of one year: the last year's rules are kept, per thread.
  thread_local WORD cachedYear = 0;
  thread_local TIME_ZONE_INFORMATION zone{};
  if (cachedYear != utc.wYear) {
    if (::GetTimeZoneInformationForYear(utc.wYear, nullptr, &zone) == 0) {
      cachedYear = 0;
      return std::nullopt;
    }
    cachedYear = utc.wYear;
  }
  SYSTEMTIME local{};
  if (::SystemTimeToTzSpecificLocalTime(&zone, &utc, &local) == 0) {
    return std::nullopt;
  }
  const std::optional<std::int64_t> localSeconds = Seconds(local);
  if (!localSeconds) {
    return std::nullopt;
  }
  return *localSeconds - utcSeconds;
}

} // namespace quillet::platform
