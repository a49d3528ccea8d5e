#include "Installer/Timestamps.h"
#include "Package/DosDateTime.h"
#include "Platform/FileSystem.h"

#include <chrono>
#include <cmath>
#include <cstdint>

namespace quillet {

namespace {

constexpr std::int64_t MS_PER_DAY = 86'400'000;
constexpr std::int64_t MS_PER_HOUR = 3'600'000;
constexpr std::int64_t MS_PER_MINUTE = 60'000;
constexpr std::int64_t MS_PER_SECOND = 1'000;

// Day numbers count from 1899-12-30. The packed format holds 1980-01-01 (day 29221) up to
// 2099-12-31 (day 73050); the 7-bit year field could go to 2107, but those years are refused.
constexpr std::chrono::sys_days DAY_ZERO = std::chrono::year(1899) / 12 / 30;
constexpr std::int64_t FIRST_ENCODABLE_DAY =
    (std::chrono::sys_days(std::chrono::year(DOS_BASE_YEAR) / 1 / 1) - DAY_ZERO).count();
constexpr std::int64_t LAST_ENCODABLE_DAY =
    (std::chrono::sys_days(std::chrono::year(2099) / 12 / 31) - DAY_ZERO).count();
static_assert(FIRST_ENCODABLE_DAY == 29'221 && LAST_ENCODABLE_DAY == 73'050);

} // namespace

double EntryDayValue(std::uint32_t date, std::uint32_t time) {
  // Summed in extended precision, then rounded once to double.
  const long double fraction = static_cast<long double>(time) / 10000.0L;
  return static_cast<double>(fraction + static_cast<long double>(date));
}

std::uint32_t EncodeDosDateTime(double dayValue) {
  // Anything this far outside the range cannot round into it; this also keeps NaN, infinities and
  // huge values away from the integer conversion below.
  if (!(dayValue > static_cast<double>(FIRST_ENCODABLE_DAY - 1) &&
        dayValue < static_cast<double>(LAST_ENCODABLE_DAY + 2))) {
    return 0;
  }
  // Nearest millisecond, ties to even (the default rounding mode).
  const auto ms = static_cast<std::int64_t>(
      std::nearbyint(static_cast<long double>(dayValue) * static_cast<long double>(MS_PER_DAY)));
  const std::int64_t day = ms / MS_PER_DAY;
  const std::int64_t timeOfDay = ms % MS_PER_DAY;
  if (day < FIRST_ENCODABLE_DAY || day > LAST_ENCODABLE_DAY) {
    return 0;
  }
  const std::chrono::year_month_day civil(DAY_ZERO + std::chrono::days(day));

  const auto hour = static_cast<std::uint32_t>(timeOfDay / MS_PER_HOUR);
  const auto minute = static_cast<std::uint32_t>((timeOfDay / MS_PER_MINUTE) % 60);
  const auto second = static_cast<std::uint32_t>((timeOfDay % MS_PER_MINUTE) / MS_PER_SECOND);

  // Two-second resolution: the odd second is truncated, never rounded up. Every field is in
  // range here, so the fields always pack.
  return PackDosFields({static_cast<int>(civil.year()), static_cast<unsigned>(civil.month()),
                        static_cast<unsigned>(civil.day()), hour, minute, second / 2 * 2})
      .value_or(0);
}

void StampEntryFile(platform::OutputFile& file, std::uint32_t date, std::uint32_t time) {
  // An out-of-range pair encodes to 0, which names month 0 and is refused without a change.
  file.SetLastWriteTime(EncodeDosDateTime(EntryDayValue(date, time)));
}

} // namespace quillet
