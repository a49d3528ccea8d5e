#include "Packer/PackageTime.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "Packer/PackerError.h"
#include "Packer/PathText.h"

namespace quillet::packer {

namespace {

using namespace std::chrono;

constexpr sys_days DAY_ZERO = ENTRY_DAY_ZERO;
constexpr std::int64_t TICKS_PER_DAY = 10'000;

// The second of the day that the installer gives a stored time: the stored moment with its
// milliseconds dropped and its seconds truncated to an even number (the MS-DOS file time).
std::int64_t InstalledSecond(std::int64_t tick) {
  return tick * MS_PER_TICK / 2000 * 2;
}

std::string CivilText(int y, unsigned m, unsigned d, unsigned hh, unsigned mm, unsigned ss) {
  return std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d) + " " +
         std::to_string(hh) + ":" + std::to_string(mm) + ":" + std::to_string(ss);
}

} // namespace

DayTime DayTimeFromCivil(int y, unsigned m, unsigned d, unsigned hour, unsigned minute,
                         unsigned second) {
  const year_month_day date{year(y), month(m), day(d)};
  if (!date.ok() || hour > 23 || minute > 59 || second > 60) {
    throw EPackerError("not a valid date and time: " + CivilText(y, m, d, hour, minute, second));
  }
  std::int64_t days = (sys_days(date) - DAY_ZERO).count();
  // A leap second counts as the last second of its minute.
  const std::int64_t target = hour * 3600 + minute * 60 + (second > 59 ? 59 : second);
  // The tick whose installed time lies nearest to the source's; one tick is 8.64 s, so only the
  // ticks around the exact fraction are candidates. The first tick of the next day competes too.
  const std::int64_t around = target * TICKS_PER_DAY / 86400;
  std::int64_t best = -1;
  std::int64_t bestDistance = 0;
  for (std::int64_t tick = around > 2 ? around - 2 : 0; tick <= around + 3; ++tick) {
    const std::int64_t installed = tick < TICKS_PER_DAY    ? InstalledSecond(tick)
                                   : tick == TICKS_PER_DAY ? 86400
                                                           : -1;
    if (installed < 0) {
      break;
    }
    const std::int64_t distance = installed > target ? installed - target : target - installed;
    if (best < 0 || distance < bestDistance) {
      best = tick;
      bestDistance = distance;
    }
  }
  if (best == TICKS_PER_DAY) {
    best = 0;
    ++days;
  }
  if (days < 0 || days > 0xFFFFFFFFll) {
    throw EPackerError("date " + std::to_string(y) + "-" + std::to_string(m) + "-" +
                       std::to_string(d) + " lies outside what a package can store");
  }
  DayTime result;
  result.date = static_cast<std::uint32_t>(days);
  result.time = static_cast<std::uint32_t>(best);
  return result;
}

DayTime DayTimeOfFile(const std::filesystem::path& path) {
  std::error_code error;
  const auto written = std::filesystem::last_write_time(path, error);
  if (error) {
    throw EPackerError(TextOfPath(path) +
                       ": cannot read the modification time: " + error.message());
  }
  const auto system =
      time_point_cast<system_clock::duration>(std::chrono::file_clock::to_sys(written));
  const std::time_t moment = system_clock::to_time_t(system);
  // Only the planning thread converts times, so the shared result of localtime is safe here.
  const std::tm* local = std::localtime(&moment);
  if (local == nullptr) {
    throw EPackerError(TextOfPath(path) + ": modification time cannot be given in local time");
  }
  try {
    return DayTimeFromCivil(
        local->tm_year + 1900, static_cast<unsigned>(local->tm_mon + 1),
        static_cast<unsigned>(local->tm_mday), static_cast<unsigned>(local->tm_hour),
        static_cast<unsigned>(local->tm_min), static_cast<unsigned>(local->tm_sec));
  } catch (const EPackerError& e) {
    throw EPackerError(TextOfPath(path) + ": modification time: " + e.what() +
                       "; set a timestamp in the manifest");
  }
}

} // namespace quillet::packer
