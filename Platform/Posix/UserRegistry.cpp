// The current user's registry on POSIX systems: the user.reg file of the Wine prefix, edited in
// its text. A running wineserver keeps the registry in memory and writes it back over the file, so
// nothing is changed while one runs for the prefix. Otherwise the file is read whole, the values
// are changed in place (the old data's bytes kept as they are, the folder appended in Wine's
// escapes), and the result is written to a new file beside it and renamed over it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Ascii.h"
#include "Platform/Interruption.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/WinePrefix.h"
#include "Platform/Posix/WineRegistry.h"
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
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Closes it now; false when the close reports lost data.
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

private:
  int fd_;
};

// Whether the lock file of a wineserver's folder is held: a running server holds a write lock on
// it. A lock that cannot be asked about counts as held.
bool LockHeld(const std::string& lockPath) {
  const Descriptor lock(::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC));
  if (lock.Get() < 0) {
    return errno != ENOENT && errno != ENOTDIR;
  }
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  return ::fcntl(lock.Get(), F_GETLK, &query) != 0 || query.l_type != F_UNLCK;
}

// Whether a wineserver serves the prefix. A server keeps its socket and lock file in a folder
// named after the prefix folder's device and inode, "server-DEV-INO" in hex, inside a folder of
// the user's in the temporary folder: "/tmp/.wine-UID", or "/tmp/wine-XXXXXX" as Wine builds of
// late name it (seen with Debian's wine 10).
bool WineServerRuns(const std::string& prefix) {
  struct stat info {};
  if (::stat(prefix.c_str(), &info) != 0) {
    return false;
  }
  char server[64];
  std::snprintf(server, sizeof server, "/server-%llx-%llx/lock",
                static_cast<unsigned long long>(info.st_dev),
                static_cast<unsigned long long>(info.st_ino));
  const std::string userFolder = ".wine-" + std::to_string(::getuid());
  std::vector<std::string> temporaryFolders = {"/tmp"};
  if (const char* tmp = std::getenv("TMPDIR"); tmp != nullptr && *tmp != '\0') {
    temporaryFolders.emplace_back(tmp);
  }
  for (const std::string& temporary : temporaryFolders) {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(temporary.c_str()), ::closedir);
    if (!folder) {
      continue;
    }
    while (const dirent* entry = ::readdir(folder.get())) {
      const std::string_view name = entry->d_name;
      if (name != userFolder && !name.starts_with("wine-")) {
        continue;
      }
      // Only this user's servers serve this user's prefix: another user's folder, which this
      // user may not even look into, is none of them.
      const std::string serverFolder = temporary + "/" + std::string(name);
      struct stat owner {};
      if (::stat(serverFolder.c_str(), &owner) == 0 && owner.st_uid == ::getuid() &&
          LockHeld(serverFolder + server)) {
        return true;
      }
    }
  }
  return false;
}

std::optional<std::string> ReadWhole(int fd) {
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::nullopt;
    }
    if (got == 0) {
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
}

// A name as user.reg writes it, for names of ASCII characters: "\" and '"' escaped.
std::string EscapedName(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c == '\\' || c == '"') {
      out += '\\';
    }
    out += c;
  }
  return out;
}

bool SameAscii(std::string_view a, std::string_view b) {
  return EqualIgnoringAsciiCase(a, b);
}

// Where the escaped text that starts at `at` ends: at the first unescaped `close`, or npos.
std::size_t EndOfEscaped(std::string_view text, std::size_t at, char close) {
  for (; at < text.size(); ++at) {
    if (text[at] == '\\') {
      ++at;
    } else if (text[at] == close || text[at] == '\n') {
      return text[at] == close ? at : std::string_view::npos;
    }
  }
  return std::string_view::npos;
}

