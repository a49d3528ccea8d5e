// What the installer's --check and --list and the packer's `test` and `list` share about one
// entry of a finished package: its path for messages, its date as text, and its verdict, judged
// as the installer judges it while writing nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "Package/Contract.h"
#include "Package/PackageFormat.h"

namespace quillet {

// Day 0 of the stored dates, and the stored time unit: a day / 10000.
inline constexpr std::chrono::sys_days ENTRY_DAY_ZERO =
    std::chrono::sys_days(std::chrono::year(1899) / std::chrono::December / 30);
inline constexpr std::int64_t MS_PER_DAY = 86'400'000;
inline constexpr std::int64_t MS_PER_TICK = 8'640;

// "YYYY-MM-DD HH:MM:SS" for a stored pair: the time the installer gives the file, whose seconds
// are truncated to an even number (one stored unit is 8.64 s).
std::string FormatDayTime(std::uint32_t date, std::uint32_t time);

// The entry's folder template and file name as one path, for messages.
std::string EntryPath(const PackageEntry& entry);

// Why the installer would not create the entry (EntryNameProblem), judged on its name and folder
// in UTF-8, read in the code page; empty for an entry it creates or never installs.
std::string BadNameProblem(const PackageEntry& entry, std::uint32_t codePage);

enum class EntryVerdict { Passed, BadName, ChecksumFailure, DataError };

struct EntryCheck {
  EntryVerdict verdict = EntryVerdict::Passed;
  std::string problem;           // for BadName: why
  std::uint64_t contentSize = 0; // the bytes decompressed, for Passed
};

// Checks the name, then the checksum and the decompression of the content (counted, never held:
// an entry of any size costs one chunk of memory). An entry that asks for a damaged patch text
// fails with it, as the installer fails it.
EntryCheck CheckEntry(const PackageEntry& entry, EntryStatus patchStatus, std::uint32_t codePage);

} // namespace quillet
