#include "Installer/Options.h"

#include "Common/Text.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"

namespace quillet {

namespace {

// The options that take a value: its place in the struct.
std::optional<std::string>* ValueSlot(InstallerOptions& options, std::string_view name) {
  if (name == "--target") {
    return &options.target;
  }
  if (name == "--log") {
    return &options.logPath;
  }
  return nullptr;
}

// Sets a mode that stands alone; a second one is a misuse, as two packages are.
bool SetMode(InstallerOptions& options, RunMode mode, std::string_view name) {
  if (options.mode != RunMode::Install && options.mode != mode) {
    options.problem = "option " + std::string(name) + " cannot be combined with the option before";
    return false;
  }
  options.mode = mode;
  return true;
}

// The seconds of --build-timeout: a whole number from 1 to MAX_BUILD_TIMEOUT_SECONDS.
std::optional<std::chrono::seconds> BuildTimeout(std::string_view value) {
  value = TrimBlanks(value);
  if (value.empty() || value.size() > 6 || value.find_first_not_of("0123456789") != value.npos) {
    return std::nullopt;
  }
  const long seconds = std::stol(std::string(value));
  if (seconds < 1 || seconds > MAX_BUILD_TIMEOUT_SECONDS) {
    return std::nullopt;
  }
  return std::chrono::seconds(seconds);
}

} // namespace

InstallerOptions ParseOptions(const std::vector<std::string>& arguments, bool slashHelp) {
  InstallerOptions options;
  bool packageGiven = false;
  bool optionsEnded = false;
  const auto misuse = [&options](std::string problem) {
    options.mode = RunMode::Misuse;
    options.problem = std::move(problem);
    return options;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const bool isOption = !optionsEnded && ((argument.size() > 1 && argument[0] == '-') ||
                                            (slashHelp && argument == "/?"));
    if (!isOption) {
      if (!optionsEnded && argument == "--") {
        optionsEnded = true;
        continue;
      }
      if (packageGiven) {
        return misuse("two packages given: '" + options.package + "' and '" + argument + "'");
      }
      packageGiven = true;
      options.package = argument;
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    // "--name=value" gives the value in the same argument.
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (std::optional<std::string>* slot = ValueSlot(options, name);
        slot || name == "--ides" || name == "--build-timeout") {
      std::string value;
      if (equals != std::string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        return misuse("option " + name + " needs a value");
      }
      if (TrimBlanks(value).empty()) {
        return misuse("option " + name + " needs a value");
      }
      // A relative folder would be taken from the current folder, and recorded as written, so
      // that a later run from elsewhere could not find what it installed. "N" skips, as typed.
      if (name == "--target" && !platform::IsFullPath(TrimBlanks(value)) &&
          !platform::EqualIgnoringAsciiCase(value, "N")) {
        return misuse("option --target needs a full path" + std::string(FULL_PATH_EXAMPLES) +
                      ", not '" + value + "'");
      }
      if (slot) {
        *slot = value;
        continue;
      }
      if (name == "--build-timeout") {
        const std::optional<std::chrono::seconds> seconds = BuildTimeout(value);
        if (!seconds) {
          return misuse("option --build-timeout needs a whole number of seconds from 1 to " +
                        std::to_string(MAX_BUILD_TIMEOUT_SECONDS) + ", not '" + value + "'");
        }
        options.buildTimeout = *seconds;
        continue;
      }
      // "bds>=22.0,<=23.0" is one choice: a piece that starts with a bound belongs to the one
      // before.
      for (std::size_t start = 0; start <= value.size();) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string::npos) {
          comma = value.size();
        }
        const std::string_view piece =
            TrimBlanks(std::string_view(value).substr(start, comma - start));
        if (!options.ides.empty() && !piece.empty() && (piece[0] == '<' || piece[0] == '>')) {
          options.ides.back().append(",").append(piece);
        } else {
          options.ides.emplace_back(piece);
        }
        start = comma + 1;
      }
      continue;
    }
    if (name == "--uninstall") {
      if (!SetMode(options, RunMode::Uninstall, name)) {
        return misuse(options.problem);
      }
      if (equals != std::string::npos) {
        options.uninstallName = TrimBlanks(argument.substr(equals + 1));
        if (options.uninstallName.empty()) {
          return misuse("option --uninstall= needs a package name");
        }
      }
      continue;
    }
    if (equals != std::string::npos) {
      return misuse("option " + name + " takes no value");
    }
    if (argument == "-y" || argument == "--yes") {
      options.yes = true;
      options.openReadme = false;
    } else if (argument == "--force") {
      options.force = true;
    } else if (argument == "--no-readme") {
      options.openReadme = false;
    } else if (argument == "--list") {
      if (!SetMode(options, RunMode::List, argument)) {
        return misuse(options.problem);
      }
    } else if (argument == "--check") {
      if (!SetMode(options, RunMode::Check, argument)) {
        return misuse(options.problem);
      }
    } else if (argument == "-h" || argument == "--help" || argument == "/?") {
      options.mode = RunMode::Help; // help wins over everything else given
      return options;
    } else if (argument == "--version") {
      if (!SetMode(options, RunMode::Version, argument)) {
        return misuse(options.problem);
      }
    } else {
      return misuse("unknown option '" + argument + "'");
    }
  }
  return options;
}

std::string_view UsageText() {
  return "Usage: quillet-sfx [OPTIONS] [PACKAGE] [OPTIONS]\n"
         "Installs the package appended to this program, or the PACKAGE file.\n"
         "  -y, --yes          confirm every proposed folder and the final prompt; read no input\n"
         "  --target DIR       install every turn into DIR, as if DIR were typed at each "
         "question;\n"
         "                     a full path: C:\\Lib, \\\\server\\share\\Lib or, on Linux, "
         "/home/a/Lib\n"
         "  --ides IDE[,...]   give turns only to the installations that match, such as bds>=23.0\n"
         "  --log FILE         append the run's transcript and exit status to FILE (UTF-8); on\n"
         "                     Linux a native path, or a C:\\ or \\\\server path in the Wine "
         "prefix\n"
         "  --build-timeout SECONDS\n"
         "                     stop a package build whose compiler runs longer (default 600)\n"
         "  --no-readme        do not open the readme\n"
         "  --list             show the package's entries and IDE families; install nothing\n"
         "  --check            verify the package completely; write nothing\n"
         "  --uninstall[=NAME] remove the package (or the one named NAME) as its install\n"
         "                     records list it, asking once per IDE installation\n"
         "  --force            with --uninstall: go on past a record that cannot be read whole,\n"
         "                     removing what the readable records prove, and drop its note\n"
         "  -h, --help         show this text\n"
         "  --version          show the version\n"
         "  --                 end of options: the next argument is the package\n"
         "Exit status: 0 done, 1 failure, 2 package missing or malformed, 3 an entry or the log\n"
         "failed, 4 bad command line.";
}

std::string MisuseLine(const InstallerOptions& options) {
  return "quillet-sfx: " + options.problem + "; see quillet-sfx --help";
}

} // namespace quillet
