// The quillet-pack command line: build, attach, list and test.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace quillet::packer {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1; // bad input, or a package that failed its test
inline constexpr int EXIT_USAGE = 2;  // the command line itself is wrong

// Runs one command; `arguments` exclude the program name. Results go to `out`, messages and
// progress to `err`.
int RunPackCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace quillet::packer
