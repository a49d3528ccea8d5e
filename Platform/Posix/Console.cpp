#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>

#include "Platform/Console.h"
#include "Platform/Posix/CodePage.h"
#include "Platform/Posix/StandardStreams.h"
#include "Platform/Text.h"
#include "Platform/Utf8.h"

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

// How many bytes at the end of `text` begin a character of `codePage` that is not complete yet.
std::size_t IncompleteTail(std::string_view text, const posix::CodePage& codePage) {
  return codePage.Number() == CODE_PAGE_UTF8 ? IncompleteUtf8Tail(text)
                                             : UnpairedLeadByte(text, codePage.LeadBytes());
}

// A channel whose bytes are in another encoding than the program's texts, converted both ways:
// a terminal speaks the locale's encoding, as Wine's console does for a Windows program; a pipe
// or a file carries the system's ANSI code page while the program's texts are UTF-8. A character
// split between two calls is held back until it is complete.
class RecodingChannel final : public ConsoleChannel {
public:
  enum class Wire { Native, SystemAnsi };
  RecodingChannel(int fd, ChannelKind kind, Wire wire) : raw_(fd, kind), wire_(wire) {}

  ChannelKind Kind() const override { return raw_.Kind(); }

  ReadOutcome Read(char* buffer, std::size_t capacity, std::size_t& got) override {
    got = 0;
    while (pendingInput_.empty()) {
      char bytes[128];
      std::size_t n = 0;
      const ReadOutcome outcome = raw_.Read(bytes, sizeof bytes, n);
      if (outcome != ReadOutcome::Data) {
        if (heldInput_.empty() || outcome == ReadOutcome::Failed) {
          return outcome;
        }
        // The input ended inside a character: its bytes go on as they are.
        pendingInput_ = FromWire(std::exchange(heldInput_, {}));
        break;
      }
      heldInput_.append(bytes, n);
      const std::size_t tail = wire_ == Wire::Native
                                   ? IncompleteUtf8Tail(heldInput_)
                                   : IncompleteTail(heldInput_, posix::CodePage::System());
      pendingInput_ = FromWire(std::string_view(heldInput_).substr(0, heldInput_.size() - tail));
      heldInput_.erase(0, heldInput_.size() - tail);
    }
    got = std::min(capacity, pendingInput_.size());
    pendingInput_.copy(buffer, got);
    pendingInput_.erase(0, got);
    return ReadOutcome::Data;
  }

  std::size_t Write(const char* data, std::size_t size) override {
    heldOutput_.append(data, size);
    const std::size_t tail = IncompleteTail(heldOutput_, posix::CodePage::Active());
    const std::string wire =
        ToWire(std::string_view(heldOutput_).substr(0, heldOutput_.size() - tail));
    heldOutput_.erase(0, heldOutput_.size() - tail);
    return raw_.Write(wire.data(), wire.size()) == wire.size() ? size : 0;
  }

private:
  std::string FromWire(std::string_view bytes) const {
    const posix::CodePage& text = posix::CodePage::Active();
    return wire_ == Wire::Native ? text.FromNative(bytes)
                                 : text.Encode(posix::CodePage::System().Decode(bytes));
  }
  // A character the system's code page lacks becomes its nearest one or "?".
  std::string ToWire(std::string_view text) const {
    const posix::CodePage& codePage = posix::CodePage::Active();
    return wire_ == Wire::Native ? codePage.ToNative(text)
                                 : posix::CodePage::System().Encode(codePage.Decode(text));
  }

  DescriptorChannel raw_;
  Wire wire_;
  std::string heldInput_;    // bytes of a character not yet complete
  std::string pendingInput_; // converted bytes not yet delivered
  std::string heldOutput_;   // a character whose last bytes have not been written yet
};

std::unique_ptr<ConsoleChannel> OpenDescriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    return nullptr;
  }
  if (S_ISCHR(info.st_mode) && ::isatty(fd) != 0) {
    return std::make_unique<RecodingChannel>(fd, ChannelKind::Console,
                                             RecodingChannel::Wire::Native);
  }
  std::optional<ChannelKind> kind;
  if (S_ISCHR(info.st_mode)) {
    kind = ChannelKind::Console;
  } else if (S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)) {
    kind = ChannelKind::Stream;
  }
  if (!kind) {
    return nullptr; // a folder or anything else cannot serve as a stream
  }
  // Pipes and files get the bytes as they are, in the system's ANSI code page.
  if (posix::CodePage::Active().Number() != posix::CodePage::System().Number()) {
    return std::make_unique<RecodingChannel>(fd, *kind, RecodingChannel::Wire::SystemAnsi);
  }
  return std::make_unique<DescriptorChannel>(fd, *kind);
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
