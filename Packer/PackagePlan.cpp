// Planning a package: resolves the manifest's entries, texts and files into the entries the
// package stores, with their names and folder templates in the code page, and checks what the
// installer would get wrong.
#include "Packer/PackagePlan.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "Common/Text.h"
#include "Package/Contract.h"
#include "Package/DelphiPackage.h"
#include "Package/InstallRecord.h"
#include "Packer/IdeFamilies.h"
#include "Packer/IdePackages.h"
#include "Packer/PackageFiles.h"
#include "Packer/PackerError.h"
#include "Packer/PathText.h"
#include "Packer/SourceGlob.h"
#include "Packer/TemplateCheck.h"
#include "Platform/Ascii.h"
#include "Platform/FileSystem.h"
#include "Platform/Text.h"
#include "Platform/Utf8.h"

namespace quillet::packer {

namespace {

// A field holds 256 bytes and the installer reads up to the first NUL: 255 bytes leave room.
constexpr std::size_t MAX_FIELD_TEXT = FIELD_TEXT_SIZE - 1;

// A target template (UTF-8) as a key that two spellings of one installed file share: macros
// stand for themselves followed by a separator, as the installer expands them; ASCII letter case,
// "/" against "\\", doubled separators and "." components aside.
std::string TargetKey(std::string_view targetTemplate) {
  std::string expanded;
  ScanTemplate(targetTemplate, [&expanded](const TemplatePiece& piece) {
    switch (piece.kind) {
    case TemplatePiece::Kind::Text:
      expanded += piece.text;
      break;
    case TemplatePiece::Kind::Percent:
      expanded += '%';
      break;
    case TemplatePiece::Kind::Macro:
      expanded.append("%").append(piece.text).append("%\\");
      break;
    case TemplatePiece::Kind::Unclosed:
      break;
    }
  });
  std::string key;
  std::string_view rest = expanded;
  while (!rest.empty()) {
    const std::size_t end = rest.find_first_of("\\/");
    const std::string_view component = rest.substr(0, end);
    if (!component.empty() && component != ".") {
      key.append(key.empty() ? "" : "\\").append(platform::AsciiLowerText(component));
    }
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  return key;
}

// True when the template ends in a closed macro such as %zel_root% or %Delphi%, scanned as the
// installer scans it.
bool EndsInMacro(std::string_view folderTemplate) {
  bool endsInMacro = false;
  ScanTemplate(folderTemplate, [&](const TemplatePiece& piece) {
    endsInMacro = piece.kind == TemplatePiece::Kind::Macro;
  });
  return endsInMacro;
}

// A TargetKey with each ".." component taken back with the one before it, as Windows resolves a
// path that a project names relative to its folder.
std::string WithoutParents(std::string_view key) {
  std::vector<std::string_view> components;
  while (!key.empty()) {
    const std::size_t end = key.find('\\');
    const std::string_view component = key.substr(0, end);
    if (component != "..") {
      components.push_back(component);
    } else if (!components.empty()) {
      components.pop_back();
    }
    key.remove_prefix(end == std::string_view::npos ? key.size() : end + 1);
  }
  std::string result;
  for (const std::string_view component : components) {
    result.append(result.empty() ? "" : "\\").append(component);
  }
  return result;
}

} // namespace

std::string ToCodePage(std::string_view utf8, std::uint32_t codePage, const std::string& where,
                       std::string_view what) {
  const auto stored = platform::Utf8ToCodePage(codePage, utf8);
  if (!stored) {
    throw EPackerError(where + ": code page " + std::to_string(codePage) +
                       " cannot be converted to on this system");
  }
  if (stored->unmappable) {
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(*stored->unmappable));
    throw EPackerError(where + ": " + std::string(what) + " holds the character '" +
                       ShownText(platform::EncodeUtf8(std::u32string(1, *stored->unmappable)),
                                 TextShape::Line, true) +
                       "' (" + code + "), which code page " + std::to_string(codePage) +
                       " cannot hold");
  }
  return stored->bytes;
}

namespace {
// The texts as the installer's console and the Windows sources they go into have them: every
// line end, LF, CR or CR LF, becomes CR LF.
std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += "\r\n";
      i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 1 : 0;
    } else {
      out += text[i];
    }
  }
  return out;
}

