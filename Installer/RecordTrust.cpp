#include "Installer/RecordTrust.h"

#include <algorithm>

#include "Common/Text.h"
#include "Common/WindowsNames.h"
#include "Installer/Console.h"
#include "Installer/Folders.h"
#include "Package/InstallRecord.h"
#include "Platform/Ascii.h"

namespace quillet {

namespace {

// A full path: a drive ("C:\") or a share ("\\server\share\"). A path that begins with one "\"
// means another folder on every drive and on POSIX, and is none.
bool HasFullStart(std::string_view path) {
  const std::string key = PathKey(path);
  if (key.size() >= 3 && key[1] == ':' && key[2] == '\\' && key[0] >= 'a' && key[0] <= 'z') {
    return true;
  }
  if (!key.starts_with("\\\\")) {
    return false;
  }
  const std::size_t server = key.find('\\', 2);
  return server != std::string::npos && server > 2 && key.size() > server + 1 &&
         key[server + 1] != '\\';
}

// Names separated by "\" or "/", each a plain one.
bool PlainNames(std::string_view rest) {
  while (!rest.empty()) {
    const std::size_t end = rest.find_first_of("\\/");
    const std::string_view name = rest.substr(0, end);
    if (name.empty() || name == "." || name == ".." || name.find(':') != std::string_view::npos ||
        !HoldableName(name)) {
      return false;
    }
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  return true;
}

bool InAny(std::string_view path, const std::vector<std::string>& folders) {
  return std::any_of(folders.begin(), folders.end(),
                     [path](const std::string& folder) { return LiesAtOrBelow(path, folder); });
}

// Whether `path` is a file directly in one of the folders.
bool DirectlyInAny(std::string_view path, const std::vector<std::string>& folders) {
  const std::string parent = FolderOfPath(path);
  return std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
    return PathKey(parent) == PathKey(folder) && LiesAtOrBelow(path, folder);
  });
}

// Whether `folder` is `inner` or a folder above it.
bool AtOrAbove(std::string_view folder, std::string_view inner) {
  return LiesAtOrBelow(FolderWithSeparator(inner), FolderWithSeparator(folder));
}

std::string Outside(RecordTrust trust, const InstallRecord& part) {
  return trust == RecordTrust::Verified
             ? ": it lies outside " + InLine(part.folder) + " and the IDE's package folders"
             : ": the record is not as the installer wrote it, and only what lies below " +
                   InLine(part.folder) + " is taken from it";
}

} // namespace

bool LiesAtOrBelow(std::string_view path, std::string_view folder) {
  const std::string base = PathKey(FolderWithSeparator(folder));
  if (!HasFullStart(base) || !HasFullStart(path) || !PathKey(path).starts_with(base)) {
    return false;
  }
  // The folder's own names are judged too: a folder ".." would climb out of itself.
  std::string_view start = base;
  start.remove_prefix(start[1] == ':' ? 3 : start.find('\\', start.find('\\', 2) + 1) + 1);
  return PlainNames(start.substr(0, start.empty() ? 0 : start.size() - 1)) &&
         PlainNames(path.substr(base.size()));
}

void ConfineRecord(InstallRecord& part, RecordTrust trust, const RecordScope& scope,
                   std::vector<std::string>& refused) {
  const bool verified = trust == RecordTrust::Verified;
  const std::string& folder = part.folder;
  const std::vector<std::string> none;
  const std::vector<std::string>& outputs = verified ? scope.outputFolders : none;

  std::erase_if(part.files, [&](const RecordedFile& file) {
    const std::string path = RecordedFilePath(part, file);
    const bool allowed = (LiesAtOrBelow(path, folder) && PathKey(path) != PathKey(folder)) ||
                         DirectlyInAny(path, outputs);
    if (!allowed) {
      refused.push_back("The record names the file " + InLine(path) + Outside(trust, part));
    }
    return !allowed;
  });
  std::erase_if(part.createdFolders, [&](const std::string& created) {
    // A turn makes its folder and the folders above it that were missing, and so does a build
    // for the IDE's package folders.
    const bool allowed =
        LiesAtOrBelow(FolderWithSeparator(created), folder) ||
        (verified && (AtOrAbove(created, folder) || InAny(FolderWithSeparator(created), outputs) ||
                      std::any_of(outputs.begin(), outputs.end(), [&](const std::string& out) {
                        return AtOrAbove(created, out);
                      })));
    if (!allowed) {
      refused.push_back("The record names the folder " + InLine(created) + Outside(trust, part));
    }
    return !allowed;
  });
  std::erase_if(part.library, [&](const RecordedLibraryEntry& entry) {
    const bool owned =
        scope.installation && scope.installation->OwnsListValue(entry.key, entry.value);
    const bool allowed =
        owned && (verified || LiesAtOrBelow(FolderWithSeparator(entry.folder), folder));
    if (!allowed) {
      refused.push_back("The record names " + InLine(entry.folder) + " in " + InLine(entry.value) +
                        " (HKEY_CURRENT_USER\\" + InLine(entry.key) + ")" +
                        (owned ? Outside(trust, part)
                               : ": that is not a list of the IDE's settings that the installer "
                                 "changes"));
    }
    return !allowed;
  });
  std::erase_if(part.registered, [&](const RecordedValue& value) {
    const bool owned = scope.installation && scope.installation->OwnsPackageKey(value.key);
    const bool bpl = value.name.size() > 4 &&
                     platform::EqualIgnoringAsciiCase(
                         std::string_view(value.name).substr(value.name.size() - 4), ".bpl");
    const bool allowed = verified && owned && bpl &&
                         (DirectlyInAny(value.name, outputs) || LiesAtOrBelow(value.name, folder));
    if (!allowed) {
      refused.push_back("The record names the value " + InLine(value.name) +
                        " (HKEY_CURRENT_USER\\" + InLine(value.key) + ")" +
                        (owned && bpl ? Outside(trust, part)
                                      : ": that is not a package the installer registers in the "
                                        "IDE's settings"));
    }
    return !allowed;
  });
}

} // namespace quillet