// ANSI text in user.reg's escapes: printable ASCII as it is ("\" and '"' escaped), every other
// character as its UTF-16 code units in "\x" escapes of four digits.
std::string EscapedData(std::string_view ansi) {
  std::string out;
  for (char32_t c : posix::CodePage::Active().Decode(ansi)) {
    if (c >= 0x20 && c < 0x7F) {
      if (c == '\\' || c == '"') {
        out += '\\';
      }
      out += static_cast<char>(c);
      continue;
    }
    char escape[16];
    if (c >= 0x10000 && c <= 0x10FFFF) {
      const char32_t v = c - 0x10000;
      std::snprintf(escape, sizeof escape, "\\x%04x\\x%04x",
                    static_cast<unsigned>(0xD800 + (v >> 10)),
                    static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
    } else {
      std::snprintf(escape, sizeof escape, "\\x%04x", static_cast<unsigned>(c & 0xFFFF));
    }
    out += escape;
  }
  return out;
}

struct Section {
  std::size_t begin = 0;    // its "[" line
  std::size_t end = 0;      // where the next section line begins, or the end of the text
  std::size_t lastLine = 0; // the end (after its LF) of its last line that is not blank
};

std::optional<Section> FindSection(std::string_view text, std::string_view key) {
  const std::string wanted = EscapedName(key);
  std::optional<Section> found;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t lineEnd = text.find('\n', at);
    const std::size_t next = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    const std::string_view line = text.substr(at, next - at);
    if (line.starts_with('[')) {
      if (found && found->end == 0) {
        found->end = at;
        return found;
      }
      const std::size_t close = EndOfEscaped(line, 1, ']');
      if (close != std::string_view::npos && SameAscii(line.substr(1, close - 1), wanted)) {
        found = Section{at, 0, next};
      }
    } else if (found && line.find_first_not_of(" \t\r\n") != std::string_view::npos) {
      found->lastLine = next;
    }
    at = next;
  }
  if (found) {
    found->end = text.size();
  }
  return found;
}

// A line of a section that sets a value, and where its text data stands between its quotes:
// "..." (REG_SZ) or str(2):"..." (REG_EXPAND_SZ). `close` is npos for data that is no text.
struct ValueLine {
  std::size_t at;    // the line's first byte in the text
  std::size_t next;  // the byte after its LF
  std::size_t open;  // its opening quote, from `at`
  std::size_t close; // its closing quote, from `at`
};

// Calls `visit` for every line of the section that sets the named value, in file order (Wine
// keeps the last one when it loads the file).
template <typename Visit>
void ForEachValueLine(std::string_view text, const Section& section, std::string_view value,
                      Visit visit) {
  const std::string name = "\"" + EscapedName(value) + "\"=";
  for (std::size_t at = section.begin; at < section.end;) {
    const std::size_t lineEnd = text.find('\n', at);
    const std::size_t next = lineEnd == std::string_view::npos ? text.size() : lineEnd + 1;
    const std::string_view line = text.substr(at, next - at);
    const std::size_t indent = line.find_first_not_of(" \t");
    if (indent != std::string_view::npos && line.size() - indent >= name.size() &&
        SameAscii(line.substr(indent, name.size()), name)) {
      std::size_t open = indent + name.size();
      if (line.substr(open).starts_with("str(2):")) {
        open += 7;
      }
      const std::size_t close = open < line.size() && line[open] == '"'
                                    ? EndOfEscaped(line, open + 1, '"')
                                    : std::string_view::npos;
      visit(ValueLine{at, next, open, close});
    }
    at = next;
  }
}

// The decoded text of a value line's data.
std::string TextOfValueLine(std::string_view text, const ValueLine& value) {
  return posix::DecodedRegistryText(
      text.substr(value.at + value.open + 1, value.close - value.open - 1));
}

// The prefix's user.reg, whole; nullopt with errno set when it cannot be read.
std::optional<std::string> ReadUserFile(const std::string& path, struct stat* info = nullptr) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.Get() < 0) {
    return std::nullopt;
  }
  std::optional<std::string> text = ReadWhole(file.Get());
  if (text && info != nullptr && ::fstat(file.Get(), info) != 0) {
    return std::nullopt;
  }
  return text;
}

struct Insertion {
  std::size_t at;
  std::string text;
};

} // namespace

