// The packed MS-DOS date and time that installed files get as their last-write time: the date in
// the high word (day, month, years since 1980), the time in the low word (seconds / 2, minutes,
// hours). The fields alone, without a time zone: the installer packs the entries' stored times
// into it, and the install record writes it out as text and reads it back.
#pragma once

#include <cstdint>
#include <optional>

namespace quillet {

inline constexpr int DOS_BASE_YEAR = 1980;

struct DosDateTimeFields {
  int year = DOS_BASE_YEAR;
  unsigned month = 0;
  unsigned day = 0;
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0; // always even: the format keeps seconds / 2
  friend bool operator==(const DosDateTimeFields&, const DosDateTimeFields&) = default;
};

// The fields of a packed value, as its bits give them; they may name no moment (a packed 0 has
// month 0 and day 0).
DosDateTimeFields DosFieldsOf(std::uint32_t packed);

// The packed value of fields that fit their bits: year 1980..2107, month up to 15, day up to 31,
// hour up to 31, minute up to 63, an even second up to 62. Nullopt for any other, so that every
// packed value and only those have fields that pack.
std::optional<std::uint32_t> PackDosFields(const DosDateTimeFields& fields);

} // namespace quillet
