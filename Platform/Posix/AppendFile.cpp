#include "Platform/FileSystem.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::platform {

struct AppendFile::State {
  int fd = -1;
  ~State() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

AppendFile::AppendFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AppendFile::AppendFile(AppendFile&& other) noexcept = default;
AppendFile& AppendFile::operator=(AppendFile&& other) noexcept = default;
AppendFile::~AppendFile() = default;

std::optional<AppendFile> AppendFile::Open(std::string_view nativePath, Problem* problem) {
  const std::string path(nativePath);
  auto state = std::make_unique<State>();
  state->fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (state->fd < 0) {
    if (problem != nullptr) {
      problem->reason = std::strerror(errno);
      // Asked of the path itself: "missing/" fails with EISDIR too, and is no folder.
      struct stat info {};
      problem->folder = ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    return std::nullopt;
  }
  return AppendFile(std::move(state));
}

bool AppendFile::Write(std::string_view text, Problem* problem) {
  while (!text.empty()) {
    const ssize_t written = ::write(state_->fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      if (problem != nullptr) {
        // A write of no bytes sets no error: the device took nothing.
        problem->reason = written < 0 ? std::strerror(errno) : "nothing was written";
      }
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

} // namespace quillet::platform
