// The current user's registry on POSIX systems: the user.reg file of the Wine prefix, edited in
// its text. A running wineserver keeps the registry in memory and writes it back over the file, so
// nothing is changed while one runs for the prefix. Otherwise, under a lock that every installer
// takes on the file, it is read whole, the values are changed in place (every byte not changed
// kept as it is, new text in Wine's escapes, a new key's section at the end), and the result
// replaces the file (the file its links lead to) as an OutputFile does.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/FileMapping.h"
#include "Platform/FileSystem.h"
#include "Platform/PathSplit.h"
#include "Platform/Posix/RegistryText.h"
#include "Platform/Posix/WinePrefix.h"
#include "Platform/Posix/WineRegistry.h"
#include "Platform/Testing.h"
#include "Platform/UserRegistry.h"

namespace quillet::platform {

namespace {

constexpr const char* USER_FILE = "/user.reg";

// The file descriptor of an open file for the length of its owner.
class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }

private:
  int fd_;
};

std::string ErrorText() {
  return std::strerror(errno);
}

// Whether the lock file of a wineserver's folder is held: a running server holds a write lock on
// it. One that exists but cannot be asked about sets `doubt`, when that is still empty.
bool LockHeld(const std::string& lockPath, std::string& doubt) {
  const Descriptor lock(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  if (lock.Get() < 0 ? errno != ENOENT && errno != ENOTDIR
                     : ::fcntl(lock.Get(), F_GETLK, &query) != 0) {
    if (doubt.empty()) {
      doubt = lockPath + " cannot be read: " + ErrorText();
    }
    return false;
  }
  return lock.Get() >= 0 && query.l_type != F_UNLCK;
}

// A wineserver that serves the prefix: nullopt when none runs, otherwise InUse, with a `detail`
// that says why when it cannot be told for sure. Only servers of the prefix folder's owner (Wine
// serves no other user's prefix) and of the running user count. A server's folder is named after
// the prefix folder's device and inode, "server-DEV-INO" in hex; the server holds a write lock on
// its "lock" file and has it as its current folder. It lies in "/tmp/.wine-UID" (Wine's own
// builds) or in "TMPDIR/wine-XXXXXX" (Debian's builds, which note only the last name in the
// prefix's "wineserver" file); a server started with another TMPDIR is found by its folder.
std::optional<UserListResult> ServerHolds(const std::string& prefix) {
  struct stat folder {};
  if (::stat(prefix.c_str(), &folder) != 0) {
    return std::nullopt;
  }
  char server[64];
  std::snprintf(server, sizeof server, "server-%llx-%llx",
                static_cast<unsigned long long>(folder.st_dev),
                static_cast<unsigned long long>(folder.st_ino));
  auto counts = [&](uid_t user) { return user == folder.st_uid || user == ::getuid(); };
  using Folder = std::unique_ptr<DIR, int (*)(DIR*)>;
  std::string doubt;

  std::vector<std::string> temporaries = {"/tmp"};
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    temporaries.emplace_back(tmp);
  }
  for (const std::string& temporary : temporaries) {
    const Folder list(::opendir(temporary.c_str()), ::closedir);
    while (const dirent* entry = list ? ::readdir(list.get()) : nullptr) {
      const std::string_view name = entry->d_name;
      if (!name.starts_with(".wine-") && !name.starts_with("wine-")) {
        continue;
      }
      std::string serverFolder = temporary;
      serverFolder.append("/").append(name);
      struct stat owner {};
      if (::stat(serverFolder.c_str(), &owner) == 0 && counts(owner.st_uid) &&
          LockHeld(serverFolder.append("/").append(server).append("/lock"), doubt)) {
        return UserListResult{UserListOutcome::InUse, {}};
      }
    }
  }

  // Every running wineserver of those users, by its current folder. Without /proc there is no
  // more to learn.
  const Folder processes(::opendir("/proc"), ::closedir);
  while (const dirent* entry = processes ? ::readdir(processes.get()) : nullptr) {
    const std::string_view id = entry->d_name;
    if (id.find_first_not_of("0123456789") != std::string_view::npos) {
      continue;
    }
    const std::string process = "/proc/" + std::string(id);
    const std::optional<std::string> command = ReadWholeFile(process + "/comm");
    struct stat owner {};
    if (!command || !command->starts_with("wineserver") || ::stat(process.c_str(), &owner) != 0 ||
        !counts(owner.st_uid)) {
      continue;
    }
    char cwd[PATH_MAX];
    const ssize_t length = ::readlink((process + "/cwd").c_str(), cwd, sizeof cwd);
    if (length < 0) {
      if (errno != ENOENT && doubt.empty()) { // ENOENT: it has ended meanwhile
        doubt = "wineserver process " + std::string(id) + " of user " +
                std::to_string(owner.st_uid) + " does not show its folder: " + ErrorText();
      }
      continue;
    }
    // A folder that a cleaner of temporary files removed keeps its server running.
    std::string_view current(cwd, static_cast<std::size_t>(length));
    if (current.ends_with(" (deleted)")) {
      current.remove_suffix(10);
    }
    if (SplitAtLastSeparator(current, "/").name == server) {
      return UserListResult{UserListOutcome::InUse, {}};
    }
  }
  if (!doubt.empty()) {
    return UserListResult{UserListOutcome::InUse, doubt};
  }
  return std::nullopt;
}

