#include "tools/PackageBuild.h"

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>

#include "CoreAPITools/TextTools.h"
#include "tools/IdeFamilies.h"
#include "tools/PackerError.h"
#include "tools/SourceGlob.h"

namespace quillet::pack {

namespace {

// A field holds 256 bytes and the installer reads up to the first NUL: 255 bytes leave room.
constexpr std::size_t MAX_FIELD_TEXT = FIELD_TEXT_SIZE - 1;

// "%" starts a macro in templates; "%%" stands for the character itself.
std::string EscapePercent(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '%') {
      out += '%';
    }
  }
  return out;
}

// True when the template ends in a closed macro such as %zel_root% or %Delphi%. The scan is the
// installer's: "%%" is a literal percent sign, not a macro, and a macro still open at the end is
// no macro at all.
bool EndsInMacro(std::string_view folderTemplate) {
  bool insideMacro = false;
  bool endsInMacro = false;
  std::size_t nameLength = 0;
  for (char c : folderTemplate) {
    endsInMacro = false;
    if (c != '%') {
      nameLength += insideMacro ? 1 : 0;
    } else if (!insideMacro) {
      insideMacro = true;
      nameLength = 0;
    } else {
      insideMacro = false;
      endsInMacro = nameLength > 0;
    }
  }
  return endsInMacro;
}

std::string FoldAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}

class Planner {
public:
  explicit Planner(const Manifest& manifest) : manifest_(manifest) {}

  PackagePlan Plan() {
    if (manifest_.defaultFolder.size() > MAX_FIELD_TEXT) {
      Fail(manifest_.defaultFolderLine, "default-folder is longer than 255 bytes");
    }
    plan_.defaultFolder = manifest_.defaultFolder;
    AddText(manifest_.welcome, WELCOME_ENTRY_NAME);
    AddText(manifest_.patch, PATCH_ENTRY_NAME);
    AddIdes();
    for (const ManifestEntry& entry : manifest_.entries) {
      AddEntry(entry);
    }
    return std::move(plan_);
  }

private:
  [[noreturn]] void Fail(std::uint32_t line, const std::string& what) const {
    throw EPackerError(manifest_.file.string() + ":" + std::to_string(line) + ": " + what);
  }

  DayTime TimeOf(const std::filesystem::path& file) const {
    return manifest_.timestamp ? *manifest_.timestamp : DayTimeOfFile(file);
  }

  void AddText(const ManifestText& text, std::string_view entryName) {
    if (!text.Present()) {
      return;
    }
    EntrySource source;
    source.fileName = entryName;
    source.flags = 0; // read by name, never installed
    if (text.file) {
      std::error_code error;
      if (!std::filesystem::is_regular_file(*text.file, error)) {
        Fail(text.line, text.file->string() + ": no such file");
      }
      const DayTime when = TimeOf(*text.file);
      source.date = when.date;
      source.time = when.time;
      const std::uint64_t size = std::filesystem::file_size(*text.file, error);
      source.sizeHint = size;
      source.load = [path = *text.file] { return ReadSourceFile(path); };
      Add(std::move(source), text.file->string(), size);
    } else {
      const DayTime when = TimeOf(manifest_.file);
      source.date = when.date;
      source.time = when.time;
      source.sizeHint = text.text->size();
      source.load = [content = *text.text] { return content; };
      Add(std::move(source), manifest_.file.string() + " (" + std::string(entryName) + ")",
          text.text->size());
    }
  }

  // The IDE families as the entry "ides.txt", read by name like the texts and never installed.
  void AddIdes() {
    if (manifest_.ideBasePaths.empty()) {
      return;
    }
    ManifestText text;
    text.text = IdesEntryText(manifest_.ideBasePaths);
    AddText(text, IDES_ENTRY_NAME);
  }

  void AddEntry(const ManifestEntry& entry) {
    std::set<std::filesystem::path> taken; // one file once per [[entry]], however often matched
    for (const std::string& pattern : entry.sources) {
      const std::vector<SourceFile> files = CollectSources(manifest_.root, pattern, entry.excludes);
      if (files.empty()) {
        Fail(entry.line,
             HasWildcard(pattern)
                 ? "source pattern '" + pattern + "' matches no file below " +
                       manifest_.root.string()
                 : "source " + (manifest_.root / pattern).string() + ": no such file or folder");
      }
      for (const SourceFile& file : files) {
        if (!taken.insert(file.path).second) {
          continue;
        }
        AddFile(entry, file);
      }
    }
  }

  void AddFile(const ManifestEntry& entry, const SourceFile& file) {
    const std::string where = file.path.string();
    if (file.size > MAX_PACKAGE_FILE_SIZE) {
      throw EPackerError(where + ": file of 4 GiB or more cannot be packed");
    }
    EntrySource source;
    source.fileName = EscapePercent(file.name);
    source.folderTemplate = JoinFolderTemplate(entry.folder, file.relativeFolder);
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
    source.sizeHint = file.size;
    source.load = [path = file.path] { return ReadSourceFile(path); };
    if (entry.install) {
      const std::string target = FoldAscii(source.folderTemplate + "\\" + source.fileName);
      const auto [previous, added] = targets_.emplace(target, where);
      if (!added) {
        throw EPackerError(where + ": installs to the same place as " + previous->second + " (" +
                           source.folderTemplate + "\\" + source.fileName + ")");
      }
    }
    Add(std::move(source), where, file.size);
  }

  void Add(EntrySource source, std::string origin, std::uint64_t size) {
    plan_.entries.push_back(std::move(source));
    plan_.origins.push_back(std::move(origin));
    plan_.totalBytes += size;
  }

  const Manifest& manifest_;
  PackagePlan plan_;
  std::map<std::string, std::string> targets_;
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
  for (char c : EscapePercent(relativeFolder)) {
    result += c == '/' ? '\\' : c;
  }
  return result;
}

PackagePlan PlanPackage(const Manifest& manifest) {
  return Planner(manifest).Plan();
}

std::string BuildPackage(const PackagePlan& plan, const BuildOptions& options) {
  PackageContents package;
  package.defaultFolder = plan.defaultFolder;
  package.entries = MakeStoredEntries(plan.entries, options.level, options.jobs, options.progress);
  try {
    return SerializePackage(package);
  } catch (const std::invalid_argument& e) {
    throw EPackerError(std::string("cannot lay out the package: ") + e.what());
  }
}

std::string ReadSourceFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw EPackerError(path.string() + ": cannot read the file");
  }
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) {
    throw EPackerError(path.string() + ": reading the file failed");
  }
  return std::move(content).str();
}

void WriteFileReplacing(const std::filesystem::path& path, std::string_view bytes,
                        bool executable) {
  std::filesystem::path temporary = path;
  temporary += ".quillet-part";
  std::error_code error;
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(temporary, error);
      throw EPackerError(path.string() + ": cannot write the file");
    }
  }
  if (executable) {
    using std::filesystem::perms;
    std::filesystem::permissions(temporary,
                                 perms::owner_exec | perms::group_exec | perms::others_exec,
                                 std::filesystem::perm_options::add, error);
  }
  if (!error) {
    std::filesystem::rename(temporary, path, error);
  }
  if (error) {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    throw EPackerError(path.string() + ": cannot put the file in place: " + error.message());
  }
}

} // namespace quillet::pack
