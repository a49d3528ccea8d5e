#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "Platform/Console.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/StandardStreams.h"
#include "Platform/Text.h"

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

// How many bytes at the end of `text` begin a UTF-8 character that the next read completes.
std::size_t IncompleteUtf8Tail(std::string_view text) {
  const std::size_t back = std::min<std::size_t>(text.size(), 3);
  for (std::size_t k = 1; k <= back; ++k) {
    const auto b = static_cast<unsigned char>(text[text.size() - k]);
    if ((b & 0xC0) == 0x80) {
      continue; // a continuation byte: look further back for the start
    }
    const std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return length > k ? k : 0;
  }
  return 0;
}

// How many bytes at the end of ANSI `text` are a lead byte still waiting for its second byte.
std::size_t UnpairedLeadByte(std::string_view text, const LeadByteTable* leadBytes) {
  if (leadBytes == nullptr) {
    return 0;
  }
  std::size_t i = 0;
  while (i < text.size()) {
    if ((*leadBytes)[static_cast<unsigned char>(text[i])]) {
      if (i + 1 == text.size()) {
        return 1;
      }
      i += 2;
    } else {
      ++i;
    }
  }
  return 0;
}

// A terminal speaks the locale's encoding: the program's ANSI text is converted on its way out,
// and typed text on its way in, as Wine's console does for an ANSI program. A character split
// between two calls is held back until it is complete.
class TerminalChannel final : public ConsoleChannel {
public:
  explicit TerminalChannel(int fd) : raw_(fd, ChannelKind::Console) {}

  ChannelKind Kind() const override { return ChannelKind::Console; }

  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    while (pendingInput_.empty()) {
      char native[128];
      std::size_t n = 0;
      const ReadOutcome outcome = raw_.Read(native, sizeof native, n);
      if (outcome != ReadOutcome::Data) {
        if (heldInput_.empty() || outcome == ReadOutcome::Failed) {
          return outcome;
        }
        // The input ended inside a character: its bytes go on as they are.
        pendingInput_ = posix::CodePage::Active().FromNative(std::exchange(heldInput_, {}));
        break;
      }
      heldInput_.append(native, n);
      const std::size_t tail = IncompleteUtf8Tail(heldInput_);
      pendingInput_ = posix::CodePage::Active().FromNative(
          std::string_view(heldInput_).substr(0, heldInput_.size() - tail));
      heldInput_.erase(0, heldInput_.size() - tail);
    }
    got = std::min(capacity, pendingInput_.size());
    pendingInput_.copy(buffer, got);
    pendingInput_.erase(0, got);
    return ReadOutcome::Data;
  }

  std::size_t Write(const char* data, std::size_t size) override {
    heldOutput_.append(data, size);
    const std::size_t tail = UnpairedLeadByte(heldOutput_, ActiveLeadBytes());
    const std::string native = posix::CodePage::Active().ToNative(
        std::string_view(heldOutput_).substr(0, heldOutput_.size() - tail));
    heldOutput_.erase(0, heldOutput_.size() - tail);
    return raw_.Write(native.data(), native.size()) == native.size() ? size : 0;
  }

private:
  DescriptorChannel raw_;
  std::string heldInput_;    // native bytes of a character not yet complete
  std::string pendingInput_; // converted bytes not yet delivered
  std::string heldOutput_;   // a lead byte whose second byte has not been written yet
};

std::unique_ptr<ConsoleChannel> OpenDescriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return nullptr;
  }
  if (S_ISCHR(info.st_mode) && ::isatty(fd) != 0) {
    return std::make_unique<TerminalChannel>(fd);
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
