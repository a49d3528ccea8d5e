#include "Platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
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

std::optional<AppendFile> AppendFile::Open(std::string_view nativePath) {
  auto state = std::make_unique<State>();
  state->fd =
      ::open(std::string(nativePath).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (state->fd < 0) {
    return std::nullopt;
  }
  return AppendFile(std::move(state));
}

bool AppendFile::Write(std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(state_->fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

} // namespace quillet::platform
