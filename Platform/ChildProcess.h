// Child processes: running a Windows program to its end with its output captured, the way the
// installer runs an IDE's command-line compiler.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/ChildProcess.cpp and Platform/Win32/ChildProcess.cpp. No OS type
// appears in it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

struct ChildResult {
  bool started = false; // false: the program could not be started (`problem` says why)
  int exitCode = -1;    // the program's exit status once it ended
  std::string output;   // what it wrote to its standard output and error, interleaved
  std::string problem;  // why it did not start or could not be waited for; else empty
};

// Runs a Windows program (a Windows-style full path, "C:\...\bin\dcc32.exe") with `arguments`,
// each passed so that the program's C runtime splits them back as given, in `workingFolder` (a
// Windows-style path), with no console input, and waits for it to end. Windows: CreateProcessW
// directly. POSIX: the program runs under Wine in the current prefix (WinePrefix), as
// "wine PROGRAM ARGS..." with WINEPREFIX set to it and Wine's debug output off; once it ended,
// the prefix's wineserver is waited for too, so that the registry is Wine's no more when this
// returns.
ChildResult RunWindowsProgram(std::string_view program, const std::vector<std::string>& arguments,
                              std::string_view workingFolder);

// Whether a process runs whose program file is one of `programs` (full Windows-style paths,
// compared ignoring ASCII letter case): the IDE of an installation, which writes its settings back
// when it ends. POSIX: false; a running Wine program of the prefix is found by the registry's own
// check (UserListOutcome::InUse).
bool ProgramRunning(const std::vector<std::string>& programs);

} // namespace quillet::platform
