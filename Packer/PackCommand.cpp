#include "Packer/PackCommand.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "Packer/Attach.h"
#include "Packer/Manifest.h"
#include "Packer/PackageFiles.h"
#include "Packer/PackagePlan.h"
#include "Packer/PackageReport.h"
#include "Packer/PackerError.h"
#include "Packer/PathText.h"
#include "Packer/StubLocator.h"
#include "Platform/Process.h"

namespace quillet::packer {

namespace {

constexpr const char* VERSION = "quillet-pack 1.0.2";

std::string Mebibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// Reports compression progress to standard error, but only once a build has taken more than a
// moment, and then about once a second.
class ProgressReport {
public:
  ProgressReport(std::ostream& err, std::uint64_t totalBytes)
      : err_(err), totalBytes_(totalBytes), start_(Clock::now()), last_(start_) {}

  void operator()(const CompressionProgress& progress) {
    const auto now = Clock::now();
    const bool finished = progress.entriesDone == progress.entryCount;
    if (now - start_ < DELAY || (now - last_ < INTERVAL && !(finished && shown_))) {
      return;
    }
    last_ = now;
    shown_ = true;
    err_ << "quillet-pack: compressed " << progress.entriesDone << " of " << progress.entryCount
         << " entries, " << Mebibytes(progress.bytesDone) << " of " << Mebibytes(totalBytes_)
         << "\n"
         << std::flush;
  }

private:
  using Clock = std::chrono::steady_clock;
  static constexpr auto DELAY = std::chrono::seconds(1);
  static constexpr auto INTERVAL = std::chrono::seconds(1);

