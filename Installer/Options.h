// The installer's command line: quillet-sfx [OPTIONS] [PACKAGE] [OPTIONS], read once into one
// struct that the run takes its answers from.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/ChildProcess.h"

namespace quillet {

// The longest time limit --build-timeout takes: a day.
constexpr long MAX_BUILD_TIMEOUT_SECONDS = 86400;

enum class RunMode {
  Install,   // the dialogue (answered from the options where they give answers)
  List,      // --list: the package's entries and IDE families; nothing installed
  Check,     // --check: the package verified; nothing written
  Help,      // -h, --help, /? on Windows
  Version,   // --version
  Uninstall, // --uninstall: what the install records of the package list is removed
  Misuse,    // an unknown option, a missing value, two packages: `problem` says which
};

struct InstallerOptions {
  RunMode mode = RunMode::Install;
  // The package file named on the command line; empty for the program's own file.
  std::string package;
  bool yes = false;                  // confirm every folder and the final prompt; read nothing
  bool openReadme = true;            // false with --yes or --no-readme
  bool force = false;                // --force, with --uninstall
  std::optional<std::string> target; // the answer to every folder question: a full path, or N
  std::vector<std::string>
      ides; // families with their bounds, as the manifest's "ides" key takes them
  std::optional<std::string> logPath;
  // --build-timeout: how long one compile of a package build may run before it is stopped.
  std::chrono::seconds buildTimeout = platform::DEFAULT_TIME_LIMIT;
  // --uninstall=NAME: the package's name as its records give it; empty for the package's own.
  std::string uninstallName;
  std::string problem;
};

// The full paths that --target and a typed folder take (platform::IsFullPath), as examples after
// "a full path".
inline constexpr std::string_view FULL_PATH_EXAMPLES =
    " (such as C:\\Lib, \\\\server\\share\\Lib or, on Linux, /home/a/Lib)";
// Said after a typed folder that is not a full path, before its question is asked again; the
// examples and a full stop follow.
inline constexpr std::string_view NOT_A_FULL_PATH = " is not a full path; enter one";

// `slashHelp`: whether "/?" asks for help (Windows). A first argument that does not start with
// "-" (nor is "/?" where that asks for help) is the package, as it always was; "--" ends the
// options, so that the next argument is the package whatever it looks like.
InstallerOptions ParseOptions(const std::vector<std::string>& arguments, bool slashHelp);

// The usage text for --help, with line ends between its lines.
std::string_view UsageText();

// The line for a misuse of the command line, without its line end.
std::string MisuseLine(const InstallerOptions& options);

} // namespace quillet
