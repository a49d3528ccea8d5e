// The run from start to exit: banner, package check, the dialogue, and the final prompt.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

inline constexpr std::string_view PRODUCT_BANNER =
    "Quillet  Version 1.0.2  Copyright (c) 2026 The Quillet developers";
inline constexpr std::string_view ABSENT_PACKAGE_MESSAGE =
    "\r\nInstallation Package data is absent or tampered.\r\n"
    "Please download latest version from ";
inline constexpr std::string_view FINAL_PROMPT = "\r\nPress ENTER to finish installation...";

// Exit statuses.
// Everything the run was to do was done (skipped turns, no IDE found and an answered help
// included).
inline constexpr int EXIT_ALL_DONE = 0;
// An exception ended the run with a failure report.
inline constexpr int EXIT_FAILURE_REPORT = 1;
// The package is missing or malformed.
inline constexpr int EXIT_NO_PACKAGE = 2;
// A part of the run's work failed, each said on its line: an entry, a library path, a package
// build or registration, a removal, a record or journal, the log, or an entry --check found bad.
inline constexpr int EXIT_PART_FAILED = 3;
// The command line was not understood; nothing was done.
inline constexpr int EXIT_BAD_COMMAND_LINE = 4;

// The program body; gives the exit status. Exceptions from the dialogue pass through after the
// package has been released and the final prompt answered.
int RunInstaller(const std::vector<std::string>& arguments);

// The one-line report of an exception that ended the run (without the line end).
std::string FormatFailureReport(std::string_view className, std::string_view moduleName,
                                std::uint32_t offset, std::string_view message);

// Writes the failure report for the exception being handled and gives EXIT_FAILURE_REPORT.
// Call only from inside a catch block.
int ReportCurrentException();

} // namespace quillet
