// Entry dates and times as packages store them: whole days since 1899-12-30 and the fraction of
// the day times 10000, both read as local time by the installer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "Package/EntryCheck.h"

namespace quillet::packer {

struct DayTime {
  std::uint32_t date = 0;
  std::uint32_t time = 0;
  friend bool operator==(const DayTime&, const DayTime&) = default;
};

// A calendar date and wall-clock time, stored as the tick whose installed time (after the
// installer drops odd seconds) lies nearest to it. Throws EPackerError for fields out of range and
// for moments before 1899-12-30, which the format cannot hold.
DayTime DayTimeFromCivil(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                         unsigned second);

// The file's modification time in the local time of this machine.
DayTime DayTimeOfFile(const std::filesystem::path& path);

} // namespace quillet::packer
