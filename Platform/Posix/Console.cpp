#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Platform/Console.h"
#include "Platform/Posix/StandardStreams.h"

namespace quillet::platform {

namespace {

class DescriptorChannel final : public ConsoleChannel {
public:
  DescriptorChannel(int fd, ChannelKind kind) : fd_(fd), kind_(kind) {}

  ChannelKind Kind() const override { return kind_; }

  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, capacity);
      if (n > 0) {
        got = static_cast<std::size_t>(n);
        return ReadOutcome::Data;
      }
      if (n == 0) {
        return ReadOutcome::End;
      }
      if (errno == EINTR) {
        continue;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        WaitUntilReady(POLLIN); // a non-blocking descriptor inherited from the caller
        continue;
      }
      return errno == EPIPE ? ReadOutcome::BrokenPipe : ReadOutcome::Failed;
    }
  }

  std::size_t Write(const char* data, std::size_t size) override {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        WaitUntilReady(POLLOUT);
      } else {
        break;
      }
    }
    return done;
  }

private:
  // Reads and writes block, as a console program expects, even on a descriptor that was handed
  // over in non-blocking mode.
  void WaitUntilReady(short events) const {
    pollfd entry{fd_, events, 0};
    while (::poll(&entry, 1, -1) < 0 && errno == EINTR) {
    }
  }

  int fd_; // the standard descriptors belong to the process: never closed here
  ChannelKind kind_;
};

std::unique_ptr<ConsoleChannel> OpenDescriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return nullptr;
  }
  if (S_ISCHR(info.st_mode)) {
    return std::make_unique<DescriptorChannel>(fd, ChannelKind::Console);
  }
  if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    return std::make_unique<DescriptorChannel>(fd, ChannelKind::Stream);
  }
  return nullptr; // a folder or anything else cannot serve as a stream
}

} // namespace

std::unique_ptr<ConsoleChannel> OpenStandardInput() {
  return OpenDescriptor(STDIN_FILENO);
}
std::unique_ptr<ConsoleChannel> OpenStandardOutput() {
  return OpenDescriptor(STDOUT_FILENO);
}

bool LoneLineFeedEndsLine() {
  return true;
}

} // namespace quillet::platform