class Planner {
public:
  explicit Planner(const Manifest& manifest) : manifest_(manifest) {}

  PackagePlan Plan() {
    plan_.codePage = manifest_.codePage;
    plan_.defaultFolder = ToCodePage(manifest_.defaultFolder, manifest_.codePage,
                                     Place(manifest_.defaultFolderLine), "default-folder");
    if (plan_.defaultFolder.size() > MAX_FIELD_TEXT) {
      Fail(manifest_.defaultFolderLine, "default-folder is longer than 255 bytes");
    }
    CheckTemplate(manifest_.defaultFolder, TemplateKind::Folder, manifest_.defaultFolderLine,
                  "default-folder");
    AddText(manifest_.welcome, WELCOME_ENTRY_NAME);
    AddText(manifest_.patch, PATCH_ENTRY_NAME);
    AddIdes();
    AddLibrary();
    AddPackages();
    AddCodePage();
    AddIdentity();
    listEnd_ = plan_.entries.size();
    for (const ManifestEntry& entry : manifest_.entries) {
      AddEntry(entry);
    }
    CheckPackageSets();
    PlaceReadme();
    return std::move(plan_);
  }

private:
  // "FILE:LINE", where a message about a manifest line begins.
  std::string Place(std::uint32_t line) const {
    return TextOfPath(manifest_.file) + ":" + std::to_string(line);
  }

  [[noreturn]] void Fail(std::uint32_t line, const std::string& what) const {
    throw EPackerError(Where(line) + what);
  }

  std::string Where(std::uint32_t line) const {
    return TextOfPath(manifest_.file) + (line != 0 ? ":" + std::to_string(line) : "") + ": ";
  }

  void CheckTemplate(const std::string& text, TemplateKind kind, std::uint32_t line,
                     const std::string& what) const {
    const std::string problem = TemplateProblem(text, kind);
    if (!problem.empty()) {
      Fail(line, what + ": " + problem);
    }
  }

  DayTime TimeOf(const std::filesystem::path& file) const {
    return manifest_.timestamp ? *manifest_.timestamp : DayTimeOfFile(file);
  }

  void AddText(const ManifestText& text, std::string_view entryName) {
    if (!text.Present()) {
      return;
    }
    const bool crLf = manifest_.lineEnds == LineEnds::CrLf;
    const bool isPatch = entryName == PATCH_ENTRY_NAME;
    EntrySource source;
    source.fileName = entryName;
    source.flags = 0; // read by name, never installed
    if (text.file) {
      std::error_code error;
      if (!std::filesystem::is_regular_file(*text.file, error)) {
        Fail(text.line, text.file->string() + ": no such file");
      }
      if (isPatch) {
        // Read now as well: the installer expands it as a template before every use.
        CheckTemplate(ReadSourceFile(*text.file), TemplateKind::Text, text.line,
                      "patch-file " + text.file->string());
      }
      const DayTime when = TimeOf(*text.file);
      source.date = when.date;
      source.time = when.time;
      const std::uint64_t size = std::filesystem::file_size(*text.file, error);
      source.load = [path = *text.file, crLf, codePage = manifest_.codePage] {
        std::string content =
            ToCodePage(ReadSourceFile(path), codePage, TextOfPath(path), "the text");
        return crLf ? WithCrLf(content) : content;
      };
      Add(std::move(source), text.file->string(), size);
    } else {
      std::string content =
          storedText_ ? *text.text
                      : ToCodePage(*text.text, manifest_.codePage, Place(text.line), "the text");
      if (isPatch) {
        CheckTemplate(*text.text, TemplateKind::Text, text.line, "patch-text");
      }
      const DayTime when = TimeOf(manifest_.file);
      source.date = when.date;
      source.time = when.time;
      source.load = [content = crLf ? WithCrLf(content) : content] { return content; };
      Add(std::move(source), TextOfPath(manifest_.file) + " (" + std::string(entryName) + ")",
          text.text->size());
    }
  }

