// Child processes: running a Windows program to its end with its output captured, the way the
// installer runs an IDE's command-line compiler.
//
// One piece of the interface between Quillet and the operating system: declared once here,
// implemented in Platform/Posix/ChildProcess.cpp and Platform/Win32/ChildProcess.cpp. No OS type
// appears in it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// How long a compile may take unless the caller says otherwise.
constexpr std::chrono::seconds DEFAULT_TIME_LIMIT{600};
// How much of a program's output its result keeps: the end, where a compiler reports its errors.
constexpr std::size_t DEFAULT_TAIL_SIZE = 64 * 1024;

struct ChildOptions {
  // How long the program may run; zero for no limit. Past it, the program and every process it
  // started are ended.
  std::chrono::seconds timeLimit = DEFAULT_TIME_LIMIT;
  std::size_t tailSize = DEFAULT_TAIL_SIZE; // the most of the output that ChildResult keeps
  // Given every piece of the output, in order, as it arrives; called from one thread at a time
  // (on Windows a reader thread of the call's own), and never after RunWindowsProgram returned.
  std::function<void(std::string_view)> sink;
};

struct ChildResult {
  bool started = false;         // false: the program could not be started (`problem` says why)
  int exitCode = -1;            // the program's exit status once it ended
  bool timedOut = false;        // it passed the time limit and was ended (`problem` says so)
  std::uint64_t outputSize = 0; // how many bytes it wrote in all
  std::string output;           // the last `tailSize` bytes of its standard output and error
  std::string problem;          // why it did not start, could not be waited for, or was ended
};

// Runs a Windows program (a Windows-style full path, "C:\...\bin\dcc32.exe") with `arguments`,
// each passed so that the program's C runtime splits them back as given, in `workingFolder` (a
// Windows-style path), with no console input, and waits for it to end, at most
// `options.timeLimit`. Its output is read while it runs: the sink gets all of it, the result
// the tail. While it runs, an interrupt (Platform/Interruption.h) ends it and every process it
// started before the installer's own process ends. Windows: CreateProcessW in a job object that
// ends its processes when its last handle is closed. POSIX: the program runs under Wine in the
// current prefix (WinePrefix), as "wine PROGRAM ARGS..." in a process group of its own, with
// WINEPREFIX set to it and Wine's debug output off; once it ended, the prefix's wineserver is
// waited for too (a short while, then told to end), so that the registry is Wine's no more when
// this returns.
ChildResult RunWindowsProgram(std::string_view program, const std::vector<std::string>& arguments,
                              std::string_view workingFolder, const ChildOptions& options = {});

// Whether a process runs whose program file is one of `programs` (full Windows-style paths,
// compared ignoring ASCII letter case): the IDE of an installation, which writes its settings back
// when it ends. POSIX: false; a running Wine program of the prefix is found by the registry's own
// check (UserListOutcome::InUse).
bool ProgramRunning(const std::vector<std::string>& programs);

} // namespace quillet::platform
