#include "QuilletSfxCore/Timestamps.h"
#include "Platform/FileSystem.h"

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
constexpr std::int64_t FIRST_ENCODABLE_DAY = 29'221;
constexpr std::int64_t LAST_ENCODABLE_DAY = 73'050;
constexpr std::int64_t UNIX_EPOCH_DAY = 25'569; // 1970-01-01
constexpr int DOS_BASE_YEAR = 1980;

struct CivilDate {
  int year;
  unsigned month; // 1..12
  unsigned day;   // 1..31
};

// Proleptic Gregorian date of a day count relative to 1970-01-01.
CivilDate CivilFromDays(std::int64_t days) {
  days += 719'468; // shift the era start to 0000-03-01
  const std::int64_t era = (days >= 0 ? days : days - 146'096) / 146'097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
  const unsigned month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
  const auto year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400);
  return {month <= 2 ? year + 1 : year, month, day};
}

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
  const CivilDate civil = CivilFromDays(day - UNIX_EPOCH_DAY);

  const auto hour = static_cast<std::uint32_t>(timeOfDay / MS_PER_HOUR);
  const auto minute = static_cast<std::uint32_t>((timeOfDay / MS_PER_MINUTE) % 60);
  const auto second = static_cast<std::uint32_t>((timeOfDay % MS_PER_MINUTE) / MS_PER_SECOND);

  // Two-second resolution: the odd second is truncated, never rounded up.
  const std::uint32_t timeWord = second / 2 + minute * 32 + hour * 2048;
  const std::uint32_t dateWord =
      civil.day + civil.month * 32 + static_cast<std::uint32_t>(civil.year - DOS_BASE_YEAR) * 512;
  return dateWord * 65536 + timeWord;
}

void StampEntryFile(platform::OutputFile& file, std::uint32_t date, std::uint32_t time) {
  // An out-of-range pair encodes to 0, which names month 0 and is refused without a change.
  file.SetLastWriteTime(EncodeDosDateTime(EntryDayValue(date, time)));
}

} // namespace quillet