  // The IDE families as the entry "ides.txt", read by name like the texts and never installed.
  void AddIdes() {
    if (manifest_.ides.paths.empty()) {
      return;
    }
    ManifestText text;
    text.text = IdesEntryText(manifest_.ides);
    AddText(text, IDES_ENTRY_NAME);
  }

  // A list entry that the packer makes rather than takes from a file, never installed. It takes
  // the manifest's timestamp, else a fixed time (2000-01-01), so that it never makes two builds of
  // one manifest differ.
  void AddMadeListEntry(std::string_view entryName, const std::string& text) {
    EntrySource source;
    source.fileName = entryName;
    source.flags = 0;
    const DayTime when =
        manifest_.timestamp ? *manifest_.timestamp : DayTimeFromCivil(2000, 1, 1, 0, 0, 0);
    source.date = when.date;
    source.time = when.time;
    source.load = [text] { return text; };
    Add(std::move(source), TextOfPath(manifest_.file) + " (" + std::string(entryName) + ")",
        text.size());
  }

  // The code page of the names and texts as the entry "codepage.txt", so that the installer
  // converts them from it under any locale.
  void AddCodePage() { AddMadeListEntry(CODE_PAGE_ENTRY_NAME, CodePageText(manifest_.codePage)); }

  // The package's name and version as the entry "identity.txt", under which the installer records
  // what it installs. ASCII only, so the same in every code page.
  void AddIdentity() { AddMadeListEntry(IDENTITY_ENTRY_NAME, IdentityText(manifest_.identity)); }

  // The library settings as the entry "librarypaths.txt", never installed; its folders are
  // templates, checked as entry folders are.
  void AddLibrary() {
    if (manifest_.library.Empty()) {
      return;
    }
    const auto check = [this](const LibraryFolders& folders, std::uint32_t line) {
      for (const auto& [list, key] : {std::pair{&folders.searchPaths, "library-path"},
                                      std::pair{&folders.browsingPaths, "browsing-path"},
                                      std::pair{&folders.includePaths, "include-path"}}) {
        for (const std::string& folder : *list) {
          CheckTemplate(folder,
                        list == &folders.searchPaths ? TemplateKind::LibraryFolder
                                                     : TemplateKind::Folder,
                        line, key);
        }
      }
    };
    const LibrarySettings& library = manifest_.library;
    check({library.searchPaths, library.browsingPaths, library.includePaths},
          manifest_.libraryLine);
    for (std::size_t i = 0; i < library.versioned.size(); ++i) {
      check(library.versioned[i].folders, manifest_.versionedLines[i]);
    }
    ManifestText text;
    text.text = LibrarySettingsText(manifest_.library);
    text.line = manifest_.libraryLine;
    AddText(text, LIBRARY_ENTRY_NAME);
  }

  // The [[packages]] sets as the entry "packages.txt", never installed; their paths are
  // templates, checked as entry folders are.
  void AddPackages() {
    if (manifest_.packageSets.empty()) {
      return;
    }
    std::vector<PackageSet> sets;
    for (const ManifestPackageSet& packages : manifest_.packageSets) {
      for (const auto& [list, line, key] :
           {std::tuple{&packages.set.runtime, packages.runtimeLine, "runtime"},
            std::tuple{&packages.set.design, packages.designLine, "design"}}) {
        for (const std::string& path : *list) {
          CheckTemplate(path, TemplateKind::Folder, line, key);
        }
      }
      for (const std::string& folder : packages.set.prebuilt) {
        CheckTemplate(folder, TemplateKind::Prebuilt, packages.prebuiltLine, "prebuilt");
      }
      sets.push_back(packages.set);
    }
    ManifestText text;
    text.text = PackageSetsText(sets);
    text.line = manifest_.packageSets.front().line;
    AddText(text, PACKAGES_ENTRY_NAME);
  }

