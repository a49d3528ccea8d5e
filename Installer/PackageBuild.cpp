#include "Installer/PackageBuild.h"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Common/Text.h"
#include "Installer/Folders.h"
#include "Installer/IdeDiscovery.h"
#include "Installer/LibraryPaths.h"
#include "Installer/Removal.h"
#include "Installer/SettingRefusal.h"
#include "Installer/Templates.h"
#include "Installer/TurnRecord.h"
#include "Package/DelphiPackage.h"
#include "Package/ResourceFile.h"
#include "Platform/Ascii.h"
#include "Platform/ChildProcess.h"
#include "Platform/CommandLine.h"
#include "Platform/FileMapping.h"
#include "Platform/FileSystem.h"
#include "Platform/Registry.h"
#include "Platform/UserRegistry.h"

namespace quillet {

namespace {

constexpr std::string_view WIN64 = "Win64";
// The version from which every installation has the 64-bit IDE (RAD Studio 13).
constexpr std::uint32_t X64_IDE_ALWAYS_SINCE = 37;
// What an edition without command-line compiling prints instead of compiling.
constexpr std::string_view REFUSAL_TEXT = "does not support command line compiling";
// The longest command line that JVCL gives the compiler (Compile.pas, Dcc); a longer one of a
// compiler that predates BDS goes into a dcc32.cfg file in the package's folder instead.
constexpr std::size_t LONGEST_OLD_COMMAND_LINE = 2047;
// The unit scopes of a VCL application, which package sources written for older versions need
// to find "Windows" as "Winapi.Windows".
constexpr std::string_view VCL_UNIT_SCOPES =
    "Winapi;System.Win;Data.Win;Datasnap.Win;Web.Win;Soap.Win;Xml.Win;Bde;System;Xml;Data;"
    "Datasnap;Web;Soap;Vcl;Vcl.Imaging;Vcl.Touch;Vcl.Samples;Vcl.Shell";

// The file name after the last separator.
std::string_view FileNameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// The names of a Windows-style path, split at "\" and "/", empty ones left out.
std::vector<std::string_view> PathNames(std::string_view path) {
  std::vector<std::string_view> names;
  while (!path.empty()) {
    const std::size_t end = path.find_first_of("\\/");
    if (end != 0) {
      names.push_back(path.substr(0, end));
    }
    path.remove_prefix(end == std::string_view::npos ? path.size() : end + 1);
  }
  return names;
}

// `path` as a path relative to `folder` (both full, on one drive): ".." for each of the folder's
// names past the ones they share, then the rest of the path; "." for the folder itself. The path
// as it is when the two begin on different drives or shares.
std::string RelativePath(std::string_view folder, std::string_view path) {
  const std::vector<std::string_view> from = PathNames(folder);
  const std::vector<std::string_view> to = PathNames(path);
  if (from.empty() || to.empty() || !platform::EqualIgnoringAsciiCase(from[0], to[0]) ||
      folder.starts_with("\\\\") != path.starts_with("\\\\")) {
    return std::string(path);
  }
  std::size_t shared = 0;
  while (shared < from.size() && shared < to.size() &&
         platform::EqualIgnoringAsciiCase(from[shared], to[shared])) {
    ++shared;
  }
  std::string relative;
  for (std::size_t i = shared; i < from.size(); ++i) {
    relative += relative.empty() ? ".." : "\\..";
  }
  for (std::size_t i = shared; i < to.size(); ++i) {
    relative += (relative.empty() ? "" : "\\") + std::string(to[i]);
  }
  return relative.empty() ? std::string(".") : relative;
}

// The files of one output folder before a compile.
struct OutputSnapshot {
  std::string folder; // ending in "\"
  std::vector<platform::ListedFile> files;
};

// The build's output folders (each once) and their files as they are now.
std::vector<OutputSnapshot> Snapshot(const OutputFolders& out, bool cpp) {
  std::vector<OutputSnapshot> snapshots;
  for (const std::string* folder : {&out.bpl, &out.dcp, &out.units, &out.hpp}) {
    if ((folder == &out.hpp && !cpp) ||
        std::any_of(snapshots.begin(), snapshots.end(), [&](const OutputSnapshot& s) {
          return PathKey(s.folder) == PathKey(*folder);
        })) {
      continue;
    }
    snapshots.push_back(
        {*folder, platform::FilesInFolder(*folder).value_or(std::vector<platform::ListedFile>())});
  }
  return snapshots;
}

// The full paths of the files in `after` that were not in `before` with the same size and time,
// sorted: the listing's order is the file system's, and the record must not depend on it.
std::vector<std::string> Changed(const std::vector<OutputSnapshot>& before,
                                 const std::vector<OutputSnapshot>& after) {
  std::vector<std::string> changed;
  for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
    for (const platform::ListedFile& file : after[i].files) {
      const bool same = std::any_of(before[i].files.begin(), before[i].files.end(),
                                    [&](const platform::ListedFile& earlier) {
                                      return earlier.name == file.name &&
                                             earlier.size == file.size && earlier.time == file.time;
                                    });
      if (!same) {
        changed.push_back(after[i].folder + file.name);
      }
    }
  }
  std::sort(changed.begin(), changed.end());
  return changed;
}

// A dcc32.cfg or dcc64.cfg written for one compile, one switch a line with its paths quoted (as
// JVCL writes it), and removed again when it goes out of scope.
class ConfigFile {
public:
  // Nullopt when the folder has such a file already (the package's own) or it cannot be written.
  static std::optional<ConfigFile> Write(const std::string& path,
                                         const std::vector<std::string>& switches) {
    if (platform::PathExists(path)) {
      return std::nullopt;
    }
    std::vector<std::string> lines;
    std::string text;
    for (const std::string& option : switches) {
      const bool scopes = option.starts_with("-NS") || option == "-JL";
      const std::size_t at = option.starts_with("-L") || option.starts_with("-N") ? 3 : 2;
      lines.push_back(scopes || option.size() <= at
                          ? option
                          : option.substr(0, at) + "\"" + option.substr(at) + "\"");
      text += lines.back() + "\r\n";
    }
    std::optional<platform::OutputFile> file =
        platform::OutputFile::CreateFor(path, platform::OutputKind::Rebuildable);
    if (!file || !file->Write(text.data(), text.size()) || !file->Commit()) {
      return std::nullopt;
    }
    return ConfigFile(path, std::move(lines));
  }
  ConfigFile(ConfigFile&& other) noexcept
      : path_(std::exchange(other.path_, std::string())), lines_(std::move(other.lines_)) {}
  ConfigFile& operator=(ConfigFile&&) = delete;
  ConfigFile(const ConfigFile&) = delete;
  ConfigFile& operator=(const ConfigFile&) = delete;
  ~ConfigFile() {
    if (!path_.empty()) {
      platform::RemoveFile(path_);
    }
  }
  const std::string& Path() const { return path_; }
  const std::vector<std::string>& Lines() const { return lines_; }

private:
  ConfigFile(std::string path, std::vector<std::string> lines)
      : path_(std::move(path)), lines_(std::move(lines)) {}
  std::string path_;
  std::vector<std::string> lines_;
};

// The last line of the compiler's output that reports an error, else its last line.
std::string LastErrorLine(std::string_view output) {
  std::string last;
  std::string lastError;
  while (!output.empty()) {
    const std::size_t end = output.find_first_of("\r\n");
    const std::string_view line = TrimBlanks(output.substr(0, end));
    if (!line.empty()) {
      last = line;
      if (line.find("Error") != std::string_view::npos ||
          line.find("Fatal") != std::string_view::npos) {
        lastError = line;
      }
    }
    output.remove_prefix(end == std::string_view::npos ? output.size() : end + 1);
  }
  return lastError.empty() ? last : lastError;
}

// The compiler's output on its way into the log, as it arrives: in whole lines, each Log call
// ending one, so that the log holds the output as the compiler wrote it without holding all of it.
// A line longer than LONGEST_LOGGED_LINE goes out in pieces of that size.
class CompilerLog {
public:
  explicit CompilerLog(Console& console) : console_(console) {}
  void Add(std::string_view piece) {
    pending_.append(piece);
    const std::size_t end = pending_.find_last_of('\n');
    if (end != std::string::npos) {
      const std::size_t lineEnd = end > 0 && pending_[end - 1] == '\r' ? end - 1 : end;
      console_.Log(std::string_view(pending_).substr(0, lineEnd));
      pending_.erase(0, end + 1);
    }
    while (pending_.size() >= LONGEST_LOGGED_LINE) {
      console_.Log(std::string_view(pending_).substr(0, LONGEST_LOGGED_LINE));
      pending_.erase(0, LONGEST_LOGGED_LINE);
    }
  }
  void End() {
    if (!pending_.empty()) {
      console_.Log(pending_);
      pending_.clear();
    }
  }

private:
  static constexpr std::size_t LONGEST_LOGGED_LINE = 64 * 1024;
  Console& console_;
  std::string pending_;
};

bool Contains(std::string_view text, std::string_view part) {
  return platform::AsciiLowerText(text).find(platform::AsciiLowerText(part)) != std::string::npos;
}

// The whole file at a Windows path (the package's and the IDE's paths are written so), mapped
// through its native path; nullopt when it cannot be read.
std::optional<std::string> ReadWindowsFile(const std::string& windowsPath) {
  platform::MappedFile file;
  switch (file.Open(platform::NativePath(windowsPath), 16u << 20)) {
  case platform::MappedFile::Status::Ok:
    return std::string(reinterpret_cast<const char*>(file.Data()),
                       static_cast<std::size_t>(file.Size()));
  case platform::MappedFile::Status::Empty:
    return std::string();
  default:
    return std::nullopt;
  }
}

bool CopyWholeFile(const std::string& from, const std::string& to) {
  const std::optional<std::string> bytes = ReadWindowsFile(from);
  if (!bytes) {
    return false;
  }
  std::optional<platform::OutputFile> file =
      platform::OutputFile::CreateFor(to, platform::OutputKind::Rebuildable);
  return file && file->Write(bytes->data(), bytes->size()) && file->Commit();
}

// Whether the IDE has its C++ personality installed: a "BCB" value in its machine-wide
// "Personalities" key.
bool HasCppPersonality(const IdeInstallation& installation) {
  platform::RegistryAccessor registry;
  const std::optional<platform::RegistryKey> key =
      registry.OpenLocalMachineKey(installation.VersionKey() + "\\Personalities");
  return key && key->HasValue("BCB");
}

// Whether the IDE runs as a 64-bit program too, which loads Win64 design-time packages: always from
// BDS 37.0, and for BDS 23.0 on where its 64-bit IDE is installed.
bool HasX64Ide(const IdeInstallation& installation) {
  return installation.HasX64Ide() &&
         (installation.Major() >= X64_IDE_ALWAYS_SINCE ||
          platform::PathExists(FolderWithSeparator(installation.Root()) + "bin64\\bds.exe"));
}

// One package of a set, as the turn meets it.
struct PackageJob {
  std::string project; // the .dpk's full path
  DelphiPackageSource source;
  bool design = false;
};

// What building one package for one platform came to.
struct Built {
  std::string bpl; // full path of the .bpl, when there is one now
  bool ok = false;
};

class SetBuilder {
public:
  SetBuilder(const PackageSet& set, const LibraryFolders& library,
             const IdeInstallation& installation, InstallContext& context, Console& console)
      : set_(set), library_(library), installation_(installation), context_(context),
        console_(console), shared_(IdeSharedFolder(installation)),
        cpp_(HasCppPersonality(installation)) {}

