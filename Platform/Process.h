// Process: arguments, the program file, code addresses.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/Process.cpp and Platform/Win32/Process.cpp.
// No OS type appears in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillet::platform {

// Sets up the process once at start: the user's locale for text comparison, console mode.
void InitialiseProcess();

// The command-line arguments after the program name. POSIX hands them over already split, as
// bytes; Windows splits the wide command line with the installer's own splitting rules and gives
// the arguments in UTF-8, which is how native paths are spelt there (Platform/FileMapping.h).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The command-line arguments after the program name as the C runtime splits them, in UTF-8 on
// Windows, read from the wide command line so that a name keeps every character; POSIX: argv.
std::vector<std::string> RuntimeArguments(int argc, char** argv);

// Whether "/?" on the command line asks for help, as it does for Windows programs.
bool SlashQuestionAsksForHelp();

// Full native path of the running program file, with no length limit (UTF-8 on Windows); empty
// when unknown.
std::string OwnProgramPath();

// An address inside the function that calls this one. Used as a default argument of exception
// constructors, so that it names the code that raised the exception.
const void* CallerAddress();

// Offset of a code address from the load address of the module that holds it; 0 when unknown.
std::uint32_t ModuleOffsetOf(const void* address);

} // namespace quillet::platform