  // Every package project a set names must be a file the package installs there; the projects'
  // "requires" clauses are read for an order the compiler cannot build in.
  void CheckPackageSets() {
    for (const ManifestPackageSet& packages : manifest_.packageSets) {
      for (const auto& [list, line, key] :
           {std::tuple{&packages.set.runtime, packages.runtimeLine, "runtime"},
            std::tuple{&packages.set.design, packages.designLine, "design"}}) {
        for (const std::string& path : *list) {
          const auto installed = installed_.find(TargetKey(path));
          if (installed == installed_.end()) {
            Fail(line, std::string(key) + ": " + ShownText(path, TextShape::Line, true) +
                           " is no file that an [[entry]] installs there; the installer builds "
                           "the package projects it installs");
          }
          if (sources_.contains(installed->first)) {
            continue;
          }
          const auto source = ParseDelphiPackage(ReadSourceFile(installed->second));
          if (!source) {
            plan_.warnings.push_back(Where(line) + TextOfPath(installed->second) +
                                     ": does not begin with \"package NAME;\", so its "
                                     "requires clause is not checked");
          }
          sources_.emplace(installed->first, source ? std::move(*source) : DelphiPackageSource());
        }
      }
    }
    for (std::size_t index = 0; index < manifest_.packageSets.size(); ++index) {
      CheckRequires(index);
    }
    CheckResources();
  }

  // A set's package projects, run-time ones first, as written, with their keys in sources_.
  std::vector<std::pair<std::string, std::string>>
  ProjectsOf(const ManifestPackageSet& packages) const {
    std::vector<std::pair<std::string, std::string>> projects;
    for (const auto* list : {&packages.set.runtime, &packages.set.design}) {
      for (const std::string& path : *list) {
        projects.emplace_back(path, installed_.find(TargetKey(path))->first);
      }
    }
    return projects;
  }

  bool Builds(std::size_t set, std::string_view name) const {
    return std::ranges::any_of(ProjectsOf(manifest_.packageSets[set]), [&](const auto& project) {
      const std::string& built = sources_.at(project.second).name;
      return !built.empty() && platform::EqualIgnoringAsciiCase(built, name);
    });
  }

  // Whether the set `earlier` is built for every installation and platform that `later` is.
  bool Covers(std::size_t earlier, std::size_t later) const {
    const PackageSet& first = manifest_.packageSets[earlier].set;
    const PackageSet& second = manifest_.packageSets[later].set;
    const bool ides = first.ides.paths.empty() || (first.ides.paths == second.ides.paths &&
                                                   first.ides.bounds == second.ides.bounds);
    return ides && std::ranges::all_of(second.platforms, [&first](const std::string& wanted) {
             return std::ranges::any_of(first.platforms, [&wanted](const std::string& own) {
               return platform::EqualIgnoringAsciiCase(own, wanted);
             });
           });
  }

