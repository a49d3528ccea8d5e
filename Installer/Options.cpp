#include "Installer/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <map>

#include "Common/Text.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"

namespace quillet {

namespace {

// The options that take a value, in the next argument or after "=".
constexpr std::array<std::string_view, 4> VALUE_OPTIONS = {"--target", "--ides", "--log",
                                                           "--build-timeout"};
// The options that take none (--yes also as -y), and the modes --uninstall[=NAME] aside.
constexpr std::array<std::string_view, 6> FLAGS = {"--yes",  "--force", "--no-readme",
                                                   "--list", "--check", "--version"};
// The name CLI11 gives the package arguments.
constexpr std::string_view PACKAGE = "package";

bool IsValueOption(std::string_view name) {
  return std::find(VALUE_OPTIONS.begin(), VALUE_OPTIONS.end(), name) != VALUE_OPTIONS.end();
}

bool IsFlag(std::string_view name) {
  return name == "-y" || std::find(FLAGS.begin(), FLAGS.end(), name) != FLAGS.end();
}

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The first step, before CLI11 reads the command line: the help options, and the forms that
// CLI11 reads otherwise than this command line always took them. CLI11 takes "--log=" as
// "--log" and the next argument its value, "--uninstall=" as "--uninstall", "--yes=false" as no
// --yes, "-yh" as "-y -h" and "-5" or "---x" as a package; here each of them is a misuse, as
// before. A value option's value, the next argument whatever it looks like, is passed over.
struct FirstLook {
  bool help = false;   // -h, --help, or "/?" where that asks for help, before any misuse
  std::string problem; // the first misuse among these forms
  // Where it is: the arguments before it are read as usual, and a misuse among them is said first.
  std::size_t at = 0;
};

FirstLook LookFirst(const std::vector<std::string>& arguments, bool slashHelp) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    const auto misuse = [i](std::string problem) {
      return FirstLook{false, std::move(problem), i};
    };
    if (argument == "--") {
      break; // the rest are packages
    }
    if (argument == "-h" || argument == "--help" || (slashHelp && argument == "/?")) {
      return {true, {}, i};
    }
    if (argument.size() < 2 || argument[0] != '-') {
      continue; // a package
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (name != "-y" && !(name.size() > 2 && name[1] == '-' && IsAsciiLetter(name[2]))) {
      return misuse("unknown option '" + argument + "'");
    }
    if (equals == std::string::npos) {
      if (IsValueOption(name) && ++i == arguments.size()) {
        return misuse("option " + name + " needs a value");
      }
      continue;
    }
    const bool noValue = TrimBlanks(std::string_view(argument).substr(equals + 1)).empty();
    if (name == "--uninstall" && noValue) {
      return misuse("option --uninstall= needs a package name");
    }
    if (IsValueOption(name) && noValue) {
      return misuse("option " + name + " needs a value");
    }
    if (IsFlag(name)) {
      return misuse("option " + name + " takes no value");
    }
  }
  return {false, {}, arguments.size()};
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

// The IDEs of one --ides value, split at its commas. A piece that starts with a bound belongs to
// the family before it: "bds>=22.0, <=23.0" is one choice, and so is "bds, >=22.0" (bds>=22.0).
// A bound with no family before it in the value (">=12.0", "delphi,,>=7.0") is refused, as the
// manifest's "ides" key, which takes an item's family from before its first bound, refuses an
// item that starts with one.
std::string AddIdes(InstallerOptions& options, const std::string& value) {
  bool familyBefore = false; // whether the piece before names a family
  for (std::size_t start = 0; start <= value.size();) {
    std::size_t comma = value.find(',', start);
    if (comma == std::string::npos) {
      comma = value.size();
    }
    const std::string_view piece = TrimBlanks(std::string_view(value).substr(start, comma - start));
    start = comma + 1;
    if (piece.empty() || (piece[0] != '<' && piece[0] != '>')) {
      options.ides.emplace_back(piece);
      familyBefore = !piece.empty();
    } else if (familyBefore) {
      std::string& choice = options.ides.back();
      choice.append(choice.find_first_of("<>") != choice.npos ? "," : "").append(piece);
    } else {
      return "option --ides: the bound '" + std::string(piece) +
             "' follows no IDE family; write one before it, such as bds" + std::string(piece);
    }
  }
  return {};
}

// A value option's value into `options`; the problem with it, or "".
std::string SetValue(InstallerOptions& options, std::string_view name, const std::string& value) {
  if (TrimBlanks(value).empty()) {
    return "option " + std::string(name) + " needs a value";
  }
  if (name == "--target") {
    // A relative folder would be taken from the current folder, and recorded as written, so
    // that a later run from elsewhere could not find what it installed. "N" skips, as typed.
    if (!platform::IsFullPath(TrimBlanks(value)) && !platform::EqualIgnoringAsciiCase(value, "N")) {
      return "option --target needs a full path" + std::string(FULL_PATH_EXAMPLES) + ", not '" +
             value + "'";
    }
    options.target = value;
  } else if (name == "--log") {
    options.logPath = value;
  } else if (name == "--build-timeout") {
    const std::optional<std::chrono::seconds> seconds = BuildTimeout(value);
    if (!seconds) {
      return "option --build-timeout needs a whole number of seconds from 1 to " +
             std::to_string(MAX_BUILD_TIMEOUT_SECONDS) + ", not '" + value + "'";
    }
    options.buildTimeout = *seconds;
  } else {
    return AddIdes(options, value);
  }
  return {};
}

// One option as CLI11 read it, or one package, into `options`; the problem with it, or "".
std::string Apply(InstallerOptions& options, std::string_view name, const std::string& value) {
  const auto mode = [&options, name](RunMode mode) {
    return SetMode(options, mode, name) ? std::string() : options.problem;
  };
  if (name == PACKAGE) {
    options.package = value;
  } else if (IsValueOption(name)) {
    return SetValue(options, name, value);
  } else if (name == "--uninstall") {
    options.uninstallName = TrimBlanks(value); // CLI11 gives "" for --uninstall alone
    return mode(RunMode::Uninstall);
  } else if (name == "--yes") {
    options.yes = true;
    options.openReadme = false;
  } else if (name == "--force") {
    options.force = true;
  } else if (name == "--no-readme") {
    options.openReadme = false;
  } else if (name == "--list") {
    return mode(RunMode::List);
  } else if (name == "--check") {
    return mode(RunMode::Check);
  } else if (name == "--version") {
    return mode(RunMode::Version);
  }
  return {};
}

} // namespace

InstallerOptions ParseOptions(const std::vector<std::string>& arguments, bool slashHelp) {
  InstallerOptions options;
  const auto misuse = [&options](std::string problem) {
    options.mode = RunMode::Misuse;
    options.problem = std::move(problem);
    options.ides.clear(); // read by the run for its choices, whose problem would replace this one
    return options;
  };
  const FirstLook first = LookFirst(arguments, slashHelp);
  if (first.help) {
    options.mode = RunMode::Help; // help wins over everything given after it
    return options;
  }

  // CLI11 reads the options and packages; each option keeps its values, one per time given, and
  // they are applied below in the order given, so that the last --target counts and the first
  // misuse is the one said.
  CLI::App app;
  app.set_help_flag(); // the first look found the help options, "/?" too
  app.allow_extras();  // unknown options, named below
  // On Windows CLI11 would read "/target" as --target, and "/?" where it is a file; an option
  // starts with "-" there too.
  app.allow_windows_style_options(false);
  // One package; a second one is left over, as unknown options are, and refused below. (A list
  // of packages would have CLI11 split "[a,b]" into two.)
  std::string package; // read from the option's results, as the others
  app.add_option(std::string(PACKAGE), package);
  for (std::string_view flag : FLAGS) {
    app.add_flag(flag == "--yes" ? "-y,--yes" : std::string(flag));
  }
  // "--uninstall=NAME" gives a name; "--uninstall" alone gives "", and never takes the next
  // argument, which stays the package.
  app.add_flag("--uninstall{}");
  for (std::string_view name : VALUE_OPTIONS) {
    app.add_option(std::string(name))->take_all()->allow_extra_args(false);
  }
  // The arguments before the first look's misuse, last first, as CLI11 takes them.
  std::vector<std::string> reversed(arguments.rend() - static_cast<std::ptrdiff_t>(first.at),
                                    arguments.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return misuse(error.what());
  }
  std::map<const CLI::Option*, std::size_t> used; // how many values of each option are applied
  for (const CLI::Option* option : app.parse_order()) {
    const std::size_t index = used[option]++;
    if (index < option->results().size()) {
      if (std::string problem = Apply(options, option->get_name(), option->results()[index]);
          !problem.empty()) {
        return misuse(std::move(problem));
      }
    }
  }
  // What CLI11 left over, in order: unknown options, the "--" that ends the options, and the
  // arguments after a package, which are packages.
  bool optionsEnded = false;
  for (const std::string& extra : app.remaining()) {
    if (!optionsEnded && extra == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && extra.size() > 1 && extra[0] == '-') {
      return misuse("unknown option '" + extra.substr(0, extra.find('=')) + "'");
    } else {
      return misuse("two packages given: '" + options.package + "' and '" + extra + "'");
    }
  }
  return first.problem.empty() ? options : misuse(first.problem);
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