  bool Run();

  // The design-time packages built or copied, with their platform.
  struct Registration {
    std::string bpl;
    std::string description;
    bool x64 = false;
  };
  std::vector<Registration> registrations;
  std::vector<std::string> bplFolders; // not the IDE's default: for its PATH
  bool complete = true;                // every package built or copied

private:
  std::optional<PackageJob> Job(const std::string& projectTemplate, bool design);
  // How a compile came to an end: the package built, the compiler refused by the edition (the
  // prebuilt files may serve), or failed (said).
  enum class Compiled { Done, Refused, Failed };

  Built BuildOne(const PackageJob& job, std::string_view platformName);
  bool MakeOutputFolders(const PackageJob& job, std::string_view platformName,
                         const OutputFolders& out);
  std::vector<std::string> SearchFolders(const PackageJob& job, std::string_view platformName,
                                         const OutputFolders& out);
  std::vector<std::string> Switches(const PackageJob& job, const std::vector<std::string>& folders,
                                    const OutputFolders& out);
  std::optional<ConfigFile> ConfigForLongLine(const PackageJob& job, std::string_view platformName,
                                              const std::string& compiler,
                                              const std::vector<std::string>& switches,
                                              std::vector<std::string>& arguments);
  Compiled Compile(const PackageJob& job, std::string_view platformName, const OutputFolders& out,
                   const std::string& compiler, const std::string& bpl);
  platform::ChildResult RunCompiler(const PackageJob& job, std::string_view platformName,
                                    const std::string& compiler,
                                    const std::vector<std::string>& arguments);
  bool Prebuilt(const PackageJob& job, std::string_view platformName, const OutputFolders& out,
                std::string_view why);
  void Record(const std::string& path);
  bool MakeFolder(const std::string& folder);
  void MakeMissingResources(const PackageJob& job, const std::vector<std::string>& folders);
  std::vector<PackageJob> InBuildOrder(std::vector<PackageJob> jobs);