  // Warns of what no build order mends, since the installer builds a set's projects in an order
  // that their requires clauses allow: clauses that go round, and a required package that no set
  // builds and the IDE does not ship. A package of another set is there when that set is built
  // before this one (sets go in manifest order) for the same installations and platforms.
  void CheckRequires(std::size_t index) {
    const ManifestPackageSet& packages = manifest_.packageSets[index];
    const auto projects = ProjectsOf(packages);
    std::vector<DelphiPackageSource> sources;
    for (const auto& project : projects) {
      sources.push_back(sources_.at(project.second));
    }
    std::vector<std::string> cycle;
    OrderByRequires(sources, &cycle);
    if (!cycle.empty()) {
      std::string round = cycle.front();
      for (std::size_t i = 1; i < cycle.size(); ++i) {
        round += (i == 1 ? " requires " : ", which requires ") + cycle[i];
      }
      plan_.warnings.push_back(Where(packages.line) +
                               "the requires clauses of the set's package projects go round: " +
                               round + "; no build order satisfies them");
    }
    // What the set's projects require beyond the set and the IDE, each name once, with the first
    // project that requires it and how many do.
    struct Need {
      std::string path;
      std::string name;
      std::size_t projects = 0;
    };
    std::vector<Need> needs;
    for (const auto& [path, key] : projects) {
      for (const std::string& required : sources_.at(key).required) {
        if (Builds(index, required) || IsIdePackage(required)) {
          continue;
        }
        const auto need = std::ranges::find_if(needs, [&required](const Need& known) {
          return platform::EqualIgnoringAsciiCase(known.name, required);
        });
        if (need != needs.end()) {
          ++need->projects;
        } else {
          needs.push_back({path, required, 1});
        }
      }
    }
    for (const Need& need : needs) {
      std::optional<std::size_t> before, after; // other sets that build it
      bool covered = false;
      for (std::size_t other = 0; other < manifest_.packageSets.size() && !covered; ++other) {
        if (other != index && Builds(other, need.name)) {
          covered = other < index && Covers(other, index);
          (other < index ? before : after) = other;
        }
      }
      if (covered ||
          (!before && !after && !missing_.insert(platform::AsciiLowerText(need.name)).second)) {
        continue; // built in time, or a missing package that an earlier set was warned of
      }
      const std::string head =
          Where(packages.line) + ShownText(need.path, TextShape::Line, true) + " requires " +
          need.name +
          (need.projects > 1 ? " (as " +
                                   Plural(need.projects - 1, "more project of the set does",
                                          "more projects of the set do") +
                                   ")"
                             : "") +
          ", which ";
      if (before) {
        plan_.warnings.push_back(head + "the [[packages]] set at line " +
                                 std::to_string(manifest_.packageSets[*before].line) +
                                 " builds, but not for every IDE and platform this set is "
                                 "built for");
      } else if (after) {
        plan_.warnings.push_back(head + "only the [[packages]] set at line " +
                                 std::to_string(manifest_.packageSets[*after].line) +
                                 " builds, after this one: sets are built in manifest order");
      } else {
        const std::string_view library = LibraryOfPackage(need.name);
        plan_.warnings.push_back(
            head + "no [[packages]] set of this package builds and the IDE does not ship; " +
            (library.empty() ? "the user needs the package that provides it installed"
                             : "it is a package of " + std::string(library) +
                                   ", which the user needs installed"));
      }
    }
  }

  // Warns once per project of a {$R} file with the extension .res that the package does not
  // carry where the project names it: libraries keep *.res out of version control, and the
  // compiler stops without it. The installer makes it before it builds the project.
  void CheckResources() {
    std::set<std::string> seen;
    for (const ManifestPackageSet& packages : manifest_.packageSets) {
      for (const auto& [list, line] : {std::pair{&packages.set.runtime, packages.runtimeLine},
                                       std::pair{&packages.set.design, packages.designLine}}) {
        for (const std::string& path : *list) {
          const auto installed = installed_.find(TargetKey(path));
          if (!seen.insert(installed->first).second) {
            continue;
          }
          const std::string fileName = TextOfPath(installed->second.filename());
          // The folder part as written: up to the last separator or the end of a macro.
          const std::size_t cut = path.find_last_of("\\/%");
          const std::string folder = cut == std::string::npos ? "" : path.substr(0, cut + 1);
          for (const std::string& written : sources_.at(installed->first).resources) {
            const std::string resource = ResourceFileName(written, fileName);
            if (!platform::AsciiLowerText(resource).ends_with(".res") ||
                installed_.contains(WithoutParents(TargetKey(folder + "\\" + resource)))) {
              continue;
            }
            const std::string stem = fileName.substr(0, fileName.rfind('.'));
            const bool dproj = installed_.contains(TargetKey(folder + "\\" + stem + ".dproj"));
            plan_.warnings.push_back(
                Where(line) + ShownText(path, TextShape::Line, true) + " names the resource " +
                ShownText(resource, TextShape::Line, true) + " ({$R " +
                ShownText(written, TextShape::Line, true) +
                "}), which the package does not carry; the installer makes it when it builds the "
                "package, " +
                (dproj ? "from the version information of " + stem + ".dproj"
                       : "as an empty one (the package carries no " + stem + ".dproj)"));
          }
        }
      }
    }
  }