// user.reg opened and locked: every installer takes this lock for the whole of its read, change
// and write, so that two never both change the text they read. A flock on the file itself (the
// one its links lead to) rather than on the prefix folder, which this process may already hold as
// an installation's FolderLock: a second flock of it would wait for ever. A file that was
// replaced while the lock was awaited is let go, and the new one is locked. Fails (-1, errno set)
// when the file cannot be opened. An interrupt still ends the wait: it is taken on a thread of its
// own, and no hold is held here.
Descriptor LockedUserFile(const std::string& path) {
  while (true) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
      return file;
    }
    int locked = 0;
    do {
      locked = ::flock(file.Get(), LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    struct stat held {};
    struct stat named {};
    if (locked != 0 || ::fstat(file.Get(), &held) != 0 || ::stat(path.c_str(), &named) != 0) {
      return Descriptor(-1);
    }
    if (held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      return file;
    }
  }
}

// Removes the temporary files that installers killed while they wrote user.reg left in the prefix
// folder ("user.reg.quillet-XXXXXX", made by mkstemp before output went through OutputFile). Only
// under the lock, so that no other installer's file is taken.
void RemoveLeftovers(const std::string& prefix) {
  constexpr std::string_view LEFTOVER = "user.reg.quillet-";
  constexpr std::string_view MKSTEMP_LETTERS =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const Descriptor folder(::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::unique_ptr<DIR, int (*)(DIR*)> list(
      folder.Get() >= 0 ? ::fdopendir(::dup(folder.Get())) : nullptr, ::closedir);
  std::vector<std::string> leftovers;
  while (const dirent* entry = list ? ::readdir(list.get()) : nullptr) {
    const std::string_view name = entry->d_name;
    struct stat info {};
    if (name.size() == LEFTOVER.size() + 6 && name.starts_with(LEFTOVER) &&
        name.find_first_not_of(MKSTEMP_LETTERS, LEFTOVER.size()) == std::string_view::npos &&
        ::fstatat(folder.Get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(info.st_mode)) {
      leftovers.emplace_back(name);
    }
  }
  for (const std::string& name : leftovers) {
    ::unlinkat(folder.Get(), name.c_str(), 0);
  }
}

// The file that the new text replaces: user.reg itself, or the file its symbolic links lead to,
// so that the links stay and their destination gets the change. nullopt with `refusal` set when
// it is not to be replaced.
std::optional<std::string> ReplacedFile(const std::string& path, const struct stat& file,
                                        std::string& refusal) {
  struct stat name {};
  if (::lstat(path.c_str(), &name) != 0) {
    refusal = path + ": " + ErrorText();
    return std::nullopt;
  }
  std::string replaced = path;
  if (S_ISLNK(name.st_mode)) {
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                               &std::free);
    if (!resolved) {
      refusal = path + ": " + ErrorText();
      return std::nullopt;
    }
    replaced = resolved.get();
    // Root editing a user's prefix follows that user's link only to a file of that user: the link
    // must not make it change a file that the link's owner could not change.
    if (name.st_uid != ::geteuid() && name.st_uid != 0 && file.st_uid != name.st_uid) {
      refusal = path + " is a link of user " + std::to_string(name.st_uid) + " to " + replaced +
                ", which is not that user's file; it is left as it is";
      return std::nullopt;
    }
  }
  // A file with several names is neither replaced, which would give the change to this name only
  // and leave the others the old text, nor written in place, which a kill or a full disk could
  // leave half written under every name (a copy kept with hard links included).
  if (file.st_nlink > 1) {
    refusal =
        replaced + " has " + std::to_string(file.st_nlink) +
        " hard links; a new file would leave the other names the old settings, so it is left as it "
        "is";
    return std::nullopt;
  }
  return replaced;
}

// What an edit of user.reg's text gives: nothing when it changed the text, which is then written;
// otherwise the result to give without writing (KeyMissing, Present, Failed).
using TextEdit = std::function<std::optional<UserListResult>(std::string& text)>;

// Every change to user.reg: under the installers' lock, with leftovers removed and no wineserver of
// the prefix running, the file is read whole, `edit` changes its text, and the new text replaces
// the file (the one its links lead to) unless the file changed meanwhile. `missing` is the result
// when there is no user.reg.
UserListResult EditUserFile(const TextEdit& edit, UserListResult missing) {
  const std::string prefix = posix::WinePrefix();
  const std::string path = prefix + USER_FILE;
  auto failed = [](const std::string& file, std::string_view what) {
    std::string detail = file;
    detail.append(": ").append(what);
    return UserListResult{UserListOutcome::Failed, detail};
  };
  const Descriptor lock = LockedUserFile(path);
  if (lock.Get() < 0) {
    if (errno == ENOENT) {
      return missing;
    }
    return failed(path, ErrorText());
  }
  RemoveLeftovers(prefix);
  if (std::optional<UserListResult> held = ServerHolds(prefix)) {
    return *held;
  }
  struct stat before {};
  posix::RegistryFile::Reader bytes(lock.Get());
  std::optional<std::string> read = posix::ReadAllBytes(bytes);
  if (!read || ::fstat(lock.Get(), &before) != 0) {
    return failed(path, ErrorText());
  }
  std::string text = std::move(*read);
  if (std::optional<UserListResult> unchanged = edit(text)) {
    return *unchanged;
  }

  std::string refusal;
  const std::optional<std::string> replaced = ReplacedFile(path, before, refusal);
  if (!replaced) {
    return {UserListOutcome::Failed, refusal};
  }
  // A new file beside the one it replaces, complete and on disk before it takes its name.
  std::optional<OutputFile> output = OutputFile::CreateForNative(*replaced, OutputKind::UserRecord);
  if (!output || !output->Write(text.data(), text.size())) {
    return failed(*replaced, "cannot be written: " + ErrorText());
  }
  testing::UserRegistryWritten();
  // Changed by another program than an installer since it was read: its change is not to be lost.
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0 || now.st_dev != before.st_dev ||
      now.st_ino != before.st_ino || now.st_size != before.st_size ||
      now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
      now.st_mtim.tv_nsec != before.st_mtim.tv_nsec) {
    return failed(path, "changed while it was edited");
  }
  if (std::optional<UserListResult> held = ServerHolds(prefix)) {
    return *held;
  }
  if (!output->Commit()) {
    return failed(*replaced, output->LostData() ? "cannot be written" : "cannot be replaced");
  }
  return {UserListOutcome::Changed, {}};
}

