// Local time: the instant that a wall-clock time of the local time zone names.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/LocalTime.cpp (the rule, for both) and in Platform/Posix/LocalTime.cpp
// and Platform/Win32/LocalTime.cpp (the zone's offset). No OS type appears in it.
#pragma once

#include <cstdint>
#include <optional>

namespace quillet::platform {

// The local zone's offset from UTC in seconds (east positive) at an instant given in seconds
// since 1970-01-01 UTC, by the zone's rules for that instant's year: tzdata through TZ on POSIX,
// the dynamic time zone data of that year on Windows. Nullopt when the system gives none.
std::optional<std::int64_t> LocalOffsetAt(std::int64_t utcSeconds);

// The instant (seconds since 1970-01-01 UTC) of a packed MS-DOS date (high word) and time (low
// word) in local time; nullopt for fields that name no moment. A time that a change of offset
// skips (the spring-forward gap) or repeats (the hour after falling back) is read with the
// offset in force before the change: a skipped time lands as far after the change as it is
// after its start, and a repeated time is its first occurrence.
std::optional<std::int64_t> UtcOfLocalDosDateTime(std::uint32_t packedDosDateTime);

} // namespace quillet::platform
