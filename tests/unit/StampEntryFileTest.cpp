// StampEntryFile on real files, with the zone set through TZ (the POSIX layer's time zone).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Installer/Timestamps.h"
#include "Platform/FileSystem.h"
#include "tests/support/WinePrefixFixture.h"

namespace quillet {
namespace {

using test::ScopedEnvironmentVariable;

constexpr const char* UTC = "UTC0";
constexpr const char* CENTRAL_EUROPE = "CET-1CEST,M3.5.0,M10.5.0/3"; // +1, summer +2

struct StampCase {
  const char* name;
  const char* zone;
  std::uint32_t date;
  std::uint32_t time;
  std::time_t expected; // seconds since the epoch, worked out with date(1) in the same zone
};
void PrintTo(const StampCase& c, std::ostream* os) {
  *os << c.name;
}

class StampEntryFileTest : public ::testing::TestWithParam<StampCase> {};

TEST_P(StampEntryFileTest, SetsTheModificationTime) {
  ScopedEnvironmentVariable zone("TZ", std::string(GetParam().zone));
  test::TempDir dir;
  const auto target = dir / "stamped.pas";
  {
    auto file = platform::OutputFile::CreateFor(target.string(), platform::OutputKind::Rebuildable);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->Write("unit stamped;", 13));
    // The installer's order: the time is given after the last write, so it stays.
    StampEntryFile(*file, GetParam().date, GetParam().time);
    ASSERT_TRUE(file->Commit());
  }
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, GetParam().expected);
  EXPECT_NE(info.st_atime, GetParam().expected) << "the access time is not touched";
  EXPECT_EQ(test::ReadFile(target), "unit stamped;");
}

INSTANTIATE_TEST_SUITE_P(
    Zones, StampEntryFileTest,
    ::testing::Values(StampCase{"UtcEvenSecond", UTC, 36671, 219, 959214692},
                      StampCase{"UtcOddSecondTruncated", UTC, 36671, 211, 959214622},
                      StampCase{"UtcMidnight", UTC, 36671, 0, 959212800},
                      StampCase{"UtcFullDayCarries", UTC, 36671, 10000, 959299200},
                      StampCase{"UtcFirstDay", UTC, 29221, 0, 315532800},
                      StampCase{"UtcLastMoment", UTC, 73050, 9999, 4102444790},
                      StampCase{"SummerEvenSecond", CENTRAL_EUROPE, 36671, 219, 959207492},
                      StampCase{"SummerOddSecondTruncated", CENTRAL_EUROPE, 36671, 211, 959207422},
                      StampCase{"SummerMidnight", CENTRAL_EUROPE, 36671, 0, 959205600},
                      StampCase{"SummerFullDayCarries", CENTRAL_EUROPE, 36671, 10000, 959292000},
                      StampCase{"WinterFirstDay", CENTRAL_EUROPE, 29221, 0, 315529200},
                      StampCase{"WinterLastMoment", CENTRAL_EUROPE, 73050, 9999, 4102441190},
                      // The same year in both seasons: each date uses its own offset.
                      StampCase{"WinterNoon2000", CENTRAL_EUROPE, 36540, 5000, 947934000},
                      StampCase{"SummerNoon2000", CENTRAL_EUROPE, 36722, 5000, 963655200}),
    [](const auto& info) { return info.param.name; });

struct OutOfRangeCase {
  const char* name;
  std::uint32_t date;
  std::uint32_t time;
};
void PrintTo(const OutOfRangeCase& c, std::ostream* os) {
  *os << c.name;
}

class StampOutOfRangeTest : public ::testing::TestWithParam<OutOfRangeCase> {};

TEST_P(StampOutOfRangeTest, LeavesTheTimeAlone) {
  ScopedEnvironmentVariable zone("TZ", std::string(UTC));
  test::TempDir dir;
  const auto target = dir / "kept.pas";
  {
    auto file = platform::OutputFile::CreateFor(target.string(), platform::OutputKind::Rebuildable);
    ASSERT_TRUE(file.has_value());
    ASSERT_TRUE(file->Write("x", 1));
    ASSERT_EQ(file->SetLastWriteTime(0x28B903F0), 0u); // 2000-05-25 00:31:32
    StampEntryFile(*file, GetParam().date, GetParam().time);
    ASSERT_TRUE(file->Commit());
  }
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, 959214692);
}

INSTANTIATE_TEST_SUITE_P(Pairs, StampOutOfRangeTest,
                         ::testing::Values(OutOfRangeCase{"DayBeforeFirst", 29220, 9999},
                                           OutOfRangeCase{"DayAfterLast", 73051, 0},
                                           OutOfRangeCase{"DayZero", 0, 0},
                                           OutOfRangeCase{"Year2107", 76000, 0},
                                           OutOfRangeCase{"Year65536", 23242573, 0}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quillet