  void AddEntry(const ManifestEntry& entry) {
    const std::uint32_t folderLine = entry.folderLine != 0 ? entry.folderLine : entry.line;
    CheckTemplate(entry.folder, TemplateKind::Folder, folderLine, "folder");
    if (const std::string concern = FolderTemplateConcern(entry.folder); !concern.empty()) {
      plan_.warnings.push_back(Where(folderLine) + "folder '" + entry.folder + "' " + concern +
                               ": its files may install outside the folder the user confirms");
    }
    SourceCollector collector(manifest_.root, entry.excludes, manifest_.caseSensitive);
    std::set<std::filesystem::path> taken; // one file once per [[entry]], however often matched
    for (const std::string& pattern : entry.sources) {
      const std::vector<SourceFile> files = collector.Collect(pattern);
      if (files.empty()) {
        std::string what =
            HasWildcard(pattern)
                ? "source pattern '" + pattern + "' matches no file below " +
                      TextOfPath(manifest_.root)
                : "source " + TextOfPath(manifest_.root / PathOfText(PatternWithSlashes(pattern))) +
                      ": no such file or folder";
        if (manifest_.caseSensitive) {
          what += " (patterns match letter case exactly, as case-sensitive = true asks)";
        }
        Fail(entry.line, what);
      }
      for (const SourceFile& file : files) {
        if (!taken.insert(file.path).second) {
          continue;
        }
        AddFile(entry, pattern, file);
      }
    }
    for (const std::string& unused : collector.UnusedExcludes()) {
      plan_.warnings.push_back(Where(entry.line) + "exclude '" + unused + "' leaves out no file");
    }
    if (collector.FolderLinks() != 0 || collector.EmptyFolders() != 0) {
      plan_.warnings.push_back(
          Where(entry.line) + "skipped " + Plural(collector.FolderLinks(), "link", "links") +
          " to folders and " + Plural(collector.EmptyFolders(), "empty folder", "empty folders") +
          ": a package holds files only, and links to folders are not followed");
    }
  }

