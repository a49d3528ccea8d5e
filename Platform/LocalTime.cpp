#include "Platform/LocalTime.h"

#include <chrono>

namespace quillet::platform {

namespace {

// Seconds since 1970-01-01 of the packed fields read as if they were UTC.
std::optional<std::int64_t> WallClockSeconds(std::uint32_t packed) {
  using namespace std::chrono;
  const std::uint32_t date = packed >> 16;
  const std::uint32_t time = packed & 0xFFFF;
  const year_month_day day{year(1980 + static_cast<int>(date >> 9)), month((date >> 5) & 0x0F),
                           std::chrono::day(date & 0x1F)};
  const std::int64_t hour = time >> 11;
  const std::int64_t minute = (time >> 5) & 0x3F;
  const std::int64_t second = (time & 0x1F) * 2;
  if (!day.ok() || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return sys_days(day).time_since_epoch().count() * std::int64_t{86400} + hour * 3600 +
         minute * 60 + second;
}

} // namespace

std::optional<std::int64_t> UtcOfLocalDosDateTime(std::uint32_t packedDosDateTime) {
  const std::optional<std::int64_t> wall = WallClockSeconds(packedDosDateTime);
  if (!wall) {
    return std::nullopt;
  }
  // Offsets change at most once within a day of any time: the offsets a day before and a day
  // after are the two candidates, and a candidate fits when the instant it gives has it.
  constexpr std::int64_t DAY = 86400;
  const std::optional<std::int64_t> before = LocalOffsetAt(*wall - DAY);
  const std::optional<std::int64_t> after = LocalOffsetAt(*wall + DAY);
  if (!before || !after) {
    return std::nullopt;
  }
  const auto fits = [&](std::int64_t offset) { return LocalOffsetAt(*wall - offset) == offset; };
  // The offset before a change also wins where neither fits (a skipped time) or both do (a
  // repeated one).
  return fits(*before) || !fits(*after) ? *wall - *before : *wall - *after;
}

} // namespace quillet::platform