  const PackageSet& set_;
  const LibraryFolders& library_;
  const IdeInstallation& installation_;
  InstallContext& context_;
  Console& console_;
  std::string shared_;
  bool cpp_; // the C++ personality is installed: its files are built too
};

std::optional<PackageJob> SetBuilder::Job(const std::string& projectTemplate, bool design) {
  PackageJob job;
  job.project = platform::WindowsViewOfFolder(ExpandTemplate(projectTemplate, context_));
  job.design = design;
  const std::optional<std::string> text = ReadWindowsFile(job.project);
  std::optional<DelphiPackageSource> source =
      text ? ParseDelphiPackage(*text) : std::optional<DelphiPackageSource>();
  if (!source) {
    console_.WriteLine("Building " + InLine(std::string(FileNameOf(job.project))) + " .. failed: " +
                       (text ? "it is no Delphi package project" : "it cannot be read") + " [" +
                       InLine(job.project) + "]");
    return std::nullopt;
  }
  job.source = std::move(*source);
  return job;
}

void SetBuilder::Record(const std::string& path) {
  if (context_.Recorder != nullptr && platform::PathExists(path)) {
    context_.Recorder->FileBuilt(path);
  }
}

bool SetBuilder::MakeFolder(const std::string& folder) {
  std::vector<std::string> created;
  const bool made = CreateFolderPath(folder, &created);
  for (const std::string& path : created) {
    if (context_.Recorder != nullptr) {
      context_.Recorder->FolderCreated(path);
    }
  }
  return made;
}

// Makes each .res file that the project names and that is neither in its folder nor in the
// resource folders of the build, as the IDE would on opening the project: in the project's
// folder, from the version information of the NAME.dproj beside it, else empty. A file that the
// earlier turn made is this turn's again; one the package carries is left alone.
void SetBuilder::MakeMissingResources(const PackageJob& job,
                                      const std::vector<std::string>& folders) {
  const std::string projectFolder = FolderWithSeparator(FolderOfPath(job.project));
  const std::string_view projectName = FileNameOf(job.project);
  const std::string stem(projectName.substr(0, projectName.find_last_of('.')));
  for (const std::string& written : job.source.resources) {
    const std::string name = ResourceFileName(written, projectName);
    if (!platform::AsciiLowerText(name).ends_with(".res") || platform::IsFullPath(name)) {
      continue;
    }
    const std::string path = projectFolder + name;
    const bool plain = name.find_first_of("\\/") == std::string::npos;
    if (platform::PathExists(path)) {
      // Made by the earlier turn, and not one of this turn's entries: still the installer's.
      TurnRecorder* recorder = context_.Recorder;
      const auto names = [&](const InstallRecord& part) {
        return std::any_of(part.files.begin(), part.files.end(), [&](const RecordedFile& f) {
          return FileKey(part, f) == PathKey(path);
        });
      };
      if (recorder != nullptr && !names(recorder->Record()) &&
          std::any_of(recorder->Earlier().parts.begin(), recorder->Earlier().parts.end(), names)) {
        recorder->FileBuilt(path);
      }
      continue;
    }
    if (plain && std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
          return platform::PathExists(FolderWithSeparator(folder) + name);
        })) {
      continue;
    }
    const std::optional<std::string> dproj = ReadWindowsFile(projectFolder + stem + ".dproj");
    const std::optional<VersionInfo> info =
        dproj ? ReadDprojVersionInfo(*dproj, stem) : std::optional<VersionInfo>();
    const std::string bytes = info ? VersionResourceFile(*info) : EmptyResourceFile();
    console_.WriteText(
        "Making " + InLine(name) + " for " + InLine(std::string(projectName)) +
        (info ? " from the version information of " + InLine(stem + ".dproj") : std::string()) +
        " .. ");
    std::optional<platform::OutputFile> file =
        platform::OutputFile::CreateFor(path, platform::OutputKind::Rebuildable);
    if (!file || !file->Write(bytes.data(), bytes.size()) || !file->Commit()) {
      // The compiler then says that it misses the file.
      console_.WriteLine("failed: [" + InLine(path) + "] cannot be written");
      continue;
    }
    console_.WriteLine("OK");
    Record(path);
  }
}

