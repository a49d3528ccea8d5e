#include "tests/wine/WineDriver.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

namespace quillet::test::wine {

namespace fs = std::filesystem;

std::string WindowsSfx() {
  const char* exe = std::getenv("QUILLET_WINDOWS_SFX");
  return exe != nullptr ? exe : "";
}

fs::path Prefix() {
  const char* prefix = std::getenv("WINEPREFIX");
  return prefix != nullptr ? fs::path(prefix) : fs::path();
}

std::string WindowsPath(const fs::path& native) {
  std::string path = "Z:" + fs::absolute(native).string();
  for (char& c : path) {
    c = c == '/' ? '\\' : c;
  }
  return path;
}

std::string WindowsStandin() {
  if (const char* set = std::getenv("QUILLET_WINDOWS_STANDIN"); set != nullptr && *set != '\0') {
    return set;
  }
  const std::string sfx = WindowsSfx();
  return sfx.empty() ? std::string()
                     : (fs::path(sfx).parent_path() / "tests" / "standin-dcc.exe").string();
}

ProgramResult RunWindows(const std::string& exe, const std::vector<std::string>& arguments,
                         const ProgramOptions& options) {
  std::vector<std::string> all{exe};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return RunProgram("/usr/bin/wine", all, options);
}

void RegisterIdes(const std::vector<std::pair<std::string, std::string>>& keysAndRootDirs) {
  for (const auto& [key, rootDir] : keysAndRootDirs) {
    const auto result = RunProgram(
        "/usr/bin/wine", {"reg", "add", key, "/v", "RootDir", "/d", rootDir, "/reg:32", "/f"});
    if (result.status != 0) {
      throw std::runtime_error("wine reg add " + key + " failed");
    }
  }
  // The server writes the registry files when it ends.
  RunProgram("/usr/bin/wineserver", {"-k"});
  RunProgram("/usr/bin/wineserver", {"-w"});
}

Tree Snapshot(const fs::path& root) {
  Tree tree;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error);
       it != fs::recursive_directory_iterator(); it.increment(error)) {
    struct stat info {};
    if (::lstat(it->path().c_str(), &info) != 0) {
      continue;
    }
    TreeItem item;
    item.folder = S_ISDIR(info.st_mode);
    item.content = item.folder ? "" : ReadFile(it->path());
    item.mtime = item.folder ? 0 : static_cast<long long>(info.st_mtime);
    item.readOnly = (info.st_mode & S_IWUSR) == 0;
    tree[fs::relative(it->path(), root).generic_string()] = item;
  }
  return tree;
}

std::string FirstDifference(const Tree& linux, const Tree& windows) {
  for (const auto& [path, item] : linux) {
    const auto other = windows.find(path);
    if (other == windows.end()) {
      return path + ": only in the Linux build's tree";
    }
    if (!(other->second == item)) {
      return path + ": differs (content " + std::to_string(item.content.size()) + "/" +
             std::to_string(other->second.content.size()) + " bytes, time " +
             std::to_string(item.mtime) + "/" + std::to_string(other->second.mtime) +
             ", read-only " + std::to_string(item.readOnly) + "/" +
             std::to_string(other->second.readOnly) + ")";
    }
  }
  for (const auto& [path, item] : windows) {
    if (!linux.contains(path)) {
      return path + ": only in the Windows build's tree";
    }
  }
  return {};
}

} // namespace quillet::test::wine
