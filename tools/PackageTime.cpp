#include "tools/PackageTime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "tools/PackerError.h"

namespace quillet::pack {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

struct Civil {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

Civil CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  const unsigned day = dayOfYear - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// Day 0 of the stored dates, counted from 1970-01-01.
constexpr std::int64_t DAY_ZERO = -25569;
constexpr std::int64_t SECONDS_PER_DAY = 86400;
constexpr std::int64_t TIME_UNITS_PER_DAY = 10000;

unsigned DaysInMonth(int year, unsigned month) {
  static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

} // namespace

DayTime DayTimeFromCivil(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                         unsigned second) {
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 60) {
    throw EPackerError("not a valid date and time: " + std::to_string(year) + "-" +
                       std::to_string(month) + "-" + std::to_string(day) + " " +
                       std::to_string(hour) + ":" + std::to_string(minute) + ":" +
                       std::to_string(second));
  }
  const std::int64_t date = DaysFromCivil(year, month, day) - DAY_ZERO;
  if (date < 0 || date > 0xFFFFFFFFll) {
    throw EPackerError("date " + std::to_string(year) + "-" + std::to_string(month) + "-" +
                       std::to_string(day) + " lies outside what a package can store");
  }
  // A leap second counts as the last second of its minute.
  const std::int64_t seconds = hour * 3600 + minute * 60 + (second > 59 ? 59 : second);
  DayTime result;
  result.date = static_cast<std::uint32_t>(date);
  result.time = static_cast<std::uint32_t>(seconds * TIME_UNITS_PER_DAY / SECONDS_PER_DAY);
  return result;
}

DayTime DayTimeOfFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) {
    throw EPackerError(path.string() + ": cannot read the modification time: " + error.message());
  }
  const auto system = std::chrono::time_point_cast<std::chrono::system_clock::duration>(
      std::chrono::file_clock::to_sys(written));
  const std::time_t moment = std::chrono::system_clock::to_time_t(system);
  // Only the planning thread converts times, so the shared result of localtime is safe here.
  const std::tm* local = std::localtime(&moment);
  if (local == nullptr) {
    throw EPackerError(path.string() + ": modification time cannot be given in local time");
  }
  try {
    return DayTimeFromCivil(
        local->tm_year + 1900, static_cast<unsigned>(local->tm_mon + 1),
        static_cast<unsigned>(local->tm_mday), static_cast<unsigned>(local->tm_hour),
        static_cast<unsigned>(local->tm_min), static_cast<unsigned>(local->tm_sec));
  } catch (const EPackerError& e) {
    throw EPackerError(path.string() + ": modification time: " + e.what() +
                       "; set a timestamp in the manifest");
  }
}

std::string FormatDayTime(std::uint32_t date, std::uint32_t time) {
  // Times of 10000 and more carry into the following days, as the installer reads them.
  const std::int64_t milliseconds = static_cast<std::int64_t>(time) * 8640;
  const std::int64_t days = static_cast<std::int64_t>(date) + milliseconds / 86400000;
  const std::int64_t ofDay = milliseconds % 86400000 / 1000;
  const Civil civil = CivilFromDays(days + DAY_ZERO);
  char text[48];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld",
                static_cast<long long>(civil.year), civil.month, civil.day,
                static_cast<long long>(ofDay / 3600), static_cast<long long>(ofDay / 60 % 60),
                static_cast<long long>(ofDay % 60));
  return text;
}

} // namespace quillet::pack