bool SetBuilder::Prebuilt(const PackageJob& job, std::string_view platformName,
                          const OutputFolders& out, std::string_view why) {
  const std::string bplName = BplFileName(job.source, installation_.Major());
  const std::string dcpName = DcpFileName(job.source);
  for (const std::string& folderTemplate : set_.prebuilt) {
    const std::string folder = FolderWithSeparator(platform::WindowsViewOfFolder(
        ExpandTemplate(WithPlatformName(folderTemplate, platformName), context_)));
    if (!platform::PathExists(folder + bplName)) {
      continue;
    }
    console_.WriteText("Copying the prebuilt " + InLine(bplName) + " for " +
                       std::string(platformName) + " .. ");
    bool copied = CopyWholeFile(folder + bplName, out.bpl + bplName);
    if (copied) {
      Record(out.bpl + bplName);
    }
    if (copied && platform::PathExists(folder + dcpName)) {
      copied = CopyWholeFile(folder + dcpName, out.dcp + dcpName);
      if (copied) {
        Record(out.dcp + dcpName);
      }
    }
    console_.WriteLine(copied ? "OK" : "failed: [" + InLine(out.bpl) + "] cannot be written");
    return copied;
  }
  console_.WriteLine("Build " + InLine(std::string(FileNameOf(job.project))) + " for " +
                     std::string(platformName) + " in the IDE: " + std::string(why) +
                     ", and the package carries no prebuilt files for it. Open [" +
                     InLine(job.project) + "] in the IDE, then compile it" +
                     (job.design ? " and install it." : "."));
  return false;
}