  void AddFile(const ManifestEntry& entry, const std::string& pattern, const SourceFile& file) {
    const std::string where = TextOfPath(file.path);
    const std::string lowerName = platform::AsciiLowerText(file.name);
    if (lowerName.ends_with(RECORD_EXTENSION) || lowerName.ends_with(JOURNAL_EXTENSION)) {
      throw EPackerError(where + ": a file named *" + std::string(RECORD_EXTENSION) + " or *" +
                         std::string(JOURNAL_EXTENSION) +
                         " cannot be packed: the installer keeps its install records under such "
                         "names");
    }
    if (file.size > MAX_PACKAGE_FILE_SIZE) {
      throw EPackerError(where + ": file of 4 GiB or more cannot be packed");
    }
    EntrySource source;
    // Stored in the package's code page, which the installer converts to UTF-8 as it reads.
    const std::uint32_t codePage = manifest_.codePage;
    source.fileName = EscapeMacroMarks(ToCodePage(file.name, codePage, where, "the file name"));
    // Joined before the conversion: a second byte 0x5C of a double-byte character must not
    // count as a final separator.
    ToCodePage(entry.folder, codePage, Place(entry.line), "folder");
    source.folderTemplate = ToCodePage(JoinFolderTemplate(entry.folder, file.relativeFolder),
                                       codePage, where, "the folder name");
    if (source.fileName.size() > MAX_FIELD_TEXT) {
      throw EPackerError(where + ": file name is longer than 255 bytes");
    }
    if (source.folderTemplate.size() > MAX_FIELD_TEXT) {
      throw EPackerError(where + ": folder template '" + source.folderTemplate +
                         "' is longer than 255 bytes");
    }
    source.flags =
        (entry.install ? ENTRY_INSTALL : 0) | (entry.prependPatch ? ENTRY_PREPEND_PATCH : 0);
    const DayTime when = TimeOf(file.path);
    source.date = when.date;
    source.time = when.time;
    source.load = [path = file.path] { return ReadSourceFile(path); };
    if (entry.install) {
      // Judged in UTF-8, as the installer judges the names once it has converted them.
      const std::string storedFolder = JoinFolderTemplate(entry.folder, file.relativeFolder);
      const std::string storedName = EscapeMacroMarks(file.name);
      if (const std::string problem = EntryNameProblem(storedFolder, storedName);
          !problem.empty()) {
        plan_.warnings.push_back(ShownText(
            Where(entry.line) + where + ": the installer will not create " +
                (storedFolder.empty() ? "" : storedFolder + "\\") + storedName + ": " + problem,
            TextShape::Line, true));
      }
      installed_.emplace(TargetKey(storedFolder + "\\" + storedName), file.path);
      const std::string target = source.folderTemplate + "\\" + source.fileName;
      const std::string origin = where + " (source '" + pattern + "' of the [[entry]] at line " +
                                 std::to_string(entry.line) + ")";
      const auto [previous, added] = targets_.emplace(platform::AsciiLowerText(target), origin);
      if (!added) {
        throw EPackerError(TextOfPath(manifest_.file) + ": " + origin + " and " + previous->second +
                           " would both install to " + target);
      }
      if (platform::AsciiLowerText(file.name) == README_ENTRY_NAME) {
        readmes_.push_back(plan_.entries.size());
      }
    }
    Add(std::move(source), where, file.size);
  }

  void Add(EntrySource source, std::string origin, std::uint64_t size) {
    plan_.entries.push_back(std::move(source));
    plan_.origins.push_back(std::move(origin));
    plan_.totalBytes += size;
  }

  // The installer opens the last readme.html it installs: the manifest's `readme` goes last, and
  // without one, several readmes get a warning that names the one that opens.
  void PlaceReadme() {
    if (manifest_.readme) {
      const std::filesystem::path wanted =
          manifest_.root / PathOfText(PatternWithSlashes(*manifest_.readme));
      auto isWanted = [&](std::size_t index) {
        std::error_code error;
        return std::filesystem::equivalent(plan_.origins[index], wanted, error);
      };
      const auto chosen = std::find_if(readmes_.begin(), readmes_.end(), isWanted);
      if (chosen == readmes_.end()) {
        NameReadme(wanted, isWanted);
        return;
      }
      const std::size_t index = *chosen;
      auto last = [&](auto& list) {
        std::rotate(list.begin() + static_cast<std::ptrdiff_t>(index),
                    list.begin() + static_cast<std::ptrdiff_t>(index) + 1, list.end());
      };
      last(plan_.entries);
      last(plan_.origins);
      return;
    }
    if (readmes_.size() > 1) {
      const EntrySource& opened = plan_.entries[readmes_.back()];
      plan_.warnings.push_back(
          Where(0) + std::to_string(readmes_.size()) +
          " installed entries are named readme.html; the installer opens the last one, " +
          opened.folderTemplate + "\\" + opened.fileName + " from " +
          plan_.origins[readmes_.back()] + " (readme = \"path\" chooses another)");
    }
  }