UserListResult NoText(std::string_view key, std::string_view value) {
  std::string detail(key);
  detail.append("\\").append(value).append(" is no text value; it is left as it is");
  return {UserListOutcome::Failed, detail};
}

} // namespace

UserListResult ChangeUserLists(const std::vector<UserListTarget>& targets, std::string_view folder,
                               std::string_view replacing) {
  const auto edit = [&](std::string& text) -> std::optional<UserListResult> {
    posix::RegistryEdit changes;
    for (const UserListTarget& target : targets) {
      const std::optional<posix::RegistrySection> section =
          posix::FindRegistrySection(text, target.key);
      if (!section) {
        if (target.required) {
          return UserListResult{UserListOutcome::KeyMissing, target.key};
        }
        continue;
      }
      // A later line of the same name would win when Wine loads the file: the last one counts.
      const std::vector<posix::RegistryValueLine> lines =
          posix::FindValueLines(text, *section, target.value);
      if (std::any_of(lines.begin(), lines.end(),
                      [](const posix::RegistryValueLine& line) { return !line.IsText(); })) {
        return NoText(target.key, target.value);
      }
      if (lines.empty()) {
        if (!folder.empty()) {
          changes.AddValue(text, *section, target.value, posix::EscapedRegistryData(folder));
        }
        continue;
      }
      // The escaped data itself, so that the other entries keep their bytes.
      const posix::RegistryValueLine& line = lines.back();
      const std::string_view data =
          std::string_view(text).substr(line.at + line.open + 1, line.close - line.open - 1);
      if (const std::optional<PathListChange> change =
              PlanPathListChange(data, folder, replacing, posix::DecodedRegistryText)) {
        std::string put = change->separator ? ";" : "";
        if (change->putsFolder) {
          put += posix::EscapedRegistryData(folder);
        }
        changes.ReplaceInValue(line, change->begin, change->end, put);
      }
    }
    if (changes.Empty()) {
      return UserListResult{UserListOutcome::Present, {}};
    }
    changes.ApplyTo(text);
    return std::nullopt;
  };
  return EditUserFile(
      edit, {UserListOutcome::KeyMissing, targets.empty() ? std::string() : targets[0].key});
}