Built SetBuilder::BuildOne(const PackageJob& job, std::string_view platformName) {
  const OutputFolders out = OutputFor(installation_, shared_, platformName, context_.PackageRoot);
  const std::string bpl = out.bpl + BplFileName(job.source, installation_.Major());
  if (!MakeOutputFolders(job, platformName, out)) {
    return {};
  }
  // Where the compiler is missing or refuses, the package's prebuilt files may serve.
  const std::string compiler = installation_.CompilerPath(platformName);
  bool done = false;
  if (compiler.empty() || !platform::PathExists(compiler)) {
    done = Prebuilt(job, platformName, out,
                    "the IDE has no command-line compiler for " + std::string(platformName) +
                        (compiler.empty() ? std::string() : " (" + compiler + ")"));
  } else {
    const Compiled compiled = Compile(job, platformName, out, compiler, bpl);
    done = compiled == Compiled::Done ||
           (compiled == Compiled::Refused &&
            Prebuilt(job, platformName, out,
                     "this edition of the IDE does not compile from the command line"));
  }
  if (!done) {
    return {};
  }
  if (!out.bplIsDefault &&
      std::none_of(bplFolders.begin(), bplFolders.end(),
                   [&](const std::string& f) { return PathKey(f) == PathKey(out.bpl); })) {
    bplFolders.push_back(WithoutSeparator(out.bpl));
  }
  return {bpl, true};
}

// The compiler writes into existing folders only.
bool SetBuilder::MakeOutputFolders(const PackageJob& job, std::string_view platformName,
                                   const OutputFolders& out) {
  for (const std::string* folder : {&out.bpl, &out.dcp, &out.units, &out.hpp}) {
    if ((folder != &out.hpp || cpp_) && !MakeFolder(*folder)) {
      console_.WriteLine("Building " + InLine(std::string(FileNameOf(job.project))) + " for " +
                         std::string(platformName) + " .. failed: the folder [" + InLine(*folder) +
                         "] cannot be made");
      return false;
    }
  }
  return true;
}

// The package's own folders (a per-platform one for this platform), the folder of the run-time
// packages' .dcp files (which the design-time ones require) and the package's folder.
std::vector<std::string> SetBuilder::SearchFolders(const PackageJob& job,
                                                   std::string_view platformName,
                                                   const OutputFolders& out) {
  std::vector<std::string> folders;
  for (const std::string& folder : library_.searchPaths) {
    folders.push_back(WithoutSeparator(platform::WindowsViewOfFolder(
        ExpandTemplate(WithPlatformName(folder, platformName), context_))));
  }
  folders.push_back(WithoutSeparator(out.dcp));
  folders.push_back(WithoutSeparator(FolderOfPath(job.project)));
  return folders;
}

std::vector<std::string> SetBuilder::Switches(const PackageJob& job,
                                              const std::vector<std::string>& folders,
                                              const OutputFolders& out) {
  // Compilers before BDS take paths of 126 characters at most: theirs are given relative to the
  // package's folder, where the compiler runs.
  const std::string projectFolder = WithoutSeparator(FolderOfPath(job.project));
  const bool old = installation_.PredatesBds();
  auto path = [&](const std::string& full) {
    return old ? RelativePath(projectFolder, full) : full;
  };
  std::string search;
  for (const std::string& folder : folders) {
    search += (search.empty() ? "" : ";") + path(folder);
  }
  std::vector<std::string> switches;
  for (const char* list : {"-U", "-I", "-R"}) {
    switches.push_back(list + search);
  }
  if (installation_.HasUnitScopes()) {
    switches.push_back("-NS" + std::string(VCL_UNIT_SCOPES));
  }
  switches.push_back("-LE" + path(WithoutSeparator(out.bpl)));
  switches.push_back("-LN" + path(WithoutSeparator(out.dcp)));
  switches.push_back(std::string(installation_.UnitOutputSwitch()) +
                     path(WithoutSeparator(out.units)));
  if (cpp_) {
    // The C++ personality gets the .bpi, .lib and .hpp files that its projects link and include.
    switches.push_back("-JL");
    switches.push_back("-NB" + path(WithoutSeparator(out.dcp)));
    switches.push_back("-NH" + path(WithoutSeparator(out.hpp)));
    switches.push_back("-NO" + path(WithoutSeparator(out.units)));
  }
  return switches;
}

// A command line too long for an old compiler: its switches go into the dcc32.cfg that the
// compiler reads in the folder where it runs (JVCL Compile.pas, WriteDccCfg), unless the package
// has one of its own there, and `arguments` keep the project alone; the file goes again after the
// build, with the value given back.
std::optional<ConfigFile> SetBuilder::ConfigForLongLine(const PackageJob& job,
                                                        std::string_view platformName,
                                                        const std::string& compiler,
                                                        const std::vector<std::string>& switches,
                                                        std::vector<std::string>& arguments) {
  if (!installation_.PredatesBds() ||
      platform::WindowsCommandLine(compiler, arguments).size() <= LONGEST_OLD_COMMAND_LINE) {
    return std::nullopt;
  }
  std::optional<ConfigFile> config =
      ConfigFile::Write(WithoutSeparator(FolderOfPath(job.project)) + "\\" +
                            std::string(FileNameOf(compiler)).substr(0, 5) + ".cfg",
                        switches);
  if (config) {
    arguments = {"-B", "-Q", std::string(FileNameOf(job.project))};
    console_.Log("Compiler for " + job.project + " (" + std::string(platformName) + "), its " +
                 config->Path() + ":");
    for (const std::string& line : config->Lines()) {
      console_.Log(line);
    }
  }
  return config;
}

