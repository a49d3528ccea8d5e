#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>

#include "Installer/Timestamps.h"

namespace quillet {
namespace {

// ---------------------------------------------------------------------------------------------
// EncodeDosDateTime on the stored pairs

struct EncodeCase {
  const char* name;
  std::uint32_t date;
  std::uint32_t time;
  std::uint32_t packed;
};
void PrintTo(const EncodeCase& c, std::ostream* os) {
  *os << c.name;
}

class EncodeDosDateTimeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeDosDateTimeTest, Encodes) {
  EXPECT_EQ(EncodeDosDateTime(EntryDayValue(GetParam().date, GetParam().time)), GetParam().packed);
}

INSTANTIATE_TEST_SUITE_P(ConversionTable, EncodeDosDateTimeTest,
                         ::testing::Values(EncodeCase{"EvenSecond", 36671, 219, 0x28B903F0},
                                           EncodeCase{"OddSecondTruncated", 36671, 211, 0x28B903CB},
                                           EncodeCase{"Midnight", 36671, 0, 0x28B90000},
                                           EncodeCase{"FullDayCarries", 36671, 10000, 0x28BA0000},
                                           EncodeCase{"FirstDay", 29221, 0, 0x00210000},
                                           EncodeCase{"LastMoment", 73050, 9999, 0xEF9FBF79},
                                           EncodeCase{"DayBeforeFirst", 29220, 9999, 0},
                                           EncodeCase{"DayAfterLast", 73051, 0, 0},
                                           EncodeCase{"DayZero", 0, 0, 0}),
                         [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Bounds, EncodeDosDateTimeTest,
    ::testing::Values(
        // 2000-02-29 12:00:00: leap day of a year divisible by 400.
        EncodeCase{"LeapDay2000", 36585, 5000, (20u << 25 | 2u << 21 | 29u << 16) | 12u << 11},
        // 2096-02-29 and then 2096-03-01: the last leap day of the range.
        EncodeCase{"LeapDay2096", 71649, 0, 116u << 25 | 2u << 21 | 29u << 16},
        EncodeCase{"DayAfterLeapDay2096", 71650, 0, 116u << 25 | 3u << 21 | 1u << 16},
        EncodeCase{"TimeCarriesIntoFirstDay", 29220, 10000, 0x00210000},
        EncodeCase{"LargeTimeCarriesIntoRange", 0, 292210000, 0x00210000},
        EncodeCase{"TimeCarriesBeyondLastDay", 73050, 10000, 0},
        EncodeCase{"Year2105FitsTheFieldButIsRefused", 75000, 0, 0},
        EncodeCase{"Year65536", 23242573, 0, 0},
        EncodeCase{"LargestPair", std::numeric_limits<std::uint32_t>::max(),
                   std::numeric_limits<std::uint32_t>::max(), 0},
        // 0.0001 day = 8.64 s: the last unit of a day is 23:59:51.36, so second 50.
        EncodeCase{"LastUnitOfDay", 36671, 9999, 0x28B9BF79},
        // One unit = 00:00:08.640: second 8.
        EncodeCase{"OneUnit", 36671, 1, 0x28B90004}),
    [](const auto& info) { return info.param.name; });

TEST(EntryDayValue, AddsTheFractionToTheDay) {
  EXPECT_EQ(EntryDayValue(36671, 219), 36671.0219);
  EXPECT_EQ(EntryDayValue(36671, 10000), 36672.0);
  EXPECT_EQ(EntryDayValue(0, 5000), 0.5);
  EXPECT_EQ(EntryDayValue(4294967295u, 0), 4294967295.0);
}

TEST(EncodeDosDateTime, ValuesThatNameNoDayGiveZero) {
  for (const double value :
       {std::nan(""), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), -1.0, -36671.5, 1e300, 29220.5, 73051.0}) {
    EXPECT_EQ(EncodeDosDateTime(value), 0u) << value;
  }
}

TEST(EncodeDosDateTime, RoundsToTheNearestMillisecondFirst) {
  // 0.4 ms before 1980-01-01 rounds up into the first encodable day.
  EXPECT_EQ(EncodeDosDateTime(29221.0 - 0.4 / 86'400'000), 0x00210000u);
  // 0.6 ms before it stays on 1979-12-31.
  EXPECT_EQ(EncodeDosDateTime(29221.0 - 0.6 / 86'400'000), 0u);
}

// The packed value worked out independently, with integer milliseconds and the standard calendar.
std::uint32_t ReferencePacked(std::uint32_t date, std::uint32_t time) {
  using namespace std::chrono;
  const std::int64_t ms = std::int64_t{date} * 86'400'000 + std::int64_t{time} * 8'640;
  const sys_days day = sys_days{year{1899} / December / 30} + days{ms / 86'400'000};
  const year_month_day ymd{day};
  const int y = static_cast<int>(ymd.year());
  if (y < 1980 || y > 2099) {
    return 0;
  }
  const std::int64_t t = ms % 86'400'000;
  const auto hour = static_cast<std::uint32_t>(t / 3'600'000);
  const auto minute = static_cast<std::uint32_t>(t / 60'000 % 60);
  const auto second = static_cast<std::uint32_t>(t % 60'000 / 1'000);
  const std::uint32_t dateWord = static_cast<unsigned>(ymd.day()) +
                                 static_cast<unsigned>(ymd.month()) * 32 +
                                 static_cast<std::uint32_t>(y - 1980) * 512;
  return dateWord << 16 | (hour << 11 | minute << 5 | second / 2);
}

TEST(EncodeDosDateTime, EveryDayAroundTheRangeMatchesTheCalendar) {
  for (std::uint32_t date = 29000; date <= 73300; ++date) {
    for (const std::uint32_t time : {0u, 1u, 4999u, 9999u}) {
      ASSERT_EQ(EncodeDosDateTime(EntryDayValue(date, time)), ReferencePacked(date, time))
          << date << " " << time;
    }
  }
}

TEST(EncodeDosDateTime, EveryTimeOfSampledDaysMatchesTheCalendar) {
  std::vector<std::uint32_t> dates = {29221, 36585, 71649, 73050};
  for (std::uint32_t date = 29221; date <= 73050; date += 997) {
    dates.push_back(date);
  }
  for (const std::uint32_t date : dates) {
    for (std::uint32_t time = 0; time <= 10000; ++time) {
      ASSERT_EQ(EncodeDosDateTime(EntryDayValue(date, time)), ReferencePacked(date, time))
          << date << " " << time;
    }
  }
}

} // namespace
} // namespace quillet