UserListResult SetUserText(std::string_view key, std::string_view value, std::string_view text) {
  const auto edit = [&](std::string& file) -> std::optional<UserListResult> {
    posix::RegistryEdit changes;
    const std::optional<posix::RegistrySection> section = posix::FindRegistrySection(file, key);
    const std::string data = posix::EscapedRegistryData(text);
    if (!section) {
      changes.AddSection(file, key, static_cast<long long>(std::time(nullptr)), value, data);
    } else if (const std::vector<posix::RegistryValueLine> lines =
                   posix::FindValueLines(file, *section, value);
               lines.empty()) {
      changes.AddValue(file, *section, value, data);
    } else if (lines.back().IsText() && !lines.back().expandable &&
               lines.back().Text(file) == text) {
      return UserListResult{UserListOutcome::Present, {}};
    } else {
      changes.SetValue(file, lines.back(), value, data); // the last line is the one Wine keeps
    }
    changes.ApplyTo(file);
    return std::nullopt;
  };
  return EditUserFile(edit, {UserListOutcome::Failed,
                             posix::WinePrefix() + USER_FILE + ": " + std::strerror(ENOENT)});
}

UserListResult RemoveUserValue(std::string_view key, std::string_view value,
                               std::size_t emptyParents) {
  const auto edit = [&](std::string& text) -> std::optional<UserListResult> {
    const std::optional<posix::RegistrySection> section = posix::FindRegistrySection(text, key);
    const std::vector<posix::RegistryValueLine> lines =
        section ? posix::FindValueLines(text, *section, value)
                : std::vector<posix::RegistryValueLine>();
    if (lines.empty()) {
      return UserListResult{UserListOutcome::Present, {}};
    }
    posix::RegistryEdit changes;
    // Every line of the name goes: an earlier one would be the value once the last is gone.
    const bool keyGoes = posix::ValueLinesOf(text, *section).size() == lines.size() &&
                         !posix::HasSubkeySection(text, key);
    if (keyGoes) {
      changes.RemoveSection(text, *section);
    } else {
      for (const posix::RegistryValueLine& line : lines) {
        changes.RemoveValue(text, line);
      }
    }
    changes.ApplyTo(text);
    // The keys above that have a section of their own, while each is left empty.
    std::string_view parent = key;
    for (std::size_t i = 0; keyGoes && i < emptyParents; ++i) {
      const std::size_t last = parent.rfind('\\');
      if (last == std::string_view::npos || last == 0) {
        break;
      }
      parent = parent.substr(0, last);
      const std::optional<posix::RegistrySection> above = posix::FindRegistrySection(text, parent);
      if (!above) {
        continue; // a key Wine keeps through its subkeys alone
      }
      if (!posix::ValueLinesOf(text, *above).empty() || posix::HasSubkeySection(text, parent)) {
        break;
      }
      posix::RegistryEdit removal;
      removal.RemoveSection(text, *above);
      removal.ApplyTo(text);
    }
    return std::nullopt;
  };
  return EditUserFile(edit, {UserListOutcome::Present, {}});
}

