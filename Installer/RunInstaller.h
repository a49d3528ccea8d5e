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
inline constexpr int EXIT_INSTALLED = 0;        // an ordinary end
inline constexpr int EXIT_FAILURE_REPORT = 1;   // an exception ended the run
inline constexpr int EXIT_NO_PACKAGE = 2;       // the package is missing or malformed
inline constexpr int EXIT_ENTRY_FAILED = 3;     // at least one entry could not be installed
inline constexpr int EXIT_BAD_COMMAND_LINE = 4; // an unknown option, a missing value, two packages

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