UserListResult AddToUserLists(const std::vector<UserListTarget>& targets, std::string_view folder) {
  const std::string prefix = posix::WinePrefix();
  const std::string path = prefix + USER_FILE;
  if (WineServerRuns(prefix)) {
    return {UserListOutcome::InUse, {}};
  }
  struct stat before {};
  errno = 0;
  std::optional<std::string> read = ReadUserFile(path, &before);
  if (!read) {
    if (errno == ENOENT) {
      return {UserListOutcome::KeyMissing, targets.empty() ? std::string() : targets[0].key};
    }
    return {UserListOutcome::Failed,
            path + ": " + (errno != 0 ? std::strerror(errno) : "cannot be read")};
  }
  std::string text = std::move(*read);

  std::vector<Insertion> insertions;
  for (const UserListTarget& target : targets) {
    const std::optional<Section> section = FindSection(text, target.key);
    if (!section) {
      if (target.required) {
        return {UserListOutcome::KeyMissing, target.key};
      }
      continue;
    }
    std::optional<Insertion> insertion;
    bool present = false;
    bool notText = false;
    // A later line of the same name would win when Wine loads the file: the last one counts.
    ForEachValueLine(text, *section, target.value, [&](const ValueLine& line) {
      if (line.close == std::string_view::npos) {
        notText = true;
        return;
      }
      const std::string current = TextOfValueLine(text, line);
      present = PathListHolds(current, folder);
      const bool separate = !current.empty() && current.back() != ';';
      insertion = Insertion{line.at + line.close, (separate ? ";" : "") + EscapedData(folder)};
    });
    if (notText) {
      return {UserListOutcome::Failed,
              target.key + "\\" + target.value + " is no text value; it is left as it is"};
    }
    const std::string name = "\"" + EscapedName(target.value) + "\"=";
    if (!insertion) {
      insertion = Insertion{section->lastLine, name + "\"" + EscapedData(folder) + "\"\n"};
      if (section->lastLine > 0 && text[section->lastLine - 1] != '\n') {
        insertion->text.insert(0, "\n");
      }
    }
    if (!present) {
      insertions.push_back(std::move(*insertion));
    }
  }
  if (insertions.empty()) {
    return {UserListOutcome::Present, {}};
  }

  std::stable_sort(insertions.begin(), insertions.end(),
                   [](const Insertion& a, const Insertion& b) { return a.at > b.at; });
  for (const Insertion& insertion : insertions) {
    text.insert(insertion.at, insertion.text);
  }

  // A new file beside the old one, complete and on disk before it takes the old one's name. An
  // interrupt waits until it has taken it, or has been removed: none is left behind.
  const InterruptHold hold;
  std::string temporary = path + ".quillet-XXXXXX";
  Descriptor file(::mkstemp(temporary.data()));
  if (file.Get() < 0) {
    return {UserListOutcome::Failed, path + ": " + std::strerror(errno)};
  }
  auto fail = [&](const char* what) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return UserListResult{UserListOutcome::Failed,
                          path + ": " + what + ": " + std::strerror(error)};
  };
  for (std::size_t written = 0; written < text.size();) {
    const ssize_t put = ::write(file.Get(), text.data() + written, text.size() - written);
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return fail("cannot be written");
    }
    written += static_cast<std::size_t>(put);
  }
  if (::fchmod(file.Get(), before.st_mode & 07777) != 0 ||
      (::geteuid() == 0 && ::fchown(file.Get(), before.st_uid, before.st_gid) != 0) ||
      ::fsync(file.Get()) != 0 || !file.Close()) {
    return fail("cannot be written");
  }
  // Changed by another program since it was read: its change is not to be lost.
  struct stat now {};
  if (::stat(path.c_str(), &now) != 0 || now.st_size != before.st_size ||
      now.st_mtim.tv_sec != before.st_mtim.tv_sec ||
      now.st_mtim.tv_nsec != before.st_mtim.tv_nsec || WineServerRuns(prefix)) {
    errno = EAGAIN;
    return fail("changed while it was edited");
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    return fail("cannot be replaced");
  }
  const Descriptor folderFd(::open(prefix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folderFd.Get() >= 0) {
    ::fsync(folderFd.Get());
  }
  return {UserListOutcome::Added, {}};
}

std::optional<std::string> ReadUserText(std::string_view key, std::string_view value) {
  const std::optional<std::string> text = ReadUserFile(posix::WinePrefix() + USER_FILE);
  const std::optional<Section> section = text ? FindSection(*text, key) : std::nullopt;
  if (!section) {
    return std::nullopt;
  }
  std::optional<std::string> found;
  ForEachValueLine(*text, *section, value, [&](const ValueLine& line) {
    found = line.close == std::string_view::npos ? std::nullopt
                                                 : std::optional(TextOfValueLine(*text, line));
  });
  return found;
}

std::string WindowsViewOfFolder(std::string_view folder) {
  const bool drive = folder.size() >= 2 && folder[1] == ':';
  const bool unc = folder.starts_with("\\\\");
  if (drive || unc) {
    return std::string(folder);
  }
  std::string native(folder);
  if (!native.starts_with('/')) {
    std::string current(4096, '\0');
    if (::getcwd(current.data(), current.size()) != nullptr) {
      current.resize(std::strlen(current.c_str()));
      native = current + (current.ends_with('/') ? "" : "/") + native;
    }
  }
  std::string windows = "Z:";
  for (char c : native) {
    windows += c == '/' ? '\\' : c;
  }
  return windows;
}

} // namespace quillet::platform