namespace {

// user.reg as it is on disk, and the section of a key in it; nullopt without either.
struct UserSection {
  std::string text;
  posix::RegistrySection section;
};
std::optional<UserSection> ReadUserSection(std::string_view key) {
  const posix::RegistryFile file(posix::WinePrefix() + USER_FILE);
  posix::RegistryFile::Reader bytes = file.Bytes();
  std::optional<std::string> text = file.IsOpen() ? posix::ReadAllBytes(bytes) : std::nullopt;
  std::optional<posix::RegistrySection> section =
      text ? posix::FindRegistrySection(*text, key) : std::nullopt;
  if (!section) {
    return std::nullopt;
  }
  return UserSection{std::move(*text), *section};
}

} // namespace

std::vector<UserTextValue> ReadUserTexts(std::string_view key) {
  const std::optional<UserSection> read = ReadUserSection(key);
  if (!read) {
    return {};
  }
  const std::string* text = &read->text;
  const posix::RegistrySection* section = &read->section;
  // A name set again takes the last line's data, in the place of its first line, as Wine loads it.
  const std::vector<posix::NamedValueLine> lines = posix::ValueLinesOf(*text, *section);
  std::vector<UserTextValue> values;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const auto first = std::find_if(lines.begin(), lines.end(), [&](const auto& line) {
      return line.folded == lines[i].folded;
    });
    if (first - lines.begin() != static_cast<std::ptrdiff_t>(i)) {
      continue;
    }
    const auto last = std::find_if(lines.rbegin(), lines.rend(), [&](const auto& line) {
      return line.folded == lines[i].folded;
    });
    if (last->line.IsText()) {
      values.push_back(UserTextValue{lines[i].name, last->line.Text(*text)});
    }
  }
  return values;
}

std::optional<std::string> ReadUserText(std::string_view key, std::string_view value) {
  const std::optional<UserSection> read = ReadUserSection(key);
  if (!read) {
    return std::nullopt;
  }
  const std::string* text = &read->text;
  const posix::RegistrySection* section = &read->section;
  const std::vector<posix::RegistryValueLine> lines = posix::FindValueLines(*text, *section, value);
  if (lines.empty() || !lines.back().IsText()) {
    return std::nullopt;
  }
  return lines.back().Text(*text);
}

std::optional<UserListResult> UserSettingsHeld() {
  return ServerHolds(posix::WinePrefix());
}

} // namespace quillet::platform
