// Splitting of a whole command line into tokens, as the installer reads GetCommandLineA's text.
// A pure function: the Windows layer uses it, and it is tested on every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// All tokens, the program name first. Blanks and control characters (1 to 32) separate tokens;
// double quotes join a run of any characters into the token and are dropped; an empty pair of
// quotes before a token is skipped. The list ends at the first empty token.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

} // namespace quillet::platform
