#include "Installer/RunInstaller.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>

#include "Common/Exception.h"
#include "Installer/Console.h"
#include "Installer/ContentPipeline.h"
#include "Installer/DownloadAddress.h"
#include "Installer/Installation.h"
#include "Installer/ListAndCheck.h"
#include "Installer/Options.h"
#include "Installer/PackageSource.h"
#include "Installer/Uninstall.h"
#include "Package/RecordCheck.h"
#include "Platform/Console.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/Process.h"

namespace quillet {

namespace {

// The options' answers for the dialogue; a malformed --ides choice is a misuse.
DialogueChoices ChoicesOf(InstallerOptions& options) {
  DialogueChoices choices;
  choices.folder = options.target;
  choices.confirm = options.yes;
  choices.openReadme = options.openReadme;
  choices.force = options.force;
  for (const std::string& choice : options.ides) {
    IdeFamilyList list = ParseIdeFamilies({choice});
    if (!list.problem.empty()) {
      options.mode = RunMode::Misuse;
      options.problem = "--" + list.problem;
      break;
    }
    choices.ides.push_back({choice, std::move(list.ides)});
  }
  return choices;
}

// "2026-12-10 01:30:00 UTC", for the head of a log.
std::string UtcNowText() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date(day);
  const hh_mm_ss time(now - day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d UTC", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()));
  return text;
}

// The file --log names. On Linux the value is a native path, but one written as a Windows path
// (a drive "C:", a share "\\server\share") is mapped through the Wine prefix as the folders are,
// so that it is not a file named "C:\q.log" in the current folder. On Windows it is unchanged.
std::string LogFileOf(const std::string& value) {
  const bool drive = value.size() >= 2 && value[1] == ':' &&
                     ((value[0] >= 'a' && value[0] <= 'z') || (value[0] >= 'A' && value[0] <= 'Z'));
  const bool share = value.starts_with("\\\\");
  return drive || share ? platform::NativePath(value) : value;
}

// The line that says the log failed, for the console.
std::string LogFailureLine(const std::string& value, std::string_view what,
                           const std::string& reason) {
  return "The log file '" + InLine(value) + "' " + std::string(what) + ": " + InLine(reason) +
         "; the run goes on without it.";
}

// Starts the log of --log: everything the console shows and reads from now on is appended to
// the file as it happens. A value that names the package, this program or a folder is a misuse
// (`options` says it): appending to the package, or the program that carries one, would break
// it. A log that cannot be opened or written is said on the console, and the run goes on.
void StartLog(InstallerOptions& options) {
  const std::string& value = *options.logPath;
  const std::string path = LogFileOf(value);
  const auto refuse = [&options, &value](std::string_view what) {
    options.mode = RunMode::Misuse;
    options.problem = "the log file '" + value + "' " + std::string(what);
  };
  if (platform::SameFile(path, ChoosePackagePath(options.package))) {
    refuse(options.package.empty() ? "is this program, which holds the package"
                                   : "is the package file");
    return;
  }
  if (platform::SameFile(path, platform::OwnProgramPath())) {
    refuse("is this program's own file");
    return;
  }
  platform::AppendFile::Problem problem;
  std::optional<platform::AppendFile> opened = platform::AppendFile::Open(path, &problem);
  if (!opened) {
    if (problem.folder) {
      refuse("is a folder");
    } else {
      StdConsole().NoteLogFailure(LogFailureLine(value, "cannot be opened", problem.reason));
    }
    return;
  }
  // The head is written here, so that a log that takes nothing is said after the banner.
  if (!opened->Write("Log started " + UtcNowText() + "\r\n", &problem)) {
    StdConsole().NoteLogFailure(LogFailureLine(value, "cannot be written", problem.reason));
    return;
  }
  auto file = std::make_shared<platform::AppendFile>(std::move(*opened));
  StdConsole().SetLog([file, value](std::string_view text) -> std::optional<std::string> {
    platform::AppendFile::Problem failed;
    if (file->Write(text, &failed)) {
      return std::nullopt;
    }
    return LogFailureLine(value, "could not be written further", failed.reason);
  });
  // The banner with the version follows.
}

// --uninstall, ended as an installation is: the final prompt, unless --yes.
int Uninstall(std::string_view name, const InstallerOptions& options,
              const DialogueChoices& choices) {
  const bool removed = RunUninstall(name, StdConsole(), choices);
  WriteLine(REMOVAL_FINAL_PROMPT);
  if (!options.yes) {
    ReadLine();
  }
  return removed ? EXIT_ALL_DONE : EXIT_PART_FAILED;
}

// The run, once the command line has been read.
int Run(InstallerOptions& options, const DialogueChoices& choices) {
  switch (options.mode) {
  case RunMode::Misuse:
    if (const auto error = platform::OpenStandardError()) {
      const std::string line = MisuseLine(options) + "\n";
      error->Write(line.data(), line.size());
    }
    return EXIT_BAD_COMMAND_LINE;
  case RunMode::Help:
    WriteLine(UsageText());
    return EXIT_ALL_DONE;
  case RunMode::Version:
    WriteLine(PRODUCT_BANNER);
    return EXIT_ALL_DONE;
  default:
    break;
  }
  WriteLine(PRODUCT_BANNER);

  // A package named by its records needs no package file.
  if (options.mode == RunMode::Uninstall && !options.uninstallName.empty()) {
    return Uninstall(options.uninstallName, options, choices);
  }

  PackageImage image;
  PackageLayout layout;
  bool opened = OpenPackage(options.package, image, layout);
  // Damage that the entry checksums cannot see ends the run before anything is asked or written.
  if (opened && CheckPackageRecords(layout) == RecordCheck::Mismatch) {
    ReleasePackage(image);
    opened = false;
  }
  if (!opened) {
    WriteLine(std::string(ABSENT_PACKAGE_MESSAGE) + DownloadAddress());
    return EXIT_NO_PACKAGE;
  }

  if (options.mode == RunMode::Uninstall) {
    const std::string name = ReadPackageSettings(layout).identity.name;
    ReleasePackage(image);
    if (name.empty()) {
      WriteLine(PACKAGE_WITHOUT_NAME);
      return EXIT_NO_PACKAGE;
    }
    return Uninstall(name, options, choices);
  }

  if (options.mode == RunMode::List || options.mode == RunMode::Check) {
    const PackageSettings settings = ReadPackageSettings(layout);
    bool passed = true;
    if (options.mode == RunMode::List) {
      ShowPackageList(settings, StdConsole());
    } else {
      passed = CheckPackageEntries(settings, StdConsole());
    }
    ReleasePackage(image);
    return passed ? EXIT_ALL_DONE : EXIT_PART_FAILED;
  }

  // Whichever way the installation ends, the package is released and the user answers the final
  // prompt before anything else is reported.
  auto cleanUp = [&image, &options] {
    ReleasePackage(image);
    WriteLine(FINAL_PROMPT);
    if (!options.yes) {
      ReadLine();
    }
  };
  InstallContext context;
  context.BuildTimeLimit = options.buildTimeout;
  bool allInstalled = false;
  try {
    EntryDecoding decoding;
    decoding.threads = InstallThreads();
    allInstalled =
        RunInstallation(ReadPackageSettings(layout), context, StdConsole(), decoding, choices);
  } catch (...) {
    cleanUp();
    throw;
  }
  cleanUp();
  return allInstalled ? EXIT_ALL_DONE : EXIT_PART_FAILED;
}

} // namespace

int RunInstaller(const std::vector<std::string>& arguments) {
  InstallerOptions options = ParseOptions(arguments, platform::SlashQuestionAsksForHelp());
  const DialogueChoices choices = ChoicesOf(options);
  if (options.mode != RunMode::Misuse && options.logPath) {
    StartLog(options);
  }
  const int status = Run(options, choices);
  // The log was something that was to be done: a run that lost it did not do everything.
  return status == EXIT_ALL_DONE && StdConsole().LogFailed() ? EXIT_PART_FAILED : status;
}

std::string FormatFailureReport(std::string_view className, std::string_view moduleName,
                                std::uint32_t offset, std::string_view message) {
  char address[9];
  std::snprintf(address, sizeof address, "%08X", static_cast<unsigned>(offset));
  std::string report = "Exception ";
  report.append(className).append(" in module ").append(moduleName);
  report.append(" at ").append(address).append(".\n").append(message);
  if (!message.empty() && message.back() != '.') {
    report.push_back('.');
  }
  return report;
}

namespace {

std::string ProgramFileName() {
  const std::string path = platform::OwnProgramPath();
  return std::string(platform::SplitAtLastSeparator(path, "/\\").name);
}

} // namespace

int ReportCurrentException() {
  std::string className = "Exception";
  std::string message;
  std::uint32_t offset = 0;
  try {
    throw;
  } catch (const Exception& e) {
    className = e.ClassName();
    message = e.what();
    offset = platform::ModuleOffsetOf(e.Where());
  } catch (const std::bad_alloc&) {
    className = "EOutOfMemory";
    message = "Out of memory";
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown failure";
  }
  WriteLine(FormatFailureReport(className, ProgramFileName(), offset, message));
  return EXIT_FAILURE_REPORT;
}

} // namespace quillet
