#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "Platform/FileSystem.h"
#include "Platform/Registry.h"
#include "Platform/Shell.h"

extern char** environ;

namespace quillet::platform {

namespace {

bool HasDesktopSession() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      return true;
    }
  }
  return false;
}

// The first executable "name" in the folders of PATH; empty when there is none.
std::string FindOnPath(std::string_view name) {
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  for (;;) {
    const std::size_t colon = folders.find(':');
    std::string_view folder = folders.substr(0, colon);
    std::string candidate(folder.empty() ? std::string_view(".") : folder);
    candidate.push_back('/');
    candidate.append(name);
    if (::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
    if (colon == std::string_view::npos) {
      return {};
    }
    folders.remove_prefix(colon + 1);
  }
}

// Owns the spawn settings so they are released on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

} // namespace

void OpenDocument(std::string_view windowsPath) {
  const std::string native = NativePath(windowsPath);
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || !HasDesktopSession()) {
    return;
  }
  const std::string opener = FindOnPath("xdg-open");
  if (opener.empty()) {
    return;
  }

  SpawnSetup setup;
  // The viewer must never take the terminal or mix into the installer's output.
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&setup.actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                     0);
  }
  // A session of its own detaches it from the terminal; it gets the default signal handling back.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  sigaddset(&defaults, SIGCHLD);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
  // The installer blocks the interrupt signals in all its threads (Interruption.cpp); the viewer
  // must not inherit that.
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  // The installer does not wait for the viewer: let the system reap it when it ends.
  std::signal(SIGCHLD, SIG_IGN);
  std::string argument = native;
  std::string program = opener;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  posix_spawn(&pid, opener.c_str(), &setup.actions, &setup.attributes, argv, environ);
}

} // namespace quillet::platform

namespace quillet::platform {

std::string PublicDocumentsFolder() {
  // Wine keeps the shell folders of the prefix where Windows does; the 32-bit view reads the key
  // of a 64-bit prefix through Wow6432Node, which Wine fills as well.
  RegistryAccessor registry;
  if (const auto key =
          registry.OpenLocalMachineKey("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                       "Shell Folders")) {
    const auto size = key->QueryValueSize("Common Documents");
    const auto value = size ? key->ReadValue("Common Documents", *size) : std::nullopt;
    if (value && (value->type == REG_SZ || value->type == REG_EXPAND_SZ)) {
      std::string folder = value->data.substr(0, value->data.find('\0'));
      while (!folder.empty() && folder.back() == '\\') {
        folder.pop_back();
      }
      if (!folder.empty()) {
        return folder;
      }
    }
  }
  return "C:\\users\\Public\\Documents";
}

} // namespace quillet::platform