// Builds the package with the IDE's compiler, its line ended with what came of it; the files it
// wrote are recorded.
SetBuilder::Compiled SetBuilder::Compile(const PackageJob& job, std::string_view platformName,
                                         const OutputFolders& out, const std::string& compiler,
                                         const std::string& bpl) {
  const std::vector<std::string> folders = SearchFolders(job, platformName, out);
  MakeMissingResources(job, folders);
  console_.WriteText("Building " + InLine(std::string(FileNameOf(job.project))) + " for " +
                     std::string(platformName) + " .. ");
  const std::vector<std::string> switches = Switches(job, folders, out);
  std::vector<std::string> arguments = {"-B", "-Q"};
  arguments.insert(arguments.end(), switches.begin(), switches.end());
  arguments.push_back(installation_.PredatesBds() ? std::string(FileNameOf(job.project))
                                                  : job.project);
  const std::optional<ConfigFile> config =
      ConfigForLongLine(job, platformName, compiler, switches, arguments);
  const std::vector<OutputSnapshot> before = Snapshot(out, cpp_);
  const platform::ChildResult result = RunCompiler(job, platformName, compiler, arguments);
  if (!result.started) {
    console_.WriteLine("failed: " + InLine(result.problem));
    return Compiled::Failed;
  }
  if (result.timedOut) {
    console_.WriteLine("failed: the compiler did not end within " +
                       std::to_string(context_.BuildTimeLimit.count()) + " s and was stopped");
    return Compiled::Failed;
  }
  if (Contains(result.output, REFUSAL_TEXT)) {
    console_.WriteLine("refused: this edition of the IDE does not compile from the command line");
    return Compiled::Refused;
  }
  if (result.exitCode != 0) {
    const std::string line = result.output.empty() ? result.problem : LastErrorLine(result.output);
    console_.WriteLine("failed" + (line.empty() ? std::string() : ": " + InLine(line)));
    return Compiled::Failed;
  }
  if (!platform::PathExists(bpl)) {
    console_.WriteLine("failed: the compiler ended without writing [" + InLine(bpl) + "]");
    return Compiled::Failed;
  }
  console_.WriteLine("OK");
  // What the compiler wrote, as its output folders show: each file new or changed since before.
  for (const std::string& path : Changed(before, Snapshot(out, cpp_))) {
    Record(path);
  }
  return Compiled::Done;
}

// Runs the compiler in the package's folder, its command line and output going into the log.
platform::ChildResult SetBuilder::RunCompiler(const PackageJob& job, std::string_view platformName,
                                              const std::string& compiler,
                                              const std::vector<std::string>& arguments) {
  const std::string head = "Compiler for " + job.project + " (" + std::string(platformName) + ")";
  console_.Log(head + ": " + platform::WindowsCommandLine(compiler, arguments));
  console_.Log(head + ", its output:");
  CompilerLog log(console_);
  platform::ChildOptions run;
  run.timeLimit = context_.BuildTimeLimit;
  run.sink = [&log](std::string_view piece) { log.Add(piece); };
  const platform::ChildResult result =
      platform::RunWindowsProgram(compiler, arguments, FolderOfPath(job.project), run);
  log.End();
  console_.Log(head + (result.timedOut ? " was stopped: " + result.problem
                                       : ", exit status " + std::to_string(result.exitCode)));
  return result;
}

std::vector<PackageJob> SetBuilder::InBuildOrder(std::vector<PackageJob> jobs) {
  std::vector<DelphiPackageSource> sources;
  for (const PackageJob& job : jobs) {
    sources.push_back(job.source);
  }
  std::vector<std::string> cycle;
  const std::vector<std::size_t> order = OrderByRequires(sources, &cycle);
  if (!cycle.empty()) {
    std::string names;
    for (const std::string& name : cycle) {
      names += (names.empty() ? "" : " -> ") + name;
    }
    console_.Log("The packages require each other (" + names +
                 "): they are built in the order given");
  }
  std::vector<PackageJob> ordered;
  for (const std::size_t index : order) {
    ordered.push_back(std::move(jobs[index]));
  }
  return ordered;
}

bool SetBuilder::Run() {
  std::vector<PackageJob> runtime;
  std::vector<PackageJob> design;
  for (const std::string& project : set_.runtime) {
    if (std::optional<PackageJob> job = Job(project, false)) {
      runtime.push_back(std::move(*job));
    } else {
      complete = false;
    }
  }
  for (const std::string& project : set_.design) {
    if (std::optional<PackageJob> job = Job(project, true)) {
      design.push_back(std::move(*job));
    } else {
      complete = false;
    }
  }
  // Each package after the ones of the set that it requires, whatever the author's order.
  runtime = InBuildOrder(std::move(runtime));
  design = InBuildOrder(std::move(design));
  for (const std::string& platformName : set_.platforms) {
    // A version that builds nothing for the platform keeps no folders for it either.
    if (installation_.CompilerPath(platformName).empty()) {
      console_.WriteLine("No packages for " + platformName + ": " +
                         "this version of the IDE does not build for it.");
      continue;
    }
    for (const PackageJob& job : runtime) {
      complete = BuildOne(job, platformName).ok && complete;
    }
  }
  // The IDE loads design-time packages of its own platform: Win32, and Win64 in a 64-bit IDE.
  std::vector<std::string_view> idePlatforms = {DEFAULT_LIBRARY_PLATFORM};
  if (HasX64Ide(installation_) &&
      std::any_of(set_.platforms.begin(), set_.platforms.end(), [](const std::string& p) {
        return platform::EqualIgnoringAsciiCase(p, WIN64);
      })) {
    idePlatforms.push_back(WIN64);
  }
  for (const std::string_view platformName : idePlatforms) {
    for (const PackageJob& job : design) {
      const Built built = BuildOne(job, platformName);
      complete = built.ok && complete;
      if (built.ok) {
        registrations.push_back(
            {built.bpl, job.source.description.empty() ? job.source.name : job.source.description,
             platformName == WIN64});
      }
    }
  }
  return complete;
}