  std::ostream& err_;
  std::uint64_t totalBytes_;
  Clock::time_point start_;
  Clock::time_point last_;
  bool shown_ = false;
};

struct BuildArguments {
  std::string manifest;
  std::string output;
  int level = 9;
  unsigned jobs = 0;
  bool quiet = false;
};

int Build(const BuildArguments& args, std::ostream& out, std::ostream& err) {
  const Manifest manifest = ReadManifest(PathOfText(args.manifest));
  const PackagePlan plan = PlanPackage(manifest);
  BuildOptions options;
  options.level = args.level;
  options.jobs = args.jobs != 0 ? args.jobs : std::max(1u, std::thread::hardware_concurrency());
  ProgressReport report(err, plan.totalBytes);
  if (!args.quiet) {
    options.progress = [&report](const CompressionProgress& progress) { report(progress); };
  }
  for (const std::string& warning : plan.warnings) {
    err << "quillet-pack: warning: " << warning << "\n";
  }
  const std::uint64_t size = WritePackage(plan, options, PathOfText(args.output));
  if (!args.quiet) {
    // package.crc, the record checksum, is the package's last entry.
    out << args.output << ": package of " << size << " bytes, " << plan.entries.size() + 1
        << " entries, " << plan.totalBytes << " bytes of content\n";
    // The layout the installer will make, to be seen before the package ships.
    const auto folders = TargetFolders(plan);
    std::size_t width = 0;
    for (const auto& folder : folders) {
      width = std::max(width, folder.first.size());
    }
    for (const auto& [folder, files] : folders) {
      out << "  " << folder << std::string(width - folder.size(), ' ') << "  " << files
          << (files == 1 ? " file\n" : " files\n");
    }
  }
  return EXIT_OK;
}

int List(const std::string& file, std::optional<std::uint32_t> codePage, std::ostream& out,
         std::ostream& err) {
  const PackageFile package(file);
  // The code page the package records, unless the user names one.
  ListPackage(package, out, err, codePage.value_or(package.CodePage()));
  return EXIT_OK;
}

int Test(const std::string& file, std::ostream& out, std::ostream& err) {
  const PackageFile package(file);
  const TestSummary summary = TestPackage(package, out);
  if (!summary.Passed()) {
    err << "quillet-pack: " << file << ": the package failed its test\n";
    return EXIT_FAILED;
  }
  return EXIT_OK;
}

struct AttachArguments {
  std::string installer; // empty: the stub for `platform` among quillet-pack's own files
  std::string package;
  std::string output;
  std::string platform; // --for; empty: the platform quillet-pack runs on
  std::string downloadUrl;
};

int Attach(const AttachArguments& args, std::ostream& err) {
  std::filesystem::path installer = PathOfText(args.installer);
  if (installer.empty()) {
    const StubPlatform platform =
        args.platform.empty() ? HostStubPlatform() : *StubPlatformNamed(args.platform);
    installer = LocateStub(platform, PathOfText(platform::OwnProgramPath()));
  }
  AttachPackage(installer, PathOfText(args.package), PathOfText(args.output), args.downloadUrl);
  // The address is what a user with a damaged download is sent to: an author who left it out
  // should know where that is.
  if (args.downloadUrl.empty()) {
    err << "quillet-pack: warning: " << args.output
        << ": no --download-url given; when its package is damaged, the installer tells users to "
           "download it from the address the installer carries, by default "
        << DOWNLOAD_ADDRESS << "\n";
  }
  return EXIT_OK;
}

// The command line's commands and what each one's options and arguments fill in.
struct CommandLine {
  BuildArguments build;
  AttachArguments attach;
  std::string listFile;
  std::optional<std::uint32_t> listCodePage;
  std::string testFile;
  CLI::App* buildCommand = nullptr;
  CLI::App* attachCommand = nullptr;
  CLI::App* listCommand = nullptr;
  CLI::App* testCommand = nullptr;
};

CLI::App* AddBuildCommand(CLI::App& app, BuildArguments& build) {
  CLI::App* command =
      app.add_subcommand("build", "Build a stand-alone package from a TOML manifest.");
  command->add_option("MANIFEST", build.manifest, "The manifest (TOML) to build from")->required();
  command->add_option("-o,--output", build.output, "The package file to write")->required();
  command->add_option("--level", build.level, "bzip2 compression level, 1 to 9 (default 9)")
      ->check(CLI::Range(1, 9));
  command->add_option("-j,--jobs", build.jobs,
                      "Entries compressed at once (default: one per core); the package "
                      "is the same for any value");
  command->add_flag("-q,--quiet", build.quiet, "Print neither progress nor the summary");
  return command;
}

CLI::App* AddAttachCommand(CLI::App& app, AttachArguments& attach) {
  CLI::App* command = app.add_subcommand(
      "attach", "Append a stand-alone package to the installer's program file, making a "
                "self-extracting installer.");
  command->add_option("INSTALLER", attach.installer,
                      "The installer program (quillet-sfx); without it, the one for --for "
                      "next to quillet-pack or in its ../lib/quillet/");
  command->add_option("PACKAGE", attach.package, "The stand-alone package (required)");
  command->add_option("-o,--output", attach.output, "The installer to write")->required();
  command
      ->add_option("--for", attach.platform,
                   "The platform of the installer to look up: linux, windows or windows-x86 "
                   "(default: the one quillet-pack runs on)")
      ->check(CLI::IsMember({"linux", "windows", "windows-x86"}));
  command->add_option("--download-url", attach.downloadUrl,
                      "The address the installer names when its package is damaged "
                      "(default: the installer's own)");
  // A single file named is the package.
  command->callback([&attach] {
    if (attach.package.empty()) {
      if (attach.installer.empty()) {
        throw CLI::RequiredError("PACKAGE");
      }
      std::swap(attach.installer, attach.package);
    } else if (!attach.installer.empty() && !attach.platform.empty()) {
      throw CLI::ValidationError("--for", "looks up an installer; it cannot go with INSTALLER");
    }
  });
  return command;
}

// The four commands on `app`, their footers last: subcommands take the footer that is in force
// when they are added.
void AddCommands(CLI::App& app, CommandLine& line) {
  line.buildCommand = AddBuildCommand(app, line.build);
  line.attachCommand = AddAttachCommand(app, line.attach);
  line.listCommand = app.add_subcommand(
      "list", "List the entries of a package, or of an installer with a package appended.");
  line.listCommand->add_option("FILE", line.listFile, "A package or a self-extracting installer")
      ->required();
  line.listCommand->add_option("--code-page", line.listCodePage,
                               "The code page the package's names are stored in (default: the "
                               "one the package records, else 1252)");
  line.testCommand = app.add_subcommand(
      "test", "Check every entry's checksum and decompress it, writing nothing.");
  line.testCommand->add_option("FILE", line.testFile, "A package or a self-extracting installer")
      ->required();

  app.footer("Run 'quillet-pack COMMAND --help' for a command's options.\n"
             "Exit status: 0 success, 1 failure (bad input, or a package that failed its "
             "test), 2 wrong command line.");
  for (CLI::App* command :
       {line.buildCommand, line.attachCommand, line.listCommand, line.testCommand}) {
    command->footer("Exit status: 0 success, 1 failure, 2 wrong command line.");
  }
}

// Runs the command that was parsed; a failure is reported on `err` as the packer's message.
int RunParsed(const CommandLine& line, std::ostream& out, std::ostream& err) {
  try {
    if (line.buildCommand->parsed()) {
      return Build(line.build, out, err);
    }
    if (line.attachCommand->parsed()) {
      return Attach(line.attach, err);
    }
    if (line.listCommand->parsed()) {
      return List(line.listFile, line.listCodePage, out, err);
    }
    return Test(line.testFile, out, err);
  } catch (const EPackerError& e) {
    err << "quillet-pack: " << e.what() << "\n";
  } catch (const std::bad_alloc&) {
    err << "quillet-pack: out of memory\n";
  } catch (const std::exception& e) {
    err << "quillet-pack: " << e.what() << "\n";
  }
  return EXIT_FAILED;
}

} // namespace

int RunPackCommand(const std::vector<std::string>& arguments, std::ostream& out,
                   std::ostream& err) {
  CLI::App app{"Builds Quillet packages and self-extracting installers, and lists and tests "
               "them.",
               "quillet-pack"};
  app.set_version_flag("--version", VERSION);
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "quillet-pack: " + std::string(e.what()) +
           "\nRun 'quillet-pack --help' for more information.\n";
  });
  CommandLine line;
  AddCommands(app, line);

  // A word that names no command would otherwise be reported as a missing command.
  const std::vector<CLI::App*> commands{line.buildCommand, line.attachCommand, line.listCommand,
                                        line.testCommand};
  if (!arguments.empty() && !arguments.front().starts_with("-") &&
      std::none_of(commands.begin(), commands.end(),
                   [&](const CLI::App* c) { return c->check_name(arguments.front()); })) {
    err << "quillet-pack: unknown command '" << arguments.front()
        << "' (commands: build, attach, list, test)\nRun with --help for more information.\n";
    return EXIT_USAGE;
  }

  try {
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e, out, err);
    return code == 0 ? EXIT_OK : EXIT_USAGE;
  }
  return RunParsed(line, out, err);
}

} // namespace quillet::packer
