// Splitting of a whole command line into tokens, as the installer reads GetCommandLineA's text,
// and the other way: a command line that a program's C runtime splits back into given arguments.
// Pure functions: the Windows layer uses them, and they are tested on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// All tokens, the program name first. Blanks and control characters (1 to 32) separate tokens;
// double quotes join a run of any characters into the token and are dropped; an empty pair of
// quotes before a token is skipped. The list ends at the first empty token.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// One argument as the Microsoft C runtime (and CommandLineToArgvW) splits it back: unchanged when
// it is not empty and holds no blank, tab, line feed, vertical tab or quote; otherwise in quotes,
// with each quote escaped by a backslash and the backslashes before a quote or the closing quote
// doubled.
std::string QuoteWindowsArgument(std::string_view argument);

// The command line of `program` (a path, which the runtime takes up to its closing quote, with
// no escapes) with `arguments`, each quoted as above, separated by blanks.
std::string WindowsCommandLine(std::string_view program, const std::vector<std::string>& arguments);

} // namespace quillet::platform