// Removes the values of `key` that name another file of the same name as `bpl`: the IDE loads
// one package of a name, and an earlier copy elsewhere would keep the new one from loading.
platform::UserListResult RemoveOtherCopies(const std::string& key, const std::string& bpl) {
  platform::UserListResult last{platform::UserListOutcome::Present, {}};
  for (const platform::UserTextValue& value : platform::ReadUserTexts(key)) {
    if (PathKey(value.name) != PathKey(bpl) &&
        PathKey(FileNameOf(value.name)) == PathKey(FileNameOf(bpl))) {
      const platform::UserListResult result = platform::RemoveUserValue(key, value.name);
      if (SettingRefusal::Of(result)) {
        return result;
      }
      last = result;
    }
  }
  return last;
}

// Keeps the files outside the turn's folder (built packages) of the earlier installation in the
// turn's record, those this turn did not write again.
void KeepEarlierBuilt(TurnRecorder& recorder) {
  const InstallRecord& record = recorder.Record();
  for (const InstallRecord& part : recorder.Earlier().parts) {
    for (const RecordedFile& file : part.files) {
      const std::string path = RecordedFilePath(part, file);
      if (!PathIsInFolder(path, record.folder) &&
          std::none_of(record.files.begin(), record.files.end(), [&](const RecordedFile& f) {
            return FileKey(record, f) == PathKey(path);
          })) {
        recorder.FileBuilt(path);
      }
    }
  }
}

// Keeps in the turn's record what the earlier installation built and registered, and its library
// entries (only those of `libraryKey` when it is given): for a turn that left them as they were.
void KeepEarlier(TurnRecorder* recorder, std::string_view libraryKey) {
  if (recorder == nullptr) {
    return;
  }
  for (const InstallRecord& part : recorder->Earlier().parts) {
    for (const RecordedValue& value : part.registered) {
      recorder->Registered(value);
    }
    for (const RecordedLibraryEntry& entry : part.library) {
      if (libraryKey.empty() || platform::EqualIgnoringAsciiCase(entry.key, libraryKey)) {
        recorder->LibraryEntry(entry);
      }
    }
  }
  KeepEarlierBuilt(*recorder);
}

bool EarlierOwns(const TurnRecorder& recorder, const RecordedLibraryEntry& entry) {
  return std::any_of(recorder.Earlier().parts.begin(), recorder.Earlier().parts.end(),
                     [&](const InstallRecord& part) {
                       return std::any_of(
                           part.library.begin(), part.library.end(),
                           [&](const RecordedLibraryEntry& e) { return SameEntry(e, entry); });
                     });
}

} // namespace

bool AnySetServes(const std::vector<PackageSet>& sets, const IdeInstallation& installation) {
  return std::any_of(sets.begin(), sets.end(), [&](const PackageSet& set) {
    return set.Serves(installation.BasePath(), installation.Version());
  });
}