  // A readme installed under another name than readme.html: the entry "openreadme.txt" names its
  // target, and goes with the other list entries, ahead of the files.
  template <typename IsWanted>
  void NameReadme(const std::filesystem::path& wanted, IsWanted isWanted) {
    std::size_t index = listEnd_;
    while (index < plan_.entries.size() &&
           !((plan_.entries[index].flags & ENTRY_INSTALL) != 0 && isWanted(index))) {
      ++index;
    }
    if (index == plan_.entries.size()) {
      Fail(manifest_.readmeLine,
           "readme " + TextOfPath(wanted) + " is not installed by any [[entry]]");
    }
    const EntrySource& chosen = plan_.entries[index];
    const std::string name = platform::AsciiLowerText(chosen.fileName);
    const bool readable = name.ends_with(".htm") || name.ends_with(".html") ||
                          name.ends_with(".txt") || name.ends_with(".md");
    if (!readable) {
      Fail(manifest_.readmeLine, "readme " + TextOfPath(wanted) +
                                     " is neither an HTML nor a text file (.htm, .html, .txt, "
                                     ".md), which the installer could open");
    }
    const std::string target = chosen.folderTemplate + "\\" + chosen.fileName;
    const std::size_t end = plan_.entries.size();
    ManifestText text;
    text.text = target; // already in the code page; ASCII-safe round trip is not needed
    text.line = manifest_.readmeLine;
    storedText_ = true;
    AddText(text, OPEN_README_ENTRY_NAME);
    storedText_ = false;
    // Moved from the end to the list entries.
    auto toList = [&](auto& list) {
      std::rotate(list.begin() + static_cast<std::ptrdiff_t>(listEnd_),
                  list.begin() + static_cast<std::ptrdiff_t>(end), list.end());
    };
    toList(plan_.entries);
    toList(plan_.origins);
  }

  const Manifest& manifest_;
  PackagePlan plan_;
  std::size_t listEnd_ = 0; // where the list entries end and the files begin
  bool storedText_ = false; // the text given to AddText is in the code page already
  std::map<std::string, std::string> targets_;
  // The installed files by TargetKey, UTF-8, with their sources.
  std::map<std::string, std::filesystem::path> installed_;
  // The package projects the sets name, by TargetKey; a default one for a file that reads as none.
  std::map<std::string, DelphiPackageSource> sources_;
  // The required packages, lowered, warned of as provided by no set and not by the IDE.
  std::set<std::string> missing_;
  std::vector<std::size_t> readmes_; // installed entries named readme.html, in package order
};

} // namespace

std::string JoinFolderTemplate(std::string_view folder, std::string_view relativeFolder) {
  // Trimmed as the installer trims it, so that the macro test sees what the installer sees.
  std::string result(TrimBlanks(folder));
  const bool afterMacro = EndsInMacro(result);
  if (relativeFolder.empty()) {
    // Root\.\a.pas: the installer creates Root, fails harmlessly on Root\. (it exists by then)
    // and creates the file in Root. The bare macro would give Root\\a.pas, whose folder text
    // ends in two separators: taken as present, never created.
    return afterMacro ? result + '.' : result;
  }
  // A macro's value ends in a separator already; anything else gets one, as the installer adds.
  if (!afterMacro && !result.empty() && result.back() != '\\' && result.back() != '/' &&
      result.back() != ':') {
    result += '\\';
  }
  for (char c : EscapeMacroMarks(relativeFolder)) {
    result += c == '/' ? '\\' : c;
  }
  return result;
}

PackagePlan PlanPackage(const Manifest& manifest) {
  return Planner(manifest).Plan();
}

std::vector<std::pair<std::string, std::size_t>> TargetFolders(const PackagePlan& plan) {
  std::vector<std::pair<std::string, std::size_t>> folders;
  for (const EntrySource& entry : plan.entries) {
    if ((entry.flags & ENTRY_INSTALL) == 0) {
      continue;
    }
    const auto known = std::find_if(folders.begin(), folders.end(), [&](const auto& folder) {
      return folder.first == entry.folderTemplate;
    });
    if (known != folders.end()) {
      ++known->second;
    } else {
      folders.emplace_back(entry.folderTemplate, 1);
    }
  }
  // Stored in the package's code page; a code page this system cannot convert shows the bytes.
  for (auto& folder : folders) {
    const std::optional<std::string> utf8 = platform::CodePageToUtf8(plan.codePage, folder.first);
    folder.first = utf8 ? ShownText(*utf8, TextShape::Line, true)
                        : ShownText(folder.first, TextShape::Line, false);
  }
  return folders;
}

} // namespace quillet::packer
