// Entry timestamps: the package stores a day number since 1899-12-30 and the fraction of the day
// times 10000; installed files get that moment, in local time, as their last-write time.
#pragma once

#include <cstdint>

#include "Platform/FileSystem.h"

namespace quillet {

// date + time / 10000 as a day value.
double EntryDayValue(std::uint32_t date, std::uint32_t time);

// The packed MS-DOS date (high word) and time (low word); 0 when the year is outside 1980..2099.
std::uint32_t EncodeDosDateTime(double dayValue);

// Gives the file the entry's stored time; a time that cannot be set leaves the file as it is.
void StampEntryFile(platform::OutputFile& file, std::uint32_t date, std::uint32_t time);

} // namespace quillet