namespace {

// What the builds of the sets that serve the installation came to.
struct SetsBuilt {
  bool complete = true; // every package built or copied
  std::vector<SetBuilder::Registration> registrations;
  std::vector<std::string> pathFolders; // each once
};

SetsBuilt BuildSets(const std::vector<PackageSet>& sets, const LibraryFolders& library,
                    const IdeInstallation& installation, InstallContext& context,
                    Console& console) {
  SetsBuilt built;
  for (const PackageSet& set : sets) {
    if (!set.Serves(installation.BasePath(), installation.Version())) {
      continue;
    }
    SetBuilder builder(set, library, installation, context, console);
    built.complete = builder.Run() && built.complete;
    built.registrations.insert(built.registrations.end(), builder.registrations.begin(),
                               builder.registrations.end());
    for (const std::string& folder : builder.bplFolders) {
      if (std::none_of(built.pathFolders.begin(), built.pathFolders.end(),
                       [&](const std::string& f) { return PathKey(f) == PathKey(folder); })) {
        built.pathFolders.push_back(folder);
      }
    }
  }
  return built;
}

// Registers the design-time packages in the IDE, each in place of other copies of it; those
// registered go into `registered`. False when one was not.
bool RegisterPackages(const std::vector<SetBuilder::Registration>& registrations,
                      const IdeInstallation& installation, TurnRecorder* recorder, Console& console,
                      std::vector<RecordedValue>& registered) {
  bool allDone = true;
  for (const SetBuilder::Registration& registration : registrations) {
    const std::string key = installation.KnownPackagesKey(registration.x64);
    const RecordedValue value{key, registration.bpl};
    console.WriteText("Registering " + InLine(std::string(FileNameOf(registration.bpl))) +
                      " in the IDE" + (registration.x64 ? " (64-bit)" : "") + " .. ");
    if (recorder != nullptr) {
      recorder->RegisteredIntended(value);
    }
    platform::UserListResult result = RemoveOtherCopies(key, registration.bpl);
    if (!SettingRefusal::Of(result)) {
      result =
          RemoveOtherCopies(installation.DisabledPackagesKey(registration.x64), registration.bpl);
    }
    if (!SettingRefusal::Of(result)) {
      result = platform::SetUserText(key, registration.bpl, registration.description);
    }
    const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result);
    console.WriteLine(refusal ? refusal->Said("not registered") : "OK");
    if (refusal) {
      allDone = false;
      continue;
    }
    registered.push_back(value);
    if (recorder != nullptr) {
      recorder->Registered(value);
    }
  }
  return allDone;
}

// Adds the folders to the PATH value of the IDE's `environment` key. False when one was not.
bool AddToIdePath(const std::vector<std::string>& pathFolders, const std::string& environment,
                  TurnRecorder* recorder, Console& console) {
  bool allDone = true;
  for (const std::string& folder : pathFolders) {
    console.WriteText("Adding " + InLine(folder) + " to the IDE's PATH .. ");
    const RecordedLibraryEntry entry{environment, std::string(PATH_VALUE), folder};
    const std::optional<std::string> before = platform::ReadUserText(environment, PATH_VALUE);
    const bool heldBefore = before && platform::PathListHolds(*before, folder);
    if (recorder != nullptr && !heldBefore) {
      recorder->LibraryIntended(entry);
    }
    // The IDE's own PATH value replaces the system's for the programs it runs and the packages it
    // loads; a new one keeps the system's by naming it.
    const platform::UserListResult result =
        before
            ? platform::ChangeUserLists({{environment, std::string(PATH_VALUE), false}}, folder, {})
            : platform::SetUserText(environment, PATH_VALUE,
                                    folder + ";" + std::string(SYSTEM_PATH));
    const std::optional<SettingRefusal> refusal = SettingRefusal::Of(result);
    console.WriteLine(refusal ? refusal->Said("not added") : heldBefore ? "already there" : "OK");
    if (refusal) {
      allDone = false;
    } else if (recorder != nullptr && (!heldBefore || EarlierOwns(*recorder, entry))) {
      recorder->LibraryEntry(entry);
    }
  }
  return allDone;
}

} // namespace

// Builds, registers and puts on the IDE's PATH; then what the earlier installation had there and
// this turn did not goes.
bool BuildPackageSets(const std::vector<PackageSet>& sets, const LibraryFolders& library,
                      const IdeInstallation& installation, InstallContext& context,
                      Console& console) {
  TurnRecorder* recorder = context.Recorder;
  if (AnySetServes(sets, installation)) {
    // A running Wine program of the prefix holds its registry: the builds would wait for it.
    if (const std::optional<platform::UserListResult> held = platform::UserSettingsHeld()) {
      console.WriteLine("The packages are not built: " + SettingRefusal::Of(*held)->Reason());
      KeepEarlier(recorder, installation.EnvironmentKey());
      return false;
    }
  }
  const SetsBuilt built = BuildSets(sets, library, installation, context, console);
  const bool builtAll = built.complete;
  const std::vector<std::string>& pathFolders = built.pathFolders;
  bool allDone = builtAll;
  std::vector<RecordedValue> registered;
  allDone =
      RegisterPackages(built.registrations, installation, recorder, console, registered) && allDone;
  // The folders of .bpl files that the IDE would not find when it loads a package.
  const std::string environment = installation.EnvironmentKey();
  allDone = AddToIdePath(pathFolders, environment, recorder, console) && allDone;

  // What the earlier installation built, registered or put on PATH and this turn did not.
  if (recorder != nullptr) {
    const BuildSettingsLeft left = RemoveEarlierBuildSettings(
        recorder->Earlier(), installation, registered, pathFolders, !builtAll, console);
    allDone = allDone && left.allRemoved;
    for (const RecordedValue& value : left.registered) {
      recorder->Registered(value);
    }
    for (const RecordedLibraryEntry& entry : left.pathEntries) {
      recorder->LibraryEntry(entry);
    }
    if (!builtAll) {
      KeepEarlierBuilt(*recorder); // a package not built this time keeps the earlier one's
    }
  }
  return allDone;
}

void KeepEarlierSettings(InstallContext& context) {
  KeepEarlier(context.Recorder, {});
}

} // namespace quillet
